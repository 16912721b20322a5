// Thread loops: start-up, ordering, payload ownership, timers, sockets, quit and waits.
#include "platform/message_thread.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_registry.h"

using namespace platform;

namespace {

constexpr int kLongWaitMs = 20000;  // only ever reached when something is broken

// A payload that counts its own destruction.
struct CountedPayload : Payload {
  explicit CountedPayload(std::atomic<int>* c, std::string t = {}) : counter(c), text(std::move(t)) {}
  ~CountedPayload() override { ++*counter; }
  std::atomic<int>* counter;
  std::string text;
};

// Test thread whose handlers are set by each test. Everything it observes is
// reported as window messages to a collecting target owned by the test.
class ScriptThread : public MessageThread {
 public:
  std::function<bool(ScriptThread&)> init;
  std::function<void(ScriptThread&, Message&)> message;
  std::function<void(ScriptThread&, uint32_t)> timer;
  std::function<void(ScriptThread&, int, short)> socket;
  std::function<void()> destroyed;

  ~ScriptThread() override {
    if (destroyed) destroyed();
  }
  using MessageThread::KillTimer;
  using MessageThread::PostQuit;
  using MessageThread::StopWaiting;
  using MessageThread::SetTimer;
  using MessageThread::UnwatchSocket;
  using MessageThread::WatchSocket;

 protected:
  bool InitInstance() override { return init ? init(*this) : true; }
  void OnMessage(Message& msg) override {
    if (message) message(*this, msg);
  }
  void OnTimer(uint32_t id) override {
    if (timer) timer(*this, id);
  }
  void OnSocketReady(int fd, short revents) override {
    if (socket) socket(*this, fd, revents);
  }
};

// Report numbers used by the tests' threads.
enum : uint32_t { R_INIT = 1, R_MSG, R_TIMER, R_TIMER_SET, R_SOCKET, R_PEEK, R_THREAD_ID };

struct Reports {
  CollectingWindowTarget target;
  WindowHandle handle = RegisterWindow(&target);
  ~Reports() { UnregisterWindow(handle); }
  void Post(uint32_t id, intptr_t w = 0, intptr_t l = 0, std::unique_ptr<Payload> p = nullptr) {
    PostWindowMessage(handle, id, w, l, std::move(p));
  }
};

std::vector<std::pair<uint32_t, intptr_t>> Summary(std::vector<Message> msgs) {
  std::vector<std::pair<uint32_t, intptr_t>> out;
  for (auto& m : msgs) out.emplace_back(m.id, m.wParam);
  return out;
}

}  // namespace

// ---------------------------------------------------------------- payload ownership

TEST(MessageThreadPosting, FailedPostDestroysPayloadAndSuccessfulPostHandsItOver) {
  std::atomic<int> destroyed{0};
  Reports reports;
  auto t = std::make_unique<ScriptThread>();
  t->message = [&](ScriptThread& self, Message& msg) {
    // Forward the very same payload object to the test.
    reports.Post(R_MSG, msg.wParam, 0, std::move(msg.payload));
    self.PostQuit(0);
  };
  ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
  ASSERT_TRUE(h);
  ASSERT_NE(h->Id(), 0u);

  auto payload = std::make_unique<CountedPayload>(&destroyed, "hello");
  Payload* original = payload.get();
  ASSERT_TRUE(PostThreadMessage(h->Id(), WM_USER + 1, 7, 0, std::move(payload)));
  MessageThread::Resume(h);
  ASSERT_TRUE(reports.target.WaitForCount(1, kLongWaitMs));
  ASSERT_TRUE(h->Wait(kLongWaitMs));
  EXPECT_EQ(destroyed.load(), 0);  // still alive, now owned by the test

  auto got = reports.target.TakeAll();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].payload.get(), original);
  auto* cp = dynamic_cast<CountedPayload*>(got[0].payload.get());
  ASSERT_NE(cp, nullptr);
  EXPECT_EQ(cp->text, "hello");
  got.clear();
  EXPECT_EQ(destroyed.load(), 1);

  // The thread is gone: the post fails and the payload dies on the spot.
  EXPECT_FALSE(PostThreadMessage(h->Id(), WM_USER + 1, 0, 0, std::make_unique<CountedPayload>(&destroyed)));
  EXPECT_EQ(destroyed.load(), 2);
  EXPECT_FALSE(PostThreadMessage(0, WM_USER + 1, 0, 0, std::make_unique<CountedPayload>(&destroyed)));
  EXPECT_EQ(destroyed.load(), 3);
}

