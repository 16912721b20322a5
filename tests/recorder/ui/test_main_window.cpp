// The main window over the controller: its menu, the commands users give it,
// the hidden start, closing, the Delete key, grid saving, sorting and Exit,
// with stand-in workers.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QThread>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "platform/message_thread.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/camera/settings_file.h"
#include "recorder/app/autostart.h"
#include "recorder/capture/capture_messages.h"
#include "recorder/ui/device_properties_dlg.h"
#include "recorder/ui/log_view.h"
#include "recorder/ui/main_window.h"
#include "recorder/ui/message_boxes.h"
#include "recorder/ui/prog_options.h"
#include "recorder/ui/video_dlg.h"
#include "tests/test_support.h"
#include "widgets/list_ctrl_ex.h"
#include "widgets/picture_box.h"

namespace {

using namespace recorder;
using ui::CMainWindow;

// What the stand-in workers were asked to do, across threads.
struct WorkerLog {
  std::mutex mutex;
  std::vector<std::pair<std::string, bool>> starts;  // url, resume
  std::vector<intptr_t> stopReasons;
};

class FakeWorker : public platform::MessageThread {
 public:
  FakeWorker(platform::WindowHandle main, WorkerLog* log) : main_(main), log_(log) {}

 protected:
  bool InitInstance() override {
    platform::Post<camera::to_main_window::CamStatus>(main_, Id(), camera::kStatusStarted);
    return true;
  }
  void OnMessage(platform::Message& msg) override {
    if (!platform::Is<camera::to_worker::ThreadStop>(msg)) return;
    {
      std::lock_guard<std::mutex> lock(log_->mutex);
      log_->stopReasons.push_back(msg.wParam);
    }
    if (msg.wParam != camera::kStopReasonDiscard)
      platform::Post<camera::to_main_window::CamStopped>(main_, Id(), msg.wParam);
    PostQuit(0);
  }

 private:
  platform::WindowHandle main_;
  WorkerLog* log_;
};

void Pump(int ms = 30) {
  QElapsedTimer timer;
  timer.start();
  do {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QThread::msleep(2);
  } while (timer.elapsed() < ms);
}

class MainWindowTest : public ::testing::Test {
 protected:
  // hiddenResumeMs < 0: the program's own delay.
  std::unique_ptr<CMainWindow> Make(bool hidden = false, int hiddenResumeMs = -1) {
    ui::MainWindowOptions options;
    options.settingsPath = dir_.Path() + "tollan.cfg";
    options.logFilePath = dir_.Path() + "Logfile.txt";
    options.autostartEntryPath = dir_.Path() + "autostart/tollan.desktop";
    options.programPath = "/usr/bin/tollan";
    options.hiddenStart = hidden;
    if (hiddenResumeMs >= 0) options.hiddenResumeMs = hiddenResumeMs;
    if (!realWorkers_) options.workerFactory = [this](worker::WorkerParams request) {
      {
        std::lock_guard<std::mutex> lock(log_.mutex);
        log_.starts.emplace_back(camera::GetText(request.record->url), request.resume);
      }
      auto handle = platform::MessageThread::Start(std::make_unique<FakeWorker>(request.mainWindow, &log_));
      return handle;
    };
    options.prompts.confirmDelete = [this](QWidget*) {
      ++deleteQuestions_;
      return answerYes_;
    };
    options.prompts.error = [](QWidget*, const QString&, const QString&) {};
    options.prompts.confirmCut = [this](QWidget*, const QString& file, int64_t frames) {
      cutQuestions_.emplace_back(file.toStdString(), frames);
      return cutAnswer_;
    };
    auto window = std::make_unique<CMainWindow>(std::move(options));
    window->Start();
    return window;
  }
  // Cameras cam0 (top) .. cam<n-1>, each started by being added.
  void AddCameras(CMainWindow& window, int n) {
    for (int i = n - 1; i >= 0; --i) {
      auto record = window.controller().NewCameraRecord(camera::kCameraIp);
      camera::SetText(record->url, "http://127.0.0.1:9/cam" + std::to_string(i));
      camera::SetText(record->savePath, dir_.Path() + "rec/cam" + std::to_string(i) + ".mjpg");
      window.AddCamera(camera::kCameraIp, std::move(record));
    }
    Pump();
  }
  size_t Starts() {
    std::lock_guard<std::mutex> lock(log_.mutex);
    return log_.starts.size();
  }
  std::vector<std::string> SavedUrls() {
    std::vector<std::string> urls;
    for (auto& cam : camera::LoadSettingsFile(dir_.Path() + "tollan.cfg").cameras) urls.push_back(camera::GetText(cam->url));
    return urls;
  }

