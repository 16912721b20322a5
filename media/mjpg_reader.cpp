#include "media/mjpg_reader.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "media/mjpg.h"
#include "platform/bytes.h"

namespace media {

namespace {

long FindMarker(const uint8_t* bytes, size_t length, const uint8_t (&marker)[2], size_t start = 0) {
  return platform::FindBytes(bytes, length, marker, 2, start);
}

}  // namespace

CMjpgReader::CMjpgReader() = default;

CMjpgReader::~CMjpgReader() { Close(); }

bool CMjpgReader::Open(const std::string& path, Sharing sharing) {
  Close();
  // Non-blocking so that a FIFO cannot hang the open; anything but a regular file
  // is refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  // A writer (the recorder, an edit's output) holds an exclusive lock while it writes.
  if (sharing == Sharing::ReadOnly && ::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  position_ = 0;
  firstFrameSize_ = MeasureFirstFrame();
  return true;
}

void CMjpgReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  windowBase_ = 0;
  windowBytes_ = 0;
  bufferOffset_ = 0;
}

size_t CMjpgReader::ReadAt(uint64_t offset, uint8_t* into, size_t n) const {
  size_t done = 0;
  while (done < n) {
    if (offset + done > uint64_t(INT64_MAX)) break;
    const ssize_t got = ::pread(fd_, into + done, n - done, off_t(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += size_t(got);
  }
  return done;
}

uint64_t CMjpgReader::GetLength() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
  return uint64_t(st.st_size);
}

uint64_t CMjpgReader::MeasureFirstFrame() {
  StartAt(0);
  Fill(mjpg::kReadWindow);
  const uint8_t* w = Data();
  const size_t n = std::min(windowBytes_, mjpg::kReadWindow);  // the first window alone
  const long s1 = FindMarker(w, n, mjpg::kSoi);
  if (s1 < 0) return 0;
  const long s2 = FindMarker(w, n, mjpg::kSoi, size_t(s1) + 2);
  if (s2 >= 0) return uint64_t(s2);
  if (n < mjpg::kReadWindow || FindMarker(w, n, mjpg::kEoi) >= 0) return 0;
  // A first frame larger than the first window: its end, found by the growing
  // rule, so that seeking to the end of the scale still lands before the last frame.
  mjpg::FrameSearch search;
  mjpg::FrameSpan span;
  return FindFrame(0, search, span, false) ? windowBase_ + span.next : 0;
}

void CMjpgReader::StartAt(uint64_t offset) {
  // Bytes already read stay valid: a file is only ever appended to.
  if (offset >= windowBase_ && offset <= windowBase_ + windowBytes_) {
    Drop(size_t(offset - windowBase_));
    return;
  }
  windowBase_ = offset;
  windowBytes_ = 0;
  bufferOffset_ = 0;
}

void CMjpgReader::Drop(size_t bytes) {
  bufferOffset_ += bytes;
  windowBase_ += bytes;
  windowBytes_ -= bytes;
  if (windowBytes_ == 0) bufferOffset_ = 0;
}

bool CMjpgReader::Fill(size_t want) {
  if (windowBytes_ >= want) return true;
  if (bufferOffset_ + want > window_.size()) {
    // Move the bytes kept to the front (at most once per few windows of bytes read
    // on), and grow the buffer when a frame needs more.
    if (bufferOffset_ > 0) std::memmove(window_.data(), window_.data() + bufferOffset_, windowBytes_);
    bufferOffset_ = 0;
    if (want > window_.size()) window_.resize(std::max(want, kBufferSize));
  }
  // Reads on to the end of the buffer, so that frame after frame costs one read
  // per few windows rather than one per frame.
  const size_t need = want - windowBytes_;
  const size_t room = window_.size() - bufferOffset_ - windowBytes_;
  const size_t got = ReadAt(windowBase_ + windowBytes_, Data() + windowBytes_, std::max(need, room));
  windowBytes_ += got;
  return got >= need;
}

void CMjpgReader::NoteSkipped(uint64_t offset, uint64_t bytes, bool frame) {
  if (bytes == 0) return;
  if (!damage_.Any()) damage_.firstOffset = offset;
  damage_.bytesSkipped += bytes;
  if (frame) ++damage_.framesSkipped;
}

bool CMjpgReader::FindFrame(uint64_t p0, mjpg::FrameSearch& search, mjpg::FrameSpan& span, bool count) {
  StartAt(p0);
  bool atEnd = !Fill(mjpg::kReadWindow);
  const auto note = [&](size_t bytes, bool frame) {
    if (count) NoteSkipped(windowBase_, bytes, frame);
  };
  // Drops the first k bytes as damage and tops the window up again. The bytes kept
  // have not been looked at yet (except after a cut-off frame), so each byte is
  // still scanned about once.
  const auto skip = [&](size_t k, bool frame) {
    note(k, frame);
    Drop(k);
    if (!atEnd) atEnd = !Fill(mjpg::kReadWindow);
    search = {};
  };
  for (;;) {
    size_t more = 0;
    const mjpg::CutResult result = mjpg::ContinueCut(Data(), windowBytes_, search, span, &more);
    // A second start of image before the end of the first: the first frame was cut
    // off (a recording resumed after a crash). Go on from the second.
    if (result != mjpg::CutResult::NoFrame && search.soi2 >= 0) {
      skip(size_t(search.soi2), true);
      continue;
    }
    if (result == mjpg::CutResult::Frame) {
      note(span.start, false);  // stray bytes before the frame
      return true;
    }
    if (result == mjpg::CutResult::ReadMore) {
      if (atEnd) {
        // The file ends inside this frame: the end of a recording, not damage.
        note(size_t(search.soi), false);
        return false;
      }
      atEnd = !Fill(windowBytes_ + more);
      continue;
    }
    if (search.soi >= 0) {
      // A frame over the size limit: on from the next start of image, or from where
      // the search stopped.
      skip(search.soi2 >= 0 ? size_t(search.soi2) : search.next, true);
      continue;
    }
    const size_t at = search.next;
    const uint8_t* w = Data();
    if (at + 1 < windowBytes_ && w[at] == mjpg::kEoi[0] && w[at + 1] == mjpg::kEoi[1]) {
      skip(at + 2, false);  // an end of image with no start before it
      continue;
    }
    // No marker at all in what was read.
    if (atEnd) {
      note(windowBytes_, false);
      return false;
    }
    skip(std::max<size_t>(at, 1), false);
  }
}

bool CMjpgReader::SkipNextFrame() {
  mjpg::FrameSearch search;
  mjpg::FrameSpan span;
  return CutNext(search, span);
}

bool CMjpgReader::CutNext(mjpg::FrameSearch& search, mjpg::FrameSpan& span) {
  if (fd_ < 0) return false;
  if (!FindFrame(position_, search, span, true)) {
    position_ = windowBase_ + windowBytes_;
    return false;
  }
  position_ = windowBase_ + span.next;
  frameStart_ = windowBase_ + span.start;
  return true;
}

bool CMjpgReader::ReadNextFrame(std::vector<uint8_t>& jpeg, uint32_t* timestamp) {
  mjpg::FrameSearch search;
  mjpg::FrameSpan span;
  if (!CutNext(search, span)) return false;
  const uint8_t* w = Data();
  const size_t s = span.start;
  const size_t end = span.next;  // just past FF D9
  // The window a single read would have given, for the time stamp search below.
  const size_t n = std::min(windowBytes_, std::max(end, mjpg::kReadWindow));

  // The time stamp comes from the first FF FE of the whole window, which for a
  // frame without one is the next frame's. The cut already knows the first one
  // between FF D8 and FF D9, so each byte is looked at once.
  long c = FindMarker(w, s, mjpg::kCom);
  if (c < 0) c = search.com;
  if (c < 0) c = FindMarker(w, n, mjpg::kCom, end);
  uint32_t stamp = 0;
  if (c >= 0 && size_t(c) + 3 < n) {
    const unsigned len = w[size_t(c) + 3];
    const size_t text = size_t(c) + 4;
    if (len >= mjpg::kMinCommentLength && len <= mjpg::kMaxCommentLength && text + (len - 2) <= n)
      mjpg::ParseStampText(w + text, len - 2, stamp);
  }

  jpeg.assign(w + s, w + end);
  if (timestamp) *timestamp = stamp;
  return true;
}

bool CMjpgReader::ReadPreviousFrame(std::vector<uint8_t>& jpeg, uint32_t* timestamp) {
  if (fd_ < 0) return false;
  uint8_t block[kBlock];
  uint64_t pos = frameStart_;
  for (;;) {
    if (pos < kBlock) {
      position_ = 0;
      break;
    }
    const uint64_t w = pos - kBlock;
    const size_t n = ReadAt(w, block, kBlock);
    position_ = w + n;
    if (n == 0) return false;
    const long s = FindMarker(block, n, mjpg::kSoi);
    if (s >= 0) {
      position_ = w + uint64_t(s);
      break;
    }
    // The next block ends 2 bytes inside this one, so a marker cut by this
    // block's start is still seen.
    pos = w + 2;
  }
  return ReadNextFrame(jpeg, timestamp);
}

bool CMjpgReader::FindStartForward(uint64_t from) {
  uint8_t block[kBlock];
  uint64_t pos = from;
  for (;;) {
    const size_t n = ReadAt(pos, block, kBlock);
    position_ = pos + n;
    if (n == 0) return false;
    const long s = FindMarker(block, n, mjpg::kSoi);
    if (s >= 0) {
      position_ = pos + uint64_t(s);
      return true;
    }
    // Blocks do not overlap: a marker cut by a block edge is passed over and the
    // search goes on to a later frame.
    pos += n;
  }
}

bool CMjpgReader::SeekToFraction(int fraction, std::vector<uint8_t>& jpeg, uint32_t* timestamp) {
  if (fd_ < 0) return false;
  const double place = double(GetLength()) * (double(fraction) * (1.0 / kFractionRange));
  uint64_t target = 0;
  if (place >= 18446744073709551616.0)
    target = UINT64_MAX;
  else if (place > 0)
    target = uint64_t(place);
  // Step back by one frame's size, so that the far end of the scale still lands
  // before the last frame.
  target = target < firstFrameSize_ ? 0 : target - firstFrameSize_;
  if (!FindStartForward(target)) return false;
  return ReadNextFrame(jpeg, timestamp);
}

int CMjpgReader::GetPositionFraction() const {
  const uint64_t length = GetLength();
  if (length == 0) return 0;
  const double fraction = double(GetPosition()) / double(length) * kFractionRange;
  // A file cut shorter meanwhile must not push the bar past its end.
  return fraction >= kFractionRange ? kFractionRange : int(fraction);
}

}  // namespace media
