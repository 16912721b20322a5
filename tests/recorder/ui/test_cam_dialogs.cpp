// The camera options and source dialogs, offscreen: the preview start, Save with
// its path check, the save format radios, the camera type radios, add mode and
// shutdown cancelling, the address test against the test camera, the device
// dialog without and with a capture catalogue, and the layout at opening size.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>

#include "media/frame_messages.h"
#include "platform/message_thread.h"
#include "platform/timecode.h"
#include "recorder/camera/events.h"
#include "recorder/camera/field_table.h"
#include "recorder/camera/messages.h"
#include "recorder/camera/option_rules.h"
#include "recorder/camera/source_rules.h"
#include "recorder/capture/scripted_service.h"
#include "recorder/capture/thread_dx_cam.h"
#include "recorder/net/rtsp_thread.h"
#include "recorder/net/soc_thread.h"
#include "recorder/ui/cam_options_dlg.h"
#include "recorder/ui/cam_sel_dx_dlg.h"
#include "recorder/ui/cam_sel_ip_dlg.h"
#include "tools/rtspcam/rtspcam_process.h"
#include "recorder/ui/camera_dialog_screenshots.h"
#include "recorder/ui/device_properties_dlg.h"
#include "recorder/ui/message_boxes.h"
#include "recorder/ui/open_dialogs.h"
#include "tests/test_support.h"
#include "tools/testcam/testcam_server.h"
#include "widgets/picture_box.h"

namespace recorder::ui {
namespace {

using camera::CameraRecord;

// Message boxes that record what they were given and answer from a script.
class ScriptedBoxes : public MessageBoxes {
 public:
  struct Shown {
    QString text, caption;
  };
  void Tell(QWidget*, const QString& text, const QString& caption, BoxIcon) override { told.push_back({text, caption}); }
  bool Ask(QWidget*, const QString& text, const QString& caption) override {
    asked.push_back({text, caption});
    const bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.pop_front();
    return yes;
  }
  std::vector<Shown> told, asked;
  std::deque<bool> answers;
};

// A snapshot starter that only records what it was asked for.
struct StarterLog {
  struct Call {
    std::unique_ptr<CameraRecord> record;
    platform::WindowHandle target;
    platform::WindowHandle propertiesOwner;
  };
  std::vector<Call> calls;
  SnapshotStarter Starter() {
    return [this](std::unique_ptr<CameraRecord> record, platform::WindowHandle target,
                  platform::WindowHandle propertiesOwner) {
      calls.push_back({std::move(record), target, propertiesOwner});
      return std::make_shared<platform::ThreadHandle>(1);
    };
  }
};

// A worker stand-in that records the messages posted to it.
class Inbox {
 public:
  Inbox() : state_(std::make_shared<State>()) {
    handle_ = platform::MessageThread::Start(std::make_unique<Loop>(state_));
  }
  ~Inbox() {
    platform::PostThreadMessage(handle_->Id(), kQuit, 0, 0);
    handle_->Wait(5000);
  }
  platform::ThreadId Id() const { return handle_->Id(); }
  std::vector<platform::Message> Received() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<platform::Message> copy;
    for (const auto& m : state_->messages) copy.push_back(platform::MakeMessage(m.id, m.wParam, m.lParam, nullptr));
    return copy;
  }

 private:
  static constexpr uint32_t kQuit = platform::WM_USER + 999;
  struct State {
    std::mutex mutex;
    std::vector<platform::Message> messages;
  };
  class Loop : public platform::MessageThread {
   public:
    explicit Loop(std::shared_ptr<State> state) : state_(std::move(state)) {}

   protected:
    void OnMessage(platform::Message& msg) override {
      if (msg.id == kQuit) {
        PostQuit(0);
        return;
      }
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->messages.push_back(platform::MakeMessage(msg.id, msg.wParam, msg.lParam, nullptr));
    }

   private:
    std::shared_ptr<State> state_;
  };
  std::shared_ptr<State> state_;
  platform::ThreadHandlePtr handle_;
};

template <class T>
T* Child(QWidget& parent, const char* name) {
  T* child = parent.findChild<T*>(name);
  EXPECT_NE(child, nullptr) << name;
  return child;
}

// Runs the event loop until the condition holds or the time is up.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

// Acts on the modal dialog on top once one is open (the test's view of the user).
void WhenModal(std::function<void(QDialog&)> act) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      act(*dialog);
    }
  });
  poll->start(10);
}

std::unique_ptr<CameraRecord> Camera(int32_t type, const std::string& url = "http://127.0.0.1:9/cam.jpg") {
  auto camera = camera::CreateDefaultCamera();
  camera->cameraType = type;
  camera::SetText(camera->url, url);  // never the default address
  return camera;
}

