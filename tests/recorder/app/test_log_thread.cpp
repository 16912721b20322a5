#include "recorder/app/log_thread.h"

#include <gtest/gtest.h>

#include "tests/locale_support.h"
#include "tests/test_support.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/window_registry.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"

using namespace recorder;

namespace {

using app::CLogThread;
using app::LogEntries;

const char* const kTimeRe = R"(\d\d/\d\d/\d\d \((0[1-9]|1[0-2]):[0-5]\d:[0-6]\d (AM|PM)\))";

using test_support::ReadFile;

bool Exists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

// Splits at CR LF; every line must end in CR LF.
std::vector<std::string> FileLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "line without CR LF";
    if (end == std::string::npos) break;
    lines.push_back(content.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// A running log thread plus a window that collects its answers.
class LogFixture {
 public:
  LogFixture(const std::string& path, int32_t flag, app::LogEcho echo = {}) {
    window_ = platform::RegisterWindow(&target_);
    handle_ = platform::MessageThread::Start(std::make_unique<CLogThread>(path, flag, std::move(echo)));
    EXPECT_NE(handle_, nullptr);
  }
  ~LogFixture() {
    Stop();
    platform::UnregisterWindow(window_);
  }
  platform::ThreadId Id() const { return handle_->Id(); }
  void Event(int32_t code, const std::string& arg) { ASSERT_TRUE(camera::PostLogEvent(Id(), code, arg)); }
  void Post(uint32_t msg, intptr_t w) { ASSERT_TRUE(platform::PostThreadMessage(Id(), msg, w, 0)); }
  // Every message posted earlier has been handled once the answer is here.
  LogEntries Entries() {
    EXPECT_TRUE(platform::Post<camera::to_log::LogGetEntries>(Id(), static_cast<intptr_t>(window_)));
    EXPECT_TRUE(target_.WaitForCount(1, 10000));
    auto msgs = target_.TakeAll();
    EXPECT_EQ(msgs.size(), 1u);
    if (msgs.empty()) return {};
    EXPECT_EQ(msgs[0].id, camera::to_log_window::LogEntriesCopy::kNumber);
    auto* entries = msgs[0].Peek<LogEntries>();
    EXPECT_NE(entries, nullptr);
    return entries ? *entries : LogEntries{};
  }
  bool Stop() {
    if (stopped_) return true;
    stopped_ = true;
    platform::PostThreadMessage(Id(), camera::to_log::ThreadStop::kNumber, 0, 0);
    return handle_->Wait(10000);
  }

 private:
  platform::CollectingWindowTarget target_;
  platform::WindowHandle window_ = 0;
  platform::ThreadHandlePtr handle_;
  bool stopped_ = false;
};

std::vector<std::string> Texts(const LogEntries& entries) {
  std::vector<std::string> t;
  for (const auto& e : entries) t.push_back(e.text);
  return t;
}

// --- entries and file lines ------------------------------------------------

TEST(LogThreadEntries, StartEntryIsListOnlyAndFileStartsWithLogfileStarted) {
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  std::string path = dir + "Logfile.txt";
  LogFixture log(path, 1);
  LogEntries entries = log.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].text, "Logfile started... ");
  EXPECT_EQ(entries[1].text, "Program Started...");  // the oldest entry
  for (const auto& e : entries) EXPECT_TRUE(std::regex_match(e.time, std::regex(kTimeRe))) << e.time;

  std::string content = ReadFile(path);
  EXPECT_EQ(content.find("Program Started"), std::string::npos);
  EXPECT_TRUE(std::regex_match(content, std::regex(std::string("^") + kTimeRe + " Logfile started\\.\\.\\. \r\n$")))
      << content;
}

TEST(LogThreadEntries, NullArgumentUnknownCodeAndLineFormat) {
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  std::string path = dir + "Logfile.txt";
  LogFixture log(path, 1);
  log.Event(camera::kEventFrameDropped, "");  // sent as a null payload
  log.Event(99, "arg");
  log.Event(-1, "neg");
  log.Event(camera::kEventSocketThreadStarted, "http://127.0.0.1/image.jpg");
  // A payload of the wrong type counts as no argument and must not upset the thread.
  ASSERT_TRUE(platform::PostThreadMessage(log.Id(), camera::to_log::LogEvent::kNumber, camera::kEventWriteError, 0,
                                          platform::MakePayload<int>(7)));
  LogEntries entries = log.Entries();
  std::vector<std::string> expected = {"Write error, the disk may be full, file: ",
                                       "Socket thread started, URL: http://127.0.0.1/image.jpg",
                                       " neg",
                                       " arg",
                                       "Frame was dropped, file: ",
                                       "Logfile started... ",
                                       "Program Started..."};
  EXPECT_EQ(Texts(entries), expected);

  std::vector<std::string> lines = FileLines(ReadFile(path));
  std::vector<std::string> tails = {" Logfile started... ",
                                    " Frame was dropped, file: ",
                                    "  arg",
                                    "  neg",
                                    " Socket thread started, URL: http://127.0.0.1/image.jpg",
                                    " Write error, the disk may be full, file: "};
  ASSERT_EQ(lines.size(), tails.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string re = std::string("^") + kTimeRe + std::regex_replace(tails[i], std::regex(R"([.:/()])"), R"(\$&)") + "$";
    EXPECT_TRUE(std::regex_match(lines[i], std::regex(re))) << "line " << i << ": [" << lines[i] << "]";
  }
}

