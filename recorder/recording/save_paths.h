#pragma once
// Save path templates.
#include <ctime>
#include <string>

namespace recorder::recording {

// The template expanded for the current local time (strftime codes).
std::string ExpandSavePath(const std::string& templ);
// The same for a given moment (lets the recording output run on an injected clock).
std::string ExpandSavePath(const std::string& templ, std::time_t when);

}  // namespace recorder::recording
