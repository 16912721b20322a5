// The main window over the controller: its menu, the commands users give it,
// the hidden start, closing, the Delete key, grid saving, sorting and Exit,
// with stand-in workers.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
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
  std::unique_ptr<CMainWindow> Make(bool hidden = false, int hiddenResumeMs = 30000) {
    ui::MainWindowOptions options;
    options.settingsPath = dir_.Path() + "tollan.cfg";
    options.logFilePath = dir_.Path() + "Logfile.txt";
    options.autostartEntryPath = dir_.Path() + "autostart/tollan.desktop";
    options.programPath = "/usr/bin/tollan";
    options.hiddenStart = hidden;
    options.hiddenResumeMs = hiddenResumeMs;
    options.workerFactory = [this](app::WorkerRequest request) {
      {
        std::lock_guard<std::mutex> lock(log_.mutex);
        log_.starts.emplace_back(camera::GetText(request.record->url), request.resume);
      }
      auto handle = platform::MessageThread::CreateSuspended(std::make_unique<FakeWorker>(request.mainWindow, &log_));
      platform::MessageThread::Resume(handle);
      return handle;
    };
    options.prompts.confirmDelete = [this](QWidget*) {
      ++deleteQuestions_;
      return answerYes_;
    };
    options.prompts.error = [](QWidget*, const QString&, const QString&) {};
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
};

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
      "Add New IP Camera",       "Add New DirectX Camera", "",
      "View Selected Camera",    "Edit Selected Camera",   "Delete Selected Cameras",
      "",                        "Resume Selected Cameras", "Start Selected Cameras",
      "Stop Selected Cameras",   "",                       "Resume All Cameras",
      "Start All Cameras",       "Stop All Cameras"};
  EXPECT_EQ(texts, expected);
  EXPECT_EQ(window->list().ItemText(0, 0), "Started");
  EXPECT_EQ(window->list().ItemText(0, 1), "IP");
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
    auto restored = Make(true, 100);
    EXPECT_FALSE(restored->isVisible() && !restored->isMinimized());
    EXPECT_TRUE(restored->HiddenResumePending());
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
  auto worker = platform::MessageThread::CreateSuspended(std::make_unique<PropertiesWorker>(closed));
  platform::MessageThread::Resume(worker);
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
