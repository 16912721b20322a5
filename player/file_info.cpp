#include "player/file_info.h"

#include <charconv>
#include <ctime>

#include "platform/timecode.h"

namespace player {

namespace {

// printf's "%.<decimals>f" without its dependence on the locale's decimal point.
std::string Fixed(double value, int decimals) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

}  // namespace

std::string SizeText(int64_t bytes) {
  static const struct {
    int shift;
    const char* unit;
  } units[] = {{60, " EB"}, {50, " PB"}, {40, " TB"}, {30, " GB"}, {20, " MB"}, {10, " KB"}};
  const double v = double(bytes);
  for (const auto& u : units) {
    const double scale = double(int64_t(1) << u.shift);
    if (v >= scale) return Fixed(v / scale, 2) + u.unit;
  }
  return Fixed(v, 0) + " bytes";
}

std::string VideoSizeLabel(uint64_t length) { return kVideoSizePrefix + SizeText(int64_t(length)); }

std::string TimeStampText(uint32_t stamp) {
  if (stamp == 0) return kNoTimestamp;
  const std::time_t when = static_cast<std::time_t>(stamp);
  static_assert(sizeof(std::time_t) == 8, "time stamps from 2038 on need 64-bit time");
  std::tm local{};
  if (!localtime_r(&when, &local)) return kNoTimestamp;
  std::string text = platform::FormatTime(" %a %b %d %Y (%I:%M:%S %p)", local);
  if (text.size() > 99) text.resize(99);
  return text;
}

}  // namespace player
