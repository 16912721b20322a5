// The brandle program end to end: recordings in, files out that ffprobe reads.
#include <gtest/gtest.h>

#include <filesystem>

#include "converter/avi_writer.h"
#include "converter/conversion.h"
#include "tests/converter/converter_test_support.h"

namespace {

using namespace converter_test;

const std::string kBrandle = BRANDLE_PROGRAM;

struct TypeCase {
  const char* type;
  std::pair<int, int> firstSize;
  std::pair<int, int> laterSize;  // frames 15 to 29
  const char* fps;
  const char* codec;
  const char* tag;
  const char* format;
  const char* size;  // as ffprobe gives width and height
};

// Every type that has an encoder here: 30 frames at the chosen rate, the codec and
// tag of the type, the first frame's size for all frames, whatever comes later.
TEST(Brandle, EachTypeConvertsEveryFrameAtTheRateWithItsCodecAndTheFirstFrameSize) {
  const TypeCase cases[] = {
      {"Windows Media Video", {160, 120}, {160, 120}, "30", "wmv2", "WMV2", "asf", "160x120"},
      {"Divx", {160, 120}, {160, 120}, "10", "mpeg4", "DIVX", "avi", "160x120"},
      {"MSVC", {160, 120}, {160, 120}, "1", "msvideo1", "MSVC", "avi", "160x120"},
      // Later frames of another size are scaled to the first frame's size.
      {"Divx", {176, 144}, {320, 240}, "25", "mpeg4", "DIVX", "avi", "176x144"},
      {"Windows Media Video", {176, 144}, {96, 64}, "10", "wmv2", "WMV2", "asf", "176x144"},
      // Encoders that take only even sizes or multiples of 4 get the first frame cut to one.
      {"MSVC", {162, 122}, {160, 120}, "15", "msvideo1", "MSVC", "avi", "160x120"},
      {"Divx", {161, 121}, {161, 121}, "10", "mpeg4", "DIVX", "avi", "160x120"},
  };
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.size);
    TempFolder folder;
    Recording rec;
    for (int i = 0; i < 30; ++i) rec.sizes.push_back(i < 15 ? c.firstSize : c.laterSize);
    WriteRecording(folder("in.mjpg"), rec);
    const RunResult run = RunProgram({kBrandle, folder("in.mjpg"), folder("out.video"), "--type", c.type, "--fps", c.fps}, folder);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Conversion Completed Successfully.\n");
    auto probe = Probe(folder("out.video"), folder);
    EXPECT_EQ(probe["codec_name"], c.codec);
    EXPECT_EQ(probe["codec_tag_string"], c.tag);
    EXPECT_EQ(probe["format_name"], c.format);
    EXPECT_EQ(probe["width"] + "x" + probe["height"], c.size);
    EXPECT_EQ(probe["nb_read_frames"], "30");
    EXPECT_EQ(probe["r_frame_rate"], std::string(c.fps) + "/1");
    if (std::string(c.format) == "avi") {
      EXPECT_EQ(probe["TAG:title"], "Video Stream");
    }
  }
}

