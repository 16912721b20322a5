#pragma once
// The retention thread: keeps every camera's recordings within its keepDays and
// keepMegabytes, and the recordings' file systems above the program's free share,
// by deleting the oldest recordings. It checks at a fixed interval (5 s, so a
// crossed limit is answered well within 10 s) and whenever it is told that a
// recording file was opened. Each deletion is one log event.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/message.h"
#include "platform/message_thread.h"
#include "recorder/recording/retention.h"

namespace recorder::recording {

// One camera's limits.
struct RetentionRule {
  std::string savePath;  // the template
  bool saveAsMjpg = true;
  int32_t keepDays = 0;
  int32_t keepMegabytes = 0;
  platform::ThreadId worker = 0;  // the running worker, named as the source of its log events; 0 for none
  std::string label;              // "camera 2 (yard)", for the log line that says it gets no retention
};
struct RetentionConfig {
  std::vector<RetentionRule> cameras;
  int32_t keepFreePercent = 0;
};

namespace to_retention {
// Replaces the rules and checks at once.
struct SetRules : platform::ThreadMessage<platform::WM_USER + 700, RetentionConfig> {};
// A recording file was opened: check now.
struct CheckNow : platform::ThreadMessage<platform::WM_USER + 701> {};
struct ThreadStop : platform::ThreadMessage<platform::WM_USER + 201> {};
}  // namespace to_retention

struct RetentionTiming {
  uint32_t checkIntervalMs = 5000;
  std::string home;                    // the home folder, which gets no retention
  std::function<int64_t()> wallClock;  // seconds since 1970; empty: time(nullptr)
  // Free share of the file system that holds path, in percent; empty: statvfs.
  std::function<double(const std::string& path)> freePercent;
};

class RetentionThread : public platform::MessageThread {
 public:
  RetentionThread(platform::ThreadId logThread, RetentionTiming timing = {});

  // One pass over every rule, as the timer runs it (tests call it directly).
  void Check();
  // Replaces the rules without checking (SetRules does this, then checks).
  void SetConfig(RetentionConfig config) { config_ = std::move(config); }

 protected:
  bool InitInstance() override;
  void OnMessage(platform::Message& msg) override;
  void OnTimer(uint32_t timerId) override;

 private:
  void Removed(const RecordingFile& file, platform::ThreadId worker);

  platform::ThreadId logThread_;
  RetentionTiming timing_;
  RetentionConfig config_;
  LastFrameCache cache_;
  std::set<std::string> refusedLogged_;
  uint32_t timer_ = 0;
};

// The retention thread of this process (0 for none), told by every recording
// output when it opens a new recording file, so that the check runs at once:
// a process-wide number, like the thread registry it names a thread of.
void SetRetentionListener(platform::ThreadId retentionThread);
// Posts the check to that thread, if any.
void NoteRecordingOpened();

// The free share of the file system that holds path, in percent; 100 when unknown.
double FreePercentOf(const std::string& path);

}  // namespace recorder::recording