TEST(MessageThreadPosting, PayloadsLeftInQueueAtExitAreDestroyed) {
  std::atomic<int> destroyed{0};
  auto t = std::make_unique<ScriptThread>();
  t->message = [](ScriptThread& self, Message& msg) { self.PostQuit(0); };
  ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
  ASSERT_TRUE(h);
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(PostThreadMessage(h->Id(), WM_USER, i, 0, std::make_unique<CountedPayload>(&destroyed)));
  MessageThread::Resume(h);
  ASSERT_TRUE(h->Wait(kLongWaitMs));
  // The first message was handled (its payload died with the handled message),
  // the four behind the quit were never handled but must not leak either.
  EXPECT_EQ(destroyed.load(), 5);
}

// ------------------------------------------------------------ start-up and order

TEST(MessageThreadStart, PostsBeforeResumeAreKeptAndHandledInOrderAfterInit) {
  Reports reports;
  auto t = std::make_unique<ScriptThread>();
  t->init = [&](ScriptThread& self) {
    reports.Post(R_INIT);
    // The usual start message the thread posts itself; it queues behind earlier posts.
    EXPECT_TRUE(PostThreadMessage(self.Id(), WM_USER + 100, 0, 0));
    return true;
  };
  t->message = [&](ScriptThread& self, Message& msg) {
    reports.Post(R_MSG, msg.id == WM_USER + 100 ? -1 : msg.wParam);
    if (msg.id == WM_USER + 100) self.PostQuit(0);
  };
  ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
  ASSERT_TRUE(h);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(PostThreadMessage(h->Id(), WM_USER, i, 0));
  EXPECT_EQ(reports.target.Count(), 0u);  // suspended: nothing handled yet
  EXPECT_FALSE(h->Finished());
  MessageThread::Resume(h);
  ASSERT_TRUE(h->Wait(kLongWaitMs));

  auto got = Summary(reports.target.TakeAll());
  ASSERT_EQ(got.size(), 22u);
  EXPECT_EQ(got[0].first, R_INIT);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(got[1 + i], std::make_pair(uint32_t(R_MSG), intptr_t(i)));
  EXPECT_EQ(got[21], std::make_pair(uint32_t(R_MSG), intptr_t(-1)));
}

TEST(MessageThreadStart, FailedInitEndsThreadAndStillRunsExitAndDestructor) {
  std::atomic<bool> gone{false};
  auto t = std::make_unique<ScriptThread>();
  t->init = [](ScriptThread&) { return false; };
  t->destroyed = [&] { gone = true; };
  ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
  ASSERT_TRUE(h);
  ThreadId id = h->Id();
  MessageThread::Resume(h);
  ASSERT_TRUE(h->Wait(kLongWaitMs));
  EXPECT_TRUE(gone.load());
  EXPECT_FALSE(PostThreadMessage(id, WM_USER, 0, 0));
}

TEST(MessageThreadStart, EachSenderOrderIsKeptUnderConcurrentPosting) {
  constexpr int kSenders = 4, kPerSender = 500;
  std::atomic<int> outOfOrder{0}, handled{0};
  auto t = std::make_unique<ScriptThread>();
  auto last = std::make_shared<std::vector<intptr_t>>(kSenders, -1);
  t->message = [&, last](ScriptThread& self, Message& msg) {
    if (msg.lParam <= (*last)[msg.wParam]) ++outOfOrder;
    (*last)[msg.wParam] = msg.lParam;
    if (++handled == kSenders * kPerSender) self.PostQuit(0);
  };
  ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
  ASSERT_TRUE(h);
  MessageThread::Resume(h);
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s)
    senders.emplace_back([&, s] {
      for (int i = 0; i < kPerSender; ++i) PostThreadMessage(h->Id(), WM_USER, s, i, MakePayload(std::string("x")));
    });
  for (auto& s : senders) s.join();
  ASSERT_TRUE(h->Wait(kLongWaitMs));
  EXPECT_EQ(handled.load(), kSenders * kPerSender);
  EXPECT_EQ(outOfOrder.load(), 0);
}

