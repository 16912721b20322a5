#pragma once
// The recorder's camera list and its rules: loading cameras, starting, resuming,
// stopping, restarting and deleting them, following their workers' status
// messages, saving the settings file after every change, and the ordered
// shutdown. Both the window interface and the headless recorder drive it; it
// runs on the thread that owns the main window handle.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/message.h"
#include "platform/message_thread.h"
#include "recorder/app/log_thread.h"
#include "recorder/app/unattended.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/messages.h"
#include "recorder/camera/settings_file.h"
#include "recorder/web/live_camera.h"
#include "recorder/worker/camera_worker.h"
#include "recorder/camera/program_settings.h"

namespace recorder::app {

// Creates and resumes a worker. Returns its handle, or null when no worker could be made.
using WorkerFactory = std::function<platform::ThreadHandlePtr(worker::WorkerParams params)>;
// Network cameras get the network worker, local capture devices the local camera worker.
WorkerFactory DefaultWorkerFactory();

// What changed in a row, for observers that show only some columns.
enum RowChange : unsigned {
  kRowStatus = 1,
  kRowType = 2,
  kRowSavePath = 4,
  kRowSettings = 8,  // any other stored field
  kRowAll = 15,
};
struct RowEvent {
  enum class Kind { Inserted, Removed, Changed };
  Kind kind = Kind::Changed;
  size_t row = 0;        // position after an insert, before a removal
  unsigned changes = 0;  // RowChange bits, for Changed
};
using RowObserver = std::function<void(const RowEvent& event)>;

// One camera of the list: its settings and what runs for it.
struct CameraRow {
  std::unique_ptr<camera::CameraRecord> record;
  std::string status = "Stopped";
  platform::ThreadId workerId = 0;
  platform::ThreadHandlePtr worker;
  platform::WindowHandle liveViewWindow = 0;
  std::function<void()> destroyLiveView;  // set by the window layer with the view

  // Recording figures: the running worker's last report, plus the frames that
  // earlier workers of this row saved since the program started.
  camera::WorkerHealth health;
  int64_t framesSavedBefore = 0;
  int64_t FramesSaved() const { return framesSavedBefore + health.framesSaved; }

  // The last failure status a worker reported ("Diskfull", ...): the stop
  // message that follows a failure overwrites the status with "Stopped".
  std::string failure;
  // The log lines of the row's latest worker (the last few), which say why it
  // failed; they may arrive after its stop message, so that worker's id is kept.
  std::vector<std::string> workerLines;
  platform::ThreadId lastWorkerId = 0;
  // What live viewers see of this camera; its workers fill it while serving is on.
  std::shared_ptr<web::LiveCamera> live = std::make_shared<web::LiveCamera>();
  bool stopRequested = false;  // the user (or a command) asked this camera to stop
  bool retryPending = false;
  platform::LoopClock::TimePoint retryAt{};
};

class CameraController {
 public:
  CameraController(std::string settingsPath, platform::WindowHandle mainWindow,
                   WorkerFactory factory = DefaultWorkerFactory());
  ~CameraController();

  // Reads the settings file into rows ("Stopped") and the logToFile option.
  void LoadSettings();
  // Starts the log thread with the current logToFile option; view is the log
  // view window that shows its entries (0 for none). Workers' lines also reach
  // their rows (workerLines) through the main window.
  bool StartLogThread(const std::string& logFilePath, LogEcho echo = {}, platform::WindowHandle view = 0);
  platform::ThreadId logThreadId() const { return logThreadId_; }
  int32_t logToFile() const { return logToFile_; }

  size_t CameraCount() const { return rows_.size(); }
  const CameraRow& Row(size_t index) const { return rows_.at(index); }
  // Row index of the camera whose worker has this thread id; -1 when none.
  long FindRowByWorker(platform::ThreadId id) const;

  // Observers hear of every inserted, removed and changed row, in order.
  void AddObserver(RowObserver observer) { observers_.push_back(std::move(observer)); }

  // Start or resume one camera unless it is running.
  void StartCamera(size_t index, bool resume);
  // The recording file that starting the camera anew would cut back to nothing,
  // and the frames it holds now. No file (and 0 frames) when the camera saves
  // JPEG files or nothing, or the file is missing.
  struct RecordingOnDisk {
    std::string file;
    int64_t frames = 0;
  };
  RecordingOnDisk ExistingRecording(size_t index) const;
  // Selected rows are walked from the last selected to the first.
  void StartSelected(const std::vector<size_t>& rows, bool resume);
  void StartAll(bool resume);
  void StopSelected(const std::vector<size_t>& rows);
  void StopAll();

  // A record for a camera about to be added at the top: every default, the given
  // type, and a save path that no listed camera uses.
  std::unique_ptr<camera::CameraRecord> NewCameraRecord(int32_t cameraType) const;
  // Puts the rows into a new order (order[i] = the old index of the row that goes
  // to position i), as a sorted list shows them, and saves: the settings file
  // keeps the cameras in list order. A list that is not a permutation changes nothing.
  bool ReorderRows(const std::vector<size_t>& order);

