// The conversion thread: its results, what it leaves on disk, cancel and close.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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
  int framesInOutput;                // -1: the old output file is left as it was
  const char* input = "recording";   // or "missing", "empty", "junk", "locked" (a writer holds it)
  const char* output = "out.avi";    // "in.mjpg" is the input; "link" a hard link to it
  const char* type = "Divx";
};

TEST(ConversionThread, ResultsAndWhatIsLeftOnDisk) {
  Recording cutOff = Frames(30), broken = Frames(30), brokenLast = Frames(30);
  cutOff.cutOffEnd = true;
  broken.undecodableAt = 12;
  brokenLast.undecodableAt = 29;
  const ResultCase cases[] = {
      {"rate 1", Frames(30), "1", kResultComplete, 30},
      {"rate 30", Frames(30), "30", kResultComplete, 30},
      {"rate 0", Frames(30), "0", kResultRateInvalid, -1},
      {"rate 31", Frames(30), "31", kResultRateInvalid, -1},
      {"empty rate", Frames(30), "", kResultRateInvalid, -1},
      {"rate with text after its digits", Frames(3), "12 fps", kResultComplete, 3},
      {"cut-off last frame", cutOff, "10", kResultComplete, 30},
      {"undecodable frame in the middle is skipped", broken, "10", kResultDamaged, 29},
      {"undecodable last frame is skipped", brokenLast, "10", kResultDamaged, 29},
      {"input missing", {}, "10", kResultOpenError, -1, "missing"},
      {"input still being written", Frames(3), "10", kResultOpenError, -1, "locked"},
      {"empty input", {}, "10", kResultReadError, -1, "empty"},
      {"no whole frame in a short file", {}, "10", kResultReadError, -1, "junk"},
      {"type without an encoder", Frames(3), "10", kResultWriterError, -1, "recording", "out.avi", "I5V0"},
      {"output folder missing", Frames(3), "10", kResultWriterError, -2, "recording", "none/out.avi"},
      {"output is the input", Frames(3), "10", kResultSameFile, -1, "recording", "in.mjpg"},
      {"output is a link to the input", Frames(3), "10", kResultSameFile, -1, "recording", "link"},
  };
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::ScopedTempDir folder{"converter"};
    const std::string input = folder.Path("in.mjpg"), input_kind = c.input;
    if (input_kind == "recording" || input_kind == "locked") WriteRecording(input, c.recording);
    const int lock = input_kind == "locked" ? ::open(input.c_str(), O_RDWR | O_CLOEXEC) : -1;
    if (lock >= 0) ::flock(lock, LOCK_EX);
    if (input_kind == "empty" || input_kind == "junk") {
      FILE* f = std::fopen(input.c_str(), "wb");
      if (input_kind == "junk") std::fputs("no frame here, only \xFF\xD8 and then nothing", f);
      std::fclose(f);
    }
    const std::string output = folder.Path(c.output), old = "an old file";
    if (std::string(c.output) == "link") {
      ASSERT_EQ(::link(input.c_str(), output.c_str()), 0);
    } else if (output != input && c.framesInOutput != -2) {
      FILE* f = std::fopen(output.c_str(), "wb");
      std::fputs(old.c_str(), f);
      std::fclose(f);
    }
    const std::string before = test_support::ReadFile(input);
    if (std::string(c.type) != "Divx" && WhyTypeCannotBeWritten(FindVideoType(c.type)).empty()) continue;
    const Heard heard = Convert({input, output, FindVideoType(c.type), c.fps});
    if (lock >= 0) ::close(lock);
    EXPECT_EQ(heard.results, std::vector<int>{c.result});
    EXPECT_EQ(heard.ended, 0);
    EXPECT_EQ(test_support::ReadFile(input), before);  // the recording is never touched
    if (c.result == kResultSameFile) continue;
    if (c.framesInOutput == -2) {
      EXPECT_FALSE(std::filesystem::exists(output));
    } else if (c.framesInOutput < 0) {
      EXPECT_EQ(test_support::ReadFile(output), old);
    } else {
      EXPECT_EQ(FrameCount(output, folder), c.framesInOutput);
    }
    // Nothing is left under a temporary name.
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path("")))
      EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos) << entry.path();
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
      test_support::ScopedTempDir folder{"converter"};
      WriteRecording(folder.Path("in.mjpg"), Frames(30));
      ConversionRequest request{folder.Path("in.mjpg"), folder.Path("out"), FindVideoType(type), "10"};
      const Heard heard = Convert(request, c.posts);
      EXPECT_EQ(heard.results, c.results);
      EXPECT_EQ(heard.ended, c.ended);
      EXPECT_EQ(FrameCount(folder.Path("out"), folder), 1);
    }
  }
}

// Progress starts at 0, grows with every frame and ends at the full range.
TEST(ConversionThread, ProgressIsReportedOncePerFrame) {
  test_support::ScopedTempDir folder{"converter"};
  WriteRecording(folder.Path("in.mjpg"), Frames(10));
  const Heard heard = Convert({folder.Path("in.mjpg"), folder.Path("out.wmv"), 0, "10"});
  ASSERT_EQ(heard.progress.size(), 11u);
  EXPECT_EQ(heard.progress.front(), 0);
  EXPECT_TRUE(std::is_sorted(heard.progress.begin(), heard.progress.end()));
  EXPECT_EQ(heard.progress.back(), kFractionRange);
  EXPECT_EQ(heard.lastFrames, 10);
}

}  // namespace