// ------------------------------------------------------------------------ timers

TEST(MessageThreadTimers, OneShotFreshIdsKillAndZeroDelay) {
  Reports reports;
  auto t = std::make_unique<ScriptThread>();
  auto fired = std::make_shared<std::vector<uint32_t>>();
  auto finalTimer = std::make_shared<uint32_t>(0);
  t->init = [&, finalTimer](ScriptThread& self) {
    const uint32_t a = self.SetTimer(0);
    const uint32_t b = self.SetTimer(0);
    const uint32_t killed = self.SetTimer(5);
    self.KillTimer(killed);
    self.KillTimer(0xFFFFFF);  // unknown: harmless
    reports.Post(R_TIMER_SET, a);
    reports.Post(R_TIMER_SET, b);
    reports.Post(R_TIMER_SET, killed);
    // Outlives the others, so a repeating or resurrected timer would be seen.
    *finalTimer = self.SetTimer(60);
    return true;
  };
  t->timer = [&, finalTimer](ScriptThread& self, uint32_t id) {
    reports.Post(R_TIMER, id);
    if (id == *finalTimer) self.PostQuit(0);
  };
  ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
  ASSERT_TRUE(h);
  MessageThread::Resume(h);
  ASSERT_TRUE(h->Wait(kLongWaitMs));

  std::vector<uint32_t> set, fire;
  for (auto& [id, w] : Summary(reports.target.TakeAll())) (id == R_TIMER_SET ? set : fire).push_back(uint32_t(w));
  ASSERT_EQ(set.size(), 3u);
  EXPECT_NE(set[0], 0u);
  EXPECT_NE(set[0], set[1]);
  EXPECT_NE(set[1], set[2]);
  // a and b (delay 0) once each, then the final timer; the killed one never.
  ASSERT_EQ(fire.size(), 3u);
  EXPECT_EQ(std::multiset<uint32_t>(fire.begin(), fire.begin() + 2), (std::multiset<uint32_t>{set[0], set[1]}));
  EXPECT_EQ(fire[2], *finalTimer);
}

// On a manual clock nothing falls due until the test moves the time; then the
// loop wakes by itself and fires, in order, exactly the timers whose time has
// come, and its handlers read the same time.
TEST(MessageThreadTimers, ManualClockFiresTimersWhenAdvancedPastTheirDelay) {
  Reports reports;
  auto clock = std::make_shared<ManualClock>(5000);
  auto t = std::make_unique<ScriptThread>();
  t->SetClock(clock);
  const LoopClock::TimePoint start = clock->Now();
  auto longTimerId = std::make_shared<uint32_t>(0);
  t->init = [&, longTimerId](ScriptThread& self) {
    *longTimerId = self.SetTimer(10000);
    reports.Post(R_TIMER_SET, *longTimerId);
    reports.Post(R_TIMER_SET, self.SetTimer(1000));
    return true;
  };
  t->timer = [&, longTimerId](ScriptThread& self, uint32_t id) {
    reports.Post(R_TIMER, id, self.Clock().MsSince(start), MakePayload(int64_t(self.Clock().WallNow())));
    if (id == *longTimerId) self.PostQuit(0);
  };
  ThreadHandlePtr h = MessageThread::Start(std::move(t));
  ASSERT_TRUE(h);
  ASSERT_TRUE(clock->WaitForTimer(10000));
  ASSERT_TRUE(clock->WaitForTimer(1000));

  clock->Advance(999);
  EXPECT_TRUE(clock->WaitForTimer(1));  // the 1 s timer waits on, 1 ms away
  EXPECT_EQ(clock->PendingTimers(), 2u);
  clock->Advance(1);
  ASSERT_TRUE(reports.target.WaitForCount(3, kLongWaitMs));
  EXPECT_EQ(clock->PendingTimers(), 1u);
  EXPECT_TRUE(clock->WaitForTimer(9000));
  clock->Advance(9000);
  ASSERT_TRUE(h->Wait(kLongWaitMs));

  auto all = reports.target.TakeAll();
  ASSERT_EQ(all.size(), 4u);
  const auto longTimer = all[0].wParam, shortTimer = all[1].wParam;
  EXPECT_EQ(all[2].id, uint32_t(R_TIMER));
  EXPECT_EQ(all[2].wParam, shortTimer);
  EXPECT_EQ(all[2].lParam, 1000);
  EXPECT_EQ(all[3].wParam, longTimer);
  EXPECT_EQ(all[3].lParam, 10000);
  // The calendar moves with it: whole seconds from where the clock started.
  ASSERT_TRUE(all[2].Peek<int64_t>() && all[3].Peek<int64_t>());
  EXPECT_EQ(*all[2].Peek<int64_t>(), 5001);
  EXPECT_EQ(*all[3].Peek<int64_t>(), 5010);
  EXPECT_EQ(clock->PendingTimers(), 0u);
}

