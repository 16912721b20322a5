// Camera controller: starting, stopping, restarting, deleting, status handling,
// saving after every change, and the ordered shutdown, with stand-in workers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/message_thread.h"
#include "platform/window_registry.h"
#include "recorder/app/camera_controller.h"
#include "recorder/app/headless.h"
#include "recorder/camera/events.h"
#include "recorder/camera/settings_file.h"
#include "recorder/camera/messages.h"
#include "recorder/capture/thread_dx_cam.h"
#include "recorder/net/soc_thread.h"
#include "tests/test_support.h"

using namespace recorder;

namespace {

namespace fs = std::filesystem;

// Reports "Started" and answers THREAD_STOP the way a camera worker does.
class FakeWorker : public platform::MessageThread {
 public:
  explicit FakeWorker(platform::WindowHandle main, std::atomic<uint64_t>* liveView = nullptr)
      : main_(main), liveView_(liveView) {}

 protected:
  bool InitInstance() override {
    platform::PostWindowMessage(main_, camera::to_main_window::CamStatus::kNumber, Id(), camera::kStatusStarted);
    return true;
  }
  void OnMessage(platform::Message& msg) override {
    if (platform::Is<camera::to_worker::LiveViewChanged>(msg) && liveView_) *liveView_ = uint64_t(msg.wParam);
    if (msg.id != camera::to_worker::ThreadStop::kNumber) return;
    if (msg.wParam != camera::kStopReasonDiscard) platform::PostWindowMessage(main_, camera::to_main_window::CamStopped::kNumber, Id(), msg.wParam);
    PostQuit(0);
  }

 private:
  platform::WindowHandle main_;
  std::atomic<uint64_t>* liveView_;
};

struct StartCall {
  std::string url;
  bool resume;
  platform::WindowHandle liveView;
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = platform::RegisterWindow(&inbox_);
    controller_ = std::make_unique<app::CameraController>(
        (dir_ / "tollan.cfg").string(), window_,
        [this](worker::WorkerParams request) {
          calls_.push_back({camera::GetText(request.record->url), request.resume, request.liveViewWindow});
          auto handle = platform::MessageThread::Start(std::make_unique<FakeWorker>(request.mainWindow, &liveViewSeen_));
          handles_.push_back(handle);
          return handle;
        });
  }
  void TearDown() override {
    auto plan = controller_->BeginShutdown();
    app::CameraController::RunShutdownWaits(plan, 5000, 1000);
    for (auto& h : handles_) EXPECT_TRUE(h->Wait(5000));
    controller_->FinishShutdown();
    platform::UnregisterWindow(window_);
  }

