// The brandle program end to end: recordings in, files out that ffprobe reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "converter/avi_writer.h"
#include "converter/conversion.h"
#include "tests/converter/converter_test_support.h"

namespace {

using namespace converter_test;

const std::string kBrandle = BRANDLE_PROGRAM;

// Every type with an encoder here: 30 frames at the rate, the type's codec and tag,
// the first frame's size throughout, its key frames and (WMV) its frame times.
TEST(Brandle, EachTypeConvertsEveryFrameAtTheRateWithItsCodecAndTheFirstFrameSize) {
  const struct {
    const char* type;
    std::pair<int, int> firstSize, laterSize;  // later: frames 15 to 29
    int fps;
    const char* codec;  // codec, tag and container as ffprobe names them
    const char* size;
    int keyEvery;
    const char* firstTimes;  // in ms, WMV only
  } cases[] = {
      {"Windows Media Video", {160, 120}, {160, 120}, 30, "wmv2 WMV2 asf", "160x120", 30, "0,33,66,100"},
      {"Windows Media Video", {176, 144}, {96, 64}, 7, "wmv2 WMV2 asf", "176x144", 7, "0,142,285,428"},
      {"Divx", {160, 120}, {160, 120}, 10, "mpeg4 DIVX avi", "160x120", 1, nullptr},
      {"Divx", {176, 144}, {320, 240}, 25, "mpeg4 DIVX avi", "176x144", 1, nullptr},
      {"MSVC", {160, 120}, {160, 120}, 1, "msvideo1 MSVC avi", "160x120", 1, nullptr},
      // Encoders that take only even sizes or multiples of 4 get the first frame cut to one.
      {"MSVC", {162, 122}, {160, 120}, 15, "msvideo1 MSVC avi", "160x120", 1, nullptr},
      {"Divx", {161, 121}, {161, 121}, 10, "mpeg4 DIVX avi", "160x120", 1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.size);
    test_support::ScopedTempDir folder{"converter"};
    Recording rec;
    for (int i = 0; i < 30; ++i) rec.sizes.push_back(i < 15 ? c.firstSize : c.laterSize);
    WriteRecording(folder.Path("in.mjpg"), rec);
    const std::string out = folder.Path("out.video"), fps = std::to_string(c.fps);
    const RunResult run = RunProgram({kBrandle, folder.Path("in.mjpg"), out, "--type", c.type, "--fps", fps}, folder);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Conversion Completed Successfully.\n");
    auto probe = Probe(out, folder);
    EXPECT_EQ(probe["codec_name"] + " " + probe["codec_tag_string"] + " " + probe["format_name"], c.codec);
    EXPECT_EQ(probe["width"] + "x" + probe["height"], c.size);
    EXPECT_EQ(probe["nb_read_frames"], "30");
    EXPECT_EQ(probe["r_frame_rate"], fps + "/1");
    std::string keys, expectedKeys;
    for (const std::string& flags : Column(out, "packet=flags", folder)) keys += flags[0] == 'K' ? 'K' : '_';
    for (int i = 0; i < 30; ++i) expectedKeys += i % c.keyEvery == 0 ? 'K' : '_';
    EXPECT_EQ(keys, expectedKeys);
    if (c.firstTimes) {
      const auto times = Column(out, "frame=pts", folder);
      std::string first;
      for (size_t i = 0; i < 4 && i < times.size(); ++i) first += (i ? "," : "") + times[i];
      EXPECT_EQ(first, c.firstTimes);
    } else {
      EXPECT_EQ(probe["TAG:title"], "Video Stream");
    }
  }
}

// I5V0 and MPEG4 name codecs FFmpeg has no encoder for: a writer error, no file.
TEST(Brandle, TypesWithoutAnEncoderGiveTheWriterErrorAndNoFile) {
  for (const char* type : {"I5V0", "MPEG4"}) {
    SCOPED_TRACE(type);
    const auto& t = converter::VideoTypes()[size_t(converter::FindVideoType(type))];
    if (converter::CAviWriter::CodecInstalled(t.codecCode)) continue;  // a build of FFmpeg that has one
    test_support::ScopedTempDir folder{"converter"};
    WriteRecording(folder.Path("in.mjpg"), Frames(5));
    const RunResult run = RunProgram({kBrandle, folder.Path("in.mjpg"), folder.Path("out.avi"), "--type", type}, folder);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(converter::FindResultMessage(converter::kResultWriterError)->text), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder.Path("out.avi")));
  }
}

// The command line: exit codes, its texts, and the output path it derives.
TEST(Brandle, CommandLineArgumentsAndExitCodes) {
  const struct {
    std::vector<std::string> args;  // "IN" stands for a 3-frame recording "in.mjpg", "F/" for the folder
    int exitCode;
    const char* outHas;
    const char* errHas;
    const char* fileMade;  // besides in.mjpg, with 3 frames; "" for none
  } cases[] = {
      {{}, 2, "", "no display for the converter window", ""},  // run without a display
      {{"--help"}, 0, "brandle INPUT.mjpg [OUTPUT]", "", ""},
      {{"--version"}, 0, "Brandle Version", "", ""},
      {{"IN", "--type", "Ogg"}, 2, "", "unknown video type: Ogg", ""},
      {{"IN", "--fps"}, 2, "", "--fps needs a value", ""},
      {{"IN", "--frobnicate"}, 2, "", "unknown option: --frobnicate", ""},
      {{"IN", "F/a", "F/b"}, 2, "", "unexpected argument", ""},
      {{"F/noext", "--type", "divx"}, 2, "", "no output file", ""},
      {{"IN", "--type", "divx"}, 0, "Conversion Completed Successfully.", "Converting: 100% (3 frames)", "in.avi"},
      {{"IN"}, 0, "Conversion Completed Successfully.", "", "in.wmv"},
      {{"IN", "F/x.avi", "--via-rgb", "--type", "MSVC"}, 0, "Conversion Completed Successfully.", "", "x.avi"},
      {{"IN", "F/x.avi", "--fps", "0"}, 1, "", "Frame rate must be between 1 and 30 Fps.", ""},
      {{"IN", "IN"}, 1, "", "The output file is the MJPG file itself.", ""},
  };
  for (const auto& c : cases) {
    test_support::ScopedTempDir folder{"converter"};
    WriteRecording(folder.Path("in.mjpg"), Frames(3));
    std::vector<std::string> argv{kBrandle};
    if (c.args.empty()) argv = {"env", "-u", "QT_QPA_PLATFORM", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", kBrandle};
    for (std::string a : c.args) argv.push_back(a == "IN" ? folder.Path("in.mjpg") : a.rfind("F/", 0) == 0 ? folder.Path(a.substr(2)) : a);
    SCOPED_TRACE(testing::PrintToString(c.args));
    const RunResult run = RunProgram(argv, folder);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.out.find(c.outHas), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.errHas), std::string::npos) << run.err;
    std::vector<std::string> files, expected{"in.mjpg"};
    for (const auto& e : std::filesystem::directory_iterator(folder.Path(""))) files.push_back(e.path().filename());
    if (*c.fileMade) expected.push_back(c.fileMade);
    std::sort(files.begin(), files.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);
    if (*c.fileMade) {
      EXPECT_EQ(FrameCount(folder.Path(c.fileMade), folder), 3);
    }
  }
}

}  // namespace
