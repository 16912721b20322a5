#pragma once
// Windows that grow by a step, rather than fill the screen, when asked to maximise.
#include <functional>

class QEvent;
class QWidget;

namespace widgets {

// For a window's changeEvent: a maximise request is taken back once the window
// system has finished it, the window returns to its last normal place and size,
// and grow() runs instead.
void GrowInsteadOfMaximise(QWidget* window, QEvent* event, std::function<void()> grow);

}  // namespace widgets