  void AddCameras(int n) {
    for (int i = n - 1; i >= 0; --i) {
      auto cam = camera::CreateDefaultCamera();
      camera::SetText(cam->url, "http://127.0.0.1:9/cam" + std::to_string(i));
      controller_->AddCamera(std::move(cam));
    }
  }
  // Hands everything the workers posted to the controller, as the owning thread would.
  void Deliver(size_t atLeast) {
    inbox_.WaitForCount(atLeast, 5000);
    for (auto& msg : inbox_.TakeAll()) controller_->HandleMessage(msg);
  }
  static bool WaitForValue(std::atomic<uint64_t>& value, uint64_t expected) {
    for (int i = 0; i < 500 && value.load() != expected; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return value.load() == expected;
  }
  camera::LoadedSettings Saved() { return camera::LoadSettingsFile((dir_ / "tollan.cfg").string()); }

  test_support::ScopedTempDir tmp_{"ctl"};
  const fs::path dir_ = tmp_.Path();
  platform::CollectingWindowTarget inbox_;
  platform::WindowHandle window_ = 0;
  std::unique_ptr<app::CameraController> controller_;
  std::vector<StartCall> calls_;
  std::vector<platform::ThreadHandlePtr> handles_;
  std::atomic<uint64_t> liveViewSeen_{0};
};

// An added camera appends: a save path that names an earlier recording keeps it.
TEST_F(ControllerTest, AddAppendsAtTheTopAndSaves) {
  AddCameras(2);
  ASSERT_EQ(controller_->CameraCount(), 2u);
  EXPECT_EQ(camera::GetText(controller_->Row(0).record->url), "http://127.0.0.1:9/cam0");
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_TRUE(calls_[0].resume);
  Deliver(2);
  EXPECT_EQ(controller_->Row(0).status, "Started");
  EXPECT_EQ(controller_->Row(1).status, "Started");
  auto saved = Saved();
  ASSERT_EQ(saved.cameras.size(), 2u);
  EXPECT_EQ(camera::GetText(saved.cameras[0]->url), "http://127.0.0.1:9/cam0");
}

TEST_F(ControllerTest, StartAllStartsOnlyStoppedCameras) {
  AddCameras(3);
  Deliver(3);
  controller_->StopSelected({1});
  Deliver(1);
  EXPECT_EQ(controller_->Row(1).status, "Stopped");
  EXPECT_EQ(controller_->Row(1).workerId, 0u);
  const size_t before = calls_.size();
  controller_->StartAll(true);
  ASSERT_EQ(calls_.size(), before + 1);
  EXPECT_EQ(calls_.back().url, "http://127.0.0.1:9/cam1");
  EXPECT_TRUE(calls_.back().resume);
}

TEST_F(ControllerTest, EditingARunningCameraRestartsItInAppendMode) {
  AddCameras(1);
  Deliver(1);
  auto edited = camera::CopyCamera(*controller_->Row(0).record);
  edited->frameDelayMs = 250;
  controller_->EditCamera(0, std::move(edited));
  Deliver(1);  // CAM_STOPPED with the restart reason
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_TRUE(calls_[1].resume);
  EXPECT_NE(controller_->Row(0).workerId, 0u);
  EXPECT_EQ(Saved().cameras.at(0)->frameDelayMs, 250);
}

TEST_F(ControllerTest, DeletingARunningCameraDiscardsItSilently) {
  AddCameras(2);
  Deliver(2);
  const auto worker = controller_->Row(0).worker;
  controller_->DeleteCameras({0});
  ASSERT_EQ(controller_->CameraCount(), 1u);
  EXPECT_TRUE(worker->Wait(5000));
  EXPECT_EQ(inbox_.Count(), 0u);  // no CAM_STOPPED for a discarded worker
  EXPECT_EQ(Saved().cameras.size(), 1u);
}

TEST_F(ControllerTest, MessagesForUnknownWorkersChangeNothing) {
  AddCameras(1);
  Deliver(1);
  platform::Message status{camera::to_main_window::CamStatus::kNumber, 987654, camera::kStatusDiskFull, nullptr};
  controller_->HandleMessage(status);
  platform::Message stopped{camera::to_main_window::CamStopped::kNumber, 987654, camera::kStopReasonStop, nullptr};
  controller_->HandleMessage(stopped);
  platform::Message bad{camera::to_main_window::CamStatus::kNumber, long(controller_->Row(0).workerId), 42, nullptr};
  controller_->HandleMessage(bad);
  EXPECT_EQ(controller_->Row(0).status, "Started");
}

TEST_F(ControllerTest, GridChangeReplacesTheGridRestartsAndSaves) {
  AddCameras(1);
  Deliver(1);
  // Only the row whose live view sent the grid is changed.
  controller_->SetLiveView(0, 777);
  std::vector<uint8_t> grid(400, 0);
  grid[19] = 1;
  platform::Message other{camera::to_main_window::GridChanged::kNumber, 0, 778, platform::MakePayload(grid)};
  controller_->HandleMessage(other);
  EXPECT_EQ(Saved().cameras.at(0)->motionGrid.at(19), 0);
  platform::Message mine{camera::to_main_window::GridChanged::kNumber, 0, 777, platform::MakePayload(grid)};
  controller_->HandleMessage(mine);
  EXPECT_EQ(controller_->Row(0).record->motionGrid.at(19), 1);
  EXPECT_EQ(Saved().cameras.at(0)->motionGrid.at(19), 1);
  Deliver(1);
  EXPECT_EQ(calls_.size(), 2u);  // restarted after the grid change
  EXPECT_TRUE(calls_.back().resume);
}

TEST_F(ControllerTest, SnapshotWorkersAreTrackedAndStoppedAtShutdown) {
  auto handle = platform::MessageThread::Start(std::make_unique<FakeWorker>(window_));
  platform::Message reg{camera::to_main_window::WorkerRegister::kNumber, 0, long(handle->Id()), platform::MakePayload(handle)};
  controller_->HandleMessage(reg);
  EXPECT_EQ(controller_->SnapshotWorkerCount(), 1u);
  auto plan = controller_->BeginShutdown();
  EXPECT_EQ(controller_->SnapshotWorkerCount(), 0u);
  app::CameraController::RunShutdownWaits(plan, 5000, 1000);
  EXPECT_TRUE(handle->Finished());
  inbox_.TakeAll();
}

TEST_F(ControllerTest, LoadKeepsFileOrderAndStartsNothing) {
  AddCameras(2);
  Deliver(2);
  app::CameraController second((dir_ / "tollan.cfg").string(), window_,
                               [](worker::WorkerParams) { return platform::ThreadHandlePtr(); });
  second.LoadSettings();
  ASSERT_EQ(second.CameraCount(), 2u);
  EXPECT_EQ(second.Row(0).status, "Stopped");
  EXPECT_EQ(second.Row(1).workerId, 0u);
  EXPECT_EQ(camera::GetText(second.Row(1).record->url), "http://127.0.0.1:9/cam1");
  // A source without a worker says so on its row.
  second.StartCamera(0, true);
  EXPECT_EQ(second.Row(0).status, "Init Failed");
}

// Every kind of camera worker refuses to start without a record, snapshot or not,
// rather than starting a thread that would read a null record.
TEST(WorkerStart, EveryWorkerRefusesAMissingRecord) {
  platform::CollectingWindowTarget target;
  const platform::WindowHandle window = platform::RegisterWindow(&target);
  const struct {
    const char* name;
    std::function<platform::ThreadHandlePtr(worker::WorkerParams)> start;
  } workers[] = {
      {"network", [](worker::WorkerParams p) { return net::CSocThread::Start(std::move(p)); }},
      {"local", [](worker::WorkerParams p) { return capture::CThreadDXCam::Start(std::move(p)); }},
      {"factory", app::DefaultWorkerFactory()},
  };
  for (const auto& w : workers) {
    for (const platform::WindowHandle snapshotTarget : {platform::WindowHandle(0), window}) {
      SCOPED_TRACE(std::string(w.name) + (snapshotTarget ? " snapshot" : ""));
      worker::WorkerParams params;
      params.mainWindow = window;
      params.snapshotTarget = snapshotTarget;
      EXPECT_EQ(w.start(std::move(params)), nullptr);
    }
  }
  EXPECT_EQ(target.Count(), 0u);  // nothing started, nothing reported
  platform::UnregisterWindow(window);
}

// A sorted list decides the order of the settings file; a bad order changes nothing.
TEST_F(ControllerTest, ReorderFollowsTheListAndSavesAndRefusesNonPermutations) {
  AddCameras(3);
  Deliver(3);
  const platform::ThreadId middleWorker = controller_->Row(1).workerId;
  struct Row {
    std::vector<size_t> order;
    bool accepted;
  } rows[] = {{{0, 1}, false}, {{0, 0, 1}, false}, {{0, 1, 3}, false}, {{2, 1, 0}, true}};
  for (const Row& row : rows) EXPECT_EQ(controller_->ReorderRows(row.order), row.accepted);
  EXPECT_EQ(camera::GetText(controller_->Row(0).record->url), "http://127.0.0.1:9/cam2");
  EXPECT_EQ(controller_->Row(1).workerId, middleWorker) << "a row keeps its worker when it moves";
  auto saved = Saved();
  ASSERT_EQ(saved.cameras.size(), 3u);
  EXPECT_EQ(camera::GetText(saved.cameras[0]->url), "http://127.0.0.1:9/cam2");
  EXPECT_EQ(camera::GetText(saved.cameras[2]->url), "http://127.0.0.1:9/cam0");
  // The moved worker's stop report still finds its row.
  controller_->StopSelected({1});
  Deliver(1);
  EXPECT_EQ(controller_->Row(1).status, "Stopped");
  EXPECT_EQ(controller_->Row(0).status, "Started");
}

TEST_F(ControllerTest, NewRecordsGetASavePathNoListedCameraUses) {
  auto first = controller_->NewCameraRecord(1);
  EXPECT_EQ(first->cameraType, 1);
  const std::string firstPath = camera::GetText(first->savePath);
  controller_->AddCamera(std::move(first));
  auto second = controller_->NewCameraRecord(0);
  EXPECT_NE(camera::GetText(second->savePath), firstPath);
}

TEST_F(ControllerTest, ObserversHearOfInsertedChangedAndRemovedRows) {
  std::vector<app::RowEvent> events;
  controller_->AddObserver([&](const app::RowEvent& e) { events.push_back(e); });
  using Kind = app::RowEvent::Kind;
  AddCameras(2);
  Deliver(2);
  auto edited = camera::CopyCamera(*controller_->Row(1).record);
  camera::SetText(edited->savePath, "/tmp/other/video.mjpg");
  controller_->EditCamera(1, std::move(edited));
  controller_->DeleteCameras({0});

  struct Expected {
    Kind kind;
    size_t row;
    unsigned changes;
  };
  const std::vector<Expected> expected = {
      {Kind::Inserted, 0, app::kRowAll},  // the second camera is added first, at the top
      {Kind::Inserted, 0, app::kRowAll},
      {Kind::Changed, 0, app::kRowStatus},  // "Started", in the order the workers answered
      {Kind::Changed, 1, app::kRowStatus},
      {Kind::Changed, 1, app::kRowSettings | app::kRowSavePath},
      {Kind::Removed, 0, app::kRowAll},
  };
  ASSERT_EQ(events.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].kind, expected[i].kind);
    if (expected[i].kind != Kind::Changed || expected[i].changes != app::kRowStatus) {
      EXPECT_EQ(events[i].row, expected[i].row);
    }
    EXPECT_EQ(events[i].changes, expected[i].changes);
  }
  Deliver(1);  // the edited camera's restart
}

