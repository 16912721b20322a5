// The local camera worker over the scripted capture service: recording and its
// stop reasons, an unplugged device, tick pacing on a manual clock, the live
// view, missing frames, device settings with the properties window, snapshots,
// and recording from a real V4L2 device when the machine has one.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "media/frame_messages.h"
#include "media/mjpg.h"
#include "platform/window_registry.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/capture/capture_messages.h"
#include "recorder/capture/dx_video.h"
#include "recorder/capture/scripted_service.h"
#include "recorder/capture/thread_dx_cam.h"
#include "recorder/capture/v4l2_service.h"
#include "tests/recorder/net/worker_test_support.h"
#include "tests/test_support.h"

namespace recorder::capture {
namespace {

using worker_test::EventSink;
using worker_test::WaitFor;

constexpr const char* kCamera = "device Desk Camera\nformat 320x240 24\nformat 320x240 16\n";

class SilentPlayer : public frame::SoundPlayer {
 public:
  void Play(const std::string&) override {}
};

// Devices whose every sample takes a while of the worker's clock.
class SlowService : public CaptureService {
 public:
  SlowService(std::shared_ptr<CaptureService> inner, std::shared_ptr<platform::ManualClock> clock, uint32_t ms)
      : inner_(std::move(inner)), clock_(std::move(clock)), ms_(ms) {}
  std::optional<std::vector<DeviceEntry>> Devices() override { return inner_->Devices(); }
  std::unique_ptr<CaptureDevice> OpenDevice(int position, int& error) override {
    auto device = inner_->OpenDevice(position, error);
    return device ? std::make_unique<Device>(std::move(device), clock_, ms_) : nullptr;
  }

 private:
  struct Device : CaptureDevice {
    Device(std::unique_ptr<CaptureDevice> d, std::shared_ptr<platform::ManualClock> c, uint32_t ms)
        : inner(std::move(d)), clock(std::move(c)), ms(ms) {}
    std::vector<MediaType> MediaTypes() override { return inner->MediaTypes(); }
    int Start(const MediaType& type, const std::function<bool()>& stop) override { return inner->Start(type, stop); }
    bool LatestSample(int32_t bits, media::FrameImage& image) override {
      clock->Advance(ms);
      return inner->LatestSample(bits, image);
    }
    std::vector<DeviceInput> Inputs() override { return inner->Inputs(); }
    bool SelectInput(int input) override { return inner->SelectInput(input); }
    std::vector<DeviceControl> Controls() override { return inner->Controls(); }
    bool SetControl(uint32_t id, int32_t value) override { return inner->SetControl(id, value); }
    std::unique_ptr<CaptureDevice> inner;
    std::shared_ptr<platform::ManualClock> clock;
    uint32_t ms;
  };
  std::shared_ptr<CaptureService> inner_;
  std::shared_ptr<platform::ManualClock> clock_;
  uint32_t ms_;
};

// A window that collects what it is sent, registered for the test's length.
struct Window {
  explicit Window(bool visible = true) {
    target.SetVisible(visible);
    handle = platform::RegisterWindow(&target);
  }
  ~Window() { platform::UnregisterWindow(handle); }
  // Frame records received: true for a picture, false for a cleared one.
  std::vector<bool> Frames() {
    for (auto& m : target.TakeAll()) {
      if (m.id == media::ShowFrameRecord::kNumber) {
        const auto* record = platform::Peek<media::ShowFrameRecord>(m);
        frames.push_back(record && *record);
      } else {
        others.push_back(std::move(m));
      }
    }
    return frames;
  }
  size_t CountOf(uint32_t id) {
    Frames();
    return size_t(std::count_if(others.begin(), others.end(), [id](const platform::Message& m) { return m.id == id; }));
  }
  platform::CollectingWindowTarget target;
  platform::WindowHandle handle = 0;
  std::vector<bool> frames;
  std::vector<platform::Message> others;
};

struct Harness {
  explicit Harness(const std::string& script = kCamera) {
    std::string error;
    service = ScriptedService::FromScript(script, &error);
    EXPECT_TRUE(service) << error;
  }
  ~Harness() {
    if (worker) {
      platform::Post<camera::to_worker::ThreadStop>(worker->Id(), camera::kStopReasonDiscard);
      EXPECT_TRUE(worker->Wait(10000));
    }
  }

