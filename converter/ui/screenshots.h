#pragma once
// brandle --screenshots DIR: the converter's windows rendered offscreen to PNG
// files for review: the window idle, the window during a conversion, the result
// message boxes, the Help menu and the About box.
#include <iosfwd>
#include <string>

namespace converter::ui {

// Needs a QApplication. Prints each file written; 0 when all were written.
int RenderScreenshots(const std::string& dir, std::ostream& out, std::ostream& err);

}  // namespace converter::ui