TEST_F(ControllerTest, LiveViewReachesTheRunningWorkerAndTheNextStartAndIsDestroyedWithTheRow) {
  AddCameras(1);
  Deliver(1);
  int destroyed = 0;
  controller_->SetLiveView(0, 4242, [&] { ++destroyed; });
  EXPECT_TRUE(WaitForValue(liveViewSeen_, 4242));
  controller_->StopSelected({0});
  Deliver(1);
  controller_->StartCamera(0, true);
  EXPECT_EQ(calls_.back().liveView, 4242u);
  Deliver(1);
  controller_->DeleteCameras({0});
  EXPECT_EQ(destroyed, 1);
}

TEST_F(ControllerTest, OneShutdownCallStopsEverythingAndPostsItsCompletion) {
  AddCameras(2);
  Deliver(2);
  bool complete = false;
  controller_->onShutdownComplete = [&] { complete = true; };
  controller_->Shutdown(5000, 1000);
  EXPECT_TRUE(controller_->ShuttingDown());
  controller_->StartCamera(0, false);  // nothing starts any more
  EXPECT_EQ(calls_.size(), 2u);
  for (int i = 0; i < 50 && !complete; ++i) Deliver(1);
  EXPECT_TRUE(complete);
  EXPECT_EQ(controller_->CameraCount(), 0u);
  for (auto& h : handles_) EXPECT_TRUE(h->Finished());
}