TEST(LogThreadEntries, EchoGetsEveryFileLineWithItsSourceEvenWithoutFileLogging) {
  std::mutex m;
  std::vector<std::string> echoed;
  std::vector<platform::ThreadId> sources;
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  {
    LogFixture log(dir + "Logfile.txt", 0, [&](const std::string& line, platform::ThreadId source) {
      std::lock_guard<std::mutex> lock(m);
      echoed.push_back(line);
      sources.push_back(source);
    });
    ASSERT_TRUE(camera::PostLogEvent(log.Id(), camera::kEventConnectFailed, "127.0.0.1", 4711));
    log.Entries();
    EXPECT_TRUE(log.Stop());
  }
  std::lock_guard<std::mutex> lock(m);
  ASSERT_EQ(echoed.size(), 1u);  // "Program Started..." has no file line
  EXPECT_EQ(sources, std::vector<platform::ThreadId>{4711});  // the line itself does not name it
  EXPECT_TRUE(std::regex_match(
      echoed[0], std::regex(std::string("^") + kTimeRe + " Socket connect failed, will retry every 10sec, Server: 127\\.0\\.0\\.1$")))
      << echoed[0];
  EXPECT_FALSE(Exists(dir + "Logfile.txt"));
}

TEST(LogThreadEntries, ListIsBoundedAndOldestGoesFirst) {
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  LogFixture log(dir + "Logfile.txt", 0);
  // Start entry plus 65,537 events: the start entry and the first event fall out.
  const int kEvents = 65537;
  for (int i = 0; i < kEvents; ++i) log.Event(99, std::to_string(i));
  LogEntries entries = log.Entries();
  ASSERT_EQ(entries.size(), app::kMaxLogEntries);
  EXPECT_EQ(entries.front().text, " 65536");
  EXPECT_EQ(entries.back().text, " 1");
  EXPECT_EQ(entries[1].text, " 65535");
}

TEST(LogThreadEntries, ClearEmptiesListButLeavesFile) {
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  std::string path = dir + "Logfile.txt";
  LogFixture log(path, 1);
  log.Event(camera::kEventDirCreateFailed, "/tmp/a");
  ASSERT_EQ(log.Entries().size(), 3u);
  std::string before = ReadFile(path);
  log.Post(camera::to_log::LogClear::kNumber, 0);
  EXPECT_TRUE(log.Entries().empty());
  EXPECT_EQ(ReadFile(path), before);
  log.Event(camera::kEventDirCreateFailed, "/tmp/b");
  EXPECT_EQ(Texts(log.Entries()), std::vector<std::string>{"Failed to create directory: /tmp/b"});
}

// --- switching the file ------------------------------------------------------

TEST(LogThreadFile, SwitchingOnTwiceWritesOneStartLineAndReopeningAppends) {
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  std::string path = dir + "Logfile.txt";
  LogFixture log(path, 0);
  log.Event(camera::kEventFrameDropped, "before");
  log.Post(camera::to_log::LogSetFile::kNumber, 1);
  log.Post(camera::to_log::LogSetFile::kNumber, 1);
  log.Event(camera::kEventFrameDropped, "on");
  log.Post(camera::to_log::LogSetFile::kNumber, 0);
  log.Event(camera::kEventFrameDropped, "off");
  log.Post(camera::to_log::LogSetFile::kNumber, 1);
  log.Event(camera::kEventFrameDropped, "again");
  log.Entries();

  std::vector<std::string> lines = FileLines(ReadFile(path));
  std::vector<std::string> texts;
  for (auto& l : lines) texts.push_back(std::regex_replace(l, std::regex(std::string("^") + kTimeRe), ""));
  std::vector<std::string> expected = {" Logfile started... ", " Frame was dropped, file: on", " Logfile started... ",
                                       " Frame was dropped, file: again"};
  EXPECT_EQ(texts, expected);
}

