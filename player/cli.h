#pragma once
// The player's command line: the operations that need no window, for scripts and
// servers. Edits and still exports go through a playback thread exactly as the
// window drives it: the same frame steps, marks and copy loop.
#include <ostream>
#include <string>
#include <vector>

namespace player {

// args without the program name. Returns the exit status: 0 done, 1 failed
// (the notice texts on err), 2 a wrong command line or an operation not built.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace player