TEST(CameraOptions, EditModeStartsThePreviewForTheCheckedSource) {
  struct Case {
    const char* name;
    int32_t type;
    bool workerRunning;
    bool snapshot;   // a snapshot worker is started
    bool sendFrame;  // the running worker is asked for a frame
  };
  const Case cases[] = {
      {"stopped network camera", camera::kCameraIp, false, true, false},
      {"running network camera", camera::kCameraIp, true, true, false},
      {"stopped local camera", camera::kCameraLocal, false, true, false},
      {"running local camera", camera::kCameraLocal, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Inbox worker;
    StarterLog log;
    auto camera = Camera(c.type);
    CCamOptionsDlg dialog(*camera, true, c.workerRunning ? worker.Id() : 0, log.Starter());
    EXPECT_TRUE(log.calls.empty());  // constructing starts nothing
    ASSERT_TRUE(dialog.Open());
    const platform::WindowHandle preview = dialog.Preview()->Handle();
    ASSERT_EQ(log.calls.size(), c.snapshot ? 1u : 0u);
    if (c.snapshot) {
      EXPECT_EQ(log.calls[0].target, preview);
      EXPECT_EQ(log.calls[0].record->cameraType, c.type);
      EXPECT_EQ(camera::GetText(log.calls[0].record->url), "http://127.0.0.1:9/cam.jpg");
    }
    if (c.sendFrame) {
      ASSERT_TRUE(WaitUntil([&] { return !worker.Received().empty(); }, 5000));
      EXPECT_EQ(worker.Received()[0].id, camera::to_worker::SendFrame::kNumber);
      EXPECT_EQ(platform::WindowHandle(worker.Received()[0].wParam), preview);
    }
  }
}

TEST(CameraOptions, SaveChecksThePathAndHandsBackANewRecord) {
  const test_support::ScopedTempDir tmp{"optionsave"};
  const std::string root = tmp.Path();
  struct Case {
    std::string path;
    const char* message;  // nullptr: saved
  };
  const Case cases[] = {
      {"video.mjpg", camera::kBadDirectoryMessage},
      {".JPEG", camera::kBadExtensionMessage},
      {root + "cams/video.avi", camera::kBadExtensionMessage},
      {root + "cams/%A/video.mjpg", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ScriptedBoxes boxes;
    ScopedMessageBoxes scope(boxes);
    auto camera = Camera(camera::kCameraIp);
    CCamOptionsDlg dialog(*camera, true, 0, nullptr);
    Child<QLineEdit>(dialog, "saveTo")->setText(QString::fromStdString(c.path));
    Child<QLineEdit>(dialog, "frameDelay")->setText("25000");
    Child<QLineEdit>(dialog, "maxJpgCount")->setText("0");
    Child<QLineEdit>(dialog, "quality")->setText("0");
    // Enter on a page is swallowed; only "&Save" saves.
    dialog.show();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(Child<QLineEdit>(dialog, "saveTo"), &enter);
    EXPECT_TRUE(boxes.told.empty());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    Child<QPushButton>(dialog, "saveButton")->click();
    if (c.message != nullptr) {
      ASSERT_EQ(boxes.told.size(), 1u);
      EXPECT_EQ(boxes.told[0].text, c.message);
      EXPECT_EQ(boxes.told[0].caption, c.message == camera::kBadExtensionMessage ? camera::kInvalidSavePathCaption
                                                                                  : camera::kDirectoryFailedCaption);
      EXPECT_EQ(dialog.result(), QDialog::Rejected);
      EXPECT_EQ(dialog.TakeRecord(), nullptr);
    } else {
      EXPECT_TRUE(boxes.told.empty());
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
      const auto saved = dialog.TakeRecord();
      ASSERT_NE(saved, nullptr);
      EXPECT_EQ(camera::GetText(saved->savePath), c.path);  // codes kept
      EXPECT_TRUE(std::filesystem::is_directory(root + "cams/" + platform::ExpandTimeCodes("%A")));
      EXPECT_EQ(saved->frameDelayMs, 20000);
      EXPECT_EQ(saved->maxJpgCount, 1);
      EXPECT_EQ(saved->jpegQuality, 0);
      EXPECT_EQ(camera::GetText(saved->url), "http://127.0.0.1:9/cam.jpg");
    }
  }
}

// The Saving page's limits are saved as typed (clamped); limits that cannot be
// kept as asked are saved all the same, with a word why.
TEST(CameraOptions, KeepRecordingsLimitsAreSavedWithAWordWhereTheyCannotBeKept) {
  const test_support::ScopedTempDir tmp{"optionkeep"};
  const char* savedHome = std::getenv("HOME");
  const std::string previousHome = savedHome ? savedHome : "";
  setenv("HOME", tmp.Path("home").c_str(), 1);
  std::filesystem::create_directories(tmp.Path("home"));
  struct Case {
    std::string path;
    const char* days;
    const char* megabytes;
    int32_t keepDays, keepMegabytes;
    const char* told;  // part of the word said, "" for none
  } cases[] = {
      {tmp.Path("rec/%A/video.mjpg"), "7", "500", 7, 500, ""},
      {tmp.Path("rec/%A/video.mjpg"), "99999", "0", 36500, 0, ""},
      {tmp.Path("home/%A/video.mjpg"), "0", "500", 0, 500, "is the home folder itself"},
      {tmp.Path("home/%A/video.mjpg"), "0", "0", 0, 0, ""},  // no limit: nothing to say
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + c.days + " " + c.megabytes);
    ScriptedBoxes boxes;
    ScopedMessageBoxes scope(boxes);
    auto camera = Camera(camera::kCameraIp);
    CCamOptionsDlg dialog(*camera, true, 0, nullptr);
    Child<QLineEdit>(dialog, "saveTo")->setText(QString::fromStdString(c.path));
    Child<QLineEdit>(dialog, "keepDays")->setText(c.days);
    Child<QLineEdit>(dialog, "keepMegabytes")->setText(c.megabytes);
    Child<QPushButton>(dialog, "saveButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const auto saved = dialog.TakeRecord();
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->keepDays, c.keepDays);
    EXPECT_EQ(saved->keepMegabytes, c.keepMegabytes);
    if (*c.told) {
      ASSERT_EQ(boxes.told.size(), 1u);
      EXPECT_NE(boxes.told[0].text.toStdString().find(c.told), std::string::npos);
    } else {
      EXPECT_TRUE(boxes.told.empty());
    }
  }
  if (savedHome) setenv("HOME", previousHome.c_str(), 1);
}

TEST(CameraOptions, SaveFormatRadiosSwitchTheExtensionAndTheCountControls) {
  struct Case {
    const char* start;
    const char* radio;
    const char* after;
    bool countShown;
  };
  const Case cases[] = {
      {"/srv/cams/%A/video.mjpg", "saveAsJpg", "/srv/cams/%A/video.jpg", true},
      {"/srv/cams/%A/video.jpg", "saveAsMjpg", "/srv/cams/%A/video.mjpg", false},
      {"/srv/cams/video", "saveAsJpg", "/srv/cams/video", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    auto camera = Camera(camera::kCameraIp);
    camera->saveAsMjpg = std::string(c.radio) == "saveAsJpg";
    CCamOptionsDlg dialog(*camera, true, 0, nullptr);
    EXPECT_EQ(Child<QLineEdit>(dialog, "maxJpgCount")->isHidden(), c.countShown);
    Child<QLineEdit>(dialog, "saveTo")->setText(c.start);
    Child<QRadioButton>(dialog, c.radio)->click();
    EXPECT_EQ(Child<QLineEdit>(dialog, "saveTo")->text().toStdString(), c.after);
    for (const char* name : {"maxJpgCountLabel", "maxJpgCount", "maxJpgCountExample"})
      EXPECT_EQ(!Child<QWidget>(dialog, name)->isHidden(), c.countShown) << name;
  }
}

// The store-as-sent box is usable only while nothing changes the picture; its
// tooltip says what does; Save hands the choice back.
TEST(CameraOptions, StoreAsSentIsOfferedOnlyWhileNothingChangesThePicture) {
  struct Case {
    const char* name;
    const char* control;  // checked (or rotation set) to change the picture; nullptr: nothing
    const char* reason;   // a word of the tooltip; nullptr: enabled, no tooltip
  };
  const Case cases[] = {
      {"nothing", nullptr, nullptr},
      {"flip", "flipHorizontal", "flipping"},
      {"flipVertical", "flipVertical", "flipping"},
      {"turn", "rotation", "rotation"},
      {"overlay", "enableOverlay", "overlay"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedBoxes boxes;
    ScopedMessageBoxes scope(boxes);
    auto camera = Camera(camera::kCameraIp);
    camera->overlayEnabled = 0;
    camera->storeAsSent = 1;
    const test_support::ScopedTempDir tmp{"storeassent"};
    camera::SetText(camera->savePath, tmp.Path() + "video.mjpg");
    CCamOptionsDlg dialog(*camera, true, 0, nullptr);
    auto* box = Child<QCheckBox>(dialog, "storeAsSent");
    EXPECT_TRUE(box->isChecked());
    if (c.control && std::string(c.control) == "rotation")
      Child<QComboBox>(dialog, "rotation")->setCurrentIndex(1);
    else if (c.control)
      Child<QCheckBox>(dialog, c.control)->setChecked(true);
    EXPECT_EQ(box->isEnabled(), c.reason == nullptr);
    EXPECT_EQ(box->toolTip().contains(c.reason ? c.reason : "re-encoded"), c.reason != nullptr)
        << box->toolTip().toStdString();
    box->setChecked(false);
    Child<QPushButton>(dialog, "saveButton")->click();
    const auto saved = dialog.TakeRecord();
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->storeAsSent, 0);
  }
}

TEST(CameraOptions, TypeRadioShowsDeviceSettingsAtOnceAndReachesTheRecordOnTheTick) {
  auto camera = Camera(camera::kCameraIp);
  CCamOptionsDlg dialog(*camera, true, 0, nullptr);
  auto* settings = Child<QPushButton>(dialog, "deviceSettings");
  EXPECT_TRUE(settings->isHidden());
  struct Step {
    const char* radio;
    bool settingsShown;
    int32_t type;
  };
  for (const Step& s : {Step{"directXCamera", true, camera::kCameraLocal}, Step{"ipCamera", false, camera::kCameraIp}}) {
    const int32_t before = dialog.WorkingCopy().cameraType;
    Child<QRadioButton>(dialog, s.radio)->click();
    EXPECT_EQ(!settings->isHidden(), s.settingsShown) << s.radio;
    EXPECT_EQ(dialog.WorkingCopy().cameraType, before) << s.radio;
    dialog.Tick();
    EXPECT_EQ(dialog.WorkingCopy().cameraType, s.type) << s.radio;
  }
}

TEST(CameraOptions, DeviceSettingsGoToTheRunningWorkerOrASnapshotWorker) {
  struct Case {
    const char* name;
    int32_t type;
    bool workerRunning;
    bool posted;    // the running worker is asked
    bool snapshot;  // a snapshot worker opens the device with the dialog as owner
  };
  const Case cases[] = {
      {"running local camera", camera::kCameraLocal, true, true, false},
      {"stopped local camera", camera::kCameraLocal, false, false, true},
      {"network camera", camera::kCameraIp, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Inbox worker;
    StarterLog log;
    auto camera = Camera(c.type);
    CCamOptionsDlg dialog(*camera, true, c.workerRunning ? worker.Id() : 0, log.Starter());
    dialog.ShowPage(CCamOptionsDlg::kPageDevice);
    dialog.show();
    Child<QPushButton>(dialog, "deviceSettings")->click();
    ASSERT_EQ(log.calls.size(), c.snapshot ? 1u : 0u);
    if (c.snapshot) {
      EXPECT_EQ(log.calls[0].target, dialog.Preview()->Handle());
      EXPECT_EQ(log.calls[0].propertiesOwner, dialog.Handle());
      EXPECT_EQ(log.calls[0].record->cameraType, camera::kCameraLocal);
    }
    if (c.posted) {
      ASSERT_TRUE(WaitUntil([&] { return !worker.Received().empty(); }, 5000));
      const auto received = worker.Received();
      EXPECT_EQ(received[0].id, camera::to_worker::ShowDeviceSettings::kNumber);
      EXPECT_EQ(platform::WindowHandle(received[0].wParam), dialog.Preview()->Handle());
      EXPECT_EQ(platform::WindowHandle(received[0].lParam), dialog.Handle());
    } else {
      QApplication::processEvents();
      EXPECT_TRUE(worker.Received().empty());
    }
  }
}

// Acts on the device properties window once it is open.
void WhenPropertiesOpen(std::function<void(CDevicePropertiesDlg&)> act) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    if (auto* window = qobject_cast<CDevicePropertiesDlg*>(OpenDevicePropertiesWindow())) {
      poll->stop();
      poll->deleteLater();
      act(*window);
    }
  });
  poll->start(10);
}

