#pragma once
// The core every camera worker thread stands on: it takes a camera's pictures
// from "a picture is here" to "saved, shown, reported", and owns what each
// worker tells the rest of the program (status, log events, health figures,
// stop and snapshot registration) and the motion sound.
//
// How to add a camera source: derive from CameraWorker and write only how the
// source gets pictures.
// - Override OnWorkerStart() (a recording worker: open the source, call
//   StartOutput(), then begin fetching) and OnSnapshotStart() (a short-lived worker
//   that shows one picture in params.snapshotTarget and calls EndWorker(kStopReasonDiscard)).
// - Hand each picture to the frame path: camera JPEG bytes with DecodePicture(),
//   or a frame record (TakeFrameRecord(), filled by the source) directly: its
//   RGB image (local devices), or its Y, Cb and Cr planes in frame->yuv with the
//   image left empty (a video decoder's 8-bit 4:2:0/4:2:2/4:4:4 picture, rows top
//   first, copied with their strides), which are then changed, measured and
//   encoded as planes, RGB made only for a visible live view; then
//   AnalyseFrame() (pipeline, motion, sound) and DeliverFrame() (save, health,
//   live view); a source may wait in between (a frame delay). DeliverFrame()
//   returning false means the worker ended: return to the loop.
// - Report the source's own status with ReportStatus()/ReportEvent(); ask
//   StopRequested() between the items of a long step.
// - Set timers with SetTimer() and receive them in OnSourceTimer(); messages the
//   core does not know arrive in OnSourceMessage(); socket readiness in OnSocketReady().
// - Release the source (sockets, devices, timers, windows) in StopSource(), which
//   EndWorker() calls once, before the stop is reported.
// - Read the time only from Clock(): a test runs the worker on a manual clock.
// - Start it with Launch<Source>(params, extra...) (it refuses a missing record and
//   puts the worker on params.clock), and pick it in app's DefaultWorkerFactory().
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/frame_image.h"
#include "platform/loop_clock.h"
#include "platform/message_thread.h"
#include "recorder/camera/camera_record.h"
#include "recorder/frame/alarm_sound.h"
#include "recorder/frame/motion_detector.h"
#include "recorder/recording/camera_watch.h"
#include "recorder/recording/frame_records.h"
#include "recorder/recording/health_tally.h"
#include "recorder/recording/recording_output.h"
#include "recorder/web/live_camera.h"

namespace recorder::worker {

// Everything a camera worker starts from.
struct WorkerParams {
  std::unique_ptr<camera::CameraRecord> record;  // the worker's own deep copy; a worker refuses none
  bool resume = false;                           // append to the existing recording
  platform::ThreadId logThread = 0;
  platform::WindowHandle mainWindow = 0;      // status, stop and registration messages
  platform::WindowHandle liveViewWindow = 0;  // frames while it is visible; 0 for none
  platform::WindowHandle snapshotTarget = 0;  // non-zero: a snapshot worker reporting to this window
  // Local cameras' snapshot workers: the window that owns the device's properties
  // window, which the worker opens before its frame; 0 for none.
  platform::WindowHandle propertiesOwner = 0;
  std::shared_ptr<frame::SoundPlayer> soundPlayer;  // null: the desktop player
  std::shared_ptr<platform::LoopClock> clock;       // null: the system clock
  // No picture this long: "Camera offline". 0: no timed watch at all (a quiet motion
  // episode then ends with the next frame), for tests of the sources' own timing.
  int32_t offlineAfterSeconds = 0;
  std::shared_ptr<web::LiveCamera> live;            // live viewers' picture slot; null when not serving
};

// The events that name a source in the log when its worker starts and ends.
struct SourceEvents {
  int32_t started = 0;
  int32_t exited = 0;
};

class CameraWorker : public platform::MessageThread, protected recording::RecordingReporter {
 public:
  CameraWorker(WorkerParams params, SourceEvents events, uint32_t soundDelayMs = 1000);
  ~CameraWorker() override;

  // Starts a worker made from params: null, and nothing started, without a record.
  template <typename Worker, typename... Extra>
  static platform::ThreadHandlePtr Launch(WorkerParams params, Extra&&... extra) {
    if (!params.record) return nullptr;
    std::shared_ptr<platform::LoopClock> clock = params.clock;
    auto worker = std::make_unique<Worker>(std::move(params), std::forward<Extra>(extra)...);
    worker->SetClock(std::move(clock));
    return platform::MessageThread::Start(std::move(worker));
  }