// --------------------------------------------------------------- peeking and quit

// A handler peeks for a stop while messages wait behind it. The peek handles
// nothing: whatever waits runs only after the handler has returned, in order.
TEST(MessageThreadPeek, StopWaitingSeesQueuedStopsAndHandlesNothing) {
  constexpr uint32_t kStop = WM_USER + 201;
  constexpr uint32_t kOther = WM_USER + 7;
  struct Case {
    const char* name;
    std::vector<uint32_t> behind;  // queued behind the peeking message
    bool quitInHandler;
    bool expectStop;
    int exitCode;
  };
  const Case cases[] = {
      {"nothing queued", {}, false, false, 0},
      {"other messages only", {kOther, kOther}, false, false, 0},
      {"stop behind another message", {kOther, kStop}, false, true, 3},
      {"quit message queued", {kQuitMessage}, false, true, 9},
      {"own quit in this handler", {kOther}, true, true, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reports reports;
    auto t = std::make_unique<ScriptThread>();
    t->message = [&](ScriptThread& self, Message& msg) {
      reports.Post(R_MSG, msg.id);
      if (msg.wParam != 1) {
        if (msg.id == kStop) self.PostQuit(3);
        return;
      }
      if (c.quitInHandler) self.PostQuit(5);
      reports.Post(R_PEEK, self.StopWaiting(kStop));
      reports.Post(R_PEEK, self.StopWaiting(kStop));  // still there: peeking took nothing
      if (!c.quitInHandler && !c.expectStop) self.PostQuit(0);
    };
    ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
    ASSERT_TRUE(h);
    ASSERT_TRUE(PostThreadMessage(h->Id(), kOther, 1, 0));
    for (uint32_t id : c.behind) ASSERT_TRUE(PostThreadMessage(h->Id(), id, id == kQuitMessage ? 9 : 0, 0));
    MessageThread::Resume(h);
    ASSERT_TRUE(h->Wait(kLongWaitMs));

    std::vector<std::pair<uint32_t, intptr_t>> want = {{R_MSG, kOther}, {R_PEEK, c.expectStop}, {R_PEEK, c.expectStop}};
    if (!c.quitInHandler && c.expectStop) {
      // The loop goes on with what was queued, up to the stop.
      for (uint32_t id : c.behind)
        if (id != kQuitMessage) want.emplace_back(R_MSG, id);
    }
    EXPECT_EQ(Summary(reports.target.TakeAll()), want);
    EXPECT_EQ(h->ExitCode(), c.exitCode);
  }
}

TEST(MessageThreadQuit, PostQuitEndsLoopAfterCurrentHandler) {
  Reports reports;
  auto t = std::make_unique<ScriptThread>();
  t->message = [&](ScriptThread& self, Message& msg) {
    reports.Post(R_MSG, msg.wParam);
    self.PostQuit(9);
  };
  ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
  for (int i = 0; i < 3; ++i) PostThreadMessage(h->Id(), WM_USER, i, 0);
  MessageThread::Resume(h);
  ASSERT_TRUE(h->Wait(kLongWaitMs));
  EXPECT_EQ(h->ExitCode(), 9);
  std::vector<std::pair<uint32_t, intptr_t>> want = {{R_MSG, 0}};
  EXPECT_EQ(Summary(reports.target.TakeAll()), want);
}

// ----------------------------------------------------------------------- sockets

TEST(MessageThreadSockets, ReadinessArrivesOnOwningThread) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  Reports reports;
  auto t = std::make_unique<ScriptThread>();
  t->init = [&, fd = sv[0]](ScriptThread& self) {
    self.WatchSocket(fd, POLLIN);
    reports.Post(R_INIT, 0, 0, MakePayload(std::this_thread::get_id()));
    return true;
  };
  t->socket = [&](ScriptThread& self, int fd, short revents) {
    char buf[16];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    reports.Post(R_SOCKET, revents & POLLIN, n, MakePayload(std::this_thread::get_id()));
    self.UnwatchSocket(fd);
    self.PostQuit(0);
  };
  ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
  MessageThread::Resume(h);
  ASSERT_TRUE(reports.target.WaitForCount(1, kLongWaitMs));
  ASSERT_EQ(::write(sv[1], "abc", 3), 3);
  ASSERT_TRUE(h->Wait(kLongWaitMs));
  auto got = reports.target.TakeAll();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].id, R_SOCKET);
  EXPECT_NE(got[1].wParam, 0);
  EXPECT_EQ(got[1].lParam, 3);
  auto* initThread = got[0].Peek<std::thread::id>();
  auto* socketThread = got[1].Peek<std::thread::id>();
  ASSERT_TRUE(initThread && socketThread);
  EXPECT_EQ(*initThread, *socketThread);
  EXPECT_NE(*socketThread, std::this_thread::get_id());
  ::close(sv[0]);
  ::close(sv[1]);
}

