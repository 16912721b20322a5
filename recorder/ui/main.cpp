// The recorder's entry point: the settings commands, the headless recorder, help.
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "recorder/app/cli.h"
#include "recorder/app/headless.h"

namespace {
const char* const kProgramName = "tollan";

// Headless, Qt only draws overlay text; its platform notes ("XDG_RUNTIME_DIR not
// set", font cache remarks) would only bury the recorder's own lines.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "tollan: %s\n", text.toLocal8Bit().constData());
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
    qInstallMessageHandler(QuietQtMessages);
    // Overlay text is drawn with QtGui, which needs an application object; headless
    // there is no window to show, so no display server is asked for.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    recorder::app::HeadlessOptions options;
    options.settingsPath = platform::SettingsFilePath(kProgramName);
    options.logFilePath = platform::LogFilePath(kProgramName);
    return recorder::app::RunHeadless(options);
  }

  if (recorder::app::IsSettingsCommand(args))
    return recorder::app::RunSettingsCommand(args, platform::SettingsFilePath(kProgramName), std::cout, std::cerr);

  std::cerr << "The window interface is not part of this build yet.\n"
            << "Run the recorder with --headless, or see --help.\n";
  return 2;
}
