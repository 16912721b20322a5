#pragma once
// Reads the frames of one recording, front to back, for one conversion. Positions
// are byte offsets; progress is the position as a fraction of the file length on
// the scale of kFractionRange.
#include <cstdint>
#include <string>
#include <vector>

namespace converter {

class CFrameSource {
 public:
  CFrameSource() = default;
  ~CFrameSource();
  CFrameSource(const CFrameSource&) = delete;
  CFrameSource& operator=(const CFrameSource&) = delete;

  // Opens a regular file for reading. False when it cannot be opened.
  bool Open(const std::string& path);
  void Close();
  // The next frame from its FF D8 through its FF D9. False at the end of the file or
  // when no whole frame follows; the position is then past the bytes that were read.
  bool ReadNextFrame(std::vector<uint8_t>& jpeg);
  // The position on the fraction scale; 0 for an empty file.
  int GetPositionFraction() const;
  static int GetFractionRange();
  // The file length now (a recorder may still be appending); 0 when not open.
  uint64_t GetLength() const;
  uint64_t GetPosition() const { return fd_ >= 0 ? position_ : 0; }

 private:
  // Reads at an offset until `length` bytes or the end of the file; returns the count.
  size_t ReadAt(uint64_t offset, uint8_t* to, size_t length) const;

  int fd_ = -1;
  uint64_t position_ = 0;
  std::vector<uint8_t> window_;
};

}  // namespace converter
