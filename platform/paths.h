#pragma once
// Where the program lives and where it keeps its settings and log files.
#include <string>

namespace platform {

// Full path of the running program (/proc/self/exe), empty on failure.
std::string ProgramPath();
// Folder of the running program, with a trailing '/'.
std::string ProgramDirectory();

// Each program passes its own short name ("tollan"), which names its folder
// and its environment variable.
//
// Folder that holds the settings file and Logfile.txt, with a trailing '/':
// $<NAME>_HOME (the name in capitals) when set; else the program's folder when
// writable; else $XDG_CONFIG_HOME/<name>/ (or ~/.config/<name>/), created on demand.
std::string ConfigDirectory(const std::string& programName);
// The settings file: the program's file name with ".cfg" in place of its
// extension (appended when it has none), inside ConfigDirectory().
std::string SettingsFilePath(const std::string& programName);
// Logfile.txt inside ConfigDirectory().
std::string LogFilePath(const std::string& programName);
// The environment variable that overrides the folder: "TOLLAN_HOME" for "tollan".
std::string HomeVariableFor(const std::string& programName);
// The settings file name for a program file name: everything from the last '.'
// replaced by ".cfg", or ".cfg" appended when the name has no '.'.
std::string SettingsFileNameFor(const std::string& programFileName);
// ConfigDirectory() for a given program folder (trailing '/'), for tests and tools.
std::string ConfigDirectoryFor(const std::string& programName, const std::string& programDirectory);
// The user's home folder ($HOME, else the password database), without trailing '/'.
std::string HomeDirectory();

}  // namespace platform
