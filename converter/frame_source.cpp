#include "converter/frame_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "converter/conversion.h"
#include "media/mjpg.h"

namespace converter {

CFrameSource::~CFrameSource() { Close(); }

bool CFrameSource::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  // A FIFO or a device could block or never end.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  position_ = 0;
  return true;
}

void CFrameSource::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  position_ = 0;
  window_.clear();
  window_.shrink_to_fit();
}

size_t CFrameSource::ReadAt(uint64_t offset, uint8_t* to, size_t length) const {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd_, to + done, length - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // a read error counts as the end of the data
    done += size_t(n);
  }
  return done;
}

bool CFrameSource::ReadNextFrame(std::vector<uint8_t>& jpeg) {
  if (fd_ < 0) return false;
  const uint64_t start = position_;
  if (window_.size() < media::mjpg::kReadWindow) window_.resize(media::mjpg::kReadWindow);
  size_t asked = media::mjpg::kReadWindow;
  size_t have = ReadAt(start, window_.data(), asked);
  media::mjpg::FrameSearch search;
  media::mjpg::FrameSpan span;
  for (;;) {
    size_t more = 0;
    const media::mjpg::CutResult cut = media::mjpg::ContinueCut(window_.data(), have, search, span, &more);
    if (cut == media::mjpg::CutResult::Frame) break;
    // A window that was not filled has met the end of the file: reading on cannot help.
    if (cut == media::mjpg::CutResult::NoFrame || have < asked) {
      position_ = start + have;
      return false;
    }
    asked = have + more;
    if (window_.size() < asked) window_.resize(asked);
    have += ReadAt(start + have, window_.data() + have, more);
  }
  jpeg.assign(window_.begin() + long(span.start), window_.begin() + long(span.start + span.length));
  position_ = start + span.next;
  return true;
}

uint64_t CFrameSource::GetLength() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
  return uint64_t(st.st_size);
}

int CFrameSource::GetFractionRange() { return kFractionRange; }

int CFrameSource::GetPositionFraction() const {
  const uint64_t length = GetLength();
  if (length == 0) return 0;
  const double fraction = double(GetPosition()) / double(length) * kFractionRange;
  if (fraction >= kFractionRange) return kFractionRange;
  return fraction <= 0 ? 0 : int(fraction);
}

}  // namespace converter
