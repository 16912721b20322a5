#pragma once
// Whether a settings file can drive a recorder, with the reason when not.
#include <string>

namespace recorder::camera {

// "" when the file exists, is a regular readable file of a version this program
// reads, is whole and holds at least one camera; otherwise a one-line reason that
// names the file.
std::string SettingsFileProblem(const std::string& path);

}  // namespace recorder::camera
