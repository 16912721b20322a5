#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/ascii.h"

namespace platform {

namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// mkdir -p; true when the folder exists afterwards.
bool MakeDirectories(const std::string& dir) {
  std::string path;
  size_t pos = 0;
  while (pos <= dir.size()) {
    size_t next = dir.find('/', pos);
    if (next == std::string::npos) next = dir.size();
    path = dir.substr(0, next);
    if (!path.empty() && ::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
    pos = next + 1;
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string ProgramPath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    if (buffer.size() >= (1u << 20)) return std::string();  // absurdly long; give up
    buffer.resize(buffer.size() * 2);                       // may have been cut; try a larger buffer
  }
}

std::string ProgramDirectory() {
  const std::string path = ProgramPath();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

std::string SettingsFileNameFor(const std::string& programFileName) {
  const size_t dot = programFileName.rfind('.');
  if (dot == std::string::npos) return programFileName + ".cfg";
  return programFileName.substr(0, dot) + ".cfg";
}

std::string HomeVariableFor(const std::string& programName) { return ascii::ToUpper(programName) + "_HOME"; }

std::string ConfigDirectoryFor(const std::string& programName, const std::string& programDirectory) {
  const std::string home = Env(HomeVariableFor(programName).c_str());
  if (!home.empty()) return WithSlash(home);
  if (!programDirectory.empty() && ::access(programDirectory.c_str(), W_OK) == 0)
    return WithSlash(programDirectory);
  std::string base = Env("XDG_CONFIG_HOME");
  // Relative XDG paths are invalid by definition and are ignored.
  if (base.empty() || base[0] != '/') base = WithSlash(HomeDirectory()) + ".config";
  const std::string dir = WithSlash(base) + programName + "/";
  // Created on demand; when that fails the later file open reports the error.
  MakeDirectories(dir);
  return dir;
}

std::string ConfigDirectory(const std::string& programName) {
  return ConfigDirectoryFor(programName, ProgramDirectory());
}

std::string SettingsFilePath(const std::string& programName) {
  const std::string path = ProgramPath();
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) name = programName;
  return ConfigDirectory(programName) + SettingsFileNameFor(name);
}

std::string LogFilePath(const std::string& programName) { return ConfigDirectory(programName) + "Logfile.txt"; }

std::string HomeDirectory() {
  std::string home = Env("HOME");
  if (home.empty()) {
    std::vector<char> buffer(16384);
    struct passwd pw {};
    struct passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir)
      home = result->pw_dir;
  }
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home;
}

}  // namespace platform
