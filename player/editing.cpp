#include "player/editing.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/files.h"
#include "platform/replacement_file.h"

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
    {"Removing every frame would leave an empty file", "Frame Set Error", true},
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

platform::ReplacementFile CreateEditOutput(const std::string& path, const std::vector<int>& inputs, int& notice,
                                           std::string& reason) {
  notice = kNoticeCannotWrite;
  reason.clear();
  const auto refuse = [&](int error) {
    reason = path + ": " + platform::ReplacementErrorText(error);
    return platform::ReplacementFile();
  };
  // An existing target is only looked at here: it keeps its bytes until the edit ends.
  const UniqueFd existing(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat out {};
  if (existing && ::fstat(existing.Get(), &out) == 0) {
    for (int input : inputs) {
      struct stat in {};
      if (::fstat(input, &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        notice = kNoticeOutputIsInput;
        return {};
      }
    }
    if (S_ISDIR(out.st_mode)) return refuse(EISDIR);
    // Someone writing the file there (the recorder, another edit) keeps it.
    if (::flock(existing.Get(), LOCK_SH | LOCK_NB) != 0) {
      reason = path + ": another program is writing it";
      return {};
    }
  }
  platform::ReplacementFile file;
  int error = 0;
  if (!file.Create(path, &error)) return refuse(error);
  // Others may read the output while it is written, not write it.
  if (::flock(file.Fd(), LOCK_EX | LOCK_NB) != 0) return refuse(errno);
  notice = 0;
  return file;
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

uint64_t WholeFramesLength(int fd, uint64_t length) {
  // Backwards in blocks that overlap by one byte, so a marker across a block edge is seen.
  constexpr size_t kBlock = 65536;
  std::vector<uint8_t> block(kBlock);
  uint64_t end = length;
  while (end >= 2) {
    const uint64_t begin = end > kBlock ? end - kBlock : 0;
    const size_t n = size_t(end - begin);
    ssize_t got;
    do {
      got = ::pread(fd, block.data(), n, off_t(begin));
    } while (got < 0 && errno == EINTR);
    if (got != ssize_t(n)) return 0;
    for (size_t i = n - 1; i-- > 0;)
      if (block[i] == 0xFF && block[i + 1] == 0xD9) return begin + i + 2;
    if (begin == 0) break;
    end = begin + 1;
  }
  return 0;
}

CopyJob::CopyJob(std::vector<UniqueFd> inputs, platform::ReplacementFile output, CopyPlan plan)
    : inputs_(std::move(inputs)), output_(std::move(output)), plan_(std::move(plan)) {}

void CopyJob::Stop(bool keep) {
  const uint64_t whole = keep && output_.IsOpen() ? WholeFramesLength(output_.Fd(), written_) : 0;
  if (whole > 0 && ::ftruncate(output_.Fd(), off_t(whole)) == 0) {
    int error = 0;
    output_.Commit(&error);  // a failure removes it, which is all that can be done
  } else {
    output_.Discard();
  }
  inputs_.clear();
}

int64_t CopyJob::CopyChunk(const CopyPart& part, size_t n, int* error, bool* readError) {
  const uint64_t from = part.from + readInPart_;
  const int out = output_.Fd();
  if (kernelCopy_) {
    loff_t in = loff_t(from);
    ssize_t got;
    do {
      got = ::copy_file_range(part.fd, &in, out, nullptr, n, 0);
    } while (got < 0 && errno == EINTR);
    if (got > 0) return got;
    if (got < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
      *error = errno;
      return -1;
    }
    // Files the kernel cannot copy between go by read and write from now on; an
    // end of the source or another error is looked at again below.
    if (got < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) kernelCopy_ = false;
  }
  buffer_.resize(std::min<size_t>(kCopyChunk, size_t(1) << 20));
  ssize_t got;
  do {
    got = ::pread(part.fd, buffer_.data(), std::min(n, buffer_.size()), off_t(from));
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    *readError = got < 0;
    *error = got < 0 ? errno : 0;
    return 0;
  }
  if (!platform::WriteAll(out, buffer_.data(), size_t(got))) {
    *error = errno ? errno : EIO;
    return -1;
  }
  return got;
}

CopyJob::State CopyJob::Run(const std::function<bool()>& yield, const NoticeSink& notice,
                            const std::function<void(int)>& progress) {
  while (part_ < plan_.parts.size()) {
    if (yield()) return State::Running;
    const CopyPart& part = plan_.parts[part_];
    const uint64_t remaining = part.target > written_ ? part.target - written_ : 0;
    int error = 0;
    bool readError = false;
    const int64_t got = remaining == 0 ? 0 : CopyChunk(part, size_t(std::min<uint64_t>(kCopyChunk, remaining)), &error, &readError);
    if (got < 0) {
      output_.Discard();
      inputs_.clear();
      notice(kNoticeWriteFailed, output_.Target() + ": " + platform::ErrorText(error));
      return State::WriteFailed;
    }
    if (got == 0) {
      // A read error counts as nothing read; with nothing left to copy the part is simply over.
      if (remaining != 0)
        notice(kNoticeReadFailed, readError ? platform::ErrorText(error)
                                            : "the video file ended " + std::to_string(remaining) + " bytes early");
      ++part_;
      readInPart_ = 0;
      continue;
    }
    readInPart_ += uint64_t(got);
    written_ += uint64_t(got);
    const int percent = plan_.total ? int(double(written_) / double(plan_.total) * 100) : 100;
    if (percent != percent_) {
      percent_ = percent;
      progress(percent);
    }
  }
  inputs_.clear();
  int error = 0;
  const std::string target = output_.Target();
  if (!output_.Commit(&error)) {
    notice(kNoticeWriteFailed, target + ": " + platform::ReplacementErrorText(error));
    return State::WriteFailed;
  }
  return State::Done;
}

}  // namespace player
