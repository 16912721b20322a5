#pragma once
// The MJPG recording format: whole JPEG frames end to end, each carrying its
// recording time (32-bit seconds since 1970, decimal) in a comment segment that
// stands right before the first quantisation table marker FF DB.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace media::mjpg {

// Readers take at most this many bytes per frame.
constexpr size_t kReadWindow = 204800;

// Builds the bytes of one MJPG frame: the JPEG with the time-stamp comment inserted
// before its first FF DB. Returns false (out untouched) when there is no FF DB.
bool BuildFrame(const uint8_t* jpeg, size_t length, uint32_t timestamp, std::vector<uint8_t>& out);

enum class WriteResult { Ok, NoQuantTable, WriteError };

// Appends one frame to an open file descriptor in a single write() call, so an
// interruption never leaves a frame's head without its tail. A short write is
// reported as WriteError after the partial bytes are cut off again (ftruncate),
// so the file stays readable up to its last whole frame.
WriteResult WriteFrame(int fd, const uint8_t* jpeg, size_t length, uint32_t timestamp);

// One frame found in a read window.
struct FrameSpan {
  size_t start = 0;        // offset of FF D8 in the window
  size_t length = 0;       // bytes from FF D8 through FF D9
  size_t next = 0;         // offset just past FF D9: where the next frame begins
  uint32_t timestamp = 0;  // 0 when the frame carries none
  bool hasTimestamp = false;
};

// Cuts the first frame out of a window of at most kReadWindow bytes read at a frame
// boundary. Fails when FF D8 or FF D9 is missing or FF D9 comes before FF D8.
bool CutFrame(const uint8_t* window, size_t length, FrameSpan& out);

// Reads every frame of a whole file (for tools and tests). Stops at the first
// frame that cannot be cut. Returns false when the file cannot be read. The spans'
// start and next are offsets in the file (and in *bytes, which receives the file).
bool ReadAllFrames(const std::string& path, std::vector<FrameSpan>& frames, std::vector<uint8_t>* bytes = nullptr);

}  // namespace media::mjpg