  test_support::ScopedTempDir dir_{"mainwindow"};
  WorkerLog log_;
  int deleteQuestions_ = 0;
  bool answerYes_ = true;
  bool realWorkers_ = false;
  std::vector<std::pair<std::string, int64_t>> cutQuestions_;  // file, frames
  ui::CutAnswer cutAnswer_ = ui::CutAnswer::Cancel;
};

// The user's mouse on the camera list: a press and release at a point of its rows' area.
void Click(widgets::CListCtrlEx& list, QPoint at, Qt::MouseButton button) {
  QWidget* area = list.viewport();
  const QPointF local(at), global(area->mapToGlobal(at));
  QMouseEvent press(QEvent::MouseButtonPress, local, global, button, button, Qt::NoModifier);
  QApplication::sendEvent(area, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, local, global, button, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(area, &release);
}

QPoint RowPoint(widgets::CListCtrlEx& list, int row) {
  return list.visualRect(list.model()->index(row, 0)).center();
}
QPoint BelowTheRows(widgets::CListCtrlEx& list) {
  const QRect last = list.visualRect(list.model()->index(list.ItemCount() - 1, 0));
  return QPoint(last.center().x(), last.bottom() + 40);
}

// What the user saw of the context menu a right click opened.
struct MenuSeen {
  QStringList entries;  // without separators
  QPoint at;            // the menu's top-left corner on the screen
  QPoint cursor;        // where the click was, on the screen
};

// Right-clicks at the point and picks the entry (none: closes the menu).
MenuSeen RightClick(widgets::CListCtrlEx& list, QPoint at, const QString& choose = QString()) {
  MenuSeen seen;
  seen.cursor = list.viewport()->mapToGlobal(at);
  // On the stack: the menu's own loop runs inside the click, and the timer goes
  // with this call even if no menu ever opened.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&poll, &seen, choose] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    poll.stop();
    seen.at = menu->pos();
    QAction* picked = nullptr;
    for (QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      seen.entries << action->text();
      if (action->text() == choose) picked = action;
    }
    if (!picked) {
      menu->close();
      return;
    }
    menu->setActiveAction(picked);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(menu, &enter);
  });
  poll.start(5);
  Click(list, at, Qt::RightButton);
  return seen;
}

