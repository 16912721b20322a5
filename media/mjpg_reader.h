#pragma once
// Reads JPEG frames out of an MJPG file without an index: every position is a
// byte offset, and seeking works on byte fractions of the file length on a scale
// of 86400 steps. Each read scans raw bytes for JPEG markers, so no header or
// trailer is needed.
//
// Damaged recordings are read past: bytes that hold no whole frame (stray bytes,
// a stray end marker, a frame over the 16 MiB limit, a frame cut off by the start
// of the next one) are skipped, counted and reported by GetDamage(), and reading
// goes on at the next start of image. A frame cut off by the end of the file is
// how a recording ends when the power fails: the end, not damage.
//
// A reader is used by one thread. Other programs may append to the file while it
// is open; its length is asked of the file system each time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/mjpg.h"

namespace media {

class CMjpgReader {
 public:
  // What other programs may do with the file while it is open. ReadWrite lets the
  // recorder go on appending (the player); ReadOnly refuses a file that a writer
  // holds locked (the converter).
  enum class Sharing { ReadWrite, ReadOnly };

  static constexpr int kFractionRange = 86400;
  // Backward and seek searches read blocks of this size.
  static constexpr size_t kBlock = 4096;

  CMjpgReader();
  ~CMjpgReader();
  CMjpgReader(const CMjpgReader&) = delete;
  CMjpgReader& operator=(const CMjpgReader&) = delete;

  // Opens a regular file for reading and measures the first frame: the offset of
  // the second FF D8 in the first window, else, when the first frame is larger than
  // that window, its end; 0 otherwise. An open reader is closed first.
  bool Open(const std::string& path, Sharing sharing = Sharing::ReadWrite);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // The first frame at or after the current position, its bytes from FF D8 through
  // FF D9 in `jpeg` and its time stamp (0 = none) in *timestamp. False at the end of
  // the file or when no frame can be cut there; `jpeg` is then left as it was.
  bool ReadNextFrame(std::vector<uint8_t>& jpeg, uint32_t* timestamp = nullptr);
  // ReadNextFrame without the frame's bytes and time stamp: the positions move on
  // to the next frame alone (stepping over frames to a frame number).
  bool SkipNextFrame();
  // The frame before the one read last: the earliest FF D8 of the nearest 4096-byte
  // block before it, so short frames may be stepped over. At the first frame, the
  // first frame again.
  bool ReadPreviousFrame(std::vector<uint8_t>& jpeg, uint32_t* timestamp = nullptr);
  // The first frame that starts at or after `fraction` / 86400 of the file, moved
  // back by the first frame's size so that 86400 still finds the last frame.
  bool SeekToFraction(int fraction, std::vector<uint8_t>& jpeg, uint32_t* timestamp = nullptr);

  // The current position as a fraction of the length, 0..86400; the end of the
  // last frame gives 86400.
  int GetPositionFraction() const;
  int GetFractionRange() const { return kFractionRange; }
  // File length now; 0 when not open.
  uint64_t GetLength() const;
  // Current file position: after a read, just past the frame's FF D9. 0 when not open.
  uint64_t GetPosition() const { return IsOpen() ? position_ : 0; }
  // Offset of the FF D8 of the frame read last.
  uint64_t GetFrameStart() const { return frameStart_; }
  uint64_t GetFirstFrameSize() const { return firstFrameSize_; }

  // What reading has skipped so far.
  struct Damage {
    uint64_t bytesSkipped = 0;   // every byte that was not part of a whole frame read
    uint64_t framesSkipped = 0;  // of them, frames begun but never whole
    uint64_t firstOffset = 0;    // file offset of the first skipped byte
    bool Any() const { return bytesSkipped > 0; }
  };
  const Damage& GetDamage() const { return damage_; }
  // Where the next ReadNextFrame starts.
  void SetPosition(uint64_t offset) { position_ = offset; }

 private:
  // Reads up to n bytes at offset; a read error ends the bytes read there.
  size_t ReadAt(uint64_t offset, uint8_t* into, size_t n) const;
  uint64_t MeasureFirstFrame();
  // Cuts the first whole frame at or after p0 into the window, growing it as the
  // frame needs and skipping what holds none. windowBase_ and windowBytes_ then say
  // where the window starts in the file and how much of it was read; `span` is
  // relative to the window. False at the end of the file.
  bool FindFrame(uint64_t p0, mjpg::FrameSearch& search, mjpg::FrameSpan& span, bool count);
  // FindFrame at the current position; moves the positions on to the frame found.
  bool CutNext(mjpg::FrameSearch& search, mjpg::FrameSpan& span);
  static constexpr size_t kBufferSize = 4 * mjpg::kReadWindow;
  // The window: windowBytes_ bytes of the file from windowBase_, kept in window_
  // from bufferOffset_ on, so a read that starts where the last one left off reads
  // only what is new.
  uint8_t* Data() { return window_.data() + bufferOffset_; }
  // Makes the window start at `offset`, keeping what it holds from there on.
  void StartAt(uint64_t offset);
  void Drop(size_t bytes);
  // Reads on until the window holds `want` bytes; false when the file ended first.
  bool Fill(size_t want);
  void NoteSkipped(uint64_t offset, uint64_t bytes, bool frame);
  // Reads 4096-byte blocks on from `from`, end to end, up to the first that holds
  // FF D8, and positions there. False when a read comes back empty.
  bool FindStartForward(uint64_t from);

  int fd_ = -1;
  uint64_t position_ = 0;
  uint64_t frameStart_ = 0;
  uint64_t firstFrameSize_ = 0;
  uint64_t windowBase_ = 0;
  size_t windowBytes_ = 0;
  size_t bufferOffset_ = 0;
  Damage damage_;
  // The read window's buffer: kBufferSize, grown while a frame needs it (up
  // to its 16 MiB limit) and kept at that size for the frames that follow.
  std::vector<uint8_t> window_;
};

}  // namespace media
