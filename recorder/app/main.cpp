// The recorder's entry point: the settings commands, the headless recorder, help.
#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "recorder/app/cli.h"
#include "recorder/app/headless.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);

  if (!args.empty() && args[0] == "--headless") {
    // Overlay text is drawn with QtGui, which needs an application object; headless
    // there is no window to show, so no display server is asked for.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    app::HeadlessOptions options;
    options.settingsPath = platform::SettingsFilePath();
    options.logFilePath = platform::LogFilePath();
    return app::RunHeadless(options);
  }

  if (app::IsSettingsCommand(args))
    return app::RunSettingsCommand(args, platform::SettingsFilePath(), std::cout, std::cerr);

  std::cerr << "The window interface is not part of this build yet.\n"
            << "Run the recorder with --headless, or see --help.\n";
  return 2;
}
