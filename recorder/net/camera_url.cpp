#include "recorder/net/camera_url.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "platform/ascii.h"

namespace recorder::net {

namespace {

// One cut of the address from a moving position. A position at or past the end
// always yields an empty token, so malformed addresses never read outside the text.
std::string NextToken(std::string_view text, size_t& pos, std::string_view delimiters) {
  if (pos >= text.size()) {
    pos = text.size() + 1;
    return {};
  }
  if (delimiters.empty()) {
    std::string rest(text.substr(pos));
    pos = text.size() + 1;
    return rest;
  }
  size_t start = text.find_first_not_of(delimiters, pos);
  if (start == std::string_view::npos) {
    pos = text.size() + 1;
    return {};
  }
  size_t end = text.find_first_of(delimiters, start);
  if (end == std::string_view::npos) {
    pos = text.size() + 1;
    return std::string(text.substr(start));
  }
  pos = end + 1;
  return std::string(text.substr(start, end - start));
}

using platform::ascii::IsDigit;
using platform::ascii::StartsWithNoCase;

// Leading decimal digits; a value beyond the 16-bit range is clamped to 65535
// (an impossible port then fails to connect instead of wrapping onto a real one).
uint16_t LeadingPort(std::string_view token) {
  size_t pos = 0;
  return static_cast<uint16_t>(platform::ascii::ReadDigits(token, pos, 65535).value_or(0));
}

// "[v6 literal]" with an optional ":port", then "/" and the path or the end:
// the colons inside the brackets are the address's own, not a port separator.
// Anything else after the closing bracket leaves the address to the plain rule.
bool ParseBracketedHost(std::string_view text, size_t pos, CameraAddress& a) {
  if (pos >= text.size() || text[pos] != '[') return false;
  const size_t close = text.find(']', pos + 1);
  if (close == std::string_view::npos) return false;
  size_t next = close + 1;
  if (next < text.size() && text[next] != ':' && text[next] != '/') return false;
  a.host = std::string(text.substr(pos + 1, close - pos - 1));
  if (next < text.size() && text[next] == ':') {
    ++next;
    a.port = LeadingPort(NextToken(text, next, "/"));
  } else if (next < text.size()) {
    ++next;  // the slash that ends the host
  }
  a.path = NextToken(text, next, "");
  return true;
}

// The first line fit for the log: no control bytes, and cut without splitting
// a UTF-8 sequence.
std::string LoggableLine(std::string_view line) {
  std::string out;
  for (char c : line) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b != 0x7F) out += c;
  }
  if (out.size() <= kStatusLineLogLimit) return out;
  out.resize(kStatusLineLogLimit);
  size_t lead = out.size();
  while (lead > 0 && out.size() - lead < 4 && (static_cast<unsigned char>(out[lead - 1]) & 0xC0) == 0x80) --lead;
  if (lead > 0) {
    const auto b = static_cast<unsigned char>(out[lead - 1]);
    const size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (lead - 1 + length > out.size()) out.resize(lead - 1);
  }
  return out;
}

}  // namespace

std::string HostForUrl(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

AnswerStart ClassifyAnswer(std::string_view head, std::string* statusLine) {
  static constexpr std::string_view kPrefix = "HTTP/";
  const size_t known = std::min(head.size(), kPrefix.size());
  if (head.substr(0, known) != kPrefix.substr(0, known)) return AnswerStart::NotHttp;
  const size_t lineEnd = head.find_first_of("\r\n");
  if (lineEnd == std::string_view::npos && head.size() < kAnswerHeadLimit) return AnswerStart::Undecided;
  const std::string_view line = head.substr(0, std::min(lineEnd, kAnswerHeadLimit));

  // "HTTP/x.y" then blanks and three digits standing alone.
  size_t i = line.find(' ');
  while (i != std::string_view::npos && i < line.size() && line[i] == ' ') ++i;
  const bool hasCode = i != std::string_view::npos && i + 3 <= line.size() && IsDigit(line[i]) &&
                       IsDigit(line[i + 1]) && IsDigit(line[i + 2]) && (i + 3 == line.size() || line[i + 3] == ' ');
  if (hasCode && line[i] == '2') return AnswerStart::Success;
  if (statusLine) *statusLine = LoggableLine(line);
  return AnswerStart::Error;
}

CameraAddress ParseCameraUrl(const std::string& url) {
  CameraAddress a;
  std::string_view text(url);
  size_t pos;
  if (StartsWithNoCase(text, "http://")) {
    a.isFtp = 0;
    a.port = 80;
    pos = 7;
  } else {
    a.isFtp = 1;
    a.port = 21;
    pos = 6;
  }
  if (text.find('@') != std::string_view::npos) {
    a.userName = NextToken(text, pos, ":");
    a.password = NextToken(text, pos, "@");
  }
  if (ParseBracketedHost(text, pos, a)) return a;
  if (pos < text.size() && text.find(':', pos) != std::string_view::npos) {
    a.host = NextToken(text, pos, ":");
    a.port = LeadingPort(NextToken(text, pos, "/"));
  } else {
    a.host = NextToken(text, pos, "/");
  }
  a.path = NextToken(text, pos, "");
  return a;
}

std::string BuildRequest(const CameraAddress& address) {
  std::string credentials;
  if (!address.password.empty()) credentials = Base64Encode(address.userName + ":" + address.password);
  std::string r;
  r.reserve(400 + address.path.size() + address.host.size() + credentials.size());
  r += "GET /";
  r += address.path;
  r += " HTTP/1.1\r\nHost: ";
  r += HostForUrl(address.host);
  r += ":";
  r += std::to_string(address.port);
  r += "\r\n";
  r += "User-Agent: Tollan 1.0\r\n";
  r += "Accept: text/xml,application/xml,application/xhtml+xml,text/html;q=0.9,text/plain;q=0.8,"
       "image/png,*/*;q=0.5\r\n";
  // These three carry no line end of their own: cameras receive them on one line
  // together with Keep-Alive, exactly as the recorder has always sent them.
  r += "Accept-Language: en-us,en;q=0.5";
  r += "Accept-Encoding: gzip,deflate";
  r += "Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7";
  r += "Keep-Alive: 300\r\nConnection: keep-alive\r\nAuthorization: Basic ";
  r += credentials;
  r += "\r\n\r\n";
  return r;
}

std::string Base64Encode(const std::string& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t n = bytes.size();
  size_t i = 0;
  while (n - i >= 3) {
    uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
    i += 3;
  }
  size_t left = n - i;
  if (left == 1) {
    uint32_t v = uint32_t{p[i]} << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (left == 2) {
    uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

}  // namespace recorder::net