// AVI files have every frame as a key frame; WMV files one a second.
TEST(Brandle, KeyFramesComeEveryFrameInAviAndEverySecondInWmv) {
  const struct {
    const char* type;
    const char* fps;
    const char* keyFlags;  // per packet, K for a key frame
  } cases[] = {
      {"Divx", "10", "KKKKKKKKKKKKKKKKKKKKKKKKK"},
      {"MSVC", "10", "KKKKKKKKKKKKKKKKKKKKKKKKK"},
      {"Windows Media Video", "10", "K_________K_________K____"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    TempFolder folder;
    WriteRecording(folder("in.mjpg"), Frames(25));
    ASSERT_EQ(RunProgram({kBrandle, folder("in.mjpg"), folder("out"), "--type", c.type, "--fps", c.fps}, folder).exitCode, 0);
    const RunResult flags = RunProgram({"ffprobe", "-v", "error", "-show_entries", "packet=flags", "-of", "csv=p=0",
                                 folder("out")}, folder);
    std::string keys;
    for (size_t i = 0; i < flags.out.size(); ++i)
      if (i == 0 || flags.out[i - 1] == '\n') keys += flags.out[i] == 'K' ? 'K' : '_';
    EXPECT_EQ(keys, c.keyFlags);
  }
}

// Frame k is stamped floor(k x 1000 / rate) ms.
TEST(Brandle, WmvFrameTimesAreWholeMillisecondsRoundedDown) {
  const struct {
    const char* fps;
    const char* times;
  } cases[] = {
      {"30", "0,33,66,100,133,166"},
      {"1", "0,1000,2000,3000,4000,5000"},
      {"7", "0,142,285,428,571,714"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fps);
    TempFolder folder;
    WriteRecording(folder("in.mjpg"), Frames(6));
    ASSERT_EQ(RunProgram({kBrandle, folder("in.mjpg"), folder("out.wmv"), "--fps", c.fps}, folder).exitCode, 0);
    EXPECT_EQ(FrameTimes(folder("out.wmv"), folder), c.times);
  }
}

// I5V0 and MPEG4 name codecs FFmpeg has no encoder for: a writer error, no file.
TEST(Brandle, TypesWithoutAnEncoderGiveTheWriterErrorAndNoFile) {
  for (const char* type : {"I5V0", "MPEG4"}) {
    SCOPED_TRACE(type);
    const auto& t = converter::VideoTypes()[size_t(converter::FindVideoType(type))];
    if (converter::CAviWriter::CodecInstalled(t.codecCode)) {
      GTEST_SKIP() << "this FFmpeg has an encoder for " << type;
    }
    TempFolder folder;
    WriteRecording(folder("in.mjpg"), Frames(5));
    const RunResult run = RunProgram({kBrandle, folder("in.mjpg"), folder("out.avi"), "--type", type}, folder);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(converter::FindResultMessage(converter::kResultWriterError)->text), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder("out.avi")));
  }
}

// The command line: exit codes, its texts, and the output path it derives.
TEST(Brandle, CommandLineArgumentsAndExitCodes) {
  const struct {
    std::vector<std::string> args;  // "IN" stands for a 3-frame recording "in.mjpg", "F/" for the folder
    int exitCode;
    const char* outHas;
    const char* errHas;
    const char* fileMade;           // relative to the folder, "" for none
  } cases[] = {
      {{}, 2, "", "window is not part of this build", ""},
      {{"--help"}, 0, "Usage: brandle INPUT.mjpg", "", ""},
      {{"--version"}, 0, "Brandle Version", "", ""},
      {{"IN", "--type", "Ogg"}, 2, "", "unknown video type: Ogg", ""},
      {{"IN", "--fps"}, 2, "", "--fps needs a value", ""},
      {{"IN", "--frobnicate"}, 2, "", "unknown option: --frobnicate", ""},
      {{"IN", "F/a", "F/b"}, 2, "", "unexpected argument", ""},
      {{"F/noext", "--type", "divx"}, 2, "", "no output file", ""},
      {{"IN", "--type", "divx"}, 0, "Conversion Completed Successfully.", "Converting: 100% (3 frames)", "in.avi"},
      {{"IN"}, 0, "Conversion Completed Successfully.", "", "in.wmv"},
      {{"IN", "F/x.avi", "--fps", "0", "--type", "Divx"}, 1, "", "Frame rate must be between 1 and 30 Fps.", ""},
      {{"F/missing.mjpg", "F/x.avi"}, 1, "", "Could not open the MJPG file for reading.", ""},
      {{"IN", "IN"}, 1, "", "The output file is the MJPG file itself.", "in.mjpg"},
      {{"IN", "F/x.avi", "--via-rgb", "--type", "MSVC"}, 0, "Conversion Completed Successfully.", "", "x.avi"},
  };
  for (const auto& c : cases) {
    TempFolder folder;
    WriteRecording(folder("in.mjpg"), Frames(3));
    std::vector<std::string> argv{kBrandle};
    std::string trace;
    for (std::string a : c.args) {
      if (a == "IN") a = folder("in.mjpg");
      else if (a.rfind("F/", 0) == 0) a = folder(a.substr(2));
      argv.push_back(a);
      trace += " " + a;
    }
    SCOPED_TRACE(trace);
    const RunResult run = RunProgram(argv, folder);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.out.find(c.outHas), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.errHas), std::string::npos) << run.err;
    // Nothing but the recording and the file asked for is left.
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(folder(""))) files.push_back(e.path().filename());
    std::sort(files.begin(), files.end());
    std::vector<std::string> expected{"in.mjpg"};
    if (*c.fileMade && std::string(c.fileMade) != "in.mjpg") expected.push_back(c.fileMade);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);
    if (*c.fileMade) {
      EXPECT_EQ(FrameCount(folder(c.fileMade), folder), 3);
    }
  }
}

}  // namespace
