#pragma once
// The player's command line: the operations that need no window, for scripts and
// servers. Edits and still exports go through a playback thread exactly as the
// window drives it: the same frame steps, marks and copy loop.
#include <ostream>
#include <string>
#include <vector>

namespace player {

// What the window version of the program is asked for.
struct WindowStart {
  std::string file;           // the file to open and play; empty: the empty window
  std::string screenshotDir;  // --screenshots DIR: render the windows there and end
};
// True when args (without the program name) start the window: nothing, one
// file (a name starting with '-' after "--"), or --screenshots DIR. Everything
// else is for RunCommandLine.
bool ParseWindowStart(const std::vector<std::string>& args, WindowStart& start);

// args without the program name. Returns the exit status: 0 done, 1 failed
// (the notice texts on err), 2 a wrong command line or an operation not built.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace player
