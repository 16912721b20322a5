#pragma once
// Recordings made up for the player's tests, in a folder removed with the test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "media/mjpg.h"

namespace player_test {

using Bytes = std::vector<uint8_t>;

// An MJPG frame of `total` bytes stamped `stamp`; the body is filler without FF.
inline Bytes Frame(size_t total, uint32_t stamp) {
  const Bytes head = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x03, 0x00};
  Bytes frame;
  EXPECT_TRUE(media::mjpg::BuildFrame(head.data(), head.size(), stamp, frame));
  frame.resize(total - 2, uint8_t(0x20 + stamp % 64));
  frame.push_back(0xFF);
  frame.push_back(0xD9);
  return frame;
}

// Frames of differing sizes (so edits that cut wrong show), stamped first, first + 1, ...
inline std::vector<Bytes> Frames(size_t count, uint32_t first, size_t size = 5000) {
  std::vector<Bytes> frames;
  for (size_t i = 0; i < count; ++i) frames.push_back(Frame(size + 37 * i, first + uint32_t(i)));
  return frames;
}

// Frames [from, to) of a list (counted from 0), end to end.
inline Bytes Join(const std::vector<Bytes>& frames, size_t from = 0, size_t to = SIZE_MAX) {
  Bytes all;
  for (size_t i = from; i < frames.size() && i < to; ++i) all.insert(all.end(), frames[i].begin(), frames[i].end());
  return all;
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  ::close(fd);
}

inline Bytes ReadBytes(const std::string& path) {
  Bytes out;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return out;
  uint8_t buf[65536];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.insert(out.end(), buf, buf + n);
  ::close(fd);
  return out;
}

}  // namespace player_test
