// The recorder's entry point: the window version, the headless recorder, the
// settings commands and the window pictures.
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/message_thread.h"
#include "platform/paths.h"
#include "recorder/app/autostart.h"
#include "recorder/app/cli.h"
#include "recorder/app/headless.h"
#include "recorder/camera/settings_check.h"
#include "recorder/camera/settings_lock.h"
#include "recorder/ui/main_window.h"
#include "recorder/ui/screenshots.h"
#include "recorder/ui/video_dlg.h"

namespace {
const char* const kProgramName = "tollan";

// Headless, Qt only draws overlay text; its platform notes ("XDG_RUNTIME_DIR not
// set", font cache remarks) would only bury the recorder's own lines.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "tollan: %s\n", text.toLocal8Bit().constData());
}

int signalPipe[2] = {-1, -1};
void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

int RunHeadlessRecorder(char** argv) {
  qInstallMessageHandler(QuietQtMessages);
  // Overlay text is drawn with QtGui, which needs an application object; headless
  // there is no window to show, so no display server is asked for.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);
  recorder::app::HeadlessOptions options;
  options.settingsPath = platform::SettingsFilePath(kProgramName);
  options.logFilePath = platform::LogFilePath(kProgramName);
  const int code = recorder::app::RunHeadless(options);
  // Worker threads drew with QtGui: their per-thread clean-up must end before the application does.
  platform::JoinFinishedThreads();
  return code;
}

// Renames the file to the first free "<path>.unreadable[-N]"; returns that name,
// or "" when it could not be renamed.
std::string SetAside(const std::string& path) {
  for (int n = 1; n < 1000; ++n) {
    const std::string to = path + ".unreadable" + (n == 1 ? std::string() : "-" + std::to_string(n));
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) continue;
    return std::rename(path.c_str(), to.c_str()) == 0 ? to : std::string();
  }
  return {};
}

int RunWindows(char** argv, const recorder::app::WindowStart& start) {
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName("Tollan");
  QApplication::setDesktopFileName("tollan");
  // The main window hides to the tray; the program ends only through Exit.
  QApplication::setQuitOnLastWindowClosed(false);

  const std::string settingsPath = platform::SettingsFilePath(kProgramName);
  recorder::camera::FileLock runLock;
  std::string lockError;
  if (!runLock.Acquire(recorder::camera::RunLockPath(settingsPath), false, &lockError)) {
    const std::string text = lockError == "held" ? "Another recorder is already running with " + settingsPath
                                                 : lockError;
    QMessageBox::critical(nullptr, "Tollan", QString::fromStdString(text));
    std::fprintf(stderr, "tollan: %s\n", text.c_str());
    return 1;
  }

  // A new machine has no settings file, and a user may delete every camera: the
  // window starts with an empty list and cameras are added in it. A file that
  // cannot be read would be overwritten by the first change, so it is kept under
  // another name and the list starts empty too.
  std::string notice;
  const std::string damage = recorder::camera::SettingsFileDamage(settingsPath);
  if (!damage.empty()) {
    const std::string kept = SetAside(settingsPath);
    if (kept.empty()) {
      const std::string text = damage + "; it could not be moved aside";
      QMessageBox::critical(nullptr, "Tollan", QString::fromStdString(text));
      std::fprintf(stderr, "tollan: %s\n", text.c_str());
      return 1;
    }
    notice = damage + ". It was kept as " + kept + " and the camera list starts empty.";
    std::fprintf(stderr, "tollan: %s\n", notice.c_str());
  }

  recorder::ui::MainWindowOptions options;
  options.settingsPath = settingsPath;
  options.logFilePath = platform::LogFilePath(kProgramName);
  options.autostartEntryPath = recorder::app::AutostartEntryPath();
  options.programPath = platform::ProgramPath();
  options.hiddenStart = start.hidden;
  recorder::ui::CMainWindow window(std::move(options));

  // SIGINT, SIGTERM and SIGHUP end the program as Exit does, so every file is closed whole.
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, OnStopSignal);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
      char buffer[16];
      while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
      }
      window.Exit();
    });
  }
  std::signal(SIGPIPE, SIG_IGN);
  // Log-off or shutdown of the desktop session: the ordered shutdown, then yes.
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                   [&window](QSessionManager&) { window.ShutdownNow(); });
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] { window.ShutdownNow(); });

  window.Start();
  if (!notice.empty()) {
    // Not modal: the recorder runs on while the user reads it.
    auto* box = new QMessageBox(QMessageBox::Warning, "Tollan", QString::fromStdString(notice), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
  }
  if (start.resumeAll) window.RunCommand(recorder::ui::kCmdResumeAll);
  if (start.showViews) {
    for (size_t i = 0; i < window.controller().CameraCount(); ++i)
      if (auto* view = window.LiveViewOf(i)) view->show();
  }
  const int code = app.exec();
  platform::JoinFinishedThreads();  // before the application object, which their clean-up needs
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);

  if (!args.empty() && args[0] == "--headless") {
    if (args.size() > 1) {
      std::cerr << "tollan: unexpected argument after --headless: " << args[1] << "\n\n"
                << recorder::app::SettingsUsage();
      return 2;
    }
    return RunHeadlessRecorder(argv);
  }

  if (recorder::app::IsSettingsCommand(args))
    return recorder::app::RunSettingsCommand(args, platform::SettingsFilePath(kProgramName), std::cout, std::cerr);

  recorder::app::WindowStart start;
  std::string error;
  recorder::app::ParseWindowStart(args, start, error);
  if (!start.screenshotDir.empty()) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    const int code = recorder::ui::RenderScreenshots(start.screenshotDir, std::cout, std::cerr);
    platform::JoinFinishedThreads();
    return code;
  }
  return RunWindows(argv, start);
}
