// The player window, offscreen: opening and playing, the caption, the controls'
// messages to the playback thread, the menus, the edit dialogs and notices, the
// copy dialog, the size rules, the still export and the ordered shutdown.
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "media/jpeg_codec.h"
#include "media/mjpg.h"
#include "media/mjpg_reader.h"
#include "platform/window_registry.h"
#include "player/editing.h"
#include "player/file_info.h"
#include "player/still_export.h"
#include "player/thread_registry.h"
#include "player/ui/copy_dlg.h"
#include "player/ui/player_dlg.h"
#include "tests/player/player_files.h"
#include "tests/test_support.h"
#include "widgets/picture_box.h"
#include "widgets/progress_ex.h"
#include "widgets/prompts.h"

namespace {

using namespace player;
using namespace player::ui;
using widgets::BoxIcon;
using widgets::FileRequest;
using widgets::Prompts;
using namespace player::to_video_thread;
using namespace player::to_player_window;
using player_test::Bytes;
using player_test::ReadBytes;
using player_test::WriteBytes;

// Lets posted messages arrive until done() holds; false after 20 s.
bool WaitUntil(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > 20000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

// Recordings of real, decodable JPEG frames, stamped first, first + 1, ...
std::vector<Bytes> JpegFrames(size_t count, uint32_t first) {
  std::vector<Bytes> frames;
  for (size_t i = 0; i < count; ++i) {
    media::FrameImage image;
    image.width = 32, image.height = 24, image.bitsPerPixel = 24;
    image.pixels.assign(32 * 24 * 3, uint8_t(40 + 30 * i));
    Bytes jpeg, frame;
    EXPECT_TRUE(media::EncodeJpeg(image, 75, jpeg));
    EXPECT_TRUE(media::mjpg::BuildFrame(jpeg.data(), jpeg.size(), first + uint32_t(i), frame));
    frames.push_back(frame);
  }
  return frames;
}

// Answers every blocking question at once and keeps what was asked.
struct Answers : Prompts {
  struct Told {
    QString text, caption;
    BoxIcon icon;
  };
  std::vector<Told> told;
  std::vector<FileRequest> asked;
  std::deque<QString> files;  // the answers to file dialogs in turn; none left: cancelled

  void Tell(QWidget*, const QString& text, const QString& caption, BoxIcon icon) override {
    told.push_back({text, caption, icon});
  }
  QString ChooseFile(QWidget*, const FileRequest& request) override {
    asked.push_back(request);
    if (files.empty()) return {};
    const QString answer = files.front();
    files.pop_front();
    return answer;
  }
};

// Stands in for the playback thread: hands every message on to an inbox window
// and ends on VT_CLOSE, as the real one does.
class EchoThread : public platform::MessageThread {
 public:
  EchoThread(platform::WindowHandle inbox, platform::WindowHandle main) : inbox_(inbox), main_(main) {}

 protected:
  void OnMessage(platform::Message& msg) override {
    const bool close = platform::Is<VT_CLOSE>(msg);
    platform::PostWindowMessage(inbox_, msg.id, msg.wParam, msg.lParam, std::move(msg.payload));
    if (close) {
      platform::Post<PLAYER_THREAD_CLOSED>(main_);
      PostQuit();
    }
  }

 private:
  platform::WindowHandle inbox_, main_;
};

// A window whose playback threads are echo threads.
struct EchoPlayer {
  platform::CollectingWindowTarget inbox;
  platform::WindowHandle inboxHandle = platform::RegisterWindow(&inbox);
  std::vector<VideoThreadSetup> setups;
  Answers answers;
  std::unique_ptr<CPlayerDlg> window;

  EchoPlayer() {
    PlayerDlgOptions options;
    options.prompts = &answers;
    options.threadFactory = [this](VideoThreadSetup setup) {
      setups.push_back(setup);
      return platform::MessageThread::CreateSuspended(std::make_unique<EchoThread>(inboxHandle, setup.mainWindow));
    };
    window = std::make_unique<CPlayerDlg>(options);
  }
  ~EchoPlayer() {
    window.reset();
    platform::UnregisterWindow(inboxHandle);
  }

  // What the thread received up to now, as {number, wParam}: a marker posted
  // last comes back after everything posted before it, unless VT_CLOSE ended
  // the thread first.
  std::vector<std::pair<uint32_t, intptr_t>> Received() {
    std::vector<std::pair<uint32_t, intptr_t>> got;
    platform::Post<VT_OPEN>(window->ThreadId());
    bool end = false;
    while (!end && inbox.WaitForCount(1, 20000)) {
      for (platform::Message& m : inbox.TakeAll()) {
        end = end || platform::Is<VT_OPEN>(m) || platform::Is<VT_CLOSE>(m);
        if (!platform::Is<VT_OPEN>(m)) got.emplace_back(m.id, m.wParam);
      }
    }
    EXPECT_TRUE(end);
    return got;
  }
};

void Release(QWidget* widget, Qt::MouseButton button, QPoint at) {
  QMouseEvent event(QEvent::MouseButtonRelease, QPointF(at), widget->mapToGlobal(QPointF(at)), button, Qt::NoButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &event);
}

void Key(QWidget* widget, int key) {
  QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &event);
}

std::vector<QString> Texts(const QMenu* menu) {
  std::vector<QString> texts;
  for (const QAction* a : menu->actions()) texts.push_back(a->isSeparator() ? QString() : a->text());
  return texts;
}

// Local time is UTC while a test runs, so time stamps have known texts.
class PlayerWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = ::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (tz) savedTz_ = tz;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  void TearDown() override {
    if (hadTz_) {
      ::setenv("TZ", savedTz_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  bool hadTz_ = false;
  std::string savedTz_;
};

TEST_F(PlayerWindow, PlayOpensTheChosenFileAndTheThreadDrivesLabelsAndPicture) {
  test_support::ScopedTempDir dir("velmo_window");
  const std::vector<Bytes> frames = JpegFrames(3, 1181052189);
  const std::string recording = dir.Path() + "Cam Front.MJPG", junk = dir.Path() + "junk.mjpg";
  WriteBytes(recording, player_test::Join(frames));
  WriteBytes(junk, Bytes(3000, 0x41));
  // The bar's position after the first frame, as the reader tells it.
  media::CMjpgReader reader;
  ASSERT_TRUE(reader.Open(recording));
  Bytes first;
  ASSERT_TRUE(reader.ReadNextFrame(first));
  const int firstFraction = reader.GetPositionFraction();

  struct Row {
    const char* name;
    std::string path;
    bool plays;
    QString caption, time, size;
  } rows[] = {
      {"a recording", recording, true, "Velmo - Cam Front.MJPG", " Tue Jun 05 2007 (02:03:09 PM)",
       QString::fromStdString(VideoSizeLabel(player_test::Join(frames).size()))},
      {"a file without frames", junk, false, "Velmo", "", kInvalidVideoFormat},
      {"a missing file", dir.Path() + "none.mjpg", false, "Velmo", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Answers answers;
    answers.files = {QString::fromStdString(row.path)};
    CPlayerDlg window(PlayerDlgOptions{&answers, {}});
    // A minute between frames: the first frame stays on view while playing.
    window.DelayEdit()->setText("60000");
    window.Start();
    window.PlayButton()->click();
    ASSERT_EQ(answers.asked.size(), 1u) << "no file open: play asks for one";
    EXPECT_FALSE(answers.asked[0].save);
    EXPECT_EQ(answers.asked[0].filter, kMjpgFilter);
    if (row.plays) {
      EXPECT_EQ(window.windowTitle(), row.caption);
      ASSERT_TRUE(WaitUntil([&] { return window.ShowsPlaying() && window.Picture()->HasPicture(); }));
      ASSERT_TRUE(WaitUntil([&] { return window.TimeLabel()->text() == row.time; }));
      EXPECT_EQ(window.Picture()->LastJpeg(), frames[0]);
      EXPECT_EQ(window.SizeLabel()->text(), row.size);
      EXPECT_EQ(window.PositionBar()->GetRange(false), 86400);
      EXPECT_EQ(window.PositionBar()->GetPos(), firstFraction);
      window.NextButton()->click();
      ASSERT_TRUE(WaitUntil([&] { return window.Picture()->LastJpeg() == frames[1]; }));
      ASSERT_TRUE(WaitUntil([&] { return !window.ShowsPlaying(); })) << "a step stops playing";
      EXPECT_EQ(window.TimeLabel()->text(), " Tue Jun 05 2007 (02:03:10 PM)");
      window.StopButton()->click();
    }
    const QString timeShown = window.TimeLabel()->text();
    // The thread ends; the window forgets it, the labels keep their texts.
    ASSERT_TRUE(WaitUntil([&] { return window.ThreadId() == 0; }));
    ASSERT_TRUE(WaitUntil([&] { return !window.Picture()->HasPicture(); }));
    EXPECT_EQ(window.windowTitle(), "Velmo");
    EXPECT_FALSE(window.ShowsPlaying());
    EXPECT_EQ(window.TimeLabel()->text(), timeShown);
    EXPECT_EQ(window.SizeLabel()->text(), row.size);
    EXPECT_TRUE(answers.told.empty());
  }
}

TEST_F(PlayerWindow, CaptionNamesTheFileAsGivenAndTheThreadGetsThePathAsGiven) {
  const struct {
    std::string path;
    QString caption;
  } rows[] = {
      {"/srv/Rec/Cam Front.MJPG", "Velmo - Cam Front.MJPG"},
      {"Yard/NIGHT.mjpg", "Velmo - NIGHT.mjpg"},
      {"Plain.Mjpg", "Velmo - Plain.Mjpg"},
      {"/srv/Rec/Garage//", "Velmo - Garage"},
  };
  for (const auto& row : rows) {
    EchoPlayer player;
    player.window->Start(row.path);
    EXPECT_EQ(player.window->windowTitle(), row.caption) << row.path;
    ASSERT_EQ(player.setups.size(), 1u);
    EXPECT_EQ(player.setups[0].path, row.path);
    EXPECT_EQ(player.setups[0].frameDelayMs, 100);
  }
}

TEST_F(PlayerWindow, ControlsPostTheirMessagesToThePlaybackThread) {
  using Action = std::function<void(CPlayerDlg&)>;
  auto seekAt = [](double share) {
    return [share](CPlayerDlg& w) {
      widgets::CProgressEx* bar = w.PositionBar();
      Release(bar, Qt::LeftButton, QPoint(int(share * bar->width()), bar->height() / 2));
    };
  };
  auto delay = [](const char* text, bool enter) {
    return [text, enter](CPlayerDlg& w) {
      w.DelayEdit()->setText(text);
      if (enter) {
        w.DelayEdit()->setFocus();
        Key(w.DelayEdit(), Qt::Key_Return);
      } else {
        w.ApplyButton()->click();
      }
    };
  };
  const struct {
    const char* name;
    Action action;
    std::optional<uint32_t> number;  // none: nothing is posted
    std::function<intptr_t(const CPlayerDlg&)> wParam;
  } rows[] = {
      {"seek at the left end", seekAt(0), VT_SEEK::kNumber, [](auto&) { return 0; }},
      {"seek in the middle", seekAt(0.5), VT_SEEK::kNumber,
       [](const CPlayerDlg& w) {
         const int width = w.PositionBar()->width();
         return intptr_t(double(width / 2) / width * 86400);
       }},
      {"seek at the right end", seekAt(1), VT_SEEK::kNumber, [](auto&) { return 86400; }},
      {"seek left of the bar", [](CPlayerDlg& w) { Release(w.PositionBar(), Qt::LeftButton, QPoint(-9, 3)); },
       VT_SEEK::kNumber, [](auto&) { return 0; }},
      {"right click on the bar", [](CPlayerDlg& w) { Release(w.PositionBar(), Qt::RightButton, QPoint(9, 3)); },
       std::nullopt, {}},
      {"play", [](CPlayerDlg& w) { w.PlayButton()->click(); }, VT_PLAY_PAUSE::kNumber, [](auto&) { return 0; }},
      {"stop", [](CPlayerDlg& w) { w.StopButton()->click(); }, VT_CLOSE::kNumber, [](auto&) { return 0; }},
      {"previous", [](CPlayerDlg& w) { w.PreviousButton()->click(); }, VT_PREV_FRAME::kNumber,
       [](auto&) { return 0; }},
      {"next", [](CPlayerDlg& w) { w.NextButton()->click(); }, VT_NEXT_FRAME::kNumber, [](auto&) { return 0; }},
      {"apply", delay("250", false), VT_SET_DELAY::kNumber, [](auto&) { return 250; }},
      {"apply an empty delay", delay("", false), VT_SET_DELAY::kNumber, [](auto&) { return 0; }},
      {"apply beyond 32 bits", delay("99999999999", false), VT_SET_DELAY::kNumber, [](auto&) { return 999999999; }},
      {"enter in the delay", delay("75", true), VT_SET_DELAY::kNumber, [](auto&) { return 75; }},
      {"Set Start Position", [](CPlayerDlg& w) { w.RunCommand(kCmdMarkStart); }, VT_MARK_START::kNumber,
       [](auto&) { return 0; }},
      {"Set End Position", [](CPlayerDlg& w) { w.RunCommand(kCmdMarkEnd); }, VT_MARK_END::kNumber,
       [](auto&) { return 0; }},
      {"Extract", [](CPlayerDlg& w) { w.RunCommand(kCmdExtract); }, VT_EXTRACT::kNumber, [](auto&) { return 0; }},
      {"Remove", [](CPlayerDlg& w) { w.RunCommand(kCmdRemove); }, VT_REMOVE::kNumber, [](auto&) { return 0; }},
      {"Append", [](CPlayerDlg& w) { w.RunCommand(kCmdAppend); }, VT_APPEND::kNumber, [](auto&) { return 0; }},
      {"copy dialog Cancel", [](CPlayerDlg& w) { w.CopyDialog()->CancelButton()->click(); },
       VT_CANCEL_EDIT::kNumber, [](auto&) { return 0; }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EchoPlayer player;
    player.window->Start("/srv/rec.mjpg");
    row.action(*player.window);
    const auto got = player.Received();
    if (!row.number) {
      EXPECT_TRUE(got.empty());
      continue;
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, *row.number);
    EXPECT_EQ(got[0].second, row.wParam(*player.window));
  }
}

TEST_F(PlayerWindow, MenusPopUpWithTheirEntriesInOrder) {
  using Pop = std::function<void(CPlayerDlg&)>;
  const struct {
    const char* name;
    Pop pop;
    std::function<QMenu*(CPlayerDlg&)> menu;
    std::vector<QString> texts;  // empty for a separator
  } rows[] = {
      {"right-button release on the picture",
       [](CPlayerDlg& w) { Release(w.Picture(), Qt::RightButton, QPoint(30, 20)); },
       [](CPlayerDlg& w) { return w.ContextMenu(); },
       {"Save Current Frame as JPEG", "Set Window to 640x480", "", "Set Start Position", "Set End Position", "",
        "Extract Video Selection", "Remove Video Selection", "Append Video to end of Current Video"}},
      {"right click beside the picture",
       [](CPlayerDlg& w) {
         const QPoint at = w.TimeLabel()->geometry().center();
         QContextMenuEvent event(QContextMenuEvent::Mouse, at, w.mapToGlobal(at));
         QCoreApplication::sendEvent(&w, &event);
       },
       [](CPlayerDlg& w) { return w.WindowMenu(); },
       {"About...", "", "&Restore", "Mi&nimize", "Ma&ximize", "", "&Close"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EchoPlayer player;
    player.window->Start();
    row.pop(*player.window);
    QMenu* menu = row.menu(*player.window);
    ASSERT_TRUE(WaitUntil([&] { return menu->isVisible(); }));
    EXPECT_EQ(Texts(menu), row.texts);
    menu->hide();
  }
  // The ids of the picture's menu.
  EchoPlayer player;
  std::vector<int> ids;
  for (const CPlayerDlg::MenuEntry& e : player.window->ContextMenuEntries()) ids.push_back(e.id);
  EXPECT_EQ(ids, (std::vector<int>{150, 149, 0, 151, 152, 0, 153, 154, 155}));
}

TEST_F(PlayerWindow, AnEditOutputThatIsAnInputIsRefusedAndNothingIsWritten) {
  test_support::ScopedTempDir dir("velmo_refuse");
  const std::vector<Bytes> frames = JpegFrames(4, 1000), others = JpegFrames(2, 2000);
  const std::string input = dir.Path() + "Front.MJPG", other = dir.Path() + "other.mjpg";
  const QString inputQ = QString::fromStdString(input), otherQ = QString::fromStdString(other);
  const FileRequest save{true, "", kMjpgFilter, "", "", "mjpg"};
  const FileRequest append{false, kAppendDialogTitle, kMjpgFilter, "", "", ""};
  const FileRequest saveOutput{true, kSaveOutputTitle, kMjpgFilter, "", "", "mjpg"};
  const struct {
    const char* name;
    int command;
    std::deque<QString> answers;
    std::vector<FileRequest> asked;
  } rows[] = {
      {"extract into the input", kCmdExtract, {inputQ}, {save}},
      {"remove into the input by another spelling", kCmdRemove, {QString::fromStdString(dir.Path() + "./Front.MJPG")},
       {save}},
      {"append into the appended file", kCmdAppend, {otherQ, otherQ}, {append, saveOutput}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WriteBytes(input, player_test::Join(frames));
    WriteBytes(other, player_test::Join(others));
    Answers answers;
    CPlayerDlg window(PlayerDlgOptions{&answers, {}});
    window.DelayEdit()->setText("60000");
    window.Start(input);
    ASSERT_TRUE(WaitUntil([&] { return window.Picture()->LastJpeg() == frames[0]; }));
    // The first two frames marked, as the user marks them.
    window.RunCommand(kCmdMarkStart);
    window.NextButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return window.Picture()->LastJpeg() == frames[1]; }));
    window.RunCommand(kCmdMarkEnd);
    ASSERT_TRUE(WaitUntil([&] { return answers.told.size() == 2; }));
    EXPECT_EQ(answers.told[0].caption, "Start Frame Set");
    EXPECT_EQ(answers.told[1].caption, "End Frame Set");

    answers.files = row.answers;
    bool copyShown = false;
    window.RunCommand(row.command);
    ASSERT_TRUE(WaitUntil([&] {
      copyShown = copyShown || window.CopyDialog()->isVisible();
      return answers.told.size() == 3;
    }));
    EXPECT_EQ(answers.told[2].text, "The output file cannot be one of the video files being edited; choose another name");
    EXPECT_EQ(answers.told[2].caption, "File Write Error");
    EXPECT_EQ(answers.told[2].icon, BoxIcon::Exclamation);
    ASSERT_EQ(answers.asked.size(), row.asked.size());
    for (size_t i = 0; i < row.asked.size(); ++i) {
      EXPECT_EQ(answers.asked[i].save, row.asked[i].save) << i;
      EXPECT_EQ(answers.asked[i].title, row.asked[i].title) << i;
      EXPECT_EQ(answers.asked[i].filter, row.asked[i].filter) << i;
      EXPECT_EQ(answers.asked[i].defaultSuffix, row.asked[i].defaultSuffix) << i;
    }
    EXPECT_FALSE(copyShown);
    EXPECT_TRUE(window.isEnabled());
    EXPECT_EQ(ReadBytes(input), player_test::Join(frames));
    EXPECT_EQ(ReadBytes(other), player_test::Join(others));
  }
}

TEST_F(PlayerWindow, TheCopyDialogShowsDuringACopyAndOnlyItsCancelButtonCancels) {
  using Action = std::function<void(CCopyDlg&)>;
  const struct {
    const char* name;
    Action action;
    bool staysVisible;
    bool cancels;
  } rows[] = {
      {"Cancel", [](CCopyDlg& d) { d.CancelButton()->click(); }, true, true},
      {"Escape", [](CCopyDlg& d) { Key(&d, Qt::Key_Escape); }, true, false},
      {"close box", [](CCopyDlg& d) { d.close(); }, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EchoPlayer player;
    CPlayerDlg& window = *player.window;
    window.Start("/srv/rec.mjpg");
    CCopyDlg& copy = *window.CopyDialog();
    EXPECT_EQ(copy.windowTitle(), "Creating Output Video...");
    EXPECT_EQ(copy.Progress()->GetRange(false), 100);
    EXPECT_FALSE(copy.isVisible());

    platform::Post<PLAYER_COPYING>(window.Handle(), 1);
    platform::Post<to_control::SetPosition>(copy.ProgressHandle(), 37);
    ASSERT_TRUE(WaitUntil([&] { return copy.isVisible() && copy.Progress()->GetPos() == 37; }));
    EXPECT_FALSE(window.isEnabled());
    EXPECT_TRUE(copy.isEnabled());
    EXPECT_TRUE(copy.CancelButton()->isEnabled());

    row.action(copy);
    EXPECT_EQ(copy.isVisible(), row.staysVisible);
    const auto got = player.Received();
    EXPECT_EQ(got.size(), row.cancels ? 1u : 0u);
    if (row.cancels) {
      EXPECT_EQ(got[0].first, VT_CANCEL_EDIT::kNumber);
    }

    // The copy's end hides the dialog and gives the window back.
    platform::Post<PLAYER_COPYING>(window.Handle(), 0);
    ASSERT_TRUE(WaitUntil([&] { return window.isEnabled(); }));
    EXPECT_FALSE(copy.isVisible());
  }
}

TEST_F(PlayerWindow, SizeRules) {
  EchoPlayer player;
  CPlayerDlg& window = *player.window;
  window.Start();
  const auto picture = [&] { return window.Picture()->size(); };
  const struct {
    const char* name;
    std::function<void()> step;
    std::function<QSize()> expected;
    std::function<QSize()> measured;
  } steps[] = {
      {"start-up fits the picture", [] {}, [] { return QSize(640, 480); }, picture},
      {"no smaller than 385 x 380", [&] { window.resize(100, 100); },
       [&] { return QSize(385, 380).expandedTo(window.minimumSize()); }, [&] { return window.size(); }},
      {"Set Window to 640x480", [&] { window.RunCommand(kCmdSetWindow640x480); }, [] { return QSize(640, 480); },
       picture},
      {"Restore returns to the first size", [&] { window.RunCommand(kCmdRestore); }, [&] { return window.FirstSize(); },
       [&] { return window.size(); }},
  };
  for (const auto& s : steps) {
    s.step();
    QCoreApplication::processEvents();
    EXPECT_EQ(s.measured(), s.expected()) << s.name;
  }
  EXPECT_GE(window.minimumWidth(), 385);
  EXPECT_GE(window.minimumHeight(), 380);

  // Maximise grows the window by 160 x 120 about its centre, every time.
  for (int i = 0; i < 2; ++i) {
    const QRect before = window.geometry();
    window.setWindowState(Qt::WindowMaximized);
    ASSERT_TRUE(WaitUntil([&] { return !window.isMaximized(); }));
    EXPECT_EQ(window.geometry(), before.adjusted(-80, -60, 80, 60)) << i;
  }
}

TEST_F(PlayerWindow, SaveCurrentFrameWritesTheBytesOnView) {
  test_support::ScopedTempDir dir("velmo_still");
  const Bytes frame = JpegFrames(1, 1234)[0];
  const struct {
    const char* name;
    bool picture;
    QString answer;
    std::string written;            // empty: nothing written
    QString caption;                // the failure box; empty: none
  } rows[] = {
      {"no picture", false, QString("x.jpg"), "", ""},
      {"a name without a dot", true, QString::fromStdString(dir.Path() + "snapshot"), "snapshot.jpg", ""},
      {"a missing folder", true, QString::fromStdString(dir.Path() + "none/frame.jpg"), "", "File creation failed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Answers answers;
    answers.files = {row.answer};
    CPlayerDlg window(PlayerDlgOptions{&answers, {}});
    if (row.picture) window.Picture()->ShowJpeg(frame);
    window.RunCommand(kCmdSaveFrame);
    EXPECT_EQ(answers.asked.size(), row.picture ? 1u : 0u);
    if (row.picture) {
      EXPECT_EQ(answers.asked[0].suggestedName, kStillSuggestedName);
      EXPECT_EQ(answers.asked[0].filter, kStillFilter);
    }
    if (!row.written.empty()) {
      EXPECT_EQ(ReadBytes(dir.Path() + row.written), frame);
    }
    if (row.caption.isEmpty()) {
      EXPECT_TRUE(answers.told.empty());
    } else {
      ASSERT_EQ(answers.told.size(), 1u);
      // The reason follows the text: the path and the system's words.
      EXPECT_TRUE(answers.told[0].text.startsWith(kStillSaveFailed));
      EXPECT_TRUE(answers.told[0].text.contains(": No such file or directory")) << answers.told[0].text.toStdString();
      EXPECT_EQ(answers.told[0].caption, row.caption);
      EXPECT_EQ(answers.told[0].icon, BoxIcon::Error);
    }
  }
}

// The size commands run while the window runs its own loop, as the program runs
// it: the window stays on screen and only the test ends the loop.
TEST_F(PlayerWindow, SizeCommandsKeepTheRunningWindowOpen) {
  EchoPlayer player;
  CPlayerDlg& window = *player.window;
  window.Start();
  std::vector<std::string> seen;
  const auto after = [&](const char* what) { seen.push_back(std::string(window.isVisible() ? "shown" : "hidden") + " after " + what); };
  QTimer::singleShot(0, &window, [&] {
    window.RunCommand(kCmdSetWindow640x480);
    QTimer::singleShot(10, &window, [&] {
      after("Set Window to 640x480");
      window.RunCommand(kCmdRestore);
      QTimer::singleShot(10, &window, [&] {
        after("Restore");
        window.done(42);
      });
    });
  });
  EXPECT_EQ(window.exec(), 42);
  EXPECT_EQ(seen, (std::vector<std::string>{"shown after Set Window to 640x480", "shown after Restore"}));
  EXPECT_EQ(window.size(), window.FirstSize());
}

TEST_F(PlayerWindow, ClosingStopsThePlaybackThreadThenEndsTheWindow) {
  test_support::ScopedTempDir dir("velmo_close");
  WriteBytes(dir.Path() + "a.mjpg", player_test::Join(JpegFrames(2, 1)));
  Answers answers;
  CPlayerDlg window(PlayerDlgOptions{&answers, {}});
  int finished = 0;
  QObject::connect(&window, &QDialog::finished, [&] { ++finished; });
  window.Start(dir.Path() + "a.mjpg");
  ASSERT_TRUE(WaitUntil([&] { return window.Picture()->HasPicture(); }));
  window.close();
  EXPECT_EQ(window.CopyDialog(), nullptr) << "the progress dialog goes first";
  ASSERT_TRUE(WaitUntil([&] { return finished == 1; }));
  EXPECT_EQ(window.ThreadId(), 0u);
  EXPECT_EQ(CThreadRegistry::Instance().Count(), 0u);
}

}  // namespace
