#pragma once
// The program option "Serve live pictures on the network": where to listen and
// who may look, kept in the settings file's program records.
#include <cstdint>
#include <string>

#include "recorder/camera/settings_file.h"

namespace recorder::web {

// Names of the program records.
constexpr const char* kServeRecord = "serve";  // "ADDRESS:PORT"; absent: off
constexpr const char* kServeUserRecord = "serveUser";
constexpr const char* kServePasswordRecord = "servePassword";
constexpr const char* kServeCertRecord = "serveCert";
constexpr const char* kServeKeyRecord = "serveKey";

constexpr uint16_t kDefaultServePort = 8090;
constexpr const char* kNeedsLoginText = "Serving beyond this machine needs a user and password";

struct ServeSettings {
  bool enabled = false;
  std::string address = "127.0.0.1";  // a numeric IPv4 or IPv6 address
  uint16_t port = kDefaultServePort;
  std::string user;
  std::string password;
  std::string certFile;  // both set: HTTPS
  std::string keyFile;

  bool Tls() const { return !certFile.empty() || !keyFile.empty(); }
  // "http://127.0.0.1:8090/", "https://[::1]:8443/".
  std::string WallUrl() const;
};

// Reads "ADDRESS:PORT", "[IPV6]:PORT", "ADDRESS" (default port) or "PORT"
// (loopback). "localhost" stands for 127.0.0.1. False with a reason for anything else.
bool ParseServeAddress(const std::string& text, std::string& address, uint16_t& port, std::string& error);
bool IsLoopbackAddress(const std::string& address);

// The settings as stored; a bad stored address reads as off.
ServeSettings ReadServeSettings(const camera::ProgramRecords& program);
// Replaces the serve records (removes them all when off).
void WriteServeSettings(const ServeSettings& settings, camera::ProgramRecords& program);
// Empty when the recorder may serve with these settings, else why not.
std::string ServeSettingsProblem(const ServeSettings& settings);

}  // namespace recorder::web
