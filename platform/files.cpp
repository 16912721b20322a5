#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <thread>

namespace platform {

bool WriteAll(int fd, const void* data, size_t length, size_t* written) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  bool ok = true;
  while (done < length) {
    const ssize_t n = ::write(fd, p + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (written) *written = done;
  return ok;
}

ReadFileResult ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return ReadFileResult::OpenFailed;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ReadFileResult::NotRegularFile;
  }
  out.reserve(static_cast<size_t>(st.st_size));
  uint8_t chunk[65536];
  ReadFileResult result = ReadFileResult::Ok;
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = ReadFileResult::ReadError;
      break;
    }
    if (n == 0) break;
    out.insert(out.end(), chunk, chunk + n);
  }
  ::close(fd);
  return result;
}

namespace {

constexpr int kCreateAttempts = 4;
constexpr auto kCreateRetryDelay = std::chrono::milliseconds(100);

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// A level counts as present only as a directory: a regular file standing where a
// directory is needed must fail here rather than later at file open.
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

std::string SaveDirectoryOf(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  const std::string trimmed = path.substr(0, end);
  const size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return {};
  return trimmed.substr(0, slash + 1);
}

bool CreateSaveDirectory(const std::string& directory) {
  const bool absolute = !directory.empty() && directory[0] == '/';
  if (!absolute && directory.size() <= 2) return false;
  if (Exists(directory)) return true;

  std::string work = directory;
  while (!work.empty() && work.back() == '/') work.pop_back();
  work.push_back('/');

  // An absolute path is created from the root down; the root itself exists. Of a
  // relative path, the first component ("rec" of "rec/video.mjpg") is taken as
  // existing and never created.
  size_t slash = absolute ? 0 : work.find('/', 2);
  if (slash == std::string::npos) return false;

  for (slash = work.find('/', slash + 1); slash != std::string::npos; slash = work.find('/', slash + 1)) {
    const std::string prefix = work.substr(0, slash);
    // An empty level ("a//b") names the same directory as the one before it.
    if (prefix.back() == '/') continue;
    if (!CreateLevel(prefix)) return false;
  }
  return true;
}

std::string ErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which need not be in the buffer.
  return ::strerror_r(error, buffer, sizeof buffer);
}

std::string ReadFailureReason(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return ErrorText(errno);
  if (S_ISDIR(st.st_mode)) return ErrorText(EISDIR);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return ErrorText(errno);
  ::close(fd);
  return "";
}

}  // namespace platform
