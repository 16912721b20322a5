// velmo: plays and edits MJPG recordings, in its window or from the command line.
#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "player/cli.h"
#include "player/ui/about_box.h"
#include "player/ui/player_dlg.h"
#include "player/ui/screenshots.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  player::WindowStart start;
  if (!player::ParseWindowStart(args, start)) return player::RunCommandLine(args, std::cout, std::cerr);

  if (!start.screenshotDir.empty()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName("Velmo");
  QApplication::setDesktopFileName("velmo");
  QApplication::setWindowIcon(player::ui::PlayerIcon());
  if (!start.screenshotDir.empty()) return player::ui::RenderScreenshots(start.screenshotDir, std::cout, std::cerr);

  // The window is the program's one dialog; the program ends with it.
  player::ui::CPlayerDlg window;
  // The path is taken as given: file names on Linux are case-sensitive.
  window.Start(start.file);
  window.exec();
  return 0;
}
