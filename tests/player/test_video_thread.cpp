// The playback thread driven by posted messages alone, as the window will drive it.
#include "tests/test_support.h"
#include "player/video_thread.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "media/frame_messages.h"
#include "media/mjpg.h"
#include "platform/window_registry.h"
#include "player/editing.h"
#include "player/file_info.h"
#include "player/thread_registry.h"
#include "tests/player/player_files.h"

namespace {

using namespace player;
using namespace player::to_video_thread;
using namespace player::to_player_window;
using namespace player_test;
using platform::Message;

// One window handle and everything posted to it so far.
struct Inbox {
  platform::CollectingWindowTarget target;
  platform::WindowHandle handle = platform::RegisterWindow(&target);
  std::vector<Message> log;

  ~Inbox() { platform::UnregisterWindow(handle); }

  // Waits until `done` holds for the log; false after the time-out.
  bool WaitFor(const std::function<bool(const std::vector<Message>&)>& done, int timeoutMs = 20000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      for (Message& m : target.TakeAll()) log.push_back(std::move(m));
      if (done(log)) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      target.WaitForCount(1, int(std::min<long>(left.count(), 50)));
    }
  }
  void Drain() { WaitFor([](const auto&) { return true; }, 0); }
};

template <class Tag>
std::vector<intptr_t> Params(const std::vector<Message>& log) {
  std::vector<intptr_t> values;
  for (const Message& m : log)
    if (platform::Is<Tag>(m)) values.push_back(m.wParam);
  return values;
}

template <class Tag>
bool Has(const std::vector<Message>& log, intptr_t wParam) {
  for (intptr_t v : Params<Tag>(log))
    if (v == wParam) return true;
  return false;
}

// The stamps of the frames the picture was sent, in order.
std::vector<uint32_t> Stamps(const std::vector<Message>& log) {
  std::vector<uint32_t> stamps;
  for (const Message& m : log) {
    const Bytes* jpeg = platform::Peek<media::ShowFrame>(m);
    media::mjpg::FrameSpan span;
    if (m.wParam == 1 && jpeg && media::mjpg::CutFrame(jpeg->data(), jpeg->size(), span)) stamps.push_back(span.timestamp);
  }
  return stamps;
}

std::string LastText(const std::vector<Message>& log) {
  std::string text;
  for (const Message& m : log)
    if (const std::string* t = platform::Peek<to_control::SetText>(m)) text = *t;
  return text;
}

// A playback thread with a collecting target behind every handle.
class Engine {
 public:
  Engine(const std::string& path, bool play, int delayMs = 60000) {
    VideoThreadSetup setup;
    setup.path = path;
    setup.picture = picture.handle;
    setup.positionBar = bar.handle;
    setup.mainWindow = main.handle;
    setup.timeLabel = time.handle;
    setup.sizeLabel = size.handle;
    setup.progressBar = progress.handle;
    setup.frameDelayMs = delayMs;
    setup.playOnOpen = play;
    setup.registry = &registry;
    thread = CVideoThread::Create(setup);
    EXPECT_TRUE(thread);
    platform::MessageThread::Resume(thread);
  }
  ~Engine() {
    Post<VT_CLOSE>();
    EXPECT_TRUE(thread->Wait(20000));
  }
  template <class Tag>
  void Post(intptr_t wParam = 0) {
    platform::Post<Tag>(thread->Id(), wParam);
  }
  // Every message posted before this one has been handled once it returns.
  void Barrier() {
    const size_t before = Params<PLAYER_NOTICE>(main.log).size();
    Post<VT_MARK_START>();
    EXPECT_TRUE(main.WaitFor([&](const auto& log) { return Params<PLAYER_NOTICE>(log).size() > before; }));
  }
  bool WaitFrames(size_t n) {
    return picture.WaitFor([&](const auto& log) { return Stamps(log).size() >= n; });
  }

  Inbox picture, bar, main, time, size, progress;
  CThreadRegistry registry;
  platform::ThreadHandlePtr thread;
};

