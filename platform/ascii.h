#pragma once
// ASCII-only text helpers: case-insensitive comparisons and whole-number reading.
// They never consult the locale, so a Turkish or German user sees the same
// results as everyone else, and bytes above 127 compare only as themselves.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace platform::ascii {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string ToLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}
inline std::string ToUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Upper(c);
  return out;
}

constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}
constexpr bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}
// Ends in the ending and has something before it (".jpg" alone is no file name).
constexpr bool EndsWithNoCase(std::string_view s, std::string_view ending) {
  return s.size() > ending.size() && EqualsNoCase(s.substr(s.size() - ending.size()), ending);
}
// Orders as if both were lower case; ties keep the shorter first.
constexpr bool LessNoCase(std::string_view a, std::string_view b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const char x = Lower(a[i]), y = Lower(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

// Reads the digits at `pos` (at least one) and moves past them. The value stops
// growing at `limit`, so a long run of digits reads as `limit` instead of
// wrapping; callers compare with the limit to refuse or clamp it.
constexpr std::optional<uint64_t> ReadDigits(std::string_view text, size_t& pos,
                                             uint64_t limit = std::numeric_limits<int64_t>::max()) {
  const size_t first = pos;
  uint64_t value = 0;
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    const auto digit = static_cast<uint64_t>(text[pos] - '0');
    value = limit < digit || value > (limit - digit) / 10 ? limit : value * 10 + digit;
  }
  if (pos == first) return std::nullopt;
  return value;
}

// The whole text as a decimal number with an optional sign, nothing else around
// it. Values beyond int64 saturate at its maximum, so that a clamp still applies and a range
// check still refuses them.
constexpr std::optional<int64_t> ParseWhole(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::optional<uint64_t> digits = ReadDigits(text, i);
  if (!digits || i != text.size()) return std::nullopt;
  const auto value = static_cast<int64_t>(*digits);
  return negative ? -value : value;
}

// The whole text as an unsigned decimal number (digits only, no sign) of at most
// `max`; nothing when it is anything else or larger.
constexpr std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t max) {
  size_t i = 0;
  const std::optional<uint64_t> digits = ReadDigits(text, i);
  if (!digits || i != text.size() || *digits > max) return std::nullopt;
  return digits;
}

// One "%d" as scanf reads it: blanks, an optional sign and at least one digit,
// within int32; moves `pos` past it. Text after the number is left for the caller.
constexpr std::optional<int32_t> ReadInt32(std::string_view text, size_t& pos) {
  size_t i = pos;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr uint64_t kBeyond = uint64_t(std::numeric_limits<int32_t>::max()) + 2;
  const std::optional<uint64_t> digits = ReadDigits(text, i, kBeyond);  // any value past int32 will do
  if (!digits || *digits > uint64_t(std::numeric_limits<int32_t>::max()) + (negative ? 1 : 0)) return std::nullopt;
  pos = i;
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(*digits) : static_cast<int64_t>(*digits));
}

}  // namespace platform::ascii