 protected:
  // ---- what a source overrides
  virtual void OnWorkerStart() = 0;
  virtual void OnSnapshotStart() = 0;
  virtual void OnSourceMessage(platform::Message& msg) {}
  virtual void OnSourceTimer(uint32_t timerId) {}
  virtual void StopSource() {}
  // Names the source in the started and exited log lines.
  virtual std::string LoggedName() const = 0;

  // ---- what a source calls
  // Creates the recording output and starts it (appending when resuming). False
  // when the worker ended or a stop waits: return to the loop.
  bool StartOutput();
  // A frame record to fill, reused with its pixel buffer; and back when unused.
  std::unique_ptr<media::FrameRecord> TakeFrameRecord() { return frameRecords_.Take(); }
  void KeepFrameRecord(std::unique_ptr<media::FrameRecord> frame) { frameRecords_.Keep(std::move(frame)); }
  // The camera's JPEG bytes decoded into a frame record; null when they do not decode.
  std::unique_ptr<media::FrameRecord> DecodePicture(std::vector<uint8_t> jpeg);
  // Runs the frame pipeline and motion detection: a trigger restarts the save
  // count and starts the motion sound. Returns the motion level.
  int32_t AnalyseFrame(media::FrameRecord& frame);
  // Saves the frame when the save rule says so (a fatal save error ends the
  // worker), reports the health figures and shows it in a visible live view.
  // False when the worker ended.
  bool DeliverFrame(std::unique_ptr<media::FrameRecord> frame, int32_t level);

  // Ends the worker once: stops the recording, releases the source, reports the
  // stop (none for kStopReasonDiscard) and leaves the loop.
  void EndWorker(int32_t reason);

  // RecordingReporter: status to the main window (never from a snapshot worker),
  // events to the log thread, and whether a stop waits.
  void ReportStatus(int32_t status) override;
  void ReportEvent(int32_t code, const std::string& argument) override;
  bool StopRequested() const override;

  bool IsSnapshot() const { return snapshotTarget_ != 0; }
  bool Stopping() const { return stopping_; }
  const camera::CameraRecord& Camera() const { return *record_; }
  // The recording output once StartOutput() succeeded; null before.
  recording::RecordingOutput* Output() const { return output_.get(); }
  platform::WindowHandle MainWindow() const { return mainWindow_; }
  platform::WindowHandle SnapshotTarget() const { return snapshotTarget_; }
  platform::WindowHandle PropertiesOwner() const { return propertiesOwner_; }

  bool InitInstance() override;
  void OnMessage(platform::Message& msg) final;
  void OnTimer(uint32_t timerId) final;

 private:
  void NoteSavedFrame();
  // "Camera offline" and a quiet motion episode's end are decided on a timer too:
  // a camera that gives no picture reaches neither through its frame path. The
  // timer is set for the earlier of the two checks, not polled: while pictures
  // come it fires once an offline time at most, and then finds nothing to say.
  void PollWatches();
  void ArmWatchTimer();
  // Hands viewers the saved bytes, or, while someone watches, a picture encoded for
  // them at most at the stream rate.
  void ShowViewers(const media::FrameRecord& frame, bool saved);

  std::unique_ptr<camera::CameraRecord> record_;
  bool resume_;
  platform::ThreadId logThread_;
  platform::WindowHandle mainWindow_;
  platform::WindowHandle liveViewWindow_;
  platform::WindowHandle snapshotTarget_;
  platform::WindowHandle propertiesOwner_;
  std::shared_ptr<frame::SoundPlayer> soundPlayer_;
  SourceEvents events_;
  uint32_t soundDelayMs_;

  frame::MotionDetector detector_;
  std::unique_ptr<recording::RecordingOutput> output_;
  bool stopping_ = false;
  uint32_t soundTimer_ = 0;
  recording::OfflineWatch offline_;
  recording::MotionEpisodes motion_;
  bool watching_ = false;
  uint32_t watchTimer_ = 0;
  platform::LoopClock::TimePoint watchDue_{};
  bool triggered_ = false;  // the last analysed frame's motion decision
  // Frame records, reused while no live view takes them: a picture of the same size
  // is decoded into the last one's pixel buffer without allocating or clearing.
  recording::FrameRecords frameRecords_;
  recording::HealthTally healthTally_;
  std::shared_ptr<web::LiveCamera> live_;
  platform::LoopClock::TimePoint lastViewerEncode_{};
};

}  // namespace recorder::worker
