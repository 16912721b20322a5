#include "recorder/camera/settings_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace recorder::camera {

std::string EditLockPath(const std::string& settingsPath) { return settingsPath + ".lock"; }

std::string RunLockPath(const std::string& settingsPath) {
  return platform::SaveDirectoryOf(settingsPath) + "tollan.run.lock";
}

FileLock::~FileLock() { Release(); }

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool FileLock::Acquire(const std::string& path, bool wait, std::string* error) {
  Release();
  // The lock file itself holds nothing; it is never removed, since removing it
  // while another process waits on it would let two holders in.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    if (error) *error = "Cannot open the lock file " + path + ": " + std::strerror(errno);
    return false;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (error) *error = errno == EWOULDBLOCK ? "held" : "Cannot lock " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FileLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the descriptor drops the flock
    fd_ = -1;
  }
}

bool RecorderRunning(const std::string& settingsPath) {
  const int fd = ::open(RunLockPath(settingsPath).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;  // never created: no recorder ever ran here
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace recorder::camera
