#pragma once
// The event log thread: owns the list of log entries and Logfile.txt. Other
// threads only post LOG_EVENT / LOG_SET_FILE / THREAD_STOP to it; a window that
// wants to show the entries asks for a copy with LOG_GET_ENTRIES.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/message.h"
#include "platform/message_thread.h"

namespace recorder::app {

// wParam = window handle to answer; the answer is a window message with the same
// number carrying a ValuePayload<std::vector<LogEntry>> (newest first).
constexpr uint32_t LOG_GET_ENTRIES = platform::WM_USER + 510;  // 1534
// Empties the entry list; the log file is left as it is.
constexpr uint32_t LOG_CLEAR = platform::WM_USER + 511;  // 1535

// The list never holds more entries than this.
constexpr size_t kMaxLogEntries = 65536;

struct LogEntry {
  std::string time;  // "%m/%d/%y (%I:%M:%S %p)"
  std::string text;  // event text, one blank, argument
};
using LogEntries = std::vector<LogEntry>;

// Receives every event's file line (without CR LF), whether or not the file is written.
using LogEcho = std::function<void(const std::string& line)>;

// The current local time as the log shows it.
std::string LogTimeText();

class CLogThread : public platform::MessageThread {
 public:
  CLogThread(std::string logFilePath, int32_t fileLogging, LogEcho echo = {});
  ~CLogThread() override;

 protected:
  bool InitInstance() override;
  void OnMessage(platform::Message& msg) override;

 private:
  void OpenView();
  void OpenLogFile();
  void CloseLogFile();
  void AddEvent(int32_t code, const std::string& argument);
  void InsertEntry(std::string time, std::string text);

  std::string path_;
  int32_t fileLogging_;
  LogEcho echo_;
  int fd_ = -1;
  bool viewOpen_ = false;
  std::deque<LogEntry> entries_;  // newest first
};

}  // namespace recorder::app
