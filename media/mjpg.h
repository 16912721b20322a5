#pragma once
// The MJPG recording format: whole JPEG frames end to end, each carrying its
// recording time (32-bit seconds since 1970, decimal) in a comment segment that
// stands right before the first quantisation table marker FF DB.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace media::mjpg {

// Readers first read this many bytes per frame; a window that holds FF D8 but no
// FF D9 grows until the frame fits, up to kMaxFrameSize from FF D8 through FF D9.
constexpr size_t kReadWindow = 204800;
constexpr size_t kMaxFrameSize = size_t(16) << 20;

// JPEG markers: start of image, end of image, comment.
inline constexpr uint8_t kSoi[2] = {0xFF, 0xD8};
inline constexpr uint8_t kEoi[2] = {0xFF, 0xD9};
inline constexpr uint8_t kCom[2] = {0xFF, 0xFE};

// A comment counts as a time stamp only when the low byte of its length lies here.
constexpr unsigned kMinCommentLength = 3;
constexpr unsigned kMaxCommentLength = 24;

// The number in a time-stamp comment's text: leading blanks skipped, decimal digits
// up to the first other byte (the writer ends them with a NUL), saturating at
// UINT32_MAX. Returns false, value 0, when there is no digit.
bool ParseStampText(const uint8_t* text, size_t length, uint32_t& value);

// Builds the bytes of one MJPG frame: the JPEG with the time-stamp comment inserted
// before its first FF DB. Returns false (out untouched) when there is no FF DB.
bool BuildFrame(const uint8_t* jpeg, size_t length, uint32_t timestamp, std::vector<uint8_t>& out);

// BuildFrame with the comment placed at `position` (an offset found by
// StampPosition); false when the position lies outside the picture.
bool BuildFrameAt(const uint8_t* jpeg, size_t length, size_t position, uint32_t timestamp, std::vector<uint8_t>& out);

// Where a camera's own JPEG takes the time-stamp comment, so that the picture can
// be stored byte for byte as sent: before its first quantisation table or first
// comment segment (a camera's comment then follows ours), found by walking the
// segments from the start-of-image marker. `length` is cut to the first FF D9
// when only NULs and line breaks follow it. False when the picture cannot be stored
// as it stands, because readers would misread it: no quantisation table before the
// scan, a broken segment, FF FE or FF D9 bytes before the position (an embedded
// thumbnail), or an end-of-image marker before the end.
bool StampPosition(const uint8_t* jpeg, size_t& length, size_t& position);

enum class WriteResult { Ok, NoQuantTable, WriteError };

// Appends one frame to an open file descriptor in a single write() call, so an
// interruption never leaves a frame's head without its tail. A short write is
// reported as WriteError after the partial bytes are cut off again (ftruncate),
// so the file stays readable up to its last whole frame. After Ok, *written (when
// given) receives the frame's bytes as they went to the file.
WriteResult WriteFrame(int fd, const uint8_t* jpeg, size_t length, uint32_t timestamp,
                       std::vector<uint8_t>* written = nullptr);
// WriteFrame with the comment at a position StampPosition found.
WriteResult WriteFrameAt(int fd, const uint8_t* jpeg, size_t length, size_t position, uint32_t timestamp,
                         std::vector<uint8_t>* written = nullptr);

// One frame found in a read window.
struct FrameSpan {
  size_t start = 0;        // offset of FF D8 in the window
  size_t length = 0;       // bytes from FF D8 through FF D9
  size_t next = 0;         // offset just past FF D9: where the next frame begins
  uint32_t timestamp = 0;  // 0 when the frame carries none
  bool hasTimestamp = false;
};

// Cuts the first frame out of a window read at a frame boundary. Fails when FF D8 or
// FF D9 is missing, FF D9 comes before FF D8, or the frame is over kMaxFrameSize.
bool CutFrame(const uint8_t* window, size_t length, FrameSpan& out);

// Where the search for one frame stands in a window that may still grow. The window
// always starts at the same place; it may move in memory between calls but keeps its
// bytes, so each call looks only at the bytes added since the last one.
struct FrameSearch {
  size_t next = 0;  // first byte pair not yet examined
  long soi = -1;    // offset of FF D8 once seen
  long com = -1;    // offset of the first FF FE after it
  long soi2 = -1;   // offset of a second FF D8 after the first: the first frame was cut off
};

enum class CutResult {
  Frame,     // `out` holds the first frame, as CutFrame gives it
  ReadMore,  // FF D8 but no FF D9 yet: append `*more` bytes and call again
  NoFrame,   // reading on cannot help: FF D8 missing, FF D9 before it, or the size limit passed
};

// CutFrame for a growing window. On ReadMore, `*more` (never 0) doubles the window
// without passing kMaxFrameSize; a source that has no more bytes ends the search there.
CutResult ContinueCut(const uint8_t* window, size_t length, FrameSearch& search, FrameSpan& out, size_t* more);

// Reads every frame of a whole file (for tools and tests), each in a window that starts
// at kReadWindow bytes and grows as its frame needs. Stops at the first
// frame that cannot be cut. Returns false when the file cannot be read. The spans'
// start and next are offsets in the file (and in *bytes, which receives the file).
bool ReadAllFrames(const std::string& path, std::vector<FrameSpan>& frames, std::vector<uint8_t>* bytes = nullptr);

}  // namespace media::mjpg
