#include "platform/replacement_file.h"

#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace platform {

namespace {

std::atomic<unsigned> gTempCounter{0};

}  // namespace

std::string ReplacementErrorText(int error) {
  return error == EINVAL ? "not a regular file" : ErrorText(error);
}

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      target_(std::move(other.target_)),
      tempPath_(std::exchange(other.tempPath_, std::string())) {}

ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept {
  if (this != &other) {
    Discard();
    fd_ = std::exchange(other.fd_, -1);
    target_ = std::move(other.target_);
    tempPath_ = std::exchange(other.tempPath_, std::string());
  }
  return *this;
}

bool ReplacementFile::Create(const std::string& path, int* error) {
  Discard();
  int dummy = 0;
  int& err = error ? *error : dummy;
  if (path.empty() || path.back() == '/') {
    err = path.empty() ? ENOENT : EISDIR;
    return false;
  }
  // A link is followed: the file it names is the one replaced, beside itself.
  std::string target = path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  const bool exists = ::stat(target.c_str(), &st) == 0;
  // Only a regular file can be replaced: renaming over a folder fails, and over a
  // device or a pipe it would put a plain file in its place.
  if (exists && !S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".part-%ld-%u", long(::getpid()), gTempCounter.fetch_add(1));
    // Hidden, and named after the target so a left-over file says what it was.
    std::string temp = folder + "." + name + suffix;
    if (temp.size() - folder.size() > 255) temp = folder + "." + name.substr(0, 180) + suffix;
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      // The file that takes an old one's place keeps its permissions.
      if (exists) ::fchmod(fd, st.st_mode & 07777);
      fd_ = fd;
      target_ = target;
      tempPath_ = std::move(temp);
      return true;
    }
    if (errno != EEXIST) {
      err = errno;
      return false;
    }
  }
  err = EEXIST;
  return false;
}

void ReplacementFile::CloseFd() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ReplacementFile::Commit(int* error) {
  if (tempPath_.empty()) {
    if (error) *error = EBADF;
    return false;
  }
  int failed = 0;
  if (fd_ >= 0 && ::close(fd_) != 0) failed = errno;  // a late write error shows here
  fd_ = -1;
  if (!failed && ::rename(tempPath_.c_str(), target_.c_str()) != 0) failed = errno;
  if (failed) {
    if (error) *error = failed;
    Discard();
    return false;
  }
  tempPath_.clear();
  return true;
}

void ReplacementFile::Discard() {
  CloseFd();
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
}

}  // namespace platform
