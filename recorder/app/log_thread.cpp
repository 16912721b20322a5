#include "recorder/app/log_thread.h"

#include "recorder/app/event_commands.h"

#include "platform/files.h"
#include "platform/timecode.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "recorder/camera/events.h"

namespace recorder::app {

using namespace camera;

namespace {
constexpr const char* kProgramStarted = "Program Started...";

// The argument travels as a C string in the original design; cut at a NUL so
// the entry, the file line and the echo all agree.
std::string AsCText(std::string s) {
  auto nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}
}  // namespace

std::string LogTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!localtime_r(&now, &local)) return std::string();
  return platform::FormatTime("%m/%d/%y (%I:%M:%S %p)", local);
}

CLogThread::CLogThread(std::string logFilePath, int32_t fileLogging, LogEcho echo, platform::WindowHandle view)
    : path_(std::move(logFilePath)), fileLogging_(fileLogging ? 1 : 0), echo_(std::move(echo)), view_(view) {}

CLogThread::~CLogThread() { CloseLogFile(); }

bool CLogThread::InitInstance() {
  platform::Post<to_log::LogOpenView>(Id());
  return true;
}

void CLogThread::OnMessage(platform::Message& msg) {
  // Events may be queued before the thread first runs; build the view (first
  // entry, file) before anything else so they still reach the file.
  if (!viewOpen_ && !platform::Is<to_log::LogOpenView>(msg)) OpenView();

  if (platform::Is<to_log::LogOpenView>(msg)) {
    if (!viewOpen_) OpenView();
  } else if (platform::Is<to_log::LogEvent>(msg)) {
    std::string argument = AsCText(platform::Take<to_log::LogEvent>(msg));
    msg.payload.reset();  // anything else posted with the event is not ours to keep
    AddEvent(static_cast<int32_t>(msg.wParam), argument, static_cast<platform::ThreadId>(msg.lParam));
  } else if (platform::Is<to_log::LogSetFile>(msg)) {
    const int32_t flag = msg.wParam ? 1 : 0;
    if (flag != fileLogging_) {
      fileLogging_ = flag;
      OpenLogFile();
    }
  } else if (platform::Is<to_log::LogShow>(msg)) {
    if (view_) platform::Post<to_log_window::LogShowView>(view_);
  } else if (platform::Is<to_log::LogGetEntries>(msg)) {
    platform::Post<to_log_window::LogEntriesCopy>(static_cast<platform::WindowHandle>(msg.wParam), 0, 0,
                                                  LogEntries(entries_.begin(), entries_.end()));
  } else if (platform::Is<to_log::LogForwardTo>(msg)) {
    forward_ = static_cast<platform::ThreadId>(msg.wParam);
  } else if (platform::Is<to_log::LogClear>(msg)) {
    entries_.clear();
  } else if (platform::Is<to_log::ThreadStop>(msg)) {
    fileLogging_ = 0;
    CloseLogFile();
    PostQuit();
  }
}

void CLogThread::OpenView() {
  viewOpen_ = true;
  InsertEntry(LogTimeText(), kProgramStarted);
  OpenLogFile();
}

void CLogThread::CloseLogFile() {
  if (fd_ >= 0) {
    ::close(fd_);  // also drops the lock
    fd_ = -1;
  }
}

void CLogThread::OpenLogFile() {
  CloseLogFile();
  if (!fileLogging_) return;
  // Append mode: every write lands at the current end, existing lines are kept.
  int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    fileLogging_ = 0;
    return;
  }
  // Only one writer at a time; another holder of the lock counts as an open failure.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    fileLogging_ = 0;
    return;
  }
  fd_ = fd;
  AddEvent(camera::kEventLogfileStarted, std::string());
}

void CLogThread::InsertEntry(std::string time, std::string text) {
  if (entries_.size() > kMaxLogEntries - 1) entries_.pop_back();
  entries_.push_front(LogEntry{std::move(time), std::move(text)});
  // A view that is gone makes the post fail; the entry stays here all the same.
  if (view_) platform::Post<to_log_window::LogEntryAdded>(view_, entries_.front());
}

void CLogThread::AddEvent(int32_t code, const std::string& argument, platform::ThreadId source) {
  std::string eventText = camera::EventText(code);
  InsertEntry(LogTimeText(), eventText + " " + argument);

  // The file line takes a fresh time text, as the entry and the line may straddle a second.
  std::string line = LogTimeText() + " " + eventText + " " + argument;
  if (echo_) echo_(line, source);
  if (forward_ != 0)
    platform::Post<to_commands::Event>(forward_, 0, 0, EventCall{code, eventText, argument, LogTimeText(), source});
  if (!fileLogging_ || fd_ < 0) return;

  line += "\r\n";
  if (!platform::WriteAll(fd_, line.data(), line.size())) {
    // Disk full or a lost handle: stop writing the file, keep the list going.
    fileLogging_ = 0;
    CloseLogFile();
  }
}

}  // namespace recorder::app
