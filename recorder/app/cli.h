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
// commands: anything but no arguments or the start-hidden switch alone (-m or
// /m, any case: the window version) and --headless. Unknown options land here
// too, so that they are refused with the usage text.
bool IsSettingsCommand(const std::vector<std::string>& args);

// Runs one settings command on the settings file at settingsPath. Normal output
// goes to out, messages about failures to err. Commands that change settings
// hold the edit lock from reading to writing and refuse while a recorder runs
// with the same file. Nothing is saved unless the whole command is valid.
// Returns one of the exit codes above.
int RunSettingsCommand(const std::vector<std::string>& args, const std::string& settingsPath, std::ostream& out,
                       std::ostream& err);

// The usage text printed by --help and -h.
std::string SettingsUsage();

}  // namespace recorder::app
