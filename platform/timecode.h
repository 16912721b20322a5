#pragma once
// Time texts. Every one of them (save paths, overlays, log lines, list and player
// texts) is formatted in the C locale, whatever the user's locale says: weekday
// folders keep their names when LANG changes, and %p never comes out empty.
#include <ctime>
#include <string>

namespace platform {

// The strftime codes of format for the given broken-down time, in the C locale.
// Empty when the text is empty or longer than strlen(format) + 1024 bytes.
std::string FormatTime(const char* format, const std::tm& time);

// Expands the strftime codes of a template for the given local time, into a
// buffer of the template's length + 1024 bytes. When the expansion does not fit
// (or is empty for a non-empty template), the template itself is returned.
std::string ExpandTimeCodes(const std::string& templ, std::time_t when);
// The same for the current local time.
std::string ExpandTimeCodes(const std::string& templ);

}  // namespace platform
