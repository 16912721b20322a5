#include "recorder/camera/source_rules.h"

#include <limits>

#include "recorder/camera/field_table.h"

namespace recorder::camera {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EndsWithNoCase(std::string_view s, std::string_view ending) {
  if (s.size() <= ending.size()) return false;
  s = s.substr(s.size() - ending.size());
  for (size_t i = 0; i < ending.size(); ++i)
    if (Lower(s[i]) != ending[i]) return false;
  return true;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One "%d": white space, a sign and at least one digit, within 32 bits.
bool ReadInt(std::string_view text, size_t& i, int32_t& out) {
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t first = i;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > std::numeric_limits<int32_t>::max()) return false;
  }
  if (i == first) return false;
  out = static_cast<int32_t>(negative ? -value : value);
  return true;
}

}  // namespace

UrlVerdict UrlCheck::Check(std::string_view url) {
  if (!IsSupportedUrl(url)) return UrlVerdict::Refused;
  if (Lower(url[0]) == 'f') return UrlVerdict::Passed;
  if (url == lastAsked_ || EndsWithNoCase(url, ".jpg") || EndsWithNoCase(url, ".jpeg")) return UrlVerdict::Passed;
  lastAsked_ = std::string(url);
  return UrlVerdict::AskStream;
}

std::string FormatText(const CaptureFormat& format) {
  return std::to_string(format.width) + "x" + std::to_string(format.height) + " " + std::to_string(format.bits) +
         " bit";
}

bool ParseFormatText(std::string_view text, CaptureFormat& format) {
  CaptureFormat read;
  size_t i = 0;
  if (!ReadInt(text, i, read.width) || i >= text.size() || text[i++] != 'x') return false;
  if (!ReadInt(text, i, read.height) || !ReadInt(text, i, read.bits)) return false;
  format = read;
  return true;
}

}  // namespace recorder::camera
