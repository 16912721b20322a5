#pragma once
// The worker thread of one local capture device. Recording: opens the camera's
// device, pulls its most recent frame on the frame timer (paced from the start
// of each tick), runs the frame pipeline, saves and feeds the live view. Snapshot:
// opens the device, optionally shows its properties window, and after one second
// posts one frame to a window and ends.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/frame_image.h"
#include "recorder/capture/capture_service.h"
#include "recorder/capture/dx_video.h"
#include "recorder/worker/camera_worker.h"

namespace recorder::capture {

// Delays of the worker; fixed in production, observed or shortened by tests.
struct LocalWorkerTiming {
  uint32_t snapshotDelayMs = 1000;  // snapshot: from opening to the frame
  uint32_t settingsResumeMs = 1000;  // frame ticks after the properties window closed
  uint32_t soundDelayMs = 1000;
  // After a frame that did not come, the next tick waits at least this long, so a
  // device that delivers nothing does not spin the worker at frame delay 0.
  uint32_t dropPauseMs = 250;
  // While the properties window is open the worker looks at it this often, and
  // gives up the wait when the window has not appeared within the open time-out.
  uint32_t propertiesCheckMs = 1000;
  uint32_t propertiesOpenTimeoutMs = 10000;
  // A change in the properties window shows in the preview this much later.
  uint32_t settingsPreviewMs = 250;
  std::function<void(uint32_t delayMs)> onFrameTimer;  // hears every frame timer set
};

class CThreadDXCam : public worker::CameraWorker {
 public:
  // service: the capture devices; null for DefaultCaptureService().
  CThreadDXCam(worker::WorkerParams params, LocalWorkerTiming timing = {},
               std::shared_ptr<CaptureService> service = nullptr);
  ~CThreadDXCam() override;

  // Starts a worker; null without a record. Returns its handle (id via Id()).
  static platform::ThreadHandlePtr Start(worker::WorkerParams params, LocalWorkerTiming timing = {},
                                         std::shared_ptr<CaptureService> service = nullptr);

 protected:
  bool InitInstance() override;
  void OnWorkerStart() override;
  void OnSnapshotStart() override;
  void OnSourceMessage(platform::Message& msg) override;
  void OnSourceTimer(uint32_t timerId) override;
  void StopSource() override;
  std::string LoggedName() const override;

 private:
  void OnFrameTick();
  void OnSnapshotFrame();
  void SendFrame(platform::WindowHandle window);
  void OnShowDeviceSettings(platform::WindowHandle frameTarget, platform::WindowHandle owner);
  // The properties window: asked for, then waited for on the queue; `after` runs when it
  // closed (or never came).
  enum class AfterProperties { None, SnapshotTimer, SettingsFrame };
  void ShowProperties(platform::WindowHandle owner, AfterProperties after);
  void EndPropertiesWait();
  void StartFrameTimer(uint32_t delayMs);

  LocalWorkerTiming timing_;
  CDXVideo device_;
  std::string currentPath_;
  uint32_t frameTimer_ = 0;
  uint32_t snapshotTimer_ = 0;

  // The properties window while the worker waits for it.
  bool propertiesOpen_ = false;
  platform::WindowHandle propertiesWindow_ = 0;
  AfterProperties afterProperties_ = AfterProperties::None;
  platform::WindowHandle settingsFrameTarget_ = 0;
  uint32_t propertiesTimer_ = 0;
  uint32_t settingsPreviewTimer_ = 0;
  platform::LoopClock::TimePoint propertiesAsked_{};

  bool dropLogged_ = false;  // "Frame was dropped" once until frames come again
};

}  // namespace recorder::capture