// A recording of `frames` frames, as the recorder leaves one.
void WriteRecording(const std::string& path, int frames) {
  std::string bytes;
  for (int i = 0; i < frames; ++i) bytes += std::string("\xFF\xD8\xFF\xE0 frame ") + char('0' + i) + "\xFF\xD9";
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST_F(MainWindowTest, MenuHoldsTheCameraEntriesOnlyWithASelectionMark) {
  auto window = Make();
  AddCameras(*window, 1);
  window->list().SetSelectionMark(-1);
  std::vector<int> ids;
  for (auto& [text, id] : window->MenuEntries()) ids.push_back(id);
  EXPECT_EQ(ids, (std::vector<int>{150, 169, 0, 151, 152}));
  window->list().SetSelectionMark(0);
  std::vector<QString> texts;
  for (auto& [text, id] : window->MenuEntries()) texts.push_back(text);
  const std::vector<QString> expected = {
      "Program Options",         "View Program Log",       "",
      "Add New IP Camera",       "Add New Local Camera", "",
      "View Selected Camera",    "Edit Selected Camera",   "Delete Selected Cameras",
      "",                        "Resume Selected Cameras", "Start Selected Cameras",
      "Stop Selected Cameras",   "",                       "Resume All Cameras",
      "Start All Cameras",       "Stop All Cameras"};
  EXPECT_EQ(texts, expected);
  EXPECT_EQ(window->list().ItemText(0, 0), "Started");
  EXPECT_EQ(window->list().ItemText(0, 1), "IP");
}

// The Type column names what the worker reads: an IP camera with an rtsp:// or
// rtsps:// address is an RTSP camera.
TEST_F(MainWindowTest, TypeColumnNamesRtspCameras) {
  auto window = Make();
  const std::pair<const char*, const char*> cases[] = {
      {"http://127.0.0.1:9/cam", "IP"}, {"rtsp://127.0.0.1:9/live", "RTSP"}, {"RTSPS://127.0.0.1:9/live", "RTSP"}};
  for (const auto& [url, type] : cases) {
    auto record = window->controller().NewCameraRecord(camera::kCameraIp);
    camera::SetText(record->url, url);
    camera::SetText(record->savePath, dir_.Path() + "rec/" + std::to_string(window->list().ItemCount()) + ".mjpg");
    window->AddCamera(camera::kCameraIp, std::move(record));
    Pump();
    EXPECT_EQ(window->list().ItemText(0, 1), type) << url;
  }
}

TEST_F(MainWindowTest, StartAllSkipsRunningCamerasAndStopSelectedStopsTheSelection) {
  auto window = Make();
  AddCameras(*window, 3);
  window->list().SelectRow(1);
  window->list().SetSelectionMark(1);
  window->RunCommand(ui::kCmdStopSelected);
  Pump();
  EXPECT_EQ(window->list().ItemText(1, 0), "Stopped");
  const size_t before = Starts();
  window->RunCommand(ui::kCmdStartAll);
  Pump();
  ASSERT_EQ(Starts(), before + 1);
  EXPECT_EQ(log_.starts.back(), std::make_pair(std::string("http://127.0.0.1:9/cam1"), false));
  EXPECT_EQ(window->list().ItemText(1, 0), "Started");
}

TEST_F(MainWindowTest, DeleteKeyAsksThenDiscardsTheRunningCameraAndSaves) {
  auto window = Make();
  AddCameras(*window, 2);
  window->list().SelectRow(0);
  window->list().SetSelectionMark(0);
  answerYes_ = false;
  window->list().onDeleteKey();
  Pump();
  EXPECT_EQ(deleteQuestions_, 1);
  EXPECT_EQ(window->controller().CameraCount(), 2u) << "No keeps the camera";
  answerYes_ = true;
  window->list().onDeleteKey();
  Pump(100);
  EXPECT_EQ(window->controller().CameraCount(), 1u);
  EXPECT_EQ(window->list().ItemCount(), 1);
  EXPECT_EQ(window->list().ItemText(0, 2).toStdString(), dir_.Path() + "rec/cam1.mjpg");
  {
    std::lock_guard<std::mutex> lock(log_.mutex);
    EXPECT_EQ(log_.stopReasons, std::vector<intptr_t>{camera::kStopReasonDiscard});
  }
  EXPECT_EQ(SavedUrls(), std::vector<std::string>{"http://127.0.0.1:9/cam1"});
}

TEST_F(MainWindowTest, DoubleClickShowsARunningCamerasHiddenViewAndSaveToTakesTheWidth) {
  auto window = Make();
  AddCameras(*window, 1);
  ui::CVideoDlg* view = window->LiveViewOf(0);
  ASSERT_NE(view, nullptr);
  EXPECT_FALSE(view->isVisible());
  window->ActivateRow(0);
  EXPECT_TRUE(view->isVisible());
  // Only the "Save To" column follows the window's width.
  window->show();
  Pump();
  const int status = window->list().ColumnWidth(0), saveTo = window->list().ColumnWidth(2);
  window->resize(window->width() + 120, window->height());
  Pump();
  EXPECT_EQ(window->list().ColumnWidth(0), status);
  EXPECT_EQ(window->list().ColumnWidth(2), saveTo + 120);
}

TEST_F(MainWindowTest, ANamedCameraTitlesItsViewAndRowWithItsName) {
  auto window = Make();
  AddCameras(*window, 2);
  auto named = camera::CopyCamera(*window->controller().Row(0).record);
  named->name = "front door";
  window->controller().EditCamera(0, std::move(named));
  Pump();
  struct Case {
    size_t row;
    const char* title;
    const char* toolTip;
  };
  for (const Case& c : {Case{0, "front door", "front door"}, Case{1, "cam1.mjpg", ""}}) {
    SCOPED_TRACE(c.row);
    ASSERT_NE(window->LiveViewOf(c.row), nullptr);
    EXPECT_EQ(window->LiveViewOf(c.row)->windowTitle(), c.title);
    EXPECT_EQ(window->list().ItemToolTip(int(c.row)), c.toolTip);
  }
}

TEST_F(MainWindowTest, SortingTheListReordersTheSettingsFile) {
  auto window = Make();
  AddCameras(*window, 3);
  window->list().SortByColumn(2);  // Save To, ascending
  window->list().SortByColumn(2);  // descending
  EXPECT_EQ(SavedUrls(), (std::vector<std::string>{"http://127.0.0.1:9/cam2", "http://127.0.0.1:9/cam1",
                                                   "http://127.0.0.1:9/cam0"}));
  // Status messages still reach the moved rows.
  window->list().SelectRow(0);
  window->list().SetSelectionMark(0);
  window->RunCommand(ui::kCmdStopSelected);
  Pump();
  EXPECT_EQ(window->list().ItemText(0, 0), "Stopped");
  EXPECT_EQ(window->list().ItemText(2, 0), "Started");
}

TEST_F(MainWindowTest, SavedGridOfALiveViewRestartsItsCameraAndIsStored) {
  auto window = Make();
  AddCameras(*window, 1);
  ui::CVideoDlg* view = window->LiveViewOf(0);
  ASSERT_NE(view, nullptr);
  view->Picture()->RunCommand(widgets::CPictureBox::kFillGrid);
  view->Picture()->RunCommand(widgets::CPictureBox::kSaveGrid);
  Pump(150);
  const auto saved = camera::LoadSettingsFile(dir_.Path() + "tollan.cfg");
  ASSERT_EQ(saved.cameras.size(), 1u);
  ASSERT_EQ(saved.cameras[0]->motionGrid.size(), camera::kGridBytes);
  EXPECT_EQ(saved.cameras[0]->motionGrid[0], 1);
  std::lock_guard<std::mutex> lock(log_.mutex);
  EXPECT_EQ(log_.stopReasons, std::vector<intptr_t>{camera::kStopReasonRestart});
  ASSERT_EQ(log_.starts.size(), 2u);
  EXPECT_TRUE(log_.starts.back().second) << "restarted in append mode";
}

TEST_F(MainWindowTest, HiddenStartResumesAllLaterUnlessRestoredFirst) {
  {
    auto first = Make();
    AddCameras(*first, 2);
    first->RunCommand(ui::kCmdStopAll);
    Pump();
  }
  const size_t before = Starts();
  {
    auto restored = Make(true);
    EXPECT_FALSE(restored->isVisible() && !restored->isMinimized());
    EXPECT_TRUE(restored->HiddenResumePending());
    // Half a minute after a hidden start.
    EXPECT_GT(restored->HiddenResumeLeftMs(), 29000);
    EXPECT_LE(restored->HiddenResumeLeftMs(), 30000);
    restored->Restore();
    EXPECT_FALSE(restored->HiddenResumePending());
    EXPECT_TRUE(restored->isVisible());
    Pump(200);
    EXPECT_EQ(Starts(), before);
  }
  auto hidden = Make(true, 50);
  Pump(200);
  ASSERT_EQ(Starts(), before + 2);
  EXPECT_TRUE(log_.starts.back().second) << "the automatic start appends";
}

TEST_F(MainWindowTest, CloseKeepsTheProgramAndExitShutsDownInOrder) {
  auto window = Make();
  AddCameras(*window, 2);
  window->show();
  window->close();
  Pump();
  EXPECT_TRUE(!window->isVisible() || window->isMinimized());
  EXPECT_EQ(window->controller().CameraCount(), 2u);
  window->Exit();
  QElapsedTimer timer;
  timer.start();
  while (window->controller().CameraCount() != 0 && timer.elapsed() < 5000) Pump(10);
  EXPECT_EQ(window->controller().CameraCount(), 0u);
  std::lock_guard<std::mutex> lock(log_.mutex);
  EXPECT_EQ(log_.stopReasons, (std::vector<intptr_t>{camera::kStopReasonDiscard, camera::kStopReasonDiscard}));
  EXPECT_EQ(SavedUrls().size(), 2u) << "the shutdown does not rewrite the settings";
}

// A new user right-clicks the list before picking any row: the short menu, and
// no row becomes selected because the list had the focus. A row picked with the
// right button gets the whole menu, and its commands reach that row only.
TEST_F(MainWindowTest, TheMenuActsOnlyOnTheRowTheUserPicked) {
  auto window = Make();
  AddCameras(*window, 2);
  widgets::CListCtrlEx& list = window->list();
  window->show();
  list.setFocus();
  Pump();
  MenuSeen menu = RightClick(list, BelowTheRows(list));
  EXPECT_EQ(menu.entries, QStringList({"Program Options", "View Program Log", "Add New IP Camera",
                                       "Add New Local Camera"}));
  EXPECT_EQ(menu.at, menu.cursor) << "the menu opens at the cursor";
  EXPECT_TRUE(list.SelectedRows().empty());
  list.onDeleteKey();
  window->RunCommand(ui::kCmdStopSelected);
  Pump();
  EXPECT_EQ(deleteQuestions_, 0);
  EXPECT_EQ(window->controller().CameraCount(), 2u);
  EXPECT_EQ(list.ItemText(0, 0), "Started");

  menu = RightClick(list, RowPoint(list, 1), "Stop Selected Cameras");
  EXPECT_EQ(menu.entries.size(), 13);
  Pump();
  EXPECT_EQ(list.ItemText(0, 0), "Started");
  EXPECT_EQ(list.ItemText(1, 0), "Stopped");

  // Below the last row the click picks nothing: the whole menu (a row was picked
  // before) opens at the cursor, and its commands find no selected row.
  menu = RightClick(list, BelowTheRows(list), "Start Selected Cameras");
  EXPECT_EQ(menu.entries.size(), 13);
  EXPECT_EQ(menu.at, menu.cursor);
  Pump();
  EXPECT_EQ(list.ItemText(1, 0), "Stopped");

  // A sort forgets the picked row.
  list.SortByColumn(0);
  EXPECT_EQ(RightClick(list, BelowTheRows(list)).entries.size(), 4);
}

// A local camera whose device cannot be opened: the list keeps saying why it
// stopped, with the log's lines as the cell's tip, until it is started again.
TEST_F(MainWindowTest, TheReasonACameraStoppedStaysInTheList) {
  realWorkers_ = true;
  auto window = Make();
  auto record = window->controller().NewCameraRecord(camera::kCameraLocal);
  record->deviceIndex = 99;  // no such device
  const std::string file = dir_.Path() + "rec/local.mjpg";
  camera::SetText(record->savePath, file);
  window->AddCamera(camera::kCameraLocal, std::move(record));
  widgets::CListCtrlEx& list = window->list();
  EXPECT_EQ(list.ItemText(0, 1), "Local");
  const auto tip = [&] { return list.tipFor(0, 0).toStdString(); };
  QElapsedTimer timer;
  timer.start();
  while ((list.ItemText(0, 0) != "Stopped (Init Failed)" ||
          tip().find("Local camera thread exited") == std::string::npos) &&
         timer.elapsed() < 10000)
    Pump(10);
  EXPECT_EQ(list.ItemText(0, 0), "Stopped (Init Failed)");
  EXPECT_NE(tip().find("Failed to Init the local camera, file: " + file), std::string::npos) << tip();
  // Neither text is cut off, and Save To reaches the right edge.
  window->show();
  Pump();
  const QFontMetrics metrics(list.font());
  EXPECT_GT(list.ColumnWidth(0), metrics.horizontalAdvance("Stopped (Init Failed)"));
  EXPECT_GT(list.ColumnWidth(1), metrics.horizontalAdvance("Local"));
  EXPECT_EQ(list.ColumnWidth(0) + list.ColumnWidth(1) + list.ColumnWidth(2), list.viewport()->width());
  Pump(100);
  EXPECT_EQ(list.ItemText(0, 0), "Stopped (Init Failed)") << "nothing later overwrites it";
  EXPECT_EQ(list.tipFor(0, 2), "") << "only the status cell explains";

  Click(list, RowPoint(list, 0), Qt::LeftButton);
  window->RunCommand(ui::kCmdResumeSelected);
  EXPECT_EQ(list.ItemText(0, 0), "Stopped") << "starting again clears the old reason";
  EXPECT_EQ(tip(), "");
  timer.restart();
  while (list.ItemText(0, 0) != "Stopped (Init Failed)" && timer.elapsed() < 10000) Pump(10);
  EXPECT_EQ(list.ItemText(0, 0), "Stopped (Init Failed)");
}

// "Start Selected Cameras" on a camera whose recording holds frames asks first;
// only "Start Anew" empties it. Nothing is asked where nothing would be lost.
TEST_F(MainWindowTest, StartingAnewAsksBeforeEmptyingARecording) {
  struct Case {
    const char* name;
    int frames;  // -1: no file
    ui::CutAnswer answer;
    bool asked;
    int starts;  // 0 or 1
    bool resume;
  };
  const Case cases[] = {
      {"cancel", 203, ui::CutAnswer::Cancel, true, 0, false},
      {"start anew", 3, ui::CutAnswer::StartAnew, true, 1, false},
      {"resume", 3, ui::CutAnswer::Resume, true, 1, true},
      {"empty file", 0, ui::CutAnswer::Cancel, false, 1, false},
      {"no file", -1, ui::CutAnswer::Cancel, false, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir_.Path() + "rec/cam0.mjpg";
    if (c.frames >= 0) {
      WriteRecording(file, c.frames);
    }
    auto window = Make();
    AddCameras(*window, 1);
    EXPECT_TRUE(log_.starts.back().second) << "adding appends to what the save path names";
    window->RunCommand(ui::kCmdStopAll);
    Pump();
    cutQuestions_.clear();
    cutAnswer_ = c.answer;
    const size_t before = Starts();
    Click(window->list(), RowPoint(window->list(), 0), Qt::LeftButton);
    window->RunCommand(ui::kCmdStartSelected);
    Pump();
    ASSERT_EQ(cutQuestions_.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(cutQuestions_[0], std::make_pair(file, int64_t(c.frames)));
    }
    ASSERT_EQ(Starts(), before + size_t(c.starts));
    if (c.starts) {
      EXPECT_EQ(log_.starts.back().second, c.resume);
    }
    window.reset();
    std::remove(file.c_str());
  }
}

// Every window opens over its shown owner, wherever that is, and inside the
// screen's free area, so its title bar can be reached.
TEST_F(MainWindowTest, WindowsOpenOverTheirOwnerInsideTheScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  struct Case {
    const char* name;
    QPoint owner;  // the main window's top-left corner
    bool ownerShown;
  };
  const Case cases[] = {
      {"owner in the middle", screen.center() - QPoint(240, 160), true},
      {"owner past the top-left corner", screen.topLeft() - QPoint(200, 120), true},
      {"owner past the bottom-right corner", screen.bottomRight() - QPoint(100, 80), true},
      {"owner hidden", screen.topLeft(), false},
  };
  enum Which { kLiveView, kLogView, kSourceDialogOfAdd, kOptionsOfEdit, kProgramOptions };
  for (const Case& c : cases) {
    for (Which which : {kLiveView, kLogView, kSourceDialogOfAdd, kOptionsOfEdit, kProgramOptions}) {
      SCOPED_TRACE(std::string(c.name) + " / window " + std::to_string(which));
      auto window = Make();
      AddCameras(*window, 1);
      window->move(c.owner);
      window->setVisible(c.ownerShown);
      Pump();
      QRect placed;
      if (which == kLiveView) {
        window->LiveViewOf(0)->ShowView();
        placed = window->LiveViewOf(0)->frameGeometry();
      } else if (which == kLogView) {
        window->RunCommand(ui::kCmdViewLog);
        QElapsedTimer timer;
        timer.start();
        while (!window->logView()->isVisible() && timer.elapsed() < 5000) Pump(10);
        placed = window->logView()->frameGeometry();
      } else {
        QTimer poll;  // the dialog's loop runs inside RunCommand
        QObject::connect(&poll, &QTimer::timeout, [&poll, &placed] {
          auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
          if (!dialog) return;
          poll.stop();
          placed = dialog->frameGeometry();
          dialog->reject();
        });
        poll.start(5);
        window->list().SetSelectionMark(0);
        window->RunCommand(which == kSourceDialogOfAdd ? ui::kCmdAddIpCamera
                           : which == kOptionsOfEdit   ? ui::kCmdEditSelected
                                                       : ui::kCmdProgramOptions);
      }
      ASSERT_TRUE(placed.isValid());
      EXPECT_TRUE(screen.contains(placed)) << placed.x() << "," << placed.y() << " " << placed.width() << "x"
                                           << placed.height();
      const QRect owner = window->frameGeometry();
      if (c.ownerShown && screen.contains(owner)) {
        EXPECT_LE((placed.center() - owner.center()).manhattanLength(), 2) << "centred over the owner";
      }
    }
  }
}

// Stands in for the worker that holds a device: notes what its properties window says.
class PropertiesWorker : public platform::MessageThread {
 public:
  explicit PropertiesWorker(std::shared_ptr<std::atomic<int>> closed) : closed_(std::move(closed)) {}

 protected:
  void OnMessage(platform::Message& msg) override {
    if (platform::Is<capture::to_device_worker::PropertiesClosed>(msg)) ++*closed_;
    if (platform::Is<camera::to_worker::ThreadStop>(msg)) PostQuit(0);
  }

 private:
  std::shared_ptr<std::atomic<int>> closed_;
};

TEST_F(MainWindowTest, ExitClosesADevicePropertiesWindowBeforeStoppingAnything) {
  auto window = Make();
  AddCameras(*window, 1);
  auto closed = std::make_shared<std::atomic<int>>(0);
  auto worker = platform::MessageThread::Start(std::make_unique<PropertiesWorker>(closed));
  capture::DevicePropertiesRequest request;
  request.controls.resize(1);
  request.controls[0].name = "Brightness";
  request.controls[0].maximum = 255;
  request.worker = worker->Id();
  auto properties = std::make_unique<ui::CDevicePropertiesDlg>(std::move(request));
  properties->show();
  Pump();
  window->Exit();
  // The window is asked to close and given its second; nothing is stopped yet.
  EXPECT_FALSE(window->controller().ShuttingDown());
  QElapsedTimer timer;
  timer.start();
  while (closed->load() == 0 && timer.elapsed() < 5000) Pump(10);
  EXPECT_EQ(closed->load(), 1);
  EXPECT_FALSE(properties->isVisible());
  while (window->controller().CameraCount() != 0 && timer.elapsed() < 10000) Pump(10);
  EXPECT_EQ(window->controller().CameraCount(), 0u);
  platform::Post<camera::to_worker::ThreadStop>(worker->Id());
  EXPECT_TRUE(worker->Wait(5000));
}

// Opening drops an entry that starts another program; OK writes what the boxes say.
TEST_F(MainWindowTest, ProgramOptionsKeepTheAutostartEntryCurrent) {
  const std::string entry = dir_.Path() + "autostart/tollan.desktop";
  ASSERT_TRUE(app::WriteAutostartEntry(entry, "/old/place/tollan", true));
  ui::CProgOptions stale(nullptr, 1, entry, "/usr/bin/tollan");
  EXPECT_FALSE(stale.AutostartTicked());
  EXPECT_TRUE(test_support::ReadFile(entry).empty()) << "the stale entry is deleted on opening";
  stale.SetBoxes(true, false);
  stale.accept();
  EXPECT_EQ(stale.logToFile(), 0);
  EXPECT_TRUE(app::CheckAutostartEntry(entry, "/usr/bin/tollan"));
  ui::CProgOptions current(nullptr, 0, entry, "/usr/bin/tollan");
  EXPECT_TRUE(current.AutostartTicked());
  current.SetBoxes(false, true);
  current.accept();
  EXPECT_EQ(current.logToFile(), 1);
  EXPECT_FALSE(app::CheckAutostartEntry(entry, "/usr/bin/tollan"));
}

}  // namespace

namespace {

class CollectedBoxes : public ui::MessageBoxes {
 public:
  void Tell(QWidget*, const QString& text, const QString&, ui::BoxIcon) override { told.push_back(text.toStdString()); }
  bool Ask(QWidget*, const QString&, const QString&) override { return true; }
  std::vector<std::string> told;
};

// The unattended fields: OK takes values in range, refuses others with a message
// and keeps the dialog open.
TEST_F(MainWindowTest, ProgramOptionsTakeTheUnattendedSettingsInRange) {
  struct Case {
    int32_t keepFree;
    int32_t offlineAfter;
    std::string command;
    bool accepted;
    const char* message;  // part of the refusal
  } cases[] = {
      {20, 60, "mail -s \"$TOLLAN_EVENT\" owner", true, ""},
      {0, 1, "", true, ""},
      {90, 86400, "", true, ""},
      {91, 60, "", false, "keep-free: must be a whole number from 0 to 90"},
      {20, 0, "", false, "offline-after: must be a whole number from 1 to 86400"},
  };
  const std::string entry = dir_.Path() + "autostart/tollan.desktop";
  for (const Case& c : cases) {
    CollectedBoxes boxes;
    ui::ScopedMessageBoxes scoped(boxes);
    ui::CProgOptions dialog(nullptr, 0, entry, "/usr/bin/tollan");
    camera::ProgramSettings typed;
    typed.keepFreePercent = c.keepFree;
    typed.offlineAfterSeconds = c.offlineAfter;
    typed.onEventCommand = c.command;
    dialog.SetUnattended(typed);
    dialog.accept();
    EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted) << c.keepFree << " " << c.offlineAfter;
    if (c.accepted) {
      EXPECT_TRUE(boxes.told.empty());
      EXPECT_EQ(dialog.unattended().keepFreePercent, c.keepFree);
      EXPECT_EQ(dialog.unattended().offlineAfterSeconds, c.offlineAfter);
      EXPECT_EQ(dialog.unattended().onEventCommand, c.command);
    } else {
      ASSERT_EQ(boxes.told.size(), 1u);
      EXPECT_NE(boxes.told[0].find(c.message), std::string::npos) << boxes.told[0];
    }
  }
}

}  // namespace
