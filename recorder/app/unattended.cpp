#include "recorder/app/unattended.h"

#include <cstdlib>

#include "recorder/camera/field_table.h"
#include "recorder/camera/messages.h"

namespace recorder::app {

UnattendedServices::~UnattendedServices() { Stop(); }

bool UnattendedServices::Start(platform::ThreadId logThread, recording::RetentionTiming retention,
                               CommandTiming commands) {
  if (retention.home.empty()) {
    const char* home = std::getenv("HOME");
    retention.home = home ? home : "";
  }
  retention_ = platform::MessageThread::CreateSuspended(
      std::make_unique<recording::RetentionThread>(logThread, std::move(retention)));
  commands_ = platform::MessageThread::CreateSuspended(std::make_unique<EventCommandThread>(logThread, commands));
  if (!retention_ || !commands_) return false;
  platform::MessageThread::Resume(retention_);
  platform::MessageThread::Resume(commands_);
  platform::Post<camera::to_log::LogForwardTo>(logThread, commands_->Id());
  recording::SetRetentionListener(retention_->Id());
  return true;
}

void UnattendedServices::Update(const std::vector<CameraLimits>& cameras, const camera::ProgramSettings& program) {
  if (!retention_ || !commands_) return;
  recording::RetentionConfig config;
  config.keepFreePercent = program.keepFreePercent;
  std::vector<CameraTag> tags;
  std::string rulesKey = std::to_string(program.keepFreePercent), tagsKey;
  for (size_t i = 0; i < cameras.size(); ++i) {
    const camera::CameraRecord& c = *cameras[i].record;
    recording::RetentionRule rule;
    rule.savePath = camera::GetText(c.savePath);
    rule.saveAsMjpg = c.saveAsMjpg != 0;
    rule.keepDays = c.keepDays;
    rule.keepMegabytes = c.keepMegabytes;
    rule.worker = cameras[i].worker;
    rule.label = camera::CameraLabel(i, c);
    rulesKey += "\n" + rule.savePath + "\t" + std::to_string(rule.keepDays) + "\t" +
                std::to_string(rule.keepMegabytes) + "\t" + std::to_string(rule.worker) + "\t" + rule.label;
    config.cameras.push_back(std::move(rule));
    if (cameras[i].worker != 0) {
      tags.push_back(CameraTag{cameras[i].worker, long(i), c.name});
      tagsKey += std::to_string(cameras[i].worker) + "\t" + std::to_string(i) + "\t" + c.name + "\n";
    }
  }
  if (tagsKey != lastTags_) {
    lastTags_ = tagsKey;
    platform::Post<to_commands::SetCameras>(commands_->Id(), 0, 0, std::move(tags));
  }
  if (!commandSent_ || program.onEventCommand != lastCommand_) {
    commandSent_ = true;
    lastCommand_ = program.onEventCommand;
    platform::Post<to_commands::SetCommand>(commands_->Id(), 0, 0, program.onEventCommand);
  }
  // The rules last: what retention logs about them reaches the command thread
  // through the log thread, after the command and the cameras it needs.
  if (rulesKey != lastRules_) {
    lastRules_ = rulesKey;
    platform::Post<recording::to_retention::SetRules>(retention_->Id(), 0, 0, std::move(config));
  }
}

std::vector<platform::ThreadHandlePtr> UnattendedServices::Stop() {
  std::vector<platform::ThreadHandlePtr> handles;
  if (retention_) {
    recording::SetRetentionListener(0);
    platform::Post<recording::to_retention::ThreadStop>(retention_->Id());
    handles.push_back(std::move(retention_));
  }
  if (commands_) {
    platform::Post<to_commands::ThreadStop>(commands_->Id());
    handles.push_back(std::move(commands_));
  }
  retention_.reset();
  commands_.reset();
  return handles;
}

}  // namespace recorder::app
