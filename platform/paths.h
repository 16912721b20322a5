#pragma once
// Where the program lives and where it keeps its settings and log files.
#include <string>

namespace platform {

// Full path of the running program (/proc/self/exe), empty on failure.
std::string ProgramPath();
// Folder of the running program, with a trailing '/'.
std::string ProgramDirectory();

// Folder that holds the settings file and Logfile.txt, with a trailing '/':
// $TOLLAN_HOME when set; else the program's folder when writable; else
// $XDG_CONFIG_HOME/tollan/ (or ~/.config/tollan/), created on demand.
std::string ConfigDirectory();
// The settings file: the program's file name with ".cfg" in place of its
// extension (appended when it has none), inside ConfigDirectory().
std::string SettingsFilePath();
// Logfile.txt inside ConfigDirectory().
std::string LogFilePath();
// The settings file name for a program file name: everything from the last '.'
// replaced by ".cfg", or ".cfg" appended when the name has no '.'.
std::string SettingsFileNameFor(const std::string& programFileName);
// ConfigDirectory() for a given program folder (trailing '/'), for tests and tools.
std::string ConfigDirectoryFor(const std::string& programDirectory);
// The user's home folder ($HOME, else the password database), without trailing '/'.
std::string HomeDirectory();

}  // namespace platform
