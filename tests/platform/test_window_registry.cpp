// Window handles: registration, failed posts, visibility, forwarding to threads,
// and the promise that no delivery runs after a window is unregistered.
#include "platform/window_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "platform/message_thread.h"

using namespace platform;

namespace {

struct CountedPayload : Payload {
  explicit CountedPayload(std::atomic<int>* c) : counter(c) {}
  ~CountedPayload() override { ++*counter; }
  std::atomic<int>* counter;
};

}  // namespace

TEST(WindowRegistry, HandlesAreFreshAndPostsToGoneHandlesFailAndFreePayload) {
  std::atomic<int> destroyed{0};
  CollectingWindowTarget target;
  std::set<WindowHandle> handles;
  WindowHandle h = 0;
  for (int i = 0; i < 3; ++i) {
    h = RegisterWindow(&target);
    EXPECT_NE(h, 0u);
    handles.insert(h);
    if (i < 2) UnregisterWindow(h);
  }
  EXPECT_EQ(handles.size(), 3u);  // an unregistered handle is never handed out again
  EXPECT_EQ(RegisterWindow(nullptr), 0u);

  ASSERT_TRUE(PostWindowMessage(h, WM_USER + 5, 1, 2, MakePayload(std::string("text"))));
  UnregisterWindow(h);
  EXPECT_FALSE(PostWindowMessage(h, WM_USER + 5, 0, 0, std::make_unique<CountedPayload>(&destroyed)));
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_FALSE(PostWindowMessage(0, WM_USER, 0, 0, std::make_unique<CountedPayload>(&destroyed)));
  EXPECT_EQ(destroyed.load(), 2);
  UnregisterWindow(h);  // twice: harmless

  auto got = target.TakeAll();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, WM_USER + 5);
  EXPECT_EQ(got[0].wParam, 1);
  EXPECT_EQ(got[0].lParam, 2);
  ASSERT_NE(got[0].Peek<std::string>(), nullptr);
  EXPECT_EQ(*got[0].Peek<std::string>(), "text");
  EXPECT_EQ(got[0].Peek<int>(), nullptr);  // wrong type: nothing, payload kept
  EXPECT_NE(got[0].payload, nullptr);
  EXPECT_EQ(target.Count(), 0u);
}

TEST(WindowRegistry, VisibilityFollowsTargetAndRegistration) {
  CollectingWindowTarget target;
  WindowHandle h = RegisterWindow(&target);
  EXPECT_FALSE(IsWindowVisible(h));
  target.SetVisible(true);
  EXPECT_TRUE(IsWindowVisible(h));
  UnregisterWindow(h);
  EXPECT_FALSE(IsWindowVisible(h));
  EXPECT_FALSE(IsWindowVisible(0));
}

TEST(WindowRegistry, WaitForCountReturnsWhenEnoughArriveAndTimesOutOtherwise) {
  CollectingWindowTarget target;
  WindowHandle h = RegisterWindow(&target);
  EXPECT_FALSE(target.WaitForCount(1, 10));
  std::thread poster([h] {
    for (int i = 0; i < 3; ++i) PostWindowMessage(h, WM_USER, i, 0);
  });
  EXPECT_TRUE(target.WaitForCount(3, 20000));
  poster.join();
  UnregisterWindow(h);
  EXPECT_EQ(target.TakeAll().size(), 3u);
}

// A target that notices any delivery that begins after it was declared gone.
class GuardedTarget : public WindowTarget {
 public:
  std::atomic<bool> gone{false};
  std::atomic<int> delivered{0}, late{0};
  bool Deliver(Message&& msg) override {
    if (gone) ++late;
    std::this_thread::yield();  // widen the window in which an unguarded unregister would race
    if (gone) ++late;
    ++delivered;
    return true;
  }
};

TEST(WindowRegistry, NoDeliveryRunsAfterUnregisterReturns) {
  GuardedTarget target;
  WindowHandle h = RegisterWindow(&target);
  std::vector<std::thread> posters;
  for (int i = 0; i < 3; ++i)
    posters.emplace_back([h] {
      while (PostWindowMessage(h, WM_USER, 0, 0)) {
      }
    });
  while (target.delivered < 100) std::this_thread::yield();
  UnregisterWindow(h);
  target.gone = true;
  for (auto& p : posters) p.join();
  EXPECT_EQ(target.late.load(), 0);
}

namespace {

class EchoThread : public MessageThread {
 public:
  explicit EchoThread(WindowHandle reply) : reply_(reply) {}

 protected:
  void OnMessage(Message& msg) override {
    PostWindowMessage(reply_, msg.id, msg.wParam, msg.lParam, std::move(msg.payload));
    PostQuit(0);
  }

 private:
  WindowHandle reply_;
};

}  // namespace

TEST(WindowRegistry, ThreadWindowTargetForwardsToThreadAndFailsWhenThreadIsGone) {
  std::atomic<int> destroyed{0};
  CollectingWindowTarget replies;
  WindowHandle replyHandle = RegisterWindow(&replies);
  ThreadHandlePtr th = MessageThread::CreateSuspended(std::make_unique<EchoThread>(replyHandle));
  ASSERT_TRUE(th);
  ThreadWindowTarget forward(th->Id());
  WindowHandle h = RegisterWindow(&forward);
  ASSERT_TRUE(PostWindowMessage(h, WM_USER + 9, 3, 4, MakePayload(std::string("via thread"))));
  MessageThread::Resume(th);
  ASSERT_TRUE(th->Wait(20000));
  auto got = replies.TakeAll();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, WM_USER + 9);
  EXPECT_EQ(got[0].wParam, 3);
  EXPECT_EQ(got[0].lParam, 4);
  ASSERT_NE(got[0].Peek<std::string>(), nullptr);
  EXPECT_EQ(*got[0].Peek<std::string>(), "via thread");

  EXPECT_FALSE(PostWindowMessage(h, WM_USER, 0, 0, std::make_unique<CountedPayload>(&destroyed)));
  EXPECT_EQ(destroyed.load(), 1);
  UnregisterWindow(h);
  UnregisterWindow(replyHandle);
}
