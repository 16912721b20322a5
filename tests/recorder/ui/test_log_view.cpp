#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_thread.h"
#include "platform/window_registry.h"
#include "recorder/app/log_thread.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/ui/log_view.h"
#include "tests/test_support.h"
#include "widgets/list_ctrl_ex.h"

using namespace recorder;

namespace {

bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::vector<std::string> EventTexts(const widgets::CListCtrlEx& list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.ItemCount(); ++i) texts.push_back(list.ItemText(i, 1).toStdString());
  return texts;
}

// The real log thread feeding a view: newest first, no doubles from the start-up
// copy, LOG_SHOW shows it, closing hides it, the menu's clear empties list and thread but not the file.
TEST(LogView, FedByTheLogThread) {
  const test_support::ScopedTempDir tmp{"logview"};
  const std::string path = tmp.Path("Logfile.txt");
  ui::CLogView view;
  auto thread = platform::MessageThread::Start(std::make_unique<app::CLogThread>(path, 1, app::LogEcho{}, view.Handle()));
  ASSERT_NE(thread, nullptr);
  const platform::ThreadId log = thread->Id();
  view.SetLogThread(log);
  ASSERT_TRUE(camera::PostLogEvent(log, camera::kEventConnectFailed, "127.0.0.1"));
  ASSERT_TRUE(camera::PostLogEvent(log, camera::kEventSocketThreadExited, ""));
  ASSERT_TRUE(platform::Post<camera::to_log::LogShow>(log));

  widgets::CListCtrlEx& list = *view.List();
  ASSERT_TRUE(PumpUntil([&] { return view.isVisible() && list.ItemCount() >= 4; }));
  QApplication::processEvents();
  const std::vector<std::string> expected = {
      "Socket thread exited, URL: ", "Socket connect failed, will retry every 10sec, Server: 127.0.0.1",
      "Logfile started... ", "Program Started..."};
  EXPECT_EQ(EventTexts(list), expected);
  const std::regex time(R"(\d\d/\d\d/\d\d \((0[1-9]|1[0-2]):[0-5]\d:[0-6]\d (AM|PM)\))");
  for (int i = 0; i < list.ItemCount(); ++i) EXPECT_TRUE(std::regex_match(list.ItemText(i, 0).toStdString(), time));

  view.close();
  EXPECT_FALSE(view.isVisible());
  EXPECT_EQ(list.ItemCount(), 4);

  // Right button: the press is swallowed, the release opens the one-entry menu.
  ASSERT_TRUE(platform::Post<camera::to_log::LogShow>(log));
  ASSERT_TRUE(PumpUntil([&] { return view.isVisible(); }));
  list.SelectRow(1);
  const QPoint at(20, 5);
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent click(type, at, list.viewport()->mapToGlobal(at), Qt::RightButton,
                      type == QEvent::MouseButtonPress ? Qt::RightButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &click);
  }
  EXPECT_EQ(list.SelectedRows(), std::vector<int>{1});
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 1);
  EXPECT_EQ(menu->actions()[0]->text(), "Clear Log Events");
  const std::string fileBefore = test_support::ReadFile(path);
  menu->actions()[0]->trigger();
  menu->close();
  EXPECT_EQ(list.ItemCount(), 0);

  // The thread's own entries are gone too (asked after the clear, so answered after it).
  platform::CollectingWindowTarget inbox;
  const platform::WindowHandle inboxHandle = platform::RegisterWindow(&inbox);
  ASSERT_TRUE(platform::Post<camera::to_log::LogGetEntries>(log, static_cast<intptr_t>(inboxHandle)));
  ASSERT_TRUE(inbox.WaitForCount(1, 10000));
  auto answers = inbox.TakeAll();
  const auto* entries = platform::Peek<camera::to_log_window::LogEntriesCopy>(answers[0]);
  ASSERT_NE(entries, nullptr);
  EXPECT_TRUE(entries->empty());
  platform::UnregisterWindow(inboxHandle);
  EXPECT_EQ(test_support::ReadFile(path), fileBefore);
  EXPECT_NE(fileBefore.find("Socket thread exited"), std::string::npos);

  ASSERT_TRUE(platform::Post<camera::to_log::ThreadStop>(log));
  EXPECT_TRUE(thread->Wait(10000));
}

// When full, a new entry drops the oldest (bottom) one first.
TEST(LogView, BoundedAtTheLogsLimit) {
  ui::CLogView view;
  const int total = int(app::kMaxLogEntries) + 1;
  for (int i = 0; i < total; ++i)
    ASSERT_TRUE(platform::Post<camera::to_log_window::LogEntryAdded>(
        view.Handle(), camera::LogEntry{"12/06/26 (05:53:43 PM)", std::to_string(i)}));
  widgets::CListCtrlEx& list = *view.List();
  ASSERT_TRUE(PumpUntil([&] { return list.ItemText(0, 1) == QString::number(total - 1); }, 60000));
  EXPECT_EQ(list.ItemCount(), int(app::kMaxLogEntries));
  EXPECT_EQ(list.ItemText(list.ItemCount() - 1, 1), "1");
}

// The Event column reaches the window's right edge at every width, Time keeps its
// own, and a long event can always be read whole in the row's tip.
TEST(LogView, EventColumnFillsTheWindowAndTheTipHoldsTheWholeLine) {
  ui::CLogView view;
  view.show();
  QApplication::processEvents();
  widgets::CListCtrlEx& list = *view.List();
  const std::string longEvent = "Failed to Init the local camera, file: " + std::string(200, 'x') + "/video.mjpg";
  ASSERT_TRUE(platform::Post<camera::to_log_window::LogEntryAdded>(
      view.Handle(), camera::LogEntry{"12/06/26 (05:53:43 PM)", longEvent}));
  ASSERT_TRUE(PumpUntil([&] { return list.ItemCount() == 1; }, 5000));
  const int timeWidth = list.ColumnWidth(0);
  EXPECT_GE(timeWidth, 135);
  for (int width : {620, 300, 250, 200, 900, 420}) {
    view.resize(width, 240);
    QApplication::processEvents();
    EXPECT_EQ(view.width(), std::max(width, 250));
    EXPECT_EQ(list.ColumnWidth(0), timeWidth) << width;
    EXPECT_EQ(list.ColumnWidth(0) + list.ColumnWidth(1), list.viewport()->width()) << width;
  }
  ASSERT_TRUE(list.tipFor);
  EXPECT_EQ(list.tipFor(0, 1).toStdString(), "12/06/26 (05:53:43 PM)  " + longEvent);
  EXPECT_EQ(list.tipFor(0, 0), list.tipFor(0, 1));
}

}  // namespace