  std::unique_ptr<camera::CameraRecord> Camera() {
    auto cam = camera::CreateDefaultCamera();
    cam->cameraType = camera::kCameraLocal;
    cam->deviceIndex = 0;
    cam->formatWidth = 320;
    cam->formatHeight = 240;
    cam->formatBits = 24;
    cam->pinIndex = 0;
    camera::SetText(cam->savePath, Path());
    cam->motionEnabled = 0;  // save every frame
    cam->frameDelayMs = 0;
    return cam;
  }
  std::string Path() const { return dir.Path() + "rec/video.mjpg"; }

  void Start(std::unique_ptr<camera::CameraRecord> cam, LocalWorkerTiming timing = {},
             platform::WindowHandle liveView = 0, platform::WindowHandle snapshotTarget = 0,
             platform::WindowHandle propertiesParent = 0, std::shared_ptr<platform::LoopClock> clock = nullptr) {
    worker::WorkerParams params;
    params.record = std::move(cam);
    params.logThread = events.Id();
    params.mainWindow = main.handle;
    params.liveViewWindow = liveView;
    params.snapshotTarget = snapshotTarget;
    params.propertiesOwner = propertiesParent;
    params.soundPlayer = std::make_shared<SilentPlayer>();
    params.clock = std::move(clock);
    timing.onFrameTimer = [this](uint32_t delay) {
      const std::lock_guard<std::mutex> lock(timersMutex);
      frameTimers.push_back(delay);
    };
    worker = CThreadDXCam::Start(std::move(params), std::move(timing),
                                 devices ? devices : std::shared_ptr<CaptureService>(service));
    ASSERT_TRUE(worker);
  }

  // What the worker told the main window, in order: "S<status>", "X<reason>", "R", "U".
  std::vector<std::string> MainMessages() {
    for (auto& m : main.target.TakeAll()) {
      namespace to = camera::to_main_window;
      if (m.id == to::CamStatus::kNumber) seen.push_back("S" + std::to_string(m.lParam));
      if (m.id == to::CamStopped::kNumber) seen.push_back("X" + std::to_string(m.lParam));
      if (m.id == to::WorkerRegister::kNumber) seen.push_back("R");
      if (m.id == to::WorkerUnregister::kNumber) seen.push_back("U");
      if (auto* h = platform::Peek<to::WorkerHealthReport>(m)) health.push_back(*h);
    }
    return seen;
  }
  bool Stop(int32_t reason) {
    platform::Post<camera::to_worker::ThreadStop>(worker->Id(), reason);
    const bool ended = worker->Wait(10000);
    if (ended) worker.reset();
    return ended;
  }
  size_t SavedFrames() {
    std::vector<media::mjpg::FrameSpan> frames;
    media::mjpg::ReadAllFrames(Path(), frames);
    return frames.size();
  }
  std::vector<uint32_t> FrameTimers() {
    const std::lock_guard<std::mutex> lock(timersMutex);
    return frameTimers;
  }

