#include "recorder/web/serve_settings.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>

namespace recorder::web {
namespace {

bool IsNumericAddress(const std::string& address) {
  unsigned char buffer[sizeof(in6_addr)];
  return inet_pton(AF_INET, address.c_str(), buffer) == 1 || inet_pton(AF_INET6, address.c_str(), buffer) == 1;
}

bool ParsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > 65535) return false;  // 0: any free port, named when serving starts
  port = static_cast<uint16_t>(value);
  return true;
}

std::string Find(const camera::ProgramRecords& program, const char* name) {
  const auto it = program.find(name);
  return it == program.end() ? std::string() : it->second;
}

}  // namespace

std::string ServeSettings::WallUrl() const {
  const bool v6 = address.find(':') != std::string::npos;
  return std::string(Tls() ? "https://" : "http://") + (v6 ? "[" + address + "]" : address) + ":" +
         std::to_string(port) + "/";
}

bool ParseServeAddress(const std::string& text, std::string& address, uint16_t& port, std::string& error) {
  std::string host = text;
  std::string portText;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) {
      error = "Missing ] in " + text;
      return false;
    }
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') {
        error = "Expected :PORT after ] in " + text;
        return false;
      }
      portText = text.substr(close + 2);
      if (portText.empty()) {
        error = "Missing port in " + text;
        return false;
      }
    }
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    const size_t colon = text.find(':');
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    if (portText.empty()) {
      error = "Missing port in " + text;
      return false;
    }
  } else if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
    host = "127.0.0.1";
    portText = text;
  }
  if (host == "localhost") host = "127.0.0.1";
  if (!IsNumericAddress(host)) {
    error = "Not a numeric IP address: " + (host.empty() ? text : host);
    return false;
  }
  uint16_t parsed = kDefaultServePort;
  if (!portText.empty() && !ParsePort(portText, parsed)) {
    error = "Not a port number (0-65535): " + portText;
    return false;
  }
  address = host;
  port = parsed;
  return true;
}

bool IsLoopbackAddress(const std::string& address) {
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return false;
}

ServeSettings ReadServeSettings(const camera::ProgramRecords& program) {
  ServeSettings s;
  const std::string serve = Find(program, kServeRecord);
  std::string error;
  if (!serve.empty() && serve != "off") s.enabled = ParseServeAddress(serve, s.address, s.port, error);
  if (!s.enabled) s.address = "127.0.0.1", s.port = kDefaultServePort;
  s.user = Find(program, kServeUserRecord);
  s.password = Find(program, kServePasswordRecord);
  s.certFile = Find(program, kServeCertRecord);
  s.keyFile = Find(program, kServeKeyRecord);
  return s;
}

void WriteServeSettings(const ServeSettings& s, camera::ProgramRecords& program) {
  for (const char* name : {kServeRecord, kServeUserRecord, kServePasswordRecord, kServeCertRecord, kServeKeyRecord})
    program.erase(name);
  if (!s.enabled) return;
  const bool v6 = s.address.find(':') != std::string::npos;
  program[kServeRecord] = (v6 ? "[" + s.address + "]" : s.address) + ":" + std::to_string(s.port);
  if (!s.user.empty()) program[kServeUserRecord] = s.user;
  if (!s.password.empty()) program[kServePasswordRecord] = s.password;
  if (!s.certFile.empty()) program[kServeCertRecord] = s.certFile;
  if (!s.keyFile.empty()) program[kServeKeyRecord] = s.keyFile;
}

std::string ServeSettingsProblem(const ServeSettings& s) {
  if (!s.enabled) return {};
  if (!IsLoopbackAddress(s.address) && (s.user.empty() || s.password.empty())) return kNeedsLoginText;
  if (s.user.empty() != s.password.empty()) return "A user for serving needs a password, and a password a user";
  if (s.user.find(':') != std::string::npos) return "The user for serving may not contain ':'";
  if (s.certFile.empty() != s.keyFile.empty()) return "Serving over HTTPS needs both a certificate and a key file";
  return {};
}

}  // namespace recorder::web
