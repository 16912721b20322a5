// brandle: converts MJPG recordings into AVI and Windows Media files, in its
// window or from the command line.
#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "converter/command_line.h"
#include "converter/encoder_log.h"
#include "converter/ui/about_box.h"
#include "converter/ui/converter_dlg.h"
#include "converter/ui/screenshots.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  converter::QuietEncoderLog();
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string screenshotDir;
  if (!converter::IsWindowStart(args, screenshotDir)) return converter::RunCommandLine(args, std::cout, std::cerr);

  if (!screenshotDir.empty()) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  } else if (!HasDisplay()) {
    std::cerr << "brandle: no display for the converter window; convert from the command line\n"
                 "instead (see --help).\n";
    return converter::kExitUsage;
  }
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName("Brandle");
  QApplication::setDesktopFileName("brandle");
  QApplication::setWindowIcon(converter::ui::ConverterIcon());
  if (!screenshotDir.empty()) return converter::ui::RenderScreenshots(screenshotDir, std::cout, std::cerr);

  // The window is the program's one dialog; the program ends with it.
  converter::ui::CConverterDlg window;
  window.exec();
  return 0;
}
