#pragma once
// brandle's command line: one conversion without a window, on the same conversion
// thread the window uses.
#include <iosfwd>
#include <string>
#include <vector>

namespace converter {

constexpr const char* kVersionText = "Brandle Version 2.0.1.0";

constexpr int kExitComplete = 0;  // result 2
constexpr int kExitFailed = 1;    // any other result
constexpr int kExitUsage = 2;
constexpr int kExitDamaged = 3;   // completed, with damaged frames or bytes skipped

std::string Usage();

// Whether the arguments ask for the window rather than a conversion: none at all,
// or "--screenshots DIR" (then screenshotDir is set).
bool IsWindowStart(const std::vector<std::string>& args, std::string& screenshotDir);

// Runs the command line (arguments without the program name). Progress goes to
// `err`, the result text at the end to `out` when the conversion completed (also
// with damage skipped) and to `err` otherwise. SIGINT and SIGTERM cancel the conversion, which keeps the frames
// written so far as a playable file.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace converter
