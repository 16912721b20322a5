#include "widgets/datetime_key.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/ascii.h"

namespace widgets {

namespace {

// Fields are kept well inside int64 so that sums and the key's digits never overflow.
constexpr int64_t kFieldLimit = 999999999;

struct Number {
  int64_t value = 0;
  size_t end = 0;  // index after the last digit read (0 when none)
};

// Leading integer of a token as atoi reads it: optional sign, then digits.
Number LeadingNumber(std::string_view s) {
  Number n;
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const std::optional<uint64_t> digits = platform::ascii::ReadDigits(s, i, kFieldLimit);
  if (!digits) return n;
  const auto v = static_cast<int64_t>(*digits);
  n.value = negative ? -v : v;
  n.end = i;
  return n;
}

using platform::ascii::EqualsNoCase;

// Splits at sep into exactly three non-empty parts; false otherwise.
bool ThreeParts(std::string_view token, char sep, std::array<std::string_view, 3>& parts) {
  const size_t first = token.find(sep);
  if (first == std::string_view::npos) return false;
  const size_t second = token.find(sep, first + 1);
  if (second == std::string_view::npos || token.find(sep, second + 1) != std::string_view::npos) return false;
  parts = {token.substr(0, first), token.substr(first + 1, second - first - 1), token.substr(second + 1)};
  return !parts[0].empty() && !parts[1].empty() && !parts[2].empty();
}

int MonthOf(std::string_view token) {
  static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                               "jul", "aug", "sep", "oct", "nov", "dec"};
  if (token.size() <= 2) return 0;
  for (size_t m = 0; m < kMonths.size(); ++m)
    if (EqualsNoCase(token.substr(0, 3), kMonths[m])) return int(m) + 1;
  return 0;
}

enum class Marker { None, Am, Pm };

Marker MarkerOf(std::string_view token) {
  if (EqualsNoCase(token, "am")) return Marker::Am;
  if (EqualsNoCase(token, "pm")) return Marker::Pm;
  return Marker::None;
}

// The decimal number that a formatted key text starts with, saturated at INT64_MAX.
int64_t KeyOf(std::string_view digits) {
  bool negative = false;
  size_t i = 0;
  if (i < digits.size() && digits[i] == '-') negative = true, ++i;
  const auto key = static_cast<int64_t>(platform::ascii::ReadDigits(digits, i, INT64_MAX).value_or(0));
  return negative ? -key : key;
}

}  // namespace

int64_t DateTimeKey(std::string_view text) {
  if (text.size() < 15 || text.size() > 50) return 0;

  int64_t year = 0, month = 1, day = 0, hour = 0, minute = 0, second = 0;
  Marker marker = Marker::None;

  size_t pos = 0;
  while (pos < text.size()) {
    auto isBlank = [](char c) { return c == ' ' || c == '(' || c == ')'; };
    while (pos < text.size() && isBlank(text[pos])) ++pos;
    size_t end = pos;
    while (end < text.size() && !isBlank(text[end])) ++end;
    const std::string_view token = text.substr(pos, end - pos);
    pos = end;
    if (token.empty()) continue;

    std::array<std::string_view, 3> parts;
    if (token.find('/') != std::string_view::npos) {
      if (ThreeParts(token, '/', parts)) {
        month = LeadingNumber(parts[0]).value;
        day = LeadingNumber(parts[1]).value;
        year = LeadingNumber(parts[2]).value;
      }
    } else if (token.find(':') != std::string_view::npos) {
      if (ThreeParts(token, ':', parts)) {
        hour += LeadingNumber(parts[0]).value;
        minute = LeadingNumber(parts[1]).value;
        const Number s = LeadingNumber(parts[2]);
        second = s.value;
        // "05:53:43PM": the marker written without a blank.
        if (s.end > 0 && MarkerOf(parts[2].substr(s.end)) != Marker::None) marker = MarkerOf(parts[2].substr(s.end));
      }
    } else if (const int64_t n = LeadingNumber(token).value; n >= 1901) {
      year = n;
    } else if (n >= 1) {
      day = n;
    } else if (const int m = MonthOf(token); m != 0) {
      month = m;
    } else if (MarkerOf(token) != Marker::None) {
      marker = MarkerOf(token);
    }
  }

  // 12-hour clock: 12 AM is midnight, 12 PM noon.
  if (marker == Marker::Pm && hour >= 1 && hour <= 11) hour += 12;
  if (marker == Marker::Am && hour == 12) hour = 0;

  // Fields that fit their digits make the key arithmetically; others (a five-digit
  // year, a negative day) take the formatted digits, as they stand.
  const bool fits = year >= 0 && year <= 9999 && month >= 0 && month <= 99 && day >= 0 && day <= 99 && hour >= 0 &&
                    hour <= 99 && minute >= 0 && minute <= 99 && second >= 0 && second <= 99;
  if (fits) return ((((year * 100 + month) * 100 + day) * 100 + hour) * 100 + minute) * 100 + second;

  char digits[128];
  const int n = std::snprintf(digits, sizeof digits, "%04lld%02lld%02lld%02lld%02lld%02lld", (long long)year,
                              (long long)month, (long long)day, (long long)hour, (long long)minute, (long long)second);
  if (n <= 0) return 0;
  return KeyOf(std::string_view(digits, std::min<size_t>(size_t(n), sizeof digits - 1)));
}

}  // namespace widgets
