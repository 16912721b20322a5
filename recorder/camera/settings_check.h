#pragma once
// Whether a settings file can be read, and whether it can drive a recorder,
// with the reason when not.
#include <string>

namespace recorder::camera {

// Why an existing settings file cannot be read at all: not a regular file,
// unreadable or too short, or of a version this program does not read. "" when
// it can be read, and also when there is none or it is empty (a new setup).
std::string SettingsFileReadProblem(const std::string& path);

// SettingsFileReadProblem, or camera blocks missing from a file that can be read:
// what loading such a file and saving the list again would lose. "" for a file
// that is missing, empty or whole.
std::string SettingsFileDamage(const std::string& path);

// "" when the file exists, can be read, is whole and holds at least one camera;
// otherwise a one-line reason that names the file.
std::string SettingsFileProblem(const std::string& path);

}  // namespace recorder::camera
