#include "media/mjpg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/ascii.h"
#include "platform/bytes.h"
#include "platform/files.h"

namespace media::mjpg {

namespace {

const uint8_t kDqt[2] = {0xFF, 0xDB};

}  // namespace

bool ParseStampText(const uint8_t* text, size_t length, uint32_t& value) {
  value = 0;
  if (!text) return false;
  const std::string_view s(reinterpret_cast<const char*>(text), length);
  size_t pos = 0;
  // The blanks strtoul would skip in the C locale.
  while (pos < s.size() && platform::ascii::IsSpace(s[pos])) ++pos;
  // Saturates like the C library does.
  const std::optional<uint64_t> number = platform::ascii::ReadDigits(s, pos, UINT32_MAX);
  value = static_cast<uint32_t>(number.value_or(0));
  return number.has_value();
}

bool BuildFrame(const uint8_t* jpeg, size_t length, uint32_t timestamp, std::vector<uint8_t>& out) {
  if (!jpeg) return false;
  const long dqt = platform::FindBytes(jpeg, length, kDqt, 2, 0);
  if (dqt < 0) return false;
  return BuildFrameAt(jpeg, length, size_t(dqt), timestamp, out);
}

bool StampPosition(const uint8_t* jpeg, size_t& length, size_t& position) {
  if (!jpeg || length < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
  size_t pos = 2;
  for (;;) {
    if (pos + 4 > length || jpeg[pos] != 0xFF) return false;
    while (pos + 4 <= length && jpeg[pos + 1] == 0xFF) ++pos;  // fill bytes before a marker
    if (pos + 4 > length) return false;
    const uint8_t marker = jpeg[pos + 1];
    if (marker == kDqt[1] || marker == kCom[1]) break;
    // The scan, or a marker without a length (RSTn, SOI, EOI, TEM), before any
    // quantisation table: not a picture we store as it is.
    if (marker == 0xDA || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9) || marker == 0x00) return false;
    const size_t segment = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
    if (segment < 2) return false;
    pos += 2 + segment;
  }
  // Readers take the first FF FE as the time stamp and the first FF D9 as the end.
  if (platform::FindBytes(jpeg, pos, kCom, 2, 0) >= 0 || platform::FindBytes(jpeg, pos, kEoi, 2, 0) >= 0)
    return false;
  const long eoi = platform::FindBytes(jpeg, length, kEoi, 2, pos);
  if (eoi < 0) return false;
  for (size_t i = size_t(eoi) + 2; i < length; ++i)
    if (jpeg[i] != 0x00 && jpeg[i] != '\r' && jpeg[i] != '\n') return false;
  length = size_t(eoi) + 2;
  position = pos;
  return true;
}

bool BuildFrameAt(const uint8_t* jpeg, size_t length, size_t position, uint32_t timestamp, std::vector<uint8_t>& out) {
  if (!jpeg || position > length) return false;
  const size_t dqt = position;
  char digits[16];
  const int t = std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(timestamp));
  if (t <= 0 || t > 10) return false;

  std::vector<uint8_t> frame;
  frame.reserve(length + size_t(t) + 5);
  frame.insert(frame.end(), jpeg, jpeg + dqt);
  frame.push_back(0xFF);
  frame.push_back(0xFE);
  frame.push_back(0x00);
  frame.push_back(static_cast<uint8_t>(t + 3));
  frame.insert(frame.end(), digits, digits + t);
  frame.push_back(0x00);
  frame.insert(frame.end(), jpeg + dqt, jpeg + length);
  out = std::move(frame);
  return true;
}

namespace {

WriteResult WriteBuilt(int fd, std::vector<uint8_t>& frame, std::vector<uint8_t>* written);

}  // namespace

WriteResult WriteFrame(int fd, const uint8_t* jpeg, size_t length, uint32_t timestamp, std::vector<uint8_t>* written) {
  std::vector<uint8_t> frame;
  if (!BuildFrame(jpeg, length, timestamp, frame)) return WriteResult::NoQuantTable;
  return WriteBuilt(fd, frame, written);
}

WriteResult WriteFrameAt(int fd, const uint8_t* jpeg, size_t length, size_t position, uint32_t timestamp,
                         std::vector<uint8_t>* written) {
  std::vector<uint8_t> frame;
  if (!BuildFrameAt(jpeg, length, position, timestamp, frame)) return WriteResult::NoQuantTable;
  return WriteBuilt(fd, frame, written);
}

