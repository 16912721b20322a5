#pragma once
// Renders every recorder window to PNG files, offscreen, for review: the main
// window with cameras in several states, a live view with a frame, its grid and
// a motion rectangle, the log view with entries, each camera options page, both
// source dialogs, the program options, the tray menu and the about box.
#include <ostream>
#include <string>

namespace recorder::ui {

// Needs a QApplication. Nothing outside dir is written: the settings of the
// cameras shown live in a temporary folder that is removed afterwards. Returns
// 0 when every picture was written.
int RenderScreenshots(const std::string& dir, std::ostream& out, std::ostream& err);

}  // namespace recorder::ui
