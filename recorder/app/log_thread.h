#pragma once
// The event log thread: owns the list of log entries and Logfile.txt. Other
// threads only post the to_log messages to it. The log view window, when given,
// hears of every new entry (LogEntryAdded) and of LOG_SHOW (LogShowView); a
// window that wants all entries so far asks for a copy with LogGetEntries.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/message.h"
#include "platform/message_thread.h"
#include "recorder/camera/messages.h"

namespace recorder::app {

// The list never holds more entries than this.
constexpr size_t kMaxLogEntries = 65536;

using camera::LogEntries;
using camera::LogEntry;

// Receives every event's file line (without CR LF), whether or not the file is written.
// The source is the reporting worker's thread id, 0 when none was given.
using LogEcho = std::function<void(const std::string& line, platform::ThreadId source)>;

// The current local time as the log shows it.
std::string LogTimeText();

class CLogThread : public platform::MessageThread {
 public:
  // view: the log view window's handle, 0 for none.
  CLogThread(std::string logFilePath, int32_t fileLogging, LogEcho echo = {}, platform::WindowHandle view = 0);
  ~CLogThread() override;

 protected:
  bool InitInstance() override;
  void OnMessage(platform::Message& msg) override;

 private:
  void OpenView();
  void OpenLogFile();
  void CloseLogFile();
  void AddEvent(int32_t code, const std::string& argument, platform::ThreadId source = 0);
  void InsertEntry(std::string time, std::string text);

  std::string path_;
  int32_t fileLogging_;
  LogEcho echo_;
  platform::WindowHandle view_;
  int fd_ = -1;
  bool viewOpen_ = false;
  std::deque<LogEntry> entries_;  // newest first
  platform::ThreadId forward_ = 0;  // the event command thread, 0 for none
};

}  // namespace recorder::app