  // Adds a camera at the top of the list, starts it appending to a recording its
  // save path already names, and saves.
  void AddCamera(std::unique_ptr<camera::CameraRecord> record);
  // Replaces a camera's settings, restarts a running worker in append mode and saves.
  void EditCamera(size_t index, std::unique_ptr<camera::CameraRecord> record);
  // Ties a row to its live view window (made by the window layer), or unties it
  // with 0; a running worker sends its frames there from now on. The destroyer
  // runs when the row goes away.
  void SetLiveView(size_t index, platform::WindowHandle window, std::function<void()> destroyer = {});
  // Removes rows (highest first), discards their workers silently and saves.
  void DeleteCameras(std::vector<size_t> rows);
  // Stores the program option, switches file logging and saves.
  void SetProgramOptions(int32_t logToFile);
  // The program settings of unattended use (retention's free share, the event
  // command, the offline time): stored in the settings file's program part.
  camera::ProgramSettings programSettings() const { return camera::ReadProgramSettings(program_); }
  void SetProgramSettings(const camera::ProgramSettings& settings);
  // Starts the retention and event command threads beside the log thread (which
  // must run); StartLogThread does this with the default timing.
  bool StartUnattendedServices(recording::RetentionTiming retention = {}, CommandTiming commands = {});
  const UnattendedServices& unattendedServices() const { return services_; }
  // The program part of the settings file's extension section, as loaded; saved
  // with every change.
  const camera::ProgramRecords& programRecords() const { return program_; }
  void SetProgramRecords(camera::ProgramRecords program);
  // Live viewers: from now on the cameras (name, status) are published to board
  // and the workers hand their rows' pictures over; null ends it.
  void SetLiveBoard(std::shared_ptr<web::LiveBoard> board);
  // Writes every row in list order; false when the file could not be written.
  bool SaveSettings();

  // Starts a short-lived worker that fetches one picture of the record for a
  // source dialog's window; the worker registers itself so shutdown waits for it.
  // A local camera's worker first opens the device's properties window owned by
  // propertiesOwner, when one is given.
  platform::ThreadHandlePtr StartSnapshotWorker(std::unique_ptr<camera::CameraRecord> copy,
                                                platform::WindowHandle target,
                                                platform::WindowHandle propertiesOwner = 0);

  // Unattended use: a camera whose worker ended without being asked to (a failure
  // status, or a worker that gave up without a picture) is started again, appending,
  // after this many milliseconds; 0 (the default) leaves it stopped as the window
  // version does. RunDueRetries starts those whose time has come.
  void SetRetryAfterFailure(int retryMs) { retryMs_ = retryMs; }
  // Returns how many cameras were started; onRetry hears of each first.
  size_t RunDueRetries();
  // The clock of the thread that owns the controller, which times the retries; the system clock by default.
  void SetClock(std::shared_ptr<platform::LoopClock> clock) {
    if (clock) clock_ = std::move(clock);
  }
  std::function<void(size_t row, const std::string& failure)> onRetry;

  // Messages addressed to the main window: CamStatus, CamStopped, WorkerRegister,
  // WorkerUnregister, GridChanged, WorkerHealthReport, ShutdownDone. Returns true
  // when the message was one of them.
  bool HandleMessage(platform::Message& msg);

  // The ordered shutdown in one call: every worker and snapshot worker is told to
  // stop silently, a background thread waits for them (25 s each) and then for the
  // log thread (5 s), and posts ShutdownDone to the main window, whose handling
  // releases every row and runs onShutdownComplete. Status messages are still
  // handled meanwhile; stop messages no longer restart anything.
  void Shutdown(int workerWaitMs = 25000, int logWaitMs = 5000);
  bool ShuttingDown() const { return shuttingDown_; }
  std::function<void()> onShutdownComplete;

  // The steps of Shutdown, for callers that wait themselves.
  struct ShutdownPlan {
    std::vector<platform::ThreadHandlePtr> workers;
    std::vector<platform::ThreadHandlePtr> snapshotWorkers;
    platform::ThreadId logThread = 0;
    platform::ThreadHandlePtr logHandle;
    std::vector<platform::ThreadHandlePtr> services;  // stopped after the log thread
  };
  ShutdownPlan BeginShutdown();
  static void RunShutdownWaits(const ShutdownPlan& plan, int workerWaitMs = 25000, int logWaitMs = 5000);
  void FinishShutdown();

  size_t SnapshotWorkerCount() const { return liveWorkers_.size(); }

 private:
  void SetStatus(size_t index, std::string status);
  void Notify(RowEvent::Kind kind, size_t index, unsigned changes);
  void ReleaseRow(CameraRow& row);
  // Tells the retention and event command threads of the rows and program settings.
  void UpdateServices();
  void PublishLive();

  std::string settingsPath_;
  platform::WindowHandle mainWindow_;
  WorkerFactory factory_;
  std::vector<CameraRow> rows_;
  std::vector<RowObserver> observers_;
  int32_t logToFile_ = 0;
  camera::ProgramRecords program_;  // the settings file's program part, kept through every save
  UnattendedServices services_;
  std::shared_ptr<web::LiveBoard> liveBoard_;
  platform::ThreadId logThreadId_ = 0;
  platform::ThreadHandlePtr logThread_;
  struct LiveWorker {
    platform::ThreadHandlePtr handle;
    platform::ThreadId id = 0;
  };
  std::vector<LiveWorker> liveWorkers_;
  bool shuttingDown_ = false;
  std::thread shutdownWaiter_;
  int retryMs_ = 0;
  std::shared_ptr<platform::LoopClock> clock_ = platform::SystemClock();
};

}  // namespace recorder::app