TEST(LogThreadFile, ExistingFileIsAppendedTo) {
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  std::string path = dir + "Logfile.txt";
  {
    std::ofstream out(path, std::ios::binary);
    out << "older line\r\n";
  }
  LogFixture log(path, 1);
  log.Event(camera::kEventWriteError, "x");
  log.Entries();
  std::vector<std::string> lines = FileLines(ReadFile(path));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "older line");
  EXPECT_NE(lines[1].find(" Logfile started... "), std::string::npos);
  EXPECT_NE(lines[2].find(" Write error, the disk may be full, file: x"), std::string::npos);
}

TEST(LogThreadFile, OpenFailuresFallBackToListOnly) {
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  {
    std::ofstream out(dir + "plainfile");
    out << "x";
  }
  for (const std::string& path : {dir + "missing/Logfile.txt", dir + "plainfile/Logfile.txt"}) {
    SCOPED_TRACE(path);
    LogFixture log(path, 1);
    log.Event(camera::kEventFrameDropped, "still listed");
    EXPECT_EQ(Texts(log.Entries()),
              (std::vector<std::string>{"Frame was dropped, file: still listed", "Program Started..."}));
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(log.Stop());
  }
}

TEST(LogThreadFile, FileHeldByAnotherWriterIsNotWrittenUntilSwitchedOnAgain) {
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  std::string path = dir + "Logfile.txt";
  int other = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);

  LogFixture log(path, 1);
  log.Event(camera::kEventFrameDropped, "locked");
  EXPECT_EQ(log.Entries().size(), 2u);  // no "Logfile started..." entry
  EXPECT_EQ(ReadFile(path), "");

  // The open failure turned the flag off, so switching on again is a change.
  ::close(other);
  log.Post(camera::to_log::LogSetFile::kNumber, 1);
  log.Event(camera::kEventFrameDropped, "unlocked");
  log.Entries();
  std::vector<std::string> lines = FileLines(ReadFile(path));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("Frame was dropped, file: unlocked"), std::string::npos);
}

TEST(LogThreadFile, WriteFailureTurnsFileLoggingOff) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  LogFixture log("/dev/full", 1);
  log.Event(camera::kEventFrameDropped, "a");
  // The failed write turned the flag off: switching on again reopens and logs the start again.
  log.Post(camera::to_log::LogSetFile::kNumber, 1);
  LogEntries entries = log.Entries();
  std::vector<std::string> expected = {"Logfile started... ", "Frame was dropped, file: a", "Logfile started... ",
                                       "Program Started..."};
  EXPECT_EQ(Texts(entries), expected);
}

// --- lifetime ----------------------------------------------------------------

TEST(LogThreadLifetime, StopEndsThreadAndReleasesFile) {
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  std::string path = dir + "Logfile.txt";
  platform::ThreadId id = 0;
  {
    LogFixture log(path, 1);
    log.Entries();
    id = log.Id();
    EXPECT_TRUE(log.Stop());
  }
  // The thread is gone, so posting to it fails; the file lock is released.
  EXPECT_FALSE(platform::PostThreadMessage(id, camera::to_log::LogEvent::kNumber, 1, 0));
  int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

TEST(LogThreadLifetime, EventsQueuedBeforeResumeReachTheFile) {
  const test_support::ScopedTempDir tmp{"logthread"};
  const std::string dir = tmp.Path();
  std::string path = dir + "Logfile.txt";
  auto handle = platform::MessageThread::CreateSuspended(std::make_unique<CLogThread>(path, 1));
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(camera::PostLogEvent(handle->Id(), camera::kEventMjpgCreateFailed, "early"));
  platform::MessageThread::Resume(handle);
  ASSERT_TRUE(platform::PostThreadMessage(handle->Id(), camera::to_log::ThreadStop::kNumber, 0, 0));
  ASSERT_TRUE(handle->Wait(10000));
  std::vector<std::string> lines = FileLines(ReadFile(path));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("Logfile started..."), std::string::npos);
  EXPECT_NE(lines[1].find("Failed to create mjpg file: early"), std::string::npos);
}

// In a German locale %p is empty; the log's AM/PM must survive a user's LANG.
TEST(LogTimeText, KeepsAmPmUnderAGermanLocale) {
  std::string why;
  const std::string dir = test_support::GermanLocaleDir(&why);
  if (dir.empty()) GTEST_SKIP() << why;
  const std::vector<std::string> texts = test_support::TextsUnderLocale(dir, [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char plain[16] = {};
    std::strftime(plain, sizeof plain, "[%p]", &local);
    return std::vector<std::string>{plain, app::LogTimeText()};
  });
  ASSERT_EQ(texts.size(), 2u) << (texts.empty() ? std::string() : texts[0]);
  ASSERT_EQ(texts[0], "[]");  // the locale took hold
  EXPECT_TRUE(std::regex_match(texts[1], std::regex(kTimeRe))) << texts[1];
}

}  // namespace
