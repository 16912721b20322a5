#pragma once
// Window handles for the controls the playback thread keeps current: the two
// status labels and the progress bars. Posts of player::to_control arrive on the
// GUI thread and are applied to the control.
#include "platform/qt/qt_window.h"

class QLabel;
namespace widgets {
class CProgressEx;
}

namespace player::ui {

// Owned by the control; unregistered when it goes.
platform::QtWindowTarget* AttachTarget(QLabel* label);
platform::QtWindowTarget* AttachTarget(widgets::CProgressEx* bar);

}  // namespace player::ui
