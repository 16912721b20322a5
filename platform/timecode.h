#pragma once
#include <ctime>
#include <string>

namespace platform {

// Expands the strftime codes of a template for the given local time, into a
// buffer of the template's length + 1024 bytes. When the expansion does not fit
// (or is empty for a non-empty template), the template itself is returned.
std::string ExpandTimeCodes(const std::string& templ, std::time_t when);
// The same for the current local time.
std::string ExpandTimeCodes(const std::string& templ);

}  // namespace platform
