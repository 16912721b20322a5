#pragma once
// Renders the player's windows to PNG files, offscreen, for review: the window
// playing a generated recording, the empty window, a file that is no recording,
// the window at its smallest, the picture's context menu, the window menu, the
// edit progress dialog and the About box.
#include <ostream>
#include <string>

namespace player::ui {

// Needs a QApplication. The recording shown lives in a temporary folder that is
// removed afterwards. Returns 0 when every picture was written.
int RenderScreenshots(const std::string& dir, std::ostream& out, std::ostream& err);

}  // namespace player::ui