TEST(PlaybackThread, OpeningShowsTheFirstFrameOrSaysTheFileIsInvalid) {
  test_support::ScopedTempDir dir{"velmo"};
  const std::vector<Bytes> frames = Frames(3, 1181052189);
  struct Row {
    const char* name;
    std::optional<Bytes> file;  // none: no such file
    bool valid;
  } rows[] = {
      {"a recording", Join(frames), true},
      {"an empty file", Bytes{}, false},
      {"bytes without a frame", Bytes(300000, 0x41), false},
      {"a missing file", std::nullopt, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.Path(row.name);
    if (row.file) WriteBytes(path, *row.file);
    Engine engine(path, true);
    if (!row.valid) {
      // The thread closes itself: nothing shown but the cleared picture.
      ASSERT_TRUE(engine.thread->Wait(20000));
      engine.main.Drain();
      engine.size.Drain();
      engine.picture.Drain();
      EXPECT_EQ(Params<PLAYER_THREAD_CLOSED>(engine.main.log).size(), 1u);
      EXPECT_TRUE(Params<PLAYER_PLAY_STATE>(engine.main.log).empty());
      EXPECT_EQ(LastText(engine.size.log), row.file ? kInvalidVideoFormat : "");
      EXPECT_TRUE(Stamps(engine.picture.log).empty());
      EXPECT_EQ(engine.registry.Count(), 0u);
      continue;
    }
    ASSERT_TRUE(engine.WaitFrames(1));
    ASSERT_TRUE(engine.main.WaitFor([](const auto& log) { return !Params<PLAYER_PLAY_STATE>(log).empty(); }));
    EXPECT_EQ(Params<PLAYER_PLAY_STATE>(engine.main.log), std::vector<intptr_t>{1});
    EXPECT_EQ(engine.registry.Count(), 1u);
    engine.Barrier();
    engine.bar.Drain();
    engine.time.Drain();
    engine.size.Drain();
    EXPECT_EQ(Params<to_control::SetRange32>(engine.bar.log), std::vector<intptr_t>{0});
    EXPECT_EQ(engine.bar.log.front().lParam, 86400);
    EXPECT_EQ(LastText(engine.time.log), TimeStampText(1181052189));
    EXPECT_EQ(LastText(engine.size.log), VideoSizeLabel(Join(frames).size()));
    engine.Post<VT_CLOSE>();
    ASSERT_TRUE(engine.thread->Wait(20000));
    engine.picture.Drain();
    engine.main.Drain();
    EXPECT_EQ(engine.picture.log.back().wParam, 0);  // the picture is cleared
    EXPECT_TRUE(Has<PLAYER_THREAD_CLOSED>(engine.main.log, 0));
    EXPECT_EQ(engine.registry.Count(), 0u);
  }
}

TEST(PlaybackThread, PlayingStopsAtTheEndAndPreviousFrameLetsItPlayAgain) {
  test_support::ScopedTempDir dir{"velmo"};
  const std::vector<Bytes> frames = Frames(5, 100);
  WriteBytes(dir.Path("f.mjpg"), Join(frames));
  Engine engine(dir.Path("f.mjpg"), true, 1);
  auto states = [&] { return Params<PLAYER_PLAY_STATE>(engine.main.log); };
  ASSERT_TRUE(engine.main.WaitFor([](const auto& log) { return Params<PLAYER_PLAY_STATE>(log).size() == 2; }));
  EXPECT_EQ(states(), (std::vector<intptr_t>{1, 0}));
  engine.picture.Drain();
  EXPECT_EQ(Stamps(engine.picture.log), (std::vector<uint32_t>{100, 101, 102, 103, 104}));
  engine.bar.Drain();
  EXPECT_EQ(Params<to_control::SetPosition>(engine.bar.log).back(), 86400);

  // At the end play does nothing; a step back makes playing possible again.
  engine.Post<VT_PLAY_PAUSE>();
  engine.Barrier();
  EXPECT_EQ(states().size(), 2u);
  engine.Post<VT_PREV_FRAME>();
  engine.Post<VT_PLAY_PAUSE>();
  ASSERT_TRUE(engine.main.WaitFor([](const auto& log) { return Params<PLAYER_PLAY_STATE>(log).size() == 4; }));
  EXPECT_EQ(states(), (std::vector<intptr_t>{1, 0, 1, 0}));
  engine.picture.Drain();
  EXPECT_EQ(Stamps(engine.picture.log), (std::vector<uint32_t>{100, 101, 102, 103, 104, 103, 104}));
}

TEST(PlaybackThread, SeeksKeepThePlayStateAndADelayChangeTakesEffectAtOnce) {
  test_support::ScopedTempDir dir{"velmo"};
  WriteBytes(dir.Path("six.mjpg"), Join(Frames(6, 1)));
  WriteBytes(dir.Path("one.mjpg"), Join(Frames(1, 1)));
  struct Row {
    const char* name;
    const char* file;
    bool playing;
    int seek;  // -1: none
    std::vector<intptr_t> states;
    bool playsOn;  // frames follow the seek up to the last
  } rows[] = {
      {"playing, no seek", "six.mjpg", true, -1, {1, 0}, true},
      {"seek while playing", "six.mjpg", true, 43200, {1, 0}, true},
      {"seek while stopped", "six.mjpg", false, 43200, {0}, false},
      {"seek past the last frame start while playing", "one.mjpg", true, 86400, {1, 0}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // The first delay is a minute, so only a restarted timer can show more frames.
    Engine engine(dir.Path(row.file), row.playing, 60000);
    ASSERT_TRUE(engine.WaitFrames(1));
    if (row.seek >= 0) engine.Post<VT_SEEK>(row.seek);
    engine.Post<VT_SET_DELAY>(1);
    if (row.states.back() == 0 && row.playing) {
      ASSERT_TRUE(engine.main.WaitFor([&](const auto& log) { return Params<PLAYER_PLAY_STATE>(log) == row.states; }));
    }
    engine.Barrier();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a timer left running would show more
    engine.main.Drain();
    engine.picture.Drain();
    EXPECT_EQ(Params<PLAYER_PLAY_STATE>(engine.main.log), row.states);
    const std::vector<uint32_t> stamps = Stamps(engine.picture.log);
    ASSERT_FALSE(stamps.empty());
    EXPECT_EQ(stamps.front(), 1u);
    if (row.playsOn) {
      // From the seek's frame (or the first) on, every frame up to the last, in order.
      EXPECT_EQ(stamps.back(), 6u);
      for (size_t i = 2; i < stamps.size(); ++i) EXPECT_EQ(stamps[i], stamps[i - 1] + 1) << i;
    } else {
      EXPECT_LE(stamps.size(), 2u);
    }
  }
}

// Where the marks go before an edit: step forward to a frame (counted from 0) and mark.
struct Mark {
  size_t frame;
  bool start;
};

// The byte ranges of extract and remove are checked through velmo as well (test_velmo).
TEST(PlaybackThread, EditsCopyTheSelectedBytesOrSayWhyNot) {
  test_support::ScopedTempDir dir{"velmo"};
  const std::vector<Bytes> frames = Frames(6, 500), others = Frames(3, 900, 7000);
  const std::string input = dir.Path("Front Door.MJPG"), second = dir.Path("second.mjpg");
  WriteBytes(input, Join(frames));
  WriteBytes(second, Join(others));
  ASSERT_EQ(::symlink(input.c_str(), dir.Path("link.mjpg").c_str()), 0);
  const Bytes both = Join({Join(frames), Join(others)});
  enum class Files { Given, ChosenByWindow, ChoiceCancelled };
  struct Row {
    const char* name;
    std::vector<Mark> marks;
    EditOp op;
    std::string output;  // a name in the folder, or the input's
    std::string second;
    Files files;
    std::vector<intptr_t> notices;
    std::optional<Bytes> written;
  } rows[] = {
      {"no marks", {}, EditOp::Extract, "a", "", Files::Given, {kNoticeMarksEqual}, {}},
      {"both marks on one frame", {{2, true}, {2, false}}, EditOp::Extract, "b", "", Files::Given, {}, Join(frames, 2, 3)},
      {"remove, end before start", {{1, false}, {3, true}}, EditOp::Remove, "e", "", Files::Given,
       {kNoticeStartAfterEnd}, {}},
      {"append, end before start", {{1, false}, {3, true}}, EditOp::Append, "f", second, Files::Given, {}, both},
      {"remove up to the last frame", {{3, true}, {5, false}}, EditOp::Remove, "h", "", Files::Given, {},
       Join(frames, 0, 3)},
      {"output links to the input", {{1, true}, {2, false}}, EditOp::Remove, "link.mjpg", "", Files::Given,
       {kNoticeOutputIsInput}, {}},
      {"append onto the second file", {}, EditOp::Append, "second.mjpg", second, Files::Given, {kNoticeOutputIsInput},
       {}},
      {"append a missing file", {}, EditOp::Append, "i", dir.Path("missing.mjpg"), Files::Given, {kNoticeCannotRead}, {}},
      {"output folder missing", {{1, true}, {2, false}}, EditOp::Extract, "no/such/j", "", Files::Given,
       {kNoticeCannotWrite}, {}},
      {"files chosen by the window", {{1, true}, {2, false}}, EditOp::Extract, "k", "", Files::ChosenByWindow, {},
       Join(frames, 1, 3)},
      {"window cancels the choice", {{1, true}, {2, false}}, EditOp::Remove, "l", "", Files::ChoiceCancelled, {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Engine engine(input, false);
    ASSERT_TRUE(engine.WaitFrames(1));
    size_t onView = 0;
    for (const Mark& m : row.marks) {
      for (; onView < m.frame; ++onView) engine.Post<VT_NEXT_FRAME>();
      platform::PostThreadMessage(engine.thread->Id(), m.start ? VT_MARK_START::kNumber : VT_MARK_END::kNumber, 0, 0);
    }
    EditFiles files{row.second, dir.Path(row.output)};
    const uint32_t message = row.op == EditOp::Extract  ? VT_EXTRACT::kNumber
                             : row.op == EditOp::Remove ? VT_REMOVE::kNumber
                                                        : VT_APPEND::kNumber;
    if (row.files == Files::Given) {
      platform::PostThreadMessage(engine.thread->Id(), message, 0, 0, platform::MakePayload(files));
    } else {
      platform::PostThreadMessage(engine.thread->Id(), message, 0, 0);
      ASSERT_TRUE(engine.main.WaitFor([](const auto& log) { return !Params<PLAYER_CHOOSE_FILES>(log).empty(); }));
      EXPECT_EQ(Params<PLAYER_CHOOSE_FILES>(engine.main.log), std::vector<intptr_t>{intptr_t(row.op)});
      if (row.files == Files::ChoiceCancelled) files.output.clear();
      platform::Post<VT_FILES_CHOSEN>(engine.thread->Id(), intptr_t(row.op), 0, files);
    }
    // The edit is over when its copy finished or a notice ended it before the copy.
    auto over = [](const std::vector<Message>& log) {
      for (const Message& m : log) {
        if (platform::Is<PLAYER_COPYING>(m) && m.wParam == 0) return true;
        if (platform::Is<PLAYER_NOTICE>(m) && m.wParam > kNoticeEndSet) return true;
      }
      return false;
    };
    if (row.files == Files::ChoiceCancelled) {
      engine.Barrier();
    } else {
      ASSERT_TRUE(engine.main.WaitFor(over));
    }
    std::vector<intptr_t> notices;
    for (intptr_t n : Params<PLAYER_NOTICE>(engine.main.log))
      if (n > kNoticeEndSet) notices.push_back(n);
    EXPECT_EQ(notices, row.notices);
    struct stat st {};
    if (row.written) {
      EXPECT_TRUE(ReadBytes(dir.Path(row.output)) == *row.written);
      EXPECT_EQ(Params<PLAYER_COPYING>(engine.main.log), (std::vector<intptr_t>{1, 0}));
      engine.progress.Drain();
      const std::vector<intptr_t> percents = Params<to_control::SetPosition>(engine.progress.log);
      ASSERT_FALSE(percents.empty());
      EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
      EXPECT_EQ(percents.back(), 100);
    } else if (row.output != "link.mjpg" && row.output != "second.mjpg") {
      EXPECT_NE(::stat((dir.Path(row.output)).c_str(), &st), 0) << "an output was created";
      EXPECT_TRUE(Params<PLAYER_COPYING>(engine.main.log).empty());
    }
    // The inputs are never changed.
    EXPECT_TRUE(ReadBytes(input) == Join(frames));
    EXPECT_TRUE(ReadBytes(second) == Join(others));
  }
}

TEST(PlaybackThread, ACopyEndsEarlyWhenCancelledOrClosed) {
  test_support::ScopedTempDir dir{"velmo"};
  // 1 GiB, mostly a hole, between the first two frames and the last: long enough
  // a copy that the stop always lands in the middle.
  const Bytes a = Frame(6000, 1), a2 = Frame(6000, 2), last = Frame(6000, 3);
  const uint64_t lastAt = (uint64_t(1) << 30);
  const std::string path = dir.Path("long.mjpg");
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, a.data(), a.size(), 0), ssize_t(a.size()));
    ASSERT_EQ(::pwrite(fd, a2.data(), a2.size(), off_t(a.size())), ssize_t(a2.size()));
    ASSERT_EQ(::pwrite(fd, last.data(), last.size(), off_t(lastAt)), ssize_t(last.size()));
    ::close(fd);
  }
  for (const uint32_t stop : {VT_CANCEL_EDIT::kNumber, VT_CLOSE::kNumber}) {
    SCOPED_TRACE(stop == VT_CLOSE::kNumber ? "closed" : "cancelled");
    const std::string out = dir.Path("out.mjpg");
    Engine engine(path, false);
    ASSERT_TRUE(engine.WaitFrames(1));
    engine.Post<VT_MARK_START>();
    engine.Post<VT_SEEK>(86400);
    engine.Post<VT_MARK_END>();
    platform::Post<VT_EXTRACT>(engine.thread->Id(), 0, 0, EditFiles{"", out});
    ASSERT_TRUE(engine.progress.WaitFor([](const auto& log) { return !log.empty(); }));
    platform::PostThreadMessage(engine.thread->Id(), stop, 0, 0);
    ASSERT_TRUE(engine.main.WaitFor([](const auto& log) { return Has<PLAYER_COPYING>(log, 0); }));
    // A cancel keeps the whole frames copied so far; a close keeps nothing.
    if (stop == VT_CANCEL_EDIT::kNumber) {
      EXPECT_TRUE(ReadBytes(out) == Join({a, a2}));
    } else {
      struct stat st {};
      EXPECT_NE(::stat(out.c_str(), &st), 0);
    }
    if (stop == VT_CLOSE::kNumber) {
      EXPECT_TRUE(engine.thread->Wait(20000));
      EXPECT_TRUE(engine.main.WaitFor([](const auto& log) { return !Params<PLAYER_THREAD_CLOSED>(log).empty(); }));
    } else {
      // The player stays on its file and usable.
      engine.Post<VT_SEEK>(0);
      EXPECT_TRUE(engine.WaitFrames(3));
    }
    std::vector<intptr_t> notices;
    for (intptr_t n : Params<PLAYER_NOTICE>(engine.main.log))
      if (n > kNoticeEndSet) notices.push_back(n);
    EXPECT_TRUE(notices.empty());
    ::unlink(out.c_str());
  }
}

}  // namespace
