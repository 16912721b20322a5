#pragma once
// Command-line commands that read and edit the recorder's settings file
// without starting the recorder.
#include <ostream>
#include <string>
#include <vector>

namespace recorder::app {

constexpr const char* kVersionText = "Tollan Version 2.0.1.0";

// Exit codes of the settings commands.
constexpr int kCliOk = 0;
constexpr int kCliError = 1;  // bad index or value, failed validation, failed save, recorder running
constexpr int kCliUsage = 2;  // unknown option or field, stray or missing argument

// Whether the arguments (without the program name) are for the settings
// commands: anything but the window version's start (see ParseWindowStart) and
// --headless. Unknown options land here too, so that they are refused with the
// usage text.
bool IsSettingsCommand(const std::vector<std::string>& args);

// Runs one settings command on the settings file at settingsPath. Normal output
// goes to out, messages about failures to err. Commands that change settings
// hold the edit lock from reading to writing and refuse while a recorder runs
// with the same file. Nothing is saved unless the whole command is valid.
// Returns one of the exit codes above.
int RunSettingsCommand(const std::vector<std::string>& args, const std::string& settingsPath, std::ostream& out,
                       std::ostream& err);

// How the window version was asked to start.
struct WindowStart {
  bool hidden = false;     // -m or /m (any case, a separate argument): hidden, resume all 30 s later
  bool resumeAll = false;  // --resume-all: every camera records (appending) at once
  bool showViews = false;  // --show-views: every camera's live view opens at once
  std::string screenshotDir;  // --screenshots DIR: render every window to PNG files and exit
};
// Reads the window version's arguments. False (with a message in error) for
// anything else; an empty list is the plain start.
bool ParseWindowStart(const std::vector<std::string>& args, WindowStart& start, std::string& error);

// The usage text printed by --help and -h.
std::string SettingsUsage();

}  // namespace recorder::app