  test_support::ScopedTempDir dir{"local_worker"};
  EventSink events;
  Window main;
  std::shared_ptr<ScriptedService> service;
  std::shared_ptr<CaptureService> devices;  // set: used instead of the scripted service
  platform::ThreadHandlePtr worker;
  std::vector<std::string> seen;
  std::vector<camera::WorkerHealth> health;
  std::mutex timersMutex;
  std::vector<uint32_t> frameTimers;
};

bool Contains(const std::vector<std::string>& all, const std::string& one) {
  return std::find(all.begin(), all.end(), one) != all.end();
}

TEST(LocalWorker, RecordsAndReportsItsStopByReason) {
  struct Case {
    int32_t reason;
    const char* stopped;  // the main window's last message; "" for none
  };
  const Case cases[] = {{camera::kStopReasonStop, "X0"}, {camera::kStopReasonRestart, "X2"},
                        {camera::kStopReasonDiscard, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    Harness h;
    h.Start(h.Camera());
    ASSERT_TRUE(WaitFor([&] { return h.SavedFrames() >= 3; }, 10000));
    ASSERT_TRUE(h.Stop(c.reason));
    const auto main = h.MainMessages();
    ASSERT_FALSE(main.empty());
    EXPECT_EQ(main.front(), "S1");
    EXPECT_EQ(Contains(main, "X" + std::to_string(c.reason)), *c.stopped != '\0');
    if (*c.stopped) {
      EXPECT_EQ(main.back(), c.stopped);
    }
    ASSERT_FALSE(h.health.empty());
    EXPECT_GT(h.health.back().framesSaved, 0);
    EXPECT_EQ(h.health.back().currentFile, h.Path());
    ASSERT_TRUE(WaitFor([&] { return h.events.CountOf(camera::kEventDeviceThreadExited) == 1; }, 5000));
    for (const auto& e : h.events.Events()) {
      if (e.code == camera::kEventDeviceThreadStarted || e.code == camera::kEventDeviceThreadExited) {
        EXPECT_EQ(e.argument, h.Path());
      }
    }
  }
}

TEST(LocalWorker, UnpluggedDeviceFailsToStartAndClearsTheSnapshot) {
  for (const bool snapshot : {false, true}) {
    SCOPED_TRACE(snapshot ? "snapshot" : "recording");
    Harness h(std::string(kCamera) + "unplugged\n");
    Window picture;
    h.Start(h.Camera(), {}, 0, snapshot ? picture.handle : 0);
    ASSERT_TRUE(h.worker->Wait(10000));
    h.worker.reset();
    const auto main = h.MainMessages();
    if (snapshot) {
      EXPECT_EQ(main, (std::vector<std::string>{"R", "U"}));
      EXPECT_EQ(picture.Frames(), std::vector<bool>{false});  // a cleared picture
    } else {
      EXPECT_EQ(main, (std::vector<std::string>{"S2", "X0"}));
      ASSERT_TRUE(WaitFor([&] { return h.events.CountOf(camera::kEventDeviceInitFailed) == 1; }, 5000));
      for (const auto& e : h.events.Events())
        if (e.code == camera::kEventDeviceInitFailed) {
          EXPECT_EQ(e.argument, h.Path());
        }
      EXPECT_EQ(h.SavedFrames(), 0u);
    }
  }
}

TEST(LocalWorker, TicksArePacedFromTheirStart) {
  struct Case {
    int processingMs;
    uint32_t nextDelay;
  };
  const Case cases[] = {{300, 700}, {1200, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.processingMs);
    Harness h;
    auto cam = h.Camera();
    cam->frameDelayMs = 1000;
    // Each sample takes the processing time of the worker's clock.
    auto clock = std::make_shared<platform::ManualClock>();
    h.devices = std::make_shared<SlowService>(h.service, clock, c.processingMs);
    h.Start(std::move(cam), {}, 0, 0, 0, clock);
    ASSERT_TRUE(clock->WaitForTimer(1000));
    clock->Advance(1000);
    ASSERT_TRUE(WaitFor([&] { return h.FrameTimers().size() >= 2; }, 10000));
    const auto timers = h.FrameTimers();
    EXPECT_EQ(timers[0], 1000u);  // the first tick, after the frame delay
    EXPECT_EQ(timers[1], c.nextDelay);
  }
}

TEST(LocalWorker, OnlyAVisibleLiveViewGetsFrames) {
  for (const bool visible : {true, false}) {
    SCOPED_TRACE(visible ? "visible" : "hidden");
    Harness h;
    Window view(visible);
    h.Start(h.Camera(), {}, view.handle);
    ASSERT_TRUE(WaitFor([&] { return h.SavedFrames() >= 3; }, 10000));
    ASSERT_TRUE(h.Stop(camera::kStopReasonStop));
    const size_t frames = view.Frames().size();
    EXPECT_EQ(frames >= 3, visible);
    EXPECT_EQ(view.CountOf(camera::to_live_view::MotionLevel::kNumber), frames);
  }
}

TEST(LocalWorker, MissingFramesAreLoggedOncePerRunAndPaused) {
  struct Case {
    const char* fault;
    size_t framesAtEvent;  // saved when the event arrived (at least)
    bool recovers;
  };
  const Case cases[] = {{"drop 3 5\n", 2, true}, {"unplug-after 2\n", 2, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Harness h(std::string(kCamera) + c.fault);
    h.Start(h.Camera());
    ASSERT_TRUE(WaitFor([&] { return h.events.CountOf(camera::kEventFrameDropped) == 1; }, 10000));
    if (c.recovers) {
      ASSERT_TRUE(WaitFor([&] { return h.SavedFrames() >= 6; }, 10000));
    } else {
      EXPECT_EQ(h.SavedFrames(), c.framesAtEvent);
      ASSERT_TRUE(WaitFor([&] { return h.FrameTimers().size() >= 6; }, 10000));
    }
    ASSERT_TRUE(h.Stop(camera::kStopReasonStop));
    EXPECT_EQ(h.events.CountOf(camera::kEventFrameDropped), 1u);
    for (const auto& e : h.events.Events())
      if (e.code == camera::kEventFrameDropped) {
        EXPECT_EQ(e.argument, h.Path());
      }
    // After a frame that did not come the next tick waits a pause, even at frame delay 0.
    const auto timers = h.FrameTimers();
    EXPECT_NE(std::find(timers.begin(), timers.end(), LocalWorkerTiming{}.dropPauseMs), timers.end());
  }
}

TEST(LocalWorker, DeviceSettingsPauseRecordingUntilThePropertiesWindowEnds) {
  enum class End { Closed, NeverShown, WorkerStopped };
  for (const End end : {End::Closed, End::NeverShown, End::WorkerStopped}) {
    SCOPED_TRACE(int(end));
    Harness h;
    Window owner, preview, properties;
    auto cam = h.Camera();
    cam->frameDelayMs = 50;
    LocalWorkerTiming timing;
    timing.propertiesCheckMs = 50;
    timing.propertiesOpenTimeoutMs = 300;
    timing.settingsPreviewMs = 10;
    h.Start(std::move(cam), std::move(timing));
    ASSERT_TRUE(WaitFor([&] { return h.SavedFrames() >= 1; }, 10000));
    platform::Post<camera::to_worker::ShowDeviceSettings>(h.worker->Id(), intptr_t(preview.handle),
                                                          intptr_t(owner.handle));
    ASSERT_TRUE(WaitFor([&] { return owner.target.Count() == 1; }, 5000));
    const size_t savedWhenAsked = h.SavedFrames();
    auto request = owner.target.TakeAll();
    ASSERT_EQ(request[0].id, to_properties_owner::OpenDeviceProperties::kNumber);
    const auto* asked = platform::Peek<to_properties_owner::OpenDeviceProperties>(request[0]);
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->worker, h.worker->Id());
    EXPECT_EQ(asked->controls.size(), 3u);

    if (end != End::NeverShown) {
      // The window appears and changes a control: the device takes it at once, the
      // preview shows it, and no frame is recorded meanwhile.
      platform::Post<to_device_worker::PropertiesShown>(h.worker->Id(), intptr_t(properties.handle));
      platform::Post<to_device_worker::ControlChanged>(h.worker->Id(), kControlBrightness, 40);
      ASSERT_TRUE(WaitFor([&] { return h.service->ControlValue(0, kControlBrightness) == 40; }, 5000));
      ASSERT_TRUE(WaitFor([&] { return preview.Frames().size() == 1; }, 5000));
      EXPECT_EQ(h.SavedFrames(), savedWhenAsked);
    }
    if (end == End::WorkerStopped) {
      ASSERT_TRUE(h.Stop(camera::kStopReasonStop));
      EXPECT_EQ(properties.CountOf(to_properties_window::CloseProperties::kNumber), 1u);
      continue;
    }
    const size_t previews = preview.Frames().size();
    if (end == End::Closed) platform::Post<to_device_worker::PropertiesClosed>(h.worker->Id());
    // Afterwards one frame goes to the preview and the ticks resume a second later.
    ASSERT_TRUE(WaitFor([&] { return preview.Frames().size() == previews + 1; }, 5000));
    EXPECT_TRUE(preview.frames.back());
    ASSERT_TRUE(WaitFor([&] { return !h.FrameTimers().empty() && h.FrameTimers().back() == 1000u; }, 5000));
  }
}

TEST(LocalWorker, SnapshotOpensThePropertiesWindowThenPostsOneFrame) {
  Harness h;
  Window owner, picture;
  h.Start(h.Camera(), {}, 0, picture.handle, owner.handle);
  ASSERT_TRUE(WaitFor([&] { return owner.target.Count() == 1; }, 5000));
  EXPECT_TRUE(picture.Frames().empty());
  platform::Post<to_device_worker::PropertiesClosed>(h.worker->Id());
  ASSERT_TRUE(h.worker->Wait(10000));
  h.worker.reset();
  EXPECT_EQ(picture.Frames(), std::vector<bool>{true});
  EXPECT_EQ(h.MainMessages(), (std::vector<std::string>{"R", "U"}));
}

TEST(LocalWorker, SendFramePostsTheCurrentFrame) {
  Harness h;
  Window picture;
  auto cam = h.Camera();
  cam->frameDelayMs = 200;
  h.Start(std::move(cam));
  ASSERT_TRUE(WaitFor([&] { return h.SavedFrames() >= 1; }, 10000));
  platform::Post<camera::to_worker::SendFrame>(h.worker->Id(), intptr_t(picture.handle));
  ASSERT_TRUE(WaitFor([&] { return picture.Frames().size() == 1; }, 5000));
  EXPECT_TRUE(picture.frames[0]);
}

TEST(LocalWorker, RecordsFromARealDevice) {
  auto service = std::make_shared<V4l2Service>();
  CDXVideo probe(service);
  ComboList devices, formats(true);
  if (probe.ListDevices(&devices) <= 0 || probe.ListFormats(probe.DevicePosition(0), &formats) <= 0)
    GTEST_SKIP() << "no V4L2 capture device with a format on this machine";
  Harness h;
  auto cam = h.Camera();
  cam->deviceIndex = probe.DevicePosition(0);
  ASSERT_TRUE(CDXVideo::ParseFormatText(formats.SelectedText(), cam->formatWidth, cam->formatHeight, cam->formatBits));
  cam->frameDelayMs = 100;
  worker::WorkerParams params;
  params.record = std::move(cam);
  params.logThread = h.events.Id();
  params.mainWindow = h.main.handle;
  h.worker = CThreadDXCam::Start(std::move(params), {}, service);
  ASSERT_TRUE(h.worker);
  EXPECT_TRUE(WaitFor([&] { return h.SavedFrames() >= 3; }, 15000)) << formats.SelectedText();
  ASSERT_TRUE(h.Stop(camera::kStopReasonStop));
  EXPECT_EQ(h.MainMessages().front(), "S1");
}

}  // namespace
}  // namespace recorder::capture
