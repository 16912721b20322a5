// The conversion thread: its results, what it leaves on disk, cancel and close.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "converter/conversion.h"
#include "converter/conversion_thread.h"
#include "converter/messages.h"
#include "platform/window_registry.h"
#include "tests/converter/converter_test_support.h"

namespace {

using namespace converter_test;
using namespace converter;

constexpr int kLongWaitMs = 60000;  // only ever reached when something is broken

// What the window hears from one conversion.
struct Heard {
  std::vector<int> results;
  std::vector<intptr_t> progress;
  int progressMessages = 0;
  int ended = -1;  // wParam of ConvertEnded
  int64_t lastFrames = 0;
};

// Runs one conversion to its end; `beforeStart` may post to the suspended thread.
Heard Convert(ConversionRequest request, const std::vector<uint32_t>& postedBeforeStart = {}) {
  platform::CollectingWindowTarget target;
  request.window = platform::RegisterWindow(&target);
  platform::ThreadHandlePtr thread = CConversionThread::Create(std::move(request));
  EXPECT_TRUE(thread);
  Heard heard;
  if (!thread) return heard;
  for (uint32_t id : postedBeforeStart) platform::PostThreadMessage(thread->Id(), id, 0, 0);
  platform::MessageThread::Resume(thread);
  EXPECT_TRUE(thread->Wait(kLongWaitMs));
  platform::UnregisterWindow(request.window);
  for (platform::Message& m : target.TakeAll()) {
    if (platform::Is<to_converter_window::ConvertResult>(m)) heard.results.push_back(int(m.wParam));
    if (platform::Is<to_converter_window::ConvertProgress>(m)) {
      heard.progress.push_back(m.wParam);
      heard.lastFrames = m.lParam;
    }
    if (platform::Is<to_converter_window::ConvertEnded>(m)) heard.ended = int(m.wParam);
  }
  return heard;
}

struct ResultCase {
  const char* name;
  Recording recording;
  const char* fps;
  int result;
  int framesInOutput;  // -1: no output file
  bool outputIsInput = false;
  bool noInput = false;
  bool emptyInput = false;
  bool junkInput = false;
};

TEST(ConversionThread, ResultsAndWhatIsLeftOnDisk) {
  Recording cutOff = Frames(30);
  cutOff.cutOffEnd = true;
  Recording broken = Frames(30);
  broken.undecodableAt = 12;
  Recording brokenLast = Frames(30);
  brokenLast.undecodableAt = 29;
  const ResultCase cases[] = {
      {"rate 1", Frames(30), "1", kResultComplete, 30},
      {"rate 30", Frames(30), "30", kResultComplete, 30},
      {"rate 0", Frames(30), "0", kResultRateInvalid, -1},
      {"rate 31", Frames(30), "31", kResultRateInvalid, -1},
      {"empty rate", Frames(30), "", kResultRateInvalid, -1},
      {"rate with text after its digits", Frames(3), "12 fps", kResultComplete, 3},
      {"cut-off last frame", cutOff, "10", kResultComplete, 30},
      {"undecodable frame in the middle", broken, "10", kResultReadError, 12},
      {"undecodable last frame ends at the end", brokenLast, "10", kResultComplete, 29},
      {"input missing", Frames(1), "10", kResultOpenError, -1, false, true},
      {"empty input", Frames(1), "10", kResultReadError, -1, false, false, true},
      {"no whole frame in a short file", Frames(1), "10", kResultComplete, -1, false, false, false, true},
      {"output is the input", Frames(3), "10", kResultSameFile, -1, true},
  };
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const std::string input = folder("in.mjpg");
    if (c.emptyInput) {
      FILE* f = std::fopen(input.c_str(), "wb");
      std::fclose(f);
    } else if (c.junkInput) {
      FILE* f = std::fopen(input.c_str(), "wb");
      std::fputs("no frame here, only \xFF\xD8 and then nothing", f);
      std::fclose(f);
    } else if (!c.noInput) {
      WriteRecording(input, c.recording);
    }
    const std::string before = test_support::ReadFile(input);
    ConversionRequest request;
    request.inputPath = input;
    request.outputPath = c.outputIsInput ? input : folder("out.avi");
    request.videoType = FindVideoType("Divx");
    request.frameRateText = c.fps;
    const Heard heard = Convert(request);
    EXPECT_EQ(heard.results, std::vector<int>{c.result});
    EXPECT_EQ(heard.ended, 0);
    if (c.framesInOutput < 0) {
      EXPECT_FALSE(std::filesystem::exists(folder("out.avi")));
    } else {
      EXPECT_EQ(FrameCount(folder("out.avi"), folder), c.framesInOutput);
    }
    EXPECT_EQ(test_support::ReadFile(input), before);  // the recording is never touched
  }
}

// A file already at the output path is replaced, or deleted when nothing is written.
TEST(ConversionThread, AnOldFileAtTheOutputPathIsDeletedFirst) {
  const struct {
    const char* fps;
    bool remains;
  } cases[] = {{"10", true}, {"0", false}};
  for (const auto& c : cases) {
    TempFolder folder;
    WriteRecording(folder("in.mjpg"), Frames(2));
    FILE* f = std::fopen(folder("out.avi").c_str(), "wb");
    std::fputs("an old file", f);
    std::fclose(f);
    ConversionRequest request{folder("in.mjpg"), folder("out.avi"), FindVideoType("Divx"), c.fps};
    Convert(request);
    EXPECT_EQ(std::filesystem::exists(folder("out.avi")), c.remains);
    if (c.remains) {
      EXPECT_EQ(FrameCount(folder("out.avi"), folder), 2);
    }
  }
}

// Cancel and close are seen after the frame in hand; the file written so far plays.
TEST(ConversionThread, CancelAndCloseStopAfterTheCurrentFrame) {
  const struct {
    const char* name;
    std::vector<uint32_t> posts;
    std::vector<int> results;
    int ended;
  } cases[] = {
      {"cancel", {to_conversion::ConvertCancel::kNumber}, {kResultCanceled}, 0},
      {"close", {to_conversion::ConvertClose::kNumber}, {}, 1},
      {"cancel then close", {to_conversion::ConvertCancel::kNumber, to_conversion::ConvertClose::kNumber}, {}, 1},
  };
  for (const auto& c : cases) {
    for (const char* type : {"Divx", "Windows Media Video"}) {
      SCOPED_TRACE(std::string(c.name) + " " + type);
      TempFolder folder;
      WriteRecording(folder("in.mjpg"), Frames(30));
      ConversionRequest request{folder("in.mjpg"), folder("out"), FindVideoType(type), "10"};
      const Heard heard = Convert(request, c.posts);
      EXPECT_EQ(heard.results, c.results);
      EXPECT_EQ(heard.ended, c.ended);
      EXPECT_EQ(FrameCount(folder("out"), folder), 1);
    }
  }
}

// Progress starts at 0, grows with every frame and ends at the full range.
TEST(ConversionThread, ProgressIsReportedOncePerFrame) {
  TempFolder folder;
  WriteRecording(folder("in.mjpg"), Frames(10));
  const Heard heard = Convert({folder("in.mjpg"), folder("out.wmv"), 0, "10"});
  ASSERT_EQ(heard.progress.size(), 11u);
  EXPECT_EQ(heard.progress.front(), 0);
  EXPECT_TRUE(std::is_sorted(heard.progress.begin(), heard.progress.end()));
  EXPECT_EQ(heard.progress.back(), kFractionRange);
  EXPECT_EQ(heard.lastFrames, 10);
}

}  // namespace
