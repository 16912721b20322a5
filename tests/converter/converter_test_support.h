#pragma once
// Recordings made up for converter tests, and running programs (brandle, ffprobe)
// with their output caught in files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "media/jpeg_codec.h"
#include "media/mjpg.h"
#include "tests/test_support.h"

namespace converter_test {

using Bytes = std::vector<uint8_t>;

// A 24-bit picture with a gradient and a box that moves with `index`.
inline media::FrameImage Picture(int w, int h, int index) {
  media::FrameImage img;
  img.width = w;
  img.height = h;
  img.bitsPerPixel = 24;
  img.pixels.resize(size_t(w) * h * 3);
  const int boxX = (index * 5) % std::max(1, w - w / 4), boxY = (index * 3) % std::max(1, h - h / 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &img.pixels[(size_t(y) * w + x) * 3];
      const bool box = x >= boxX && x < boxX + w / 4 && y >= boxY && y < boxY + h / 4;
      p[0] = box ? 240 : uint8_t(x * 255 / w);
      p[1] = box ? 30 : uint8_t(y * 255 / h);
      p[2] = box ? 60 : uint8_t((x + y + index * 8) & 0xFF);
    }
  return img;
}

// How a made-up recording looks: frame sizes in order, and what goes wrong in it.
struct Recording {
  std::vector<std::pair<int, int>> sizes;
  int undecodableAt = -1;  // this frame is replaced by one with a broken picture
  bool cutOffEnd = false;  // a last frame that stops halfway, as when power fails
};

inline Recording Frames(int count, int w = 160, int h = 120) {
  Recording r;
  r.sizes.assign(size_t(count), {w, h});
  return r;
}

inline void WriteRecording(const std::string& path, const Recording& r) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  for (size_t i = 0; i < r.sizes.size(); ++i) {
    Bytes jpeg;
    EXPECT_TRUE(media::EncodeJpeg(Picture(r.sizes[i].first, r.sizes[i].second, int(i)), 85, jpeg));
    if (int(i) == r.undecodableAt) {
      // A frame whose bytes between its markers are no picture at all.
      jpeg.assign(200, 0x55);
      jpeg[0] = 0xFF, jpeg[1] = 0xD8, jpeg[2] = 0xFF, jpeg[3] = 0xDB;
      jpeg[198] = 0xFF, jpeg[199] = 0xD9;
    }
    EXPECT_EQ(media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), 1700000000u + uint32_t(i)),
              media::mjpg::WriteResult::Ok);
  }
  if (r.cutOffEnd) {
    Bytes jpeg;
    EXPECT_TRUE(media::EncodeJpeg(Picture(r.sizes.back().first, r.sizes.back().second, 99), 85, jpeg));
    ASSERT_TRUE(::write(fd, jpeg.data(), jpeg.size() / 2) > 0);
  }
  ::close(fd);
}

struct RunResult {
  int exitCode = -1;
  std::string out, err;
};

// Runs a program (searched in PATH when the name has no '/'), output caught in files
// under `folder`.
inline RunResult RunProgram(const std::vector<std::string>& argv, const test_support::ScopedTempDir& folder) {
  const std::string outPath = folder.Path("run.out"), errPath = folder.Path("run.err");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  RunResult r;
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  r.out = test_support::ReadFile(outPath);
  r.err = test_support::ReadFile(errPath);
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return r;
}

// What ffprobe says of a file's first video stream and its container, as
// key=value pairs (codec_name, codec_tag_string, width, height, r_frame_rate,
// nb_read_frames, format_name, TAG:title); empty when ffprobe cannot read it.
inline std::map<std::string, std::string> Probe(const std::string& path, const test_support::ScopedTempDir& folder) {
  const RunResult r = RunProgram({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                           "stream=codec_name,codec_tag_string,width,height,r_frame_rate,nb_read_frames:"
                           "stream_tags=title:format=format_name",
                           "-of", "default=nw=1", path},
                          folder);
  std::map<std::string, std::string> values;
  if (r.exitCode != 0) return values;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

// One entry per packet or frame of the first video stream, as ffprobe gives it
// (`entry` is for example "packet=flags" or "frame=pts").
inline std::vector<std::string> Column(const std::string& path, const char* entry, const test_support::ScopedTempDir& folder) {
  const RunResult r =
      RunProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", entry, "-of", "csv=p=0", path},
                 folder);
  std::vector<std::string> values;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) values.push_back(line);
  return values;
}

// Frames ffprobe decodes from the file; 0 when it cannot read it.
inline int FrameCount(const std::string& path, const test_support::ScopedTempDir& folder) {
  const auto values = Probe(path, folder);
  const auto it = values.find("nb_read_frames");
  return it == values.end() ? 0 : std::stoi(it->second);
}

}  // namespace converter_test