TEST(MessageThreadSockets, SocketUnwatchedInHandlerGetsNoStaleNotification) {
  int a[2], b[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, a), 0);
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, b), 0);
  // Both are readable before the loop's first poll, so both show up in one turn.
  ASSERT_EQ(::write(a[1], "x", 1), 1);
  ASSERT_EQ(::write(b[1], "x", 1), 1);
  Reports reports;
  auto t = std::make_unique<ScriptThread>();
  t->init = [fa = a[0], fb = b[0]](ScriptThread& self) {
    self.WatchSocket(fa, POLLIN);
    self.WatchSocket(fb, POLLIN);
    return true;
  };
  t->socket = [&, fa = a[0], fb = b[0]](ScriptThread& self, int fd, short) {
    reports.Post(R_SOCKET, fd);
    self.UnwatchSocket(fa);
    self.UnwatchSocket(fb);
    self.SetTimer(30);  // gives a wrongly kept watch the chance to report
  };
  t->timer = [](ScriptThread& self, uint32_t) { self.PostQuit(0); };
  ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
  MessageThread::Resume(h);
  ASSERT_TRUE(h->Wait(kLongWaitMs));
  EXPECT_EQ(reports.target.Count(), 1u);
  for (int fd : {a[0], a[1], b[0], b[1]}) ::close(fd);
}

// ------------------------------------------------------------- handles and waits

TEST(MessageThreadHandle, WaitTimesOutWhileRunningAndSucceedsAfterObjectIsGone) {
  std::atomic<bool> gone{false};
  auto ids = std::make_shared<std::pair<std::thread::id, std::thread::id>>();
  auto t = std::make_unique<ScriptThread>();
  t->init = [ids](ScriptThread&) {
    ids->first = std::this_thread::get_id();
    return true;
  };
  t->message = [](ScriptThread& self, Message& msg) { self.PostQuit(static_cast<int>(msg.wParam)); };
  t->destroyed = [&, ids] {
    ids->second = std::this_thread::get_id();
    gone = true;
  };
  ThreadHandlePtr h = MessageThread::CreateSuspended(std::move(t));
  ASSERT_TRUE(h);
  EXPECT_FALSE(h->Wait(0));  // suspended
  MessageThread::Resume(h);
  MessageThread::Resume(h);  // a second resume is harmless
  EXPECT_FALSE(h->Wait(30));  // idle loop, waiting for a message
  EXPECT_FALSE(h->Finished());
  ASSERT_TRUE(PostThreadMessage(h->Id(), WM_USER, 17, 0));
  ASSERT_TRUE(h->Wait(kLongWaitMs));
  EXPECT_TRUE(gone.load());  // deleted before the handle was marked finished
  EXPECT_EQ(ids->first, ids->second);
  EXPECT_NE(ids->second, std::this_thread::get_id());
  EXPECT_TRUE(h->Wait(0));
  EXPECT_TRUE(h->Finished());
  EXPECT_EQ(h->ExitCode(), 17);
}
