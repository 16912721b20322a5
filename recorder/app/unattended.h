#pragma once
// The threads of unattended use beside the cameras: retention (recordings kept
// within their limits) and the event command (the owner's command run for every
// log event). The controller starts them with the log thread, tells them of
// every change to the camera list and the program settings, and stops them with
// the log thread.
#include <string>
#include <vector>

#include "platform/message_thread.h"
#include "recorder/app/event_commands.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/program_settings.h"
#include "recorder/recording/retention_thread.h"

namespace recorder::app {

// What the threads are told of one camera of the list.
struct CameraLimits {
  const camera::CameraRecord* record = nullptr;
  platform::ThreadId worker = 0;  // 0 when not running
};

class UnattendedServices {
 public:
  ~UnattendedServices();
  // Starts both threads and has the log thread forward its events to the command thread.
  bool Start(platform::ThreadId logThread, recording::RetentionTiming retention = {}, CommandTiming commands = {});
  // Tells the threads of the cameras (in list order) and the program settings;
  // only what changed since the last call is posted.
  void Update(const std::vector<CameraLimits>& cameras, const camera::ProgramSettings& program);
  // Posts the stop messages; the handles to wait for.
  std::vector<platform::ThreadHandlePtr> Stop();

  platform::ThreadId retentionThread() const { return retention_ ? retention_->Id() : 0; }
  platform::ThreadId commandThread() const { return commands_ ? commands_->Id() : 0; }

 private:
  platform::ThreadHandlePtr retention_;
  platform::ThreadHandlePtr commands_;
  std::string lastRules_;
  std::string lastTags_;
  std::string lastCommand_;
  bool commandSent_ = false;
};

}  // namespace recorder::app
