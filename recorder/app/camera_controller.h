#pragma once
// The recorder's camera list and its rules: loading cameras, starting, resuming,
// stopping, restarting and deleting them, following their workers' status
// messages, saving the settings file after every change, and the ordered
// shutdown. Both the window interface and the headless recorder drive it; it
// runs on the thread that owns the main window handle.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/message.h"
#include "platform/message_thread.h"
#include "recorder/app/log_thread.h"
#include "recorder/camera/camera_record.h"

namespace recorder::app {

// Creates and resumes the worker of one camera from its own deep copy of the record.
// Returns the worker's handle, or null when no worker could be made.
using WorkerFactory = std::function<platform::ThreadHandlePtr(std::unique_ptr<camera::CameraRecord> copy, bool resume,
                                                              platform::ThreadId logThread)>;
// Network cameras get the network worker; local capture devices have no worker in this build.
WorkerFactory DefaultWorkerFactory();

struct CameraRow {
  std::unique_ptr<camera::CameraRecord> record;
  std::string status = "Stopped";
};

class CameraController {
 public:
  CameraController(std::string settingsPath, platform::WindowHandle mainWindow,
                   WorkerFactory factory = DefaultWorkerFactory());
  ~CameraController();

  // Reads the settings file into rows ("Stopped") and the logToFile option.
  void LoadSettings();
  // Starts the log thread with the current logToFile option.
  bool StartLogThread(const std::string& logFilePath, LogEcho echo = {});
  platform::ThreadId logThreadId() const { return logThreadId_; }
  int32_t logToFile() const { return logToFile_; }

  size_t CameraCount() const { return rows_.size(); }
  const CameraRow& Row(size_t index) const { return rows_.at(index); }
  // Row index of the camera whose worker has this thread id; -1 when none.
  long FindRowByWorker(platform::ThreadId id) const;

  // Start or resume one camera unless it is running.
  void StartCamera(size_t index, bool resume);
  // Selected rows are walked from the last selected to the first.
  void StartSelected(const std::vector<size_t>& rows, bool resume);
  void StartAll(bool resume);
  void StopSelected(const std::vector<size_t>& rows);
  void StopAll();

  // Adds a camera at the top of the list, starts it anew and saves.
  void AddCamera(std::unique_ptr<camera::CameraRecord> record);
  // Replaces a camera's record, restarts a running worker in append mode and saves.
  void EditCamera(size_t index, std::unique_ptr<camera::CameraRecord> record);
  // Ties a row to its live view window (made by the window layer).
  void SetLiveView(size_t index, platform::WindowHandle window, void* view);
  // Removes rows (highest first), discards their workers silently and saves.
  void DeleteCameras(std::vector<size_t> rows);
  // Stores the program option, switches file logging and saves.
  void SetProgramOptions(int32_t logToFile);
  // Writes every row in list order; false when the file could not be written.
  bool SaveSettings();

  // Messages addressed to the main window: CamStatus, CamStopped, WorkerRegister,
  // WorkerUnregister, GridChanged. Returns true when the message was one of them.
  bool HandleMessage(platform::Message& msg);

  // Called after a row's status or contents changed (for the window or a printer).
  std::function<void(size_t row)> onRowChanged;

  // Shutdown, first step on the owning thread: tells every worker and snapshot
  // worker to stop silently and hands back what has to be waited for.
  struct ShutdownPlan {
    std::vector<platform::ThreadHandlePtr> workers;
    std::vector<platform::ThreadHandlePtr> snapshotWorkers;
    platform::ThreadId logThread = 0;
    platform::ThreadHandlePtr logHandle;
  };
  ShutdownPlan BeginShutdown();
  // Second step, on a background thread: waits for the workers (25 s each), then
  // stops the log thread and waits for it (5 s).
  static void RunShutdownWaits(const ShutdownPlan& plan, int workerWaitMs = 25000, int logWaitMs = 5000);
  // Last step on the owning thread: releases every row.
  void FinishShutdown();

  size_t SnapshotWorkerCount() const { return liveWorkers_.size(); }

 private:
  void SetStatus(size_t index, std::string status);
  void Changed(size_t index);

  std::string settingsPath_;
  platform::WindowHandle mainWindow_;
  WorkerFactory factory_;
  std::vector<CameraRow> rows_;
  int32_t logToFile_ = 0;
  platform::ThreadId logThreadId_ = 0;
  platform::ThreadHandlePtr logThread_;
  struct LiveWorker {
    platform::ThreadHandlePtr handle;
    platform::ThreadId id = 0;
  };
  std::vector<LiveWorker> liveWorkers_;
};

}  // namespace recorder::app
