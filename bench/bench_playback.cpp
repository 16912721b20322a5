// The player window playing a recording at frame delay 0, offscreen, as a user
// would: the real window, playback thread and picture. Prints the peak resident
// memory of the process, the position reached and how long Pause took to answer.
//
// Usage: bench_playback FILE SECONDS
//        bench_playback --make FILE   a short 1920 x 1080 recording to repeat
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <string>

#include "player/ui/player_dlg.h"
#include "widgets/progress_ex.h"
#include "widgets/screenshot_support.h"

namespace {

// A figure of /proc/self/status in kB ("VmHWM" is the peak resident set).
long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--make")
    return widgets::WriteSampleRecording(argv[2], 60, 1920, 1080, 12) ? 0 : 1;
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_playback FILE SECONDS | --make FILE\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string path = argv[1];
  const int seconds = std::atoi(argv[2]);

  player::ui::CPlayerDlg window;
  window.DelayEdit()->setText("0");
  window.Start(path);

  long peakDuringPlay = 0;
  QTimer sample;
  QObject::connect(&sample, &QTimer::timeout, [&] { peakDuringPlay = std::max(peakDuringPlay, StatusKb("VmRSS")); });
  sample.start(50);

  qint64 pauseMs = -1;
  int position = 0;
  bool played = false;
  QTimer::singleShot(seconds * 1000, [&] {
    played = window.ShowsPlaying();
    position = window.PositionBar()->GetPos();
    QElapsedTimer answer;
    answer.start();
    window.PlayButton()->click();
    // The window answers when the playback thread's stop comes back.
    while (window.ShowsPlaying() && answer.elapsed() < 30000) app.processEvents(QEventLoop::AllEvents, 5);
    pauseMs = answer.elapsed();
    app.quit();
  });
  app.exec();

  std::printf("played %d s at delay 0: %s, position %d of 86400 (%.1f%% of the file)\n", seconds,
              played ? "still playing" : "NOT playing", position, position * 100.0 / 86400);
  std::printf("peak resident memory while playing: %.1f MB (process peak %.1f MB; goal < 150 MB)\n",
              peakDuringPlay / 1024.0, StatusKb("VmHWM") / 1024.0);
  std::printf("pause answered in %lld ms (goal <= 100 ms)\n", static_cast<long long>(pauseMs));
  return 0;
}