// The Motion page says where its sound name points: a relative name is looked
// for in the settings folder first, and Save keeps the name as typed.
TEST(CameraOptions, SoundFileFieldShowsWhereTheNamePoints) {
  test_support::ScopedTempDir home{"sound"};
  const char* before = std::getenv("TOLLAN_HOME");
  const std::string saved = before ? before : "";
  setenv("TOLLAN_HOME", home.Path().c_str(), 1);
  std::ofstream(home.Path("alarm.wav")) << "RIFF";
  std::filesystem::create_directories(home.Path("sounds"));
  std::ofstream(home.Path("sounds/door.wav")) << "RIFF";
  struct Case {
    std::string typed;
    std::string shown;
  };
  const Case cases[] = {
      {"", ""},
      {"alarm.wav", "Plays " + home.Path("alarm.wav")},
      {"sounds/door.wav", "Plays " + home.Path("sounds/door.wav")},
      {home.Path("sounds/door.wav"), "Plays " + home.Path("sounds/door.wav")},
      {"bell", "No file " + home.Path("bell") + "; the name is played as a desktop sound if there is one"},
  };
  auto camera = Camera(camera::kCameraIp);
  for (const Case& c : cases) {
    CCamOptionsDlg dialog(*camera, true, 0, nullptr);
    Child<QLineEdit>(dialog, "soundFile")->setText(QString::fromStdString(c.typed));
    EXPECT_EQ(Child<QLabel>(dialog, "soundFileWhere")->text().toStdString(), c.shown) << c.typed;
    EXPECT_FALSE(Child<QPushButton>(dialog, "browseSound")->text().isEmpty());
    dialog.Save();
    auto record = dialog.TakeRecord();
    ASSERT_TRUE(record) << c.typed;
    EXPECT_EQ(camera::GetText(record->soundFile), c.typed);
  }
  if (before)
    setenv("TOLLAN_HOME", saved.c_str(), 1);
  else
    unsetenv("TOLLAN_HOME");
}

