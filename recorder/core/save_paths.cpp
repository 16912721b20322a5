#include "recorder/core/save_paths.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <thread>

#include "platform/timecode.h"

namespace core {
namespace {

constexpr int kCreateAttempts = 4;
constexpr auto kCreateRetryDelay = std::chrono::milliseconds(100);

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// A level counts as present only as a directory: a regular file standing where a
// directory is needed must fail here (status 3) rather than later at file open.
bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateLevel(const std::string& prefix) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kCreateRetryDelay);
    // Checked on every attempt: another camera may have created it meanwhile.
    if (IsDirectory(prefix)) return true;
    if (::mkdir(prefix.c_str(), 0777) == 0) return true;  // the umask trims the mode
  }
  return false;
}

}  // namespace

std::string ExpandSavePath(const std::string& templ) { return platform::ExpandTimeCodes(templ); }

std::string ExpandSavePath(const std::string& templ, std::time_t when) {
  return platform::ExpandTimeCodes(templ, when);
}

std::string SaveDirectoryOf(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  const std::string trimmed = path.substr(0, end);
  const size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return {};
  return trimmed.substr(0, slash + 1);
}

bool CreateSaveDirectory(const std::string& directory) {
  if (directory.size() <= 2) return false;
  if (Exists(directory)) return true;

  std::string work = directory;
  while (!work.empty() && work.back() == '/') work.pop_back();
  work.push_back('/');

  // The first component ("/home", or "rec" of a relative path) is taken as
  // existing and never created, as is the root before it.
  size_t slash = work.find('/', 2);
  if (slash == std::string::npos) return false;

  for (slash = work.find('/', slash + 1); slash != std::string::npos; slash = work.find('/', slash + 1)) {
    const std::string prefix = work.substr(0, slash);
    // An empty level ("a//b") names the same directory as the one before it.
    if (prefix.back() == '/') continue;
    if (!CreateLevel(prefix)) return false;
  }
  return true;
}

}  // namespace core
