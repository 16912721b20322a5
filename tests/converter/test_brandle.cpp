// The brandle program end to end: recordings in, files out that ffprobe reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "converter/avi_writer.h"
#include "converter/conversion.h"
#include "media/mjpg.h"
#include "tests/converter/converter_test_support.h"

namespace {

using namespace converter_test;

const std::string kBrandle = BRANDLE_PROGRAM;
const std::string kVelmo = VELMO_PROGRAM;

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

// A conversion that cannot be done, or fails, leaves an old file at the output as it
// was; one that ends puts its file in the output's place. Nothing is left under a
// temporary name.
TEST(Brandle, OnlyAConversionThatEndsReplacesTheOutput) {
  const char* const kOld = "an earlier conversion";
  const struct {
    const char* name;
    std::vector<std::string> args;  // "IN": a 3-frame recording, "OUT": F/out.avi holding kOld, "F/": the folder
    int exitCode;
    const char* errHas;
    int frames;  // in OUT afterwards; -1: OUT still holds kOld
  } cases[] = {
      {"rate out of range", {"IN", "OUT", "--type", "divx", "--fps", "60"}, 1, "Frame rate must be between", -1},
      {"missing input", {"F/none.mjpg", "OUT", "--type", "divx"}, 1, "none.mjpg: No such file or directory", -1},
      {"empty input", {"F/empty.mjpg", "OUT", "--type", "divx"}, 1, "Error Reading the MJPG Video File.", -1},
      {"type without an encoder", {"IN", "OUT", "--type", "I5V0"}, 2, "This system has no encoder for \"I5V0\"", -1},
      {"rate that is not a number", {"IN", "OUT", "--type", "divx", "--fps", "10abc"}, 2, "--fps needs a whole", -1},
      {"output folder missing", {"IN", "F/none/out.avi", "--type", "divx"}, 1,
       "none/out.avi: No such file or directory\n\nPossibilities for this error include:", -1},
      {"output is a folder", {"IN", "F/", "--type", "divx"}, 1, ": Is a directory", -1},
      {"a conversion that ends", {"IN", "OUT", "--type", "divx"}, 0, "", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::ScopedTempDir folder{"converter"};
    WriteRecording(folder.Path("in.mjpg"), Frames(3));
    test_support::WriteFile(folder.Path("empty.mjpg"), "");
    test_support::WriteFile(folder.Path("out.avi"), kOld);
    std::vector<std::string> argv{kBrandle};
    for (const std::string& a : c.args)
      argv.push_back(a == "IN"                ? folder.Path("in.mjpg")
                     : a == "OUT"             ? folder.Path("out.avi")
                     : a.rfind("F/", 0) == 0 ? folder.Path(a.substr(2))
                                              : a);
    const RunResult run = RunProgram(argv, folder);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.errHas), std::string::npos) << run.err;
    if (c.frames < 0) {
      EXPECT_EQ(test_support::ReadFile(folder.Path("out.avi")), kOld);
    } else {
      EXPECT_EQ(FrameCount(folder.Path("out.avi"), folder), c.frames);
    }
    for (const auto& e : std::filesystem::directory_iterator(folder.Path("")))
      EXPECT_EQ(e.path().filename().string().find(".part-"), std::string::npos) << e.path();
  }
}

// Damaged recordings through the programs people run: the frame reader reads past
// the damage for velmo and brandle alike, both say what was skipped, and neither
// calls a damaged file a plain success. A cut-off last frame is a file's normal end.
TEST(DamagedRecordings, AreReadPastAndReported) {
  const Bytes strayEnd = {0xFF, 0xD9};
  const Bytes garbage(5000, 0x55);
  // A frame over the 16 MiB limit: start and end markers around 18 MB.
  Bytes oversized(18u << 20, 0x00);
  oversized[0] = 0xFF, oversized[1] = 0xD8, oversized[oversized.size() - 2] = 0xFF, oversized.back() = 0xD9;
  const struct {
    const char* name;
    Bytes insertAfterFrame10;
    int undecodableAt;
    bool cutOffEnd;
    int velmoFrames;
    uint64_t skippedBytes;
    int velmoExit;
    int convertedFrames;
    int brandleExit;
    const char* brandleSays;
  } cases[] = {
      {"stray end marker", strayEnd, -1, false, 20, 2, 1, 20, 3, "2 bytes between frames skipped"},
      {"undecodable frame", {}, 12, false, 20, 0, 0, 19, 3, "1 damaged frame skipped"},
      {"garbage run", garbage, -1, false, 20, 5000, 1, 20, 3, "5000 bytes between frames skipped"},
      {"oversized frame", oversized, -1, false, 20, oversized.size(), 1, 20, 3,
       "1 damaged frame and 18874368 damaged bytes skipped"},
      {"cut-off tail", {}, -1, true, 20, 0, 0, 20, 0, "Conversion Completed Successfully."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::ScopedTempDir folder{"converter"};
    const std::string input = folder.Path("in.mjpg");
    Recording recording = Frames(20);
    recording.undecodableAt = c.undecodableAt;
    recording.cutOffEnd = c.cutOffEnd;
    WriteRecording(input, recording);
    if (!c.insertAfterFrame10.empty()) {
      std::vector<media::mjpg::FrameSpan> spans;
      Bytes bytes;
      ASSERT_TRUE(media::mjpg::ReadAllFrames(input, spans, &bytes));
      ASSERT_EQ(spans.size(), 20u);
      bytes.insert(bytes.begin() + long(spans[9].next), c.insertAfterFrame10.begin(), c.insertAfterFrame10.end());
      test_support::WriteFile(input, std::string(bytes.begin(), bytes.end()));
    }
    const RunResult info = RunProgram({kVelmo, "--info", input}, folder);
    EXPECT_EQ(info.exitCode, c.velmoExit) << info.err;
    EXPECT_NE(info.out.find("Frames: " + std::to_string(c.velmoFrames) + "\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Damaged bytes skipped: " + std::to_string(c.skippedBytes) + "\n"), std::string::npos)
        << info.out;
    if (c.skippedBytes > 0) {
      // The first damage lies right after the tenth frame.
      std::vector<media::mjpg::FrameSpan> spans;
      ASSERT_TRUE(media::mjpg::ReadAllFrames(input, spans));
      EXPECT_NE(info.out.find("First damage at byte: " + std::to_string(spans[9].next)), std::string::npos)
          << info.out;
      EXPECT_NE(info.err.find("is damaged"), std::string::npos);
    }
    const RunResult convert = RunProgram({kBrandle, input, folder.Path("out.avi"), "--type", "divx"}, folder);
    EXPECT_EQ(convert.exitCode, c.brandleExit) << convert.err;
    EXPECT_NE(convert.out.find(c.brandleSays), std::string::npos) << convert.out;
    EXPECT_EQ(FrameCount(folder.Path("out.avi"), folder), c.convertedFrames);
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
      {{"IN", "--fps", "5", "--fps", "6"}, 2, "", "--fps is given more than once", ""},
      {{"--help"}, 0, "has no encoder for: I5V0, MPEG4", "", ""},
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