namespace {

WriteResult WriteBuilt(int fd, std::vector<uint8_t>& frame, std::vector<uint8_t>* written) {
  // Where the frame begins, so a failed write can be cut off again. With O_APPEND
  // the write lands at the end whatever the offset says.
  off_t before = -1;
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1 && (flags & O_APPEND)) {
    struct stat st {};
    if (fstat(fd, &st) == 0) before = st.st_size;
  } else {
    before = lseek(fd, 0, SEEK_CUR);
  }

  size_t done = 0;
  if (platform::WriteAll(fd, frame.data(), frame.size(), &done)) {
    if (written) *written = std::move(frame);
    return WriteResult::Ok;
  }

  if (done > 0 && before >= 0) {
    // Drop the partial frame so the file ends on a whole frame, and put the offset
    // back so a later write does not leave a hole.
    if (ftruncate(fd, before) == 0 && !(flags != -1 && (flags & O_APPEND))) lseek(fd, before, SEEK_SET);
  }
  return WriteResult::WriteError;
}

}  // namespace

bool CutFrame(const uint8_t* window, size_t length, FrameSpan& out) {
  FrameSearch search;
  size_t more = 0;
  return ContinueCut(window, length, search, out, &more) == CutResult::Frame;
}

CutResult ContinueCut(const uint8_t* window, size_t length, FrameSearch& search, FrameSpan& out, size_t* more) {
  if (!window || length < 2) return CutResult::NoFrame;

  // One pass over the new bytes finds FF D8, the first FF FE after it and the first
  // FF D9, with the meaning the plain searches from the window's start would give.
  long eoi = -1;
  size_t i = search.next;
  for (;;) {
    size_t stop = length - 1;  // a pair starting here still lies inside the window
    if (search.soi >= 0) stop = std::min(stop, size_t(search.soi) + kMaxFrameSize - 1);
    if (i >= stop) break;
    const void* ff = std::memchr(window + i, 0xFF, stop - i);
    if (!ff) {
      i = stop;
      break;
    }
    i = size_t(static_cast<const uint8_t*>(ff) - window);
    const uint8_t marker = window[i + 1];
    if (marker == kEoi[1]) {
      eoi = long(i);
      break;
    }
    if (marker == kSoi[1] && search.soi < 0) {
      search.soi = long(i);
    } else if (marker == kSoi[1] && search.soi2 < 0) {
      search.soi2 = long(i);
    } else if (marker == kCom[1] && search.soi >= 0 && search.com < 0) {
      search.com = long(i);
    }
    ++i;
  }
  search.next = i;

  if (search.soi < 0) return CutResult::NoFrame;  // also when FF D9 came first
  if (eoi < 0) {
    const size_t limit = size_t(search.soi) + kMaxFrameSize;
    if (length >= limit) return CutResult::NoFrame;
    *more = std::min(length, limit - length);
    return CutResult::ReadMore;
  }

  const size_t start = size_t(search.soi);
  const size_t end = size_t(eoi) + 2;  // one past FF D9
  FrameSpan span;
  span.start = start;
  span.length = end - start;
  span.next = end;

  // The comment counts only inside this frame, so a frame without one never borrows
  // the time stamp of the frame after it.
  const long c = search.com;
  if (c >= 0 && size_t(c) + 3 < end) {
    const unsigned len = window[size_t(c) + 3];
    if (len >= kMinCommentLength && len <= kMaxCommentLength) {
      const size_t pos = size_t(c) + 4;
      const size_t stop = std::min(pos + (len - 2), end);
      span.hasTimestamp = ParseStampText(window + pos, stop > pos ? stop - pos : 0, span.timestamp);
    }
  }
  out = span;
  return CutResult::Frame;
}

bool ReadAllFrames(const std::string& path, std::vector<FrameSpan>& frames, std::vector<uint8_t>* bytes) {
  frames.clear();
  std::vector<uint8_t> data;
  if (platform::ReadWholeFile(path, data) != platform::ReadFileResult::Ok) return false;

  // Offsets in the returned spans are file offsets.
  size_t pos = 0;
  while (pos < data.size()) {
    const size_t rest = data.size() - pos;
    size_t window = std::min(kReadWindow, rest);
    FrameSearch search;
    FrameSpan span;
    size_t more = 0;
    CutResult result;
    while ((result = ContinueCut(data.data() + pos, window, search, span, &more)) == CutResult::ReadMore &&
           window < rest) {
      window = std::min(window + more, rest);
    }
    if (result != CutResult::Frame) break;
    span.start += pos;
    span.next += pos;
    frames.push_back(span);
    pos = span.next;
  }
  if (bytes) *bytes = std::move(data);
  return true;
}

}  // namespace media::mjpg