// Reports a failure status and ends on its own, as a worker does on a full disk.
class FailingWorker : public platform::MessageThread {
 public:
  FailingWorker(platform::WindowHandle main, int32_t status) : main_(main), status_(status) {}

 protected:
  bool InitInstance() override {
    if (status_ >= 0) platform::Post<camera::to_main_window::CamStatus>(main_, Id(), status_);
    platform::Post<camera::to_main_window::CamStopped>(main_, Id(), camera::kStopReasonStop);
    PostQuit(0);
    return true;
  }

 private:
  platform::WindowHandle main_;
  int32_t status_;
};

TEST(ControllerRetry, UnaskedEndingsAreStartedAgainAfterTheDelayAskedStopsAreNot) {
  struct Case {
    const char* name;
    int32_t status;  // -1: the worker ends without a status, as when no image ever came
    int retryMs;
    bool userStops;
    const char* failure;
    bool retried;
  };
  const std::vector<Case> cases = {
      // The unattended recorder's own delay.
      {"disk full", camera::kStatusDiskFull, app::HeadlessOptions{}.retryMs, false, "Diskfull", true},
      {"no image", -1, app::HeadlessOptions{}.retryMs, false, "ended without an image", true},
      {"window version", camera::kStatusDiskFull, 0, false, "Diskfull", false},
      {"asked to stop", camera::kStatusStarted, app::HeadlessOptions{}.retryMs, true, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const test_support::ScopedTempDir tmp{"retry"};
    const fs::path dir = tmp.Path();
    platform::CollectingWindowTarget inbox;
    const auto window = platform::RegisterWindow(&inbox);
    int starts = 0;
    std::vector<platform::ThreadHandlePtr> handles;
    app::CameraController controller((dir / "tollan.cfg").string(), window, [&](worker::WorkerParams request) {
      ++starts;
      // The first worker fails (or runs when the user stops it); later ones run.
      platform::ThreadHandlePtr h;
      if (starts == 1 && !c.userStops)
        h = platform::MessageThread::Start(std::make_unique<FailingWorker>(request.mainWindow, c.status));
      else
        h = platform::MessageThread::Start(std::make_unique<FakeWorker>(request.mainWindow));
      handles.push_back(h);
      return h;
    });
    controller.SetRetryAfterFailure(c.retryMs);
    auto clock = std::make_shared<platform::ManualClock>();
    controller.SetClock(clock);
    std::vector<std::pair<size_t, std::string>> retries;
    controller.onRetry = [&](size_t row, const std::string& failure) { retries.emplace_back(row, failure); };
    controller.AddCamera(camera::CreateDefaultCamera());
    if (c.userStops) {
      inbox.WaitForCount(1, 5000);
      for (auto& m : inbox.TakeAll()) controller.HandleMessage(m);
      controller.StopSelected({0});
    }
    ASSERT_TRUE(inbox.WaitForCount(1, 5000));
    for (int i = 0; i < 50 && controller.Row(0).workerId != 0; ++i) {
      inbox.WaitForCount(1, 100);
      for (auto& m : inbox.TakeAll()) controller.HandleMessage(m);
    }
    EXPECT_EQ(controller.Row(0).status, "Stopped");
    EXPECT_EQ(controller.Row(0).failure, c.failure);
    EXPECT_EQ(controller.RunDueRetries(), 0u);
    clock->Advance(59999);
    EXPECT_EQ(controller.RunDueRetries(), 0u);  // not before a minute
    clock->Advance(1);
    EXPECT_EQ(controller.RunDueRetries(), c.retried ? 1u : 0u);
    EXPECT_EQ(starts, c.retried ? 2 : 1);
    if (c.retried) {
      ASSERT_EQ(retries.size(), 1u);
      EXPECT_EQ(retries[0].second, c.failure);
    }
    controller.Shutdown(5000, 1000);
    for (int i = 0; i < 50 && controller.CameraCount() > 0; ++i) {
      inbox.WaitForCount(1, 100);
      for (auto& m : inbox.TakeAll()) controller.HandleMessage(m);
    }
    EXPECT_EQ(controller.CameraCount(), 0u);
    for (auto& h : handles) EXPECT_TRUE(h->Wait(5000));
    platform::UnregisterWindow(window);
  }
}

}  // namespace

