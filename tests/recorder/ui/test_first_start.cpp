// The window version of the real program on a fresh or emptied settings folder:
// it stays up with an empty list, whatever state the settings file is in.
#include <QApplication>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "recorder/camera/camera_record.h"
#include "recorder/camera/settings_file.h"
#include "recorder/ui/main_window.h"
#include "tests/test_support.h"
#include "widgets/list_ctrl_ex.h"

namespace {

using namespace recorder;

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Whether the process has its handler for the signal in place: the window
// version installs it once the main window exists, just before its event loop.
bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    return (mask >> (signal - 1)) & 1;
  }
  return false;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// In the window: a camera added through the menu's add command, then deleted
// with the menu's delete command, leaving a settings file without cameras.
void AddAndDeleteOneCamera(const std::string& home) {
  ui::MainWindowOptions options;
  options.settingsPath = home + "tollan.cfg";
  options.logFilePath = home + "Logfile.txt";
  options.autostartEntryPath = home + "autostart/tollan.desktop";
  options.workerFactory = [](worker::WorkerParams) { return platform::ThreadHandlePtr(); };
  options.prompts.confirmDelete = [](QWidget*) { return true; };
  options.prompts.error = [](QWidget*, const QString&, const QString&) {};
  ui::CMainWindow window(std::move(options));
  window.Start();
  auto record = window.controller().NewCameraRecord(camera::kCameraIp);
  camera::SetText(record->url, "http://127.0.0.1:9/cam.jpg");
  camera::SetText(record->savePath, home + "rec/cam.mjpg");
  window.AddCamera(camera::kCameraIp, std::move(record));
  ASSERT_EQ(camera::LoadSettingsFile(home + "tollan.cfg").cameras.size(), 1u);
  window.list().SelectRow(0);
  window.list().SetSelectionMark(0);
  window.RunCommand(ui::kCmdDeleteSelected);
  QCoreApplication::processEvents();
  ASSERT_EQ(window.controller().CameraCount(), 0u);
}

TEST(FirstStart, TheWindowVersionStaysUpWithAnEmptyList) {
  struct Case {
    const char* name;
    std::function<void(const std::string& home)> prepare;
    std::string keptAs;  // where an unreadable file is kept ("" for none)
  };
  const std::string garbage = "not a settings file at all";
  const Case cases[] = {
      {"no settings file", [](const std::string&) {}, ""},
      {"empty settings file", [](const std::string& home) { std::ofstream(home + "tollan.cfg"); }, ""},
      {"every camera deleted in the window", AddAndDeleteOneCamera, ""},
      {"unreadable settings file",
       [&garbage](const std::string& home) { std::ofstream(home + "tollan.cfg", std::ios::binary) << garbage; },
       "tollan.cfg.unreadable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::ScopedTempDir home{"firststart"};
    c.prepare(home.Path());
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("TOLLAN_HOME", home.Path().c_str(), 1);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      const int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) ::dup2(null, 2);
      execl(TOLLAN_PROGRAM, "tollan", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    pid_t ended = 0;
    const bool up = WaitFor(
        [&] {
          ended = waitpid(pid, &status, WNOHANG);
          return ended == pid || Catches(pid, SIGTERM);
        },
        20000);
    EXPECT_TRUE(up && ended == 0) << (ended == pid ? "the program ended at start"
                                                   : "the program did not reach its event loop (a refusal box?)");
    if (ended != pid) {
      // SIGTERM ends it as Exit does; a clean end proves the event loop ran.
      kill(pid, SIGTERM);
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_TRUE(camera::LoadSettingsFile(home.Path("tollan.cfg")).cameras.empty());
    if (!c.keptAs.empty()) {
      EXPECT_EQ(ReadAll(home.Path(c.keptAs)), garbage) << "the unreadable file is kept";
    }
  }
}

}  // namespace
