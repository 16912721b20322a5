#include "recorder/frame/motion_detector.h"

#include <algorithm>
#include <cstdlib>

namespace recorder::frame {

namespace {

constexpr int kSampleStep = 4;

// Frames whose buffer holds less than a quarter of width x height x 3 are not
// any capture format read as 24-bit (the smallest, 8-bit, holds a third); the
// header is then forged or broken and the sample table would be unbounded.
constexpr uint64_t kMinBufferShare = 4;

}  // namespace

int MotionDetector::Luminance(uint8_t blue, uint8_t green, uint8_t red) {
  // Exact in integers unless the weighted sum is a whole multiple of 1000: then
  // the double result lies within rounding error of an integer and may fall on
  // either side, so that rare case takes the double path itself. Otherwise the
  // fraction is at least 0.001, far above the double error, and both truncate
  // alike (checked for all colours by the tests).
  const int s = 299 * red + 587 * green + 114 * blue;
  if (s % 1000 != 0) return s / 1000;
  return static_cast<int>(0.299 * red + 0.587 * green + 0.114 * blue);
}

bool MotionDetector::StartMeasure(uint64_t length, int32_t width, int32_t height, bool usable) {
  firstColumn_ = -1;
  // A changed picture size starts afresh. The byte count alone would keep a
  // previous frame of swapped width and height, whose samples lie elsewhere.
  if (havePrevious_ &&
      (length != previousLength_ || width != previousWidth_ || height != previousHeight_)) {
    havePrevious_ = false;
    previous_.clear();
  }
  const int32_t bw = width > 0 ? width / kGridSize : 0;
  const int32_t bh = height > 0 ? height / kGridSize : 0;
  if (usable && bw > 0 && bh > 0) return true;
  // No sample positions: nothing to keep but the size, so the next frame of
  // this size measures 0 as well instead of comparing against stale data.
  havePrevious_ = usable;
  previous_.clear();
  previousLength_ = size_t(length);
  previousAvailable_ = 0;
  previousWidth_ = width;
  previousHeight_ = height;
  return false;
}

void MotionDetector::JudgeRow(int r, const uint64_t* sums, const uint32_t* counts, int triggerLevel, int& level) {
  for (int c = 0; c < kGridSize; ++c) {
    if (grid_[c * kGridSize + r] != 0 || counts[c] == 0) continue;
    const int value = int(sums[c] / counts[c]);
    if (value > level) level = value;
    if (value > triggerLevel) {
      if (firstColumn_ == -1) {
        firstColumn_ = c;
        firstRow_ = r;
      }
      lastColumn_ = c;
      lastRow_ = r;
    }
  }
}

void MotionDetector::FinishMeasure(uint64_t length, uint64_t available, int32_t width, int32_t height) {
  previous_.swap(current_);
  havePrevious_ = true;
  previousLength_ = size_t(length);
  previousAvailable_ = size_t(available);
  previousWidth_ = width;
  previousHeight_ = height;
}

int MotionDetector::Measure(const uint8_t* pixels, size_t bufferLength, int32_t width, int32_t height,
                            int32_t triggerLevel) {
  uint64_t length = 0;
  if (width > 0 && height > 0) length = uint64_t(width) * uint64_t(height) * 3;  // < 2^64 for int32 sizes
  if (pixels == nullptr) bufferLength = 0;
  const bool usable = length > 0 && bufferLength > 0 && length <= uint64_t(bufferLength) * kMinBufferShare;
  if (!StartMeasure(length, width, height, usable)) return 0;
  const int32_t bw = width / kGridSize;
  const int32_t bh = height / kGridSize;
  const int cols = (bw + kSampleStep - 1) / kSampleStep;  // offsets 0, 4, ... below bw
  const int rows = (bh - 1) / kSampleStep + 1;
  const size_t perBlock = size_t(cols) * size_t(rows);
  const size_t total = perBlock * kGridBytes;

  const uint64_t available = std::min<uint64_t>(length, bufferLength);
  const bool compare = havePrevious_ && previous_.size() == total;
  // Samples count only where both frames really had their three bytes.
  const uint64_t sharedLimit = compare ? std::min<uint64_t>(available, previousAvailable_) : 0;

  current_.resize(total);
  int level = 0;
  uint64_t sums[kGridSize];
  uint32_t counts[kGridSize];

  // Row-major walk over the sampled rows for memory locality; the per-block sums
  // do not depend on sample order, and blocks are judged afterwards in the
  // visiting order (rows from the bottom, then columns), which decides first
  // and last block.
  for (int r = 0; r < kGridSize; ++r) {
    std::fill(std::begin(sums), std::end(sums), 0);
    std::fill(std::begin(counts), std::end(counts), 0);
    for (int j = 0; j < rows; ++j) {
      const uint64_t y = uint64_t(r) * bh + uint64_t(j) * kSampleStep;
      const uint64_t rowStart = 3 * uint64_t(width) * y;
      const uint64_t rowEnd = rowStart + 3 * uint64_t(width);
      // Whole rows inside both buffers (the usual case) skip the per-sample checks.
      const bool rowInside = rowEnd <= available;
      const bool rowShared = rowEnd <= sharedLimit;
      for (int c = 0; c < kGridSize; ++c) {
        const size_t base = (size_t(r) * kGridSize + c) * perBlock + size_t(j) * cols;
        uint8_t* cur = current_.data() + base;
        uint64_t sum = 0;
        uint32_t count = 0;
        if (rowShared) {
          const uint8_t* prev = previous_.data() + base;
          const uint8_t* p = pixels + rowStart + 3 * uint64_t(c) * bw;
          for (int i = 0; i < cols; ++i, p += 3 * kSampleStep) {
            const int yCur = Luminance(p[0], p[1], p[2]);
            cur[i] = uint8_t(yCur);
            sum += uint32_t(std::abs(yCur - int(prev[i])));
          }
          count = uint32_t(cols);
        } else if (rowInside && !compare) {
          const uint8_t* p = pixels + rowStart + 3 * uint64_t(c) * bw;
          for (int i = 0; i < cols; ++i, p += 3 * kSampleStep) cur[i] = uint8_t(Luminance(p[0], p[1], p[2]));
        } else {
          const uint64_t first = rowStart + 3 * uint64_t(c) * bw;
          for (int i = 0; i < cols; ++i) {
            const uint64_t off = first + 3 * uint64_t(i) * kSampleStep;
            if (off + 3 > available) {
              cur[i] = 0;
              continue;
            }
            const uint8_t* q = pixels + off;
            const int yCur = Luminance(q[0], q[1], q[2]);
            cur[i] = uint8_t(yCur);
            if (off + 3 <= sharedLimit) {
              sum += uint32_t(std::abs(yCur - int(previous_[base + i])));
              ++count;
            }
          }
        }
        sums[c] += sum;
        counts[c] += count;
      }
    }
    if (compare) JudgeRow(r, sums, counts, triggerLevel, level);
  }

  FinishMeasure(length, available, width, height);
  return level;
}

int MotionDetector::MeasureLuma(const uint8_t* plane, int32_t stride, int32_t width, int32_t height,
                                int32_t triggerLevel) {
  // The same identity as a 24-bit frame of this size, so both kinds compare.
  uint64_t length = 0;
  if (width > 0 && height > 0) length = uint64_t(width) * uint64_t(height) * 3;
  const bool usable = length > 0 && plane != nullptr && stride >= width;
  if (!StartMeasure(length, width, height, usable)) return 0;
  const int32_t bw = width / kGridSize;
  const int32_t bh = height / kGridSize;
  const int cols = (bw + kSampleStep - 1) / kSampleStep;
  const int rows = (bh - 1) / kSampleStep + 1;
  const size_t perBlock = size_t(cols) * size_t(rows);
  const size_t total = perBlock * kGridBytes;
  // A previous frame that was cut short compares only where it had samples;
  // that is the 24-bit path's business, so such a frame is not compared here.
  const bool compare = havePrevious_ && previous_.size() == total && previousAvailable_ >= previousLength_;

  current_.resize(total);
  int level = 0;
  uint64_t sums[kGridSize];
  uint32_t counts[kGridSize];
  for (int r = 0; r < kGridSize; ++r) {
    std::fill(std::begin(sums), std::end(sums), 0);
    std::fill(std::begin(counts), std::end(counts), 0);
    for (int j = 0; j < rows; ++j) {
      // Sample row y counts from the bottom of the picture; the plane's rows from the top.
      const int64_t y = int64_t(r) * bh + int64_t(j) * kSampleStep;
      const uint8_t* row = plane + size_t(height - 1 - y) * size_t(stride);
      for (int c = 0; c < kGridSize; ++c) {
        const size_t base = (size_t(r) * kGridSize + c) * perBlock + size_t(j) * cols;
        uint8_t* cur = current_.data() + base;
        const uint8_t* p = row + size_t(c) * bw;
        if (compare) {
          const uint8_t* prev = previous_.data() + base;
          uint32_t sum = 0;
          for (int i = 0; i < cols; ++i, p += kSampleStep) {
            cur[i] = *p;
            sum += uint32_t(std::abs(int(*p) - int(prev[i])));
          }
          sums[c] += sum;
          counts[c] += uint32_t(cols);
        } else {
          for (int i = 0; i < cols; ++i, p += kSampleStep) cur[i] = *p;
        }
      }
    }
    if (compare) JudgeRow(r, sums, counts, triggerLevel, level);
  }
  FinishMeasure(length, length, width, height);
  return level;
}

}  // namespace recorder::frame