// The settings file's program part outlives every save of the camera list: program
// records of other builds are kept, the program settings are written as set.
TEST_F(ControllerTest, SavingKeepsTheProgramPartAndStoresTheProgramSettings) {
  auto cam = camera::CreateDefaultCamera();
  const std::vector<const camera::CameraRecord*> cameras{cam.get()};
  ASSERT_TRUE(camera::SaveSettingsFile((dir_ / "tollan.cfg").string(), cameras, 0,
                                       {{"keep-free", "15"}, {"from-a-later-build", "x"}}));
  controller_->LoadSettings();
  EXPECT_EQ(controller_->programSettings().keepFreePercent, 15);
  EXPECT_EQ(controller_->programSettings().offlineAfterSeconds, 60);
  ASSERT_TRUE(controller_->SaveSettings());
  EXPECT_EQ(Saved().program, (camera::ProgramRecords{{"keep-free", "15"}, {"from-a-later-build", "x"}}));

  camera::ProgramSettings settings;
  settings.keepFreePercent = 0;  // back to the default: not written
  settings.offlineAfterSeconds = 5;
  settings.onEventCommand = "logger -t tollan \"$TOLLAN_EVENT\"";
  controller_->SetProgramSettings(settings);
  EXPECT_EQ(Saved().program, (camera::ProgramRecords{{"from-a-later-build", "x"},
                                                     {"offline-after", "5"},
                                                     {"on-event", "logger -t tollan \"$TOLLAN_EVENT\""}}));
  controller_->SetProgramOptions(1);  // the log option's save keeps them too
  EXPECT_EQ(Saved().program.size(), 3u);
  EXPECT_EQ(Saved().logToFile, 1);
}
