// Typed messages: a tag's payload type is the only one that posts or takes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/message.h"
#include "platform/window_registry.h"

using namespace platform;

namespace {

struct Text : WindowMessage<WM_USER + 1, std::string> {};
struct Bytes : WindowMessage<WM_USER + 2, std::vector<uint8_t>> {};
struct Owned : WindowMessage<WM_USER + 3, std::unique_ptr<int>> {};
struct Bare : WindowMessage<WM_USER + 4> {};
struct ToThread : ThreadMessage<WM_USER + 1> {};

template <class Tag, class P>
concept CanPostWith = requires(typename Tag::Target to, P p) { Post<Tag>(to, 0, 0, std::move(p)); };
template <class Tag>
concept CanTake = requires(Message& m) { Take<Tag>(m); };

// Wrong payloads and payloads for bare messages do not build.
static_assert(CanPostWith<Text, std::string>);
static_assert(!CanPostWith<Text, std::vector<uint8_t>>);
static_assert(!CanPostWith<Owned, std::unique_ptr<long>>);
static_assert(!CanPostWith<Bare, std::string>);
static_assert(!CanTake<Bare>);
// A thread tag addresses a thread id, a window tag a window handle.
static_assert(std::is_same_v<ToThread::Target, ThreadId> && std::is_same_v<Text::Target, WindowHandle>);

}  // namespace

TEST(TypedMessages, PayloadsArriveWithTheirTagAndOnlyTheirTagTakesThem) {
  CollectingWindowTarget target;
  const WindowHandle window = RegisterWindow(&target);
  ASSERT_TRUE(Post<Text>(window, 7, 8, std::string("hello")));
  ASSERT_TRUE(Post<Owned>(window, std::make_unique<int>(42)));
  ASSERT_TRUE(Post<Bytes>(window, 1, 2));  // a payload is optional
  auto msgs = target.TakeAll();
  ASSERT_EQ(msgs.size(), 3u);

  EXPECT_TRUE(Is<Text>(msgs[0]));
  EXPECT_EQ(msgs[0].wParam, 7);
  EXPECT_EQ(msgs[0].lParam, 8);
  EXPECT_EQ(Take<Bytes>(msgs[0]), std::vector<uint8_t>{});  // another tag takes nothing
  ASSERT_NE(Peek<Text>(msgs[0]), nullptr);
  EXPECT_EQ(Take<Text>(msgs[0]), "hello");
  EXPECT_EQ(Take<Text>(msgs[0]), "");  // taken once

  auto owned = Take<Owned>(msgs[1]);
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(*owned, 42);
  EXPECT_TRUE(Take<Bytes>(msgs[2]).empty());

  UnregisterWindow(window);
  // A post to a gone window fails and the payload is destroyed on this side.
  auto counted = std::make_shared<int>(0);
  struct Shared : WindowMessage<WM_USER + 5, std::shared_ptr<int>> {};
  EXPECT_FALSE(Post<Shared>(window, counted));
  EXPECT_EQ(counted.use_count(), 1);
}

// The check each receiver's tag list passes: a shared number fails it, whatever
// the receiver kind or payload of the two tags.
static_assert(DistinctNumbers<ThreadMessage<WM_USER + 1>, ThreadMessage<WM_USER + 2>, WindowMessage<WM_USER + 3>>());
static_assert(!DistinctNumbers<ThreadMessage<WM_USER + 1>, ThreadMessage<WM_USER + 2, std::string>,
                               WindowMessage<WM_USER + 1>>());
static_assert(!DistinctNumbers<ThreadMessage<WM_USER + 7>, ThreadMessage<WM_USER + 7>>());
