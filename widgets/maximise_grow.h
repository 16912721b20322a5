#pragma once
// Windows that grow by a step, rather than fill the screen, when asked to maximise.
class QEvent;
class QWidget;

namespace widgets {

// Grows a window by dx x dy about its centre.
void GrowAboutCentre(QWidget* window, int dx, int dy);

// For a window's changeEvent: a maximise request is taken back once the window
// system has finished it, the window returns to its last normal place and size,
// and grows by dx x dy about its centre instead.
void GrowInsteadOfMaximise(QWidget* window, QEvent* event, int dx, int dy);

}  // namespace widgets
