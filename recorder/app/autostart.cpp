#include "recorder/app/autostart.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace recorder::app {

namespace {

std::string ExecValueOf(const std::vector<uint8_t>& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  size_t pos = 0;
  bool inDesktopEntry = false;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') inDesktopEntry = line == "[Desktop Entry]";
    else if (inDesktopEntry && line.rfind("Exec=", 0) == 0) return line.substr(5);
    pos = end + 1;
  }
  return std::string();
}

}  // namespace

std::string AutostartEntryPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base = (xdg && *xdg == '/') ? std::string(xdg) : platform::HomeDirectory() + "/.config";
  return base + "/autostart/tollan.desktop";
}

std::string AutostartExecLine(const std::string& programPath) {
  std::string quoted = "\"";
  for (char c : programPath) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\" -m";
}

bool CheckAutostartEntry(const std::string& entryPath, const std::string& programPath) {
  std::vector<uint8_t> bytes;
  if (platform::ReadWholeFile(entryPath, bytes) != platform::ReadFileResult::Ok) return false;
  const std::string exec = ExecValueOf(bytes);
  const std::string expected = AutostartExecLine(programPath);
  if (!exec.empty() && platform::ascii::EqualsNoCase(exec, expected)) return true;
  ::unlink(entryPath.c_str());
  return false;
}

bool WriteAutostartEntry(const std::string& entryPath, const std::string& programPath, bool wanted) {
  if (!wanted) return ::unlink(entryPath.c_str()) == 0 || errno == ENOENT;
  const std::string folder = platform::SaveDirectoryOf(entryPath);
  if (!folder.empty() && !platform::CreateSaveDirectory(folder)) return false;
  const std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Tollan\n"
      "Comment=Network camera recorder, started hidden in the notification area\n"
      "Exec=" + AutostartExecLine(programPath) + "\n"
      "Icon=tollan\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  // Written beside and renamed over, so a half-written entry never starts anything.
  const std::string temp = entryPath + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = platform::WriteAll(fd, text.data(), text.size());
  if (::close(fd) != 0 || !ok || ::rename(temp.c_str(), entryPath.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace recorder::app
