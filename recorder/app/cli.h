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
constexpr int kCliError = 1;  // bad index or value, failed validation, failed save
constexpr int kCliUsage = 2;  // unknown command or field, missing arguments

// Whether the arguments (without the program name) start with a settings command.
bool IsSettingsCommand(const std::vector<std::string>& args);

// Runs one settings command on the settings file at settingsPath. Normal output
// goes to out, messages about failures to err. Nothing is saved unless the whole
// command is valid. Returns one of the exit codes above.
int RunSettingsCommand(const std::vector<std::string>& args, const std::string& settingsPath, std::ostream& out,
                       std::ostream& err);

// The usage text printed by --help.
std::string SettingsUsage();

}  // namespace recorder::app
