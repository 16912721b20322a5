#include "platform/timecode.h"

#include <clocale>
#include <cstring>
#include <locale.h>
#include <vector>

namespace platform {

namespace {

// Made once and kept for the life of the process: any thread may format a time
// text until the very end.
locale_t CLocale() {
  static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
  return c;
}

}  // namespace

std::string FormatTime(const char* format, const std::tm& time) {
  if (!format || !*format) return {};
  std::vector<char> buffer(std::strlen(format) + 1024);
  const locale_t c = CLocale();
  // Without a locale object (out of memory) the global locale is the only choice left.
  const size_t n = c ? ::strftime_l(buffer.data(), buffer.size(), format, &time, c)
                     : std::strftime(buffer.data(), buffer.size(), format, &time);
  return std::string(buffer.data(), n);
}

std::string ExpandTimeCodes(const std::string& templ, std::time_t when) {
  if (templ.empty()) return templ;
  std::tm local{};
  if (!localtime_r(&when, &local)) return templ;
  // An empty result would make a useless path or text, whether the expansion did
  // not fit or really was empty, so the template is kept.
  std::string text = FormatTime(templ.c_str(), local);
  return text.empty() ? templ : text;
}

std::string ExpandTimeCodes(const std::string& templ) { return ExpandTimeCodes(templ, std::time(nullptr)); }

}  // namespace platform
