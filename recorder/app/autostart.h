#pragma once
// The per-user autostart entry that starts the recorder hidden at log-on: an XDG
// autostart desktop file whose Exec= line is the quoted program path and "-m".
#include <string>

namespace recorder::app {

// $XDG_CONFIG_HOME/autostart/tollan.desktop, or ~/.config/autostart/tollan.desktop.
std::string AutostartEntryPath();

// The Exec= value for a program path: the path in double quotes (with ", `, $ and
// \ escaped as desktop files require), a blank, "-m".
std::string AutostartExecLine(const std::string& programPath);

// True when the entry exists and its Exec= value equals the expected one (compared
// case-insensitively). An entry that exists but is not current (the program moved,
// written by hand without quotes, someone else's) is deleted and gives false.
bool CheckAutostartEntry(const std::string& entryPath, const std::string& programPath);

// Writes the entry (wanted) or deletes it (a missing entry is no error). Creates
// the autostart folder when needed. False when the file could not be written or removed.
bool WriteAutostartEntry(const std::string& entryPath, const std::string& programPath, bool wanted);

}  // namespace recorder::app
