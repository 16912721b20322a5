#include "player/editing.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/files.h"

namespace player {

namespace {

const NoticeText kNotices[] = {
    {"Start point has been set to the current frame in view", "Start Frame Set", false},
    {"End point has been set to the current frame in view", "End Frame Set", false},
    {"Start and End points for video editing cannot be the same", "Frame Set Error", true},
    {"Start point for video editing cannot be after the End point", "Frame Set Error", true},
    {"Cannot read the video file for editing", "File Open Error", true},
    {"Cannot write the video file for editing", "File Write Error", true},
    {"Writing video file for editing failed", "File Write Error", true},
    {"Reading video file during editing failed", "File Read Error", true},
    {"The output file cannot be one of the video files being edited; choose another name", "File Write Error",
     true},
};

}  // namespace

const NoticeText* FindNotice(int code) {
  if (code < 1 || code > int(std::size(kNotices))) return nullptr;
  return &kNotices[code - 1];
}

int SelectionTest(uint64_t startMark, uint64_t endMark) {
  if (startMark == endMark) return kNoticeMarksEqual;
  if (startMark > endMark) return kNoticeStartAfterEnd;
  return 0;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

UniqueFd OpenEditInput(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  // A FIFO or device would never end or block the copy; only regular files are edited.
  if (fd && (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))) fd.Reset();
  return fd;
}

uint64_t FileLength(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size < 0) return 0;
  return uint64_t(st.st_size);
}

UniqueFd CreateEditOutput(const std::string& path, const std::vector<int>& inputs, int& notice) {
  notice = kNoticeCannotWrite;
  // Opened without emptying it, so that a refused choice leaves the file as it was.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!fd) return fd;
  struct stat out {};
  if (::fstat(fd.Get(), &out) != 0) return UniqueFd();
  for (int input : inputs) {
    struct stat in {};
    if (::fstat(input, &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
      notice = kNoticeOutputIsInput;
      return UniqueFd();
    }
  }
  // Others may read the output while it is written, not write it.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return UniqueFd();
  if (S_ISREG(out.st_mode) && ::ftruncate(fd.Get(), 0) != 0) return UniqueFd();
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags != -1) ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
  notice = 0;
  return fd;
}

CopyPlan PlanExtract(int source, uint64_t startMark, uint64_t endMark) {
  const uint64_t size = endMark - startMark;
  return {{{source, startMark, size}}, size};
}

CopyPlan PlanRemove(int source, uint64_t sourceLength, uint64_t startMark, uint64_t endMark) {
  const uint64_t cut = endMark - startMark;
  const uint64_t total = sourceLength > cut ? sourceLength - cut : 0;
  return {{{source, 0, startMark}, {source, endMark, total}}, total};
}

CopyPlan PlanAppend(int first, uint64_t firstLength, int second, uint64_t secondLength) {
  const uint64_t total = firstLength + secondLength;
  return {{{first, 0, firstLength}, {second, 0, total}}, total};
}

CopyJob::CopyJob(std::vector<UniqueFd> inputs, UniqueFd output, CopyPlan plan)
    : inputs_(std::move(inputs)), output_(std::move(output)), plan_(std::move(plan)) {}

void CopyJob::Close() {
  inputs_.clear();
  output_.Reset();
}

CopyJob::State CopyJob::Run(const std::function<bool()>& yield, const std::function<void(int)>& notice,
                            const std::function<void(int)>& progress) {
  uint8_t buffer[kCopyChunk];
  while (part_ < plan_.parts.size()) {
    if (yield()) return State::Running;
    const CopyPart& part = plan_.parts[part_];
    const uint64_t remaining = part.target > written_ ? part.target - written_ : 0;
    const size_t chunk = size_t(std::min<uint64_t>(kCopyChunk, remaining));
    ssize_t got = 0;
    if (chunk > 0) {
      do {
        got = ::pread(part.fd, buffer, chunk, off_t(part.from + readInPart_));
      } while (got < 0 && errno == EINTR);
    }
    if (got <= 0) {
      // A read error counts as nothing read; with nothing left to copy the part is simply over.
      if (remaining != 0) notice(kNoticeReadFailed);
      ++part_;
      readInPart_ = 0;
      continue;
    }
    if (!platform::WriteAll(output_.Get(), buffer, size_t(got))) {
      Close();
      notice(kNoticeWriteFailed);
      return State::WriteFailed;
    }
    readInPart_ += uint64_t(got);
    written_ += uint64_t(got);
    const int percent = plan_.total ? int(double(written_) / double(plan_.total) * 100) : 100;
    if (percent != percent_) {
      percent_ = percent;
      progress(percent);
    }
  }
  Close();
  return State::Done;
}

}  // namespace player