TEST(DeviceProperties, WindowSetsTheDeviceWhileItsWorkerWaits) {
  enum class End { Ok, Cancel, WorkerStops };
  struct Case {
    const char* name;
    End end;
    int32_t brightness;  // the device's value afterwards
    bool picture;        // the preview got the snapshot
  };
  const Case cases[] = {
      {"OK keeps the change", End::Ok, 40, true},
      {"Cancel takes it back", End::Cancel, 128, true},
      {"a stopping worker closes the window", End::WorkerStops, 40, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto service = capture::ScriptedService::TestPatternCamera();
    platform::ThreadHandlePtr worker;
    const SnapshotStarter start = [&](std::unique_ptr<CameraRecord> copy, platform::WindowHandle target,
                                      platform::WindowHandle owner) {
      worker::WorkerParams params;
      params.record = std::move(copy);
      params.snapshotTarget = target;
      params.propertiesOwner = owner;
      worker = capture::CThreadDXCam::Start(std::move(params), {}, service);
      return worker;
    };
    auto camera = Camera(camera::kCameraLocal);
    camera->formatWidth = 320, camera->formatHeight = 240, camera->formatBits = 24;
    CCamOptionsDlg dialog(*camera, true, 0, start);
    bool acted = false;
    WhenPropertiesOpen([&](CDevicePropertiesDlg& window) {
      acted = true;
      EXPECT_EQ(window.windowTitle(), "Video Capture Properties");
      auto* slider = qobject_cast<QSlider*>(window.Editor(capture::kControlBrightness));
      EXPECT_NE(qobject_cast<QCheckBox*>(window.Editor(capture::kControlFrameNumber)), nullptr);
      EXPECT_NE(qobject_cast<QComboBox*>(window.Editor(capture::kControlPattern)), nullptr);
      if (!slider) {
        ADD_FAILURE() << "no brightness slider";
        window.reject();
        return;
      }
      slider->setValue(40);
      // The device takes the change while the window is still open.
      EXPECT_TRUE(WaitUntil([&] { return service->ControlValue(0, capture::kControlBrightness) == 40; }, 5000));
      if (c.end == End::Ok) window.accept();
      if (c.end == End::Cancel) window.reject();
      if (c.end == End::WorkerStops) platform::Post<camera::to_worker::ThreadStop>(worker->Id(), camera::kStopReasonDiscard);
    });
    Child<QPushButton>(dialog, "deviceSettings")->click();
    ASSERT_TRUE(WaitUntil([&] { return worker && worker->Finished(); }, 10000));
    EXPECT_TRUE(acted);
    EXPECT_EQ(OpenDevicePropertiesWindow(), nullptr);
    EXPECT_EQ(service->ControlValue(0, capture::kControlBrightness), c.brightness);
    QApplication::processEvents();
    EXPECT_EQ(dialog.Preview()->HasPicture(), c.picture);
  }
}

TEST(CameraOptions, AddModeOpensTheSourceDialogAndEndsWhenItIsCancelled) {
  struct Case {
    const char* name;
    int32_t type;
    const char* sourceClass;
    std::function<void(QDialog&)> cancel;
  };
  const Case cases[] = {
      {"IP source cancelled", camera::kCameraIp, "recorder::ui::CCamSelIP",
       [](QDialog& d) { Child<QPushButton>(d, "cancelButton")->click(); }},
      {"device source cancelled", camera::kCameraLocal, "recorder::ui::CCamSelDX",
       [](QDialog& d) { Child<QPushButton>(d, "cancelButton")->click(); }},
      {"shutdown while the source is open", camera::kCameraIp, "recorder::ui::CCamSelIP",
       [](QDialog&) {
         EXPECT_EQ(OpenDialogs::Count(), 2u);
         OpenDialogs::CancelAll();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StarterLog log;
    auto camera = Camera(c.type);
    std::string seen;
    {
      CCamOptionsDlg dialog(*camera, false, 0, log.Starter());
      WhenModal([&](QDialog& source) {
        seen = source.metaObject()->className();
        c.cancel(source);
      });
      EXPECT_EQ(dialog.exec(), QDialog::Rejected);
      EXPECT_EQ(dialog.TakeRecord(), nullptr);
    }
    EXPECT_EQ(seen, c.sourceClass);
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(OpenDialogs::Count(), 0u);
  }
}

TEST(CameraOptions, AddModeTakesTheChosenAddressAndSaves) {
  ScriptedBoxes boxes;
  ScopedMessageBoxes scope(boxes);
  boxes.answers = {true};
  const test_support::ScopedTempDir tmp{"optionadd"};
  const std::string root = tmp.Path();
  auto camera = Camera(camera::kCameraIp);
  StarterLog log;
  CCamOptionsDlg dialog(*camera, false, 0, log.Starter());
  WhenModal([&](QDialog& source) {
    Child<QLineEdit>(source, "url")->setText("http://127.0.0.1:9/video.cgi");
    Child<QPushButton>(source, "okButton")->click();
    WhenModal([&](QDialog& options) {
      Child<QLineEdit>(options, "saveTo")->setText(QString::fromStdString(root + "v/video.mjpg"));
      Child<QPushButton>(options, "saveButton")->click();
    });
  });
  ASSERT_EQ(dialog.exec(), QDialog::Accepted);
  const auto saved = dialog.TakeRecord();
  ASSERT_NE(saved, nullptr);
  EXPECT_EQ(camera::GetText(saved->url), "http://127.0.0.1:9/video.cgi");
  EXPECT_EQ(saved->pushStream, 1);
  EXPECT_EQ(boxes.asked.size(), 1u);
  EXPECT_TRUE(log.calls.empty());  // add mode starts no preview worker of its own
}

TEST(IpCameraSelect, OkChecksTheAddressAndStoresPushStream) {
  struct Case {
    const char* url;
    bool connectFirst;
    std::deque<bool> answers;
    size_t questions;
    bool accepted;
    int32_t pushStream;
  };
  const Case cases[] = {
      {"rtmp://127.0.0.1/live", false, {}, 0, false, 0},
      {"rtsp://127.0.0.1:8554/live", false, {}, 0, true, 0},  // a stream by its scheme: no question
      {"http://127.0.0.1/video.cgi", false, {true}, 1, true, 1},
      {"http://127.0.0.1/video.cgi", true, {true}, 1, true, 1},  // asked on Connect, not again on OK
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    ScriptedBoxes boxes;
    ScopedMessageBoxes scope(boxes);
    boxes.answers = c.answers;
    auto camera = Camera(camera::kCameraIp);
    camera->pushStream = 1;
    CCamSelIP dialog(*camera, 0, nullptr);
    Child<QLineEdit>(dialog, "url")->setText(c.url);
    if (c.connectFirst) Child<QPushButton>(dialog, "connectButton")->click();
    Child<QPushButton>(dialog, "okButton")->click();
    EXPECT_EQ(boxes.asked.size(), c.questions);
    for (const auto& q : boxes.asked) EXPECT_EQ(q.text, camera::kStreamQuestion);
    EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted);
    if (c.accepted) {
      EXPECT_EQ(camera::GetText(camera->url), c.url);
      EXPECT_EQ(camera->pushStream, c.pushStream);
    } else {
      ASSERT_EQ(boxes.told.size(), 1u);
      EXPECT_EQ(boxes.told[0].text, camera::kBadUrlMessage);
      EXPECT_EQ(boxes.told[0].caption, camera::kInvalidUrlCaption);
      EXPECT_EQ(camera::GetText(camera->url), "http://127.0.0.1:9/cam.jpg");
    }
  }
}

TEST(IpCameraSelect, ConnectFetchesATestPictureFromTheTestCamera) {
  struct Case {
    testcam::Mode mode;
    const char* status;
    bool picture;
  };
  for (const Case& c : {Case{testcam::Mode::Normal, " Connection Successful.", true},
                        Case{testcam::Mode::Refuse, " Failed to get image.", false}}) {
    SCOPED_TRACE(c.status);
    testcam::Options options;
    options.width = 160;
    options.height = 120;
    testcam::Server server(options);
    ASSERT_TRUE(server.Start());
    server.SetMode(c.mode);
    std::vector<platform::ThreadHandlePtr> workers;
    const SnapshotStarter start = [&](std::unique_ptr<CameraRecord> copy, platform::WindowHandle target,
                                      platform::WindowHandle) {
      worker::WorkerParams params;
      params.record = std::move(copy);
      params.snapshotTarget = target;
      workers.push_back(net::CSocThread::Start(std::move(params)));
      return workers.back();
    };
    auto camera = Camera(camera::kCameraIp);
    widgets::CPictureBox report;  // the options' preview
    {
      CCamSelIP dialog(*camera, report.Handle(), start);
      Child<QLineEdit>(dialog, "url")->setText(QString::fromStdString(server.Url("image.jpg")));
      Child<QPushButton>(dialog, "connectButton")->click();
      auto* status = Child<QLabel>(dialog, "status");
      EXPECT_FALSE(Child<QPushButton>(dialog, "connectButton")->isEnabled());
      EXPECT_FALSE(Child<QLineEdit>(dialog, "url")->isEnabled());
      EXPECT_TRUE(Child<QPushButton>(dialog, "okButton")->isEnabled());
      EXPECT_EQ(status->text(), " Trying to connect...");
      ASSERT_TRUE(WaitUntil([&] { return status->text() != " Trying to connect..."; }));
      EXPECT_EQ(status->text(), c.status);
      EXPECT_TRUE(Child<QPushButton>(dialog, "connectButton")->isEnabled());
      EXPECT_TRUE(Child<QLineEdit>(dialog, "url")->isEnabled());
      EXPECT_EQ(Child<widgets::CPictureBox>(dialog, "picture")->HasPicture(), c.picture);
      if (c.picture) {
        EXPECT_TRUE(WaitUntil([&] { return report.HasPicture(); }, 5000));
      }
    }
    for (const auto& worker : workers) EXPECT_TRUE(worker->Wait(10000));
    EXPECT_EQ(camera::GetText(camera->url), "http://127.0.0.1:9/cam.jpg");  // only OK stores
    server.Stop();
  }
}

// An RTSP address: the test shows the first decoded picture, or says why there is none.
TEST(IpCameraSelect, ConnectShowsAnRtspPictureOrTheReason) {
  const std::string unavailable = rtspcam::Unavailable();
  if (!unavailable.empty()) GTEST_SKIP() << "no RTSP test camera: " << unavailable;
  rtspcam::Config config;
  config.user = "viewer";
  config.password = "letmein";
  rtspcam::Process server(config);
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  struct Case {
    std::string url;
    const char* status;
    bool picture;
  };
  const Case cases[] = {
      {server.Url("viewer", "letmein"), " Connection Successful.", true},
      {server.Url("viewer", "guess"), " Failed to get image. authentication refused, RTSP status 401", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    std::vector<platform::ThreadHandlePtr> workers;
    const SnapshotStarter start = [&](std::unique_ptr<CameraRecord> copy, platform::WindowHandle target,
                                      platform::WindowHandle) {
      worker::WorkerParams params;
      params.record = std::move(copy);
      params.snapshotTarget = target;
      workers.push_back(net::RtspCamThread::Start(std::move(params)));
      return workers.back();
    };
    auto camera = Camera(camera::kCameraIp);
    widgets::CPictureBox report;
    {
      CCamSelIP dialog(*camera, report.Handle(), start);
      Child<QLineEdit>(dialog, "url")->setText(QString::fromStdString(c.url));
      Child<QPushButton>(dialog, "connectButton")->click();
      auto* status = Child<QLabel>(dialog, "status");
      ASSERT_TRUE(WaitUntil([&] { return status->text() != " Trying to connect..."; }, 10000));
      EXPECT_EQ(status->text().toStdString(), c.status);
      EXPECT_EQ(Child<widgets::CPictureBox>(dialog, "picture")->HasPicture(), c.picture);
    }
    for (const auto& worker : workers) EXPECT_TRUE(worker->Wait(10000));
  }
}

// A capture catalogue with two devices, for the dialog's side of the plug.
class TwoDevices : public CaptureCatalogue {
 public:
  std::vector<std::string> Devices() override { return {"Desk cam", "Capture card"}; }
  std::vector<std::string> Formats(int device) override {
    return device == 0 ? std::vector<std::string>{"640x480 24 bit", "1280x720 24 bit", "320x240 16 bit"}
                       : std::vector<std::string>{"720x576 16 bit"};
  }
  std::string PreferredFormat(int device) override { return device == 0 ? "640x480 24 bit" : "720x576 16 bit"; }
  bool Open(int device, const std::string& format, platform::WindowHandle) override {
    opened = std::to_string(device) + " " + format;
    return true;
  }
  std::vector<std::string> Pins() override { return {"Composite", "S-Video"}; }
  std::unique_ptr<media::FrameRecord> GrabFrame() override {
    auto record = std::make_unique<media::FrameRecord>();
    record->image = {2, 2, 24, std::vector<uint8_t>(12, 0x80)};
    return record;
  }
  std::string opened;
};

TEST(LocalCameraSelect, OkStoresTheSelectionAndSendsTheFrameOn) {
  struct Case {
    const char* name;
    bool devices;
    const char* status;
    int32_t deviceIndex, pinIndex, width, bits;
    bool frame;
  };
  const Case cases[] = {
      {"no capture service", false, " No local capture devices found on your system.", -1, -1, 11, 12, false},
      {"two devices", true, " Select a device, then a format, then a pin, and click OK.", 0, 1, 640, 24, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto camera = Camera(camera::kCameraLocal);
    camera->formatWidth = 11;
    camera->formatBits = 12;
    widgets::CPictureBox report;
    report.ShowRecord(TwoDevices().GrabFrame());  // an earlier picture that a failed grab clears
    auto* catalogue = c.devices ? new TwoDevices : nullptr;
    CCamSelDX dialog(*camera, report.Handle(),
                     catalogue ? std::unique_ptr<CaptureCatalogue>(catalogue) : std::make_unique<CaptureCatalogue>());
    EXPECT_EQ(Child<QLabel>(dialog, "status")->text(), c.status);
    EXPECT_EQ(Child<QComboBox>(dialog, "devices")->isEnabled(), c.devices);
    auto* formats = Child<QComboBox>(dialog, "formats");
    EXPECT_EQ(formats->isEnabled(), c.devices);
    if (c.devices) {
      ASSERT_EQ(formats->count(), 3);
      EXPECT_EQ(formats->itemText(0), "1280x720 24 bit");  // sorted
      EXPECT_EQ(formats->currentText(), "640x480 24 bit");  // preferred
      EXPECT_EQ(catalogue->opened, "0 640x480 24 bit");
      EXPECT_TRUE(Child<QComboBox>(dialog, "pins")->isEnabled());
      Child<QComboBox>(dialog, "pins")->setCurrentIndex(1);
    } else {
      EXPECT_EQ(formats->count(), 0);
      EXPECT_FALSE(Child<QComboBox>(dialog, "pins")->isEnabled());
    }
    Child<QPushButton>(dialog, "okButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(camera->deviceIndex, c.deviceIndex);
    EXPECT_EQ(camera->pinIndex, c.pinIndex);
    EXPECT_EQ(camera->formatWidth, c.width);
    EXPECT_EQ(camera->formatBits, c.bits);
    EXPECT_EQ(camera->cameraType, camera::kCameraLocal);
    QApplication::processEvents();
    EXPECT_EQ(report.HasPicture(), c.frame);
  }
}

TEST(LocalCameraSelect, ListsOpensAndPreviewsTheServiceDevices) {
  struct Case {
    const char* name;
    std::shared_ptr<capture::ScriptedService> service;
    std::vector<QString> devices, formats;
    QString preferred;
    int pins;
    int32_t deviceIndex, width, bits;
  };
  std::string error;
  const Case cases[] = {
      {"test pattern camera", capture::ScriptedService::TestPatternCamera(), {"Test Pattern Camera"},
       {"320x240 24 bit", "640x480 12 bit", "640x480 24 bit"}, "640x480 24 bit", 0, 0, 640, 24},
      {"a device without a readable name before it",
       capture::ScriptedService::FromScript(
           "device Hidden\nunreadable\nformat 320x240 24\ndevice Card\nformat 352x288 12\ninput 1\ninput 2\n", &error),
       {"Card"}, {"352x288 12 bit"}, "352x288 12 bit", 2, 1, 352, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.service) << error;
    auto camera = Camera(camera::kCameraLocal);
    widgets::CPictureBox report;
    CCamSelDX dialog(*camera, report.Handle(), CaptureCatalogueOver(c.service));
    std::vector<QString> devices, formats;
    auto* deviceList = Child<QComboBox>(dialog, "devices");
    for (int i = 0; i < deviceList->count(); ++i) devices.push_back(deviceList->itemText(i));
    auto* formatList = Child<QComboBox>(dialog, "formats");
    for (int i = 0; i < formatList->count(); ++i) formats.push_back(formatList->itemText(i));
    EXPECT_EQ(devices, c.devices);
    EXPECT_EQ(formats, c.formats);
    EXPECT_EQ(formatList->currentText(), c.preferred);
    EXPECT_EQ(Child<QComboBox>(dialog, "pins")->count(), c.pins);
    EXPECT_EQ(Child<QComboBox>(dialog, "pins")->isEnabled(), c.pins > 0);
    // The preview area shows the open device's frames.
    EXPECT_TRUE(WaitUntil([&] { return Child<widgets::CPictureBox>(dialog, "previewArea")->HasPicture(); }, 5000));
    Child<QPushButton>(dialog, "okButton")->click();
    EXPECT_EQ(camera->deviceIndex, c.deviceIndex);
    EXPECT_EQ(camera->formatWidth, c.width);
    EXPECT_EQ(camera->formatBits, c.bits);
    EXPECT_EQ(camera->pinIndex, c.pins > 0 ? 0 : -1);
    EXPECT_TRUE(WaitUntil([&] { return report.HasPicture(); }, 5000));
  }
}

TEST(CameraDialogs, OpenWithEveryTextWhole) {
  // TOLLAN_SCREENSHOT_DIR keeps the pictures for a look; otherwise a scratch folder.
  const char* keep = std::getenv("TOLLAN_SCREENSHOT_DIR");
  const test_support::ScopedTempDir tmp{"dialogshots"};
  const std::string dir = keep != nullptr ? keep : tmp.Path();
  std::vector<std::string> checked;
  const QStringList files = SaveCameraDialogScreenshots(QString::fromStdString(dir), [&](const QString& name, QWidget& dialog) {
    checked.push_back(name.toStdString());
    for (QWidget* w : dialog.findChildren<QWidget*>()) {
      if (!w->isVisibleTo(&dialog)) continue;
      if (!qobject_cast<QLabel*>(w) && !qobject_cast<QAbstractButton*>(w) && !qobject_cast<QComboBox*>(w)) continue;
      EXPECT_GE(w->width(), w->sizeHint().width()) << name.toStdString() << ": " << w->objectName().toStdString();
      EXPECT_GE(w->height(), w->minimumSizeHint().height()) << name.toStdString() << ": " << w->objectName().toStdString();
    }
  });
  EXPECT_EQ(files.size(), 9);
  EXPECT_EQ(checked.size(), 9u);
  for (const QString& f : files) EXPECT_GT(std::filesystem::file_size(f.toStdString()), 1000u);
}

}  // namespace
}  // namespace recorder::ui
