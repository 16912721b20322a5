#pragma once
// Save path templates and directories.
#include <ctime>
#include <string>

namespace core {

// The template expanded for the current local time (strftime codes).
std::string ExpandSavePath(const std::string& templ);
// The same for a given moment (lets the recording output run on an injected clock).
std::string ExpandSavePath(const std::string& templ, std::time_t when);
// Everything up to and including the last '/', after trailing '/' are dropped; "" without one.
std::string SaveDirectoryOf(const std::string& path);
// Creates every missing level below the first component (taken as existing),
// 4 attempts 100 ms apart per level. Paths of 2 characters or fewer fail.
bool CreateSaveDirectory(const std::string& directory);

}  // namespace core
