// Posting to widgets: delivery on the GUI thread, failure after destruction,
// visibility seen from other threads.
#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

using namespace platform;

namespace {

struct CountedPayload : Payload {
  explicit CountedPayload(std::atomic<int>* c) : counter(c) {}
  ~CountedPayload() override { ++*counter; }
  std::atomic<int>* counter;
};

// Runs the GUI event loop until pred holds; gives up after a bounded number of rounds.
template <class Pred>
bool ProcessUntil(Pred pred) {
  for (int i = 0; i < 20000 && !pred(); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    if (!pred()) std::this_thread::yield();
  }
  return pred();
}

}  // namespace

TEST(QtWindow, MessagesFromOtherThreadArriveOnGuiThreadInOrder) {
  QWidget widget;
  struct Seen {
    std::thread::id thread;
    intptr_t wParam;
    std::string text;
  };
  std::vector<Seen> seen;
  auto* target = new QtWindowTarget(&widget, [&](Message& msg) {
    auto* text = msg.Peek<std::string>();
    seen.push_back({std::this_thread::get_id(), msg.wParam, text ? *text : std::string()});
  });
  const WindowHandle h = target->Handle();
  ASSERT_NE(h, 0u);

  std::atomic<int> ok{0};
  std::thread poster([&] {
    for (int i = 0; i < 10; ++i)
      if (PostWindowMessage(h, WM_USER + 500, i, 0, MakePayload(std::string("m") + std::to_string(i)))) ++ok;
  });
  poster.join();
  EXPECT_EQ(ok.load(), 10);
  ASSERT_TRUE(ProcessUntil([&] { return seen.size() == 10; }));
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(seen[i].thread, std::this_thread::get_id());
    EXPECT_EQ(seen[i].wParam, i);
    EXPECT_EQ(seen[i].text, "m" + std::to_string(i));
  }
}

TEST(QtWindow, PostAfterWidgetIsDestroyedFailsAndFreesPayload) {
  std::atomic<int> destroyed{0};
  int handled = 0;
  auto widget = std::make_unique<QWidget>();
  auto* target = new QtWindowTarget(widget.get(), [&](Message&) { ++handled; });
  const WindowHandle h = target->Handle();
  // In flight when the widget dies: dropped with the event, payload freed.
  ASSERT_TRUE(PostWindowMessage(h, WM_USER, 0, 0, std::make_unique<CountedPayload>(&destroyed)));
  widget.reset();
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_FALSE(PostWindowMessage(h, WM_USER, 0, 0, std::make_unique<CountedPayload>(&destroyed)));
  EXPECT_EQ(destroyed.load(), 2);
  EXPECT_FALSE(IsWindowVisible(h));
  QCoreApplication::processEvents();
  EXPECT_EQ(handled, 0);
}

TEST(QtWindow, ExplicitUnregisterMakesPostsFailWhileWidgetLives) {
  QWidget widget;
  int handled = 0;
  auto* target = new QtWindowTarget(&widget, [&](Message&) { ++handled; });
  const WindowHandle h = target->Handle();
  ASSERT_TRUE(PostWindowMessage(h, WM_USER, 0, 0));
  target->Unregister();
  target->Unregister();
  EXPECT_FALSE(PostWindowMessage(h, WM_USER, 0, 0));
  QCoreApplication::processEvents();
  EXPECT_EQ(handled, 0);  // the message in flight belonged to a window that is gone
}

TEST(QtWindow, VisibilityFollowsShowAndHideAndIsReadableFromOtherThreads) {
  QWidget widget;
  auto* target = new QtWindowTarget(&widget, [](Message&) {});
  const WindowHandle h = target->Handle();
  auto visibleElsewhere = [h] {
    bool v = false;
    std::thread t([&] { v = IsWindowVisible(h); });
    t.join();
    return v;
  };
  EXPECT_FALSE(visibleElsewhere());
  widget.show();
  EXPECT_TRUE(visibleElsewhere());
  widget.hide();
  EXPECT_FALSE(visibleElsewhere());
  widget.show();
  EXPECT_TRUE(target->Visible());

  // A target made for a widget that is already shown starts visible.
  auto* second = new QtWindowTarget(&widget, [](Message&) {});
  EXPECT_TRUE(IsWindowVisible(second->Handle()));
}

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
