#include "player/ui/screenshots.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "media/frame_image.h"
#include "media/jpeg_codec.h"
#include "media/mjpg.h"
#include "player/messages.h"
#include "player/ui/about_box.h"
#include "player/ui/copy_dlg.h"
#include "player/ui/player_dlg.h"
#include "widgets/picture_box.h"
#include "widgets/progress_ex.h"
#include "widgets/screenshot_support.h"

namespace player::ui {

namespace {

namespace fs = std::filesystem;

// A car park seen from above the entrance, a car crossing it as frames go on;
// bottom-up BGR like every frame.
media::FrameImage Scene(int width, int height, int step) {
  media::FrameImage image;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = 24;
  image.pixels.resize(size_t(width) * height * 3);
  const int carLeft = width * (10 + step * 3) / 100;
  for (int y = 0; y < height; ++y) {
    const int top = height - 1 - y;
    for (int x = 0; x < width; ++x) {
      uint8_t r, g, b;
      if (top < height * 30 / 100) {  // a wall with a door
        r = 170, g = 160, b = 140;
        if (x > width * 45 / 100 && x < width * 55 / 100 && top > height * 8 / 100) r = 90, g = 70, b = 50;
      } else {  // asphalt with bay lines
        r = g = b = uint8_t(70 + (x / 6 + top / 6) % 2 * 5);
        if (top > height * 45 / 100 && (x % (width / 6)) < 3) r = g = b = 230;
      }
      if (x > carLeft && x < carLeft + width / 5 && top > height * 60 / 100 && top < height * 78 / 100)
        r = 30, g = 70, b = 170;
      uint8_t* p = &image.pixels[(size_t(y) * width + x) * 3];
      p[0] = b, p[1] = g, p[2] = r;
    }
  }
  return image;
}

// 25 frames a second apart from 8 March 2026, 08:15:00 UTC.
bool WriteRecording(const std::string& path, int frames) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (int i = 0; i < frames && ok; ++i) {
    std::vector<uint8_t> jpeg;
    ok = media::EncodeJpeg(Scene(640, 480, i), 80, jpeg) &&
         media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), 1772957700u + uint32_t(i)) == media::mjpg::WriteResult::Ok;
  }
  return ::close(fd) == 0 && ok;
}

using Shooter = widgets::ScreenshotShooter;
using widgets::SettleUntil;

void CloseFile(CPlayerDlg& window) {
  if (window.ThreadId() == 0) return;
  platform::Post<to_video_thread::VT_CLOSE>(window.ThreadId());
  SettleUntil([&] { return window.ThreadId() == 0; });
}

}  // namespace

int RenderScreenshots(const std::string& dir, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir)) {
    err << "velmo: cannot create " << dir << '\n';
    return 1;
  }
  std::string scratch = (fs::temp_directory_path() / "velmo-shots-XXXXXX").string();
  if (!::mkdtemp(scratch.data())) {
    err << "velmo: cannot create a temporary folder\n";
    return 1;
  }
  const std::string recording = scratch + "/Car Park Entrance.mjpg";
  const std::string notRecording = scratch + "/notes.mjpg";
  Shooter shooter("velmo", dir, out, err);
  if (!WriteRecording(recording, 30)) {
    err << "velmo: cannot write the sample recording\n";
    fs::remove_all(scratch, ec);
    return 1;
  }
  {
    const int fd = ::open(notRecording.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
      const char text[] = "not a recording\n";
      [[maybe_unused]] ssize_t ignored = ::write(fd, text, sizeof text - 1);
      ::close(fd);
    }
  }
  {
    CPlayerDlg empty;
    empty.Start();
    shooter.Shoot(&empty, "player_window_empty");

    CPlayerDlg invalid;
    invalid.Start(notRecording);
    SettleUntil([&] { return invalid.ThreadId() == 0 && !invalid.SizeLabel()->text().isEmpty(); });
    shooter.Shoot(&invalid, "player_window_invalid");
  }
  {
    CPlayerDlg window;
    // Slow enough that the frame on view stays while the pictures are taken.
    window.DelayEdit()->setText("2000");
    window.Start(recording);
    SettleUntil([&] { return window.Picture()->HasPicture(); });
    platform::Post<to_video_thread::VT_SEEK>(window.ThreadId(), 43200);
    SettleUntil([&] { return window.PositionBar()->GetPos() >= 40000; }, 200);
    shooter.Shoot(&window, "player_window");

    window.ContextMenu()->popup(window.Picture()->mapToGlobal(QPoint(120, 90)));
    shooter.Shoot(window.ContextMenu(), "player_context_menu");
    window.ContextMenu()->hide();

    window.WindowMenu()->popup(window.mapToGlobal(QPoint(20, window.height() - 20)));
    shooter.Shoot(window.WindowMenu(), "player_window_menu");
    window.WindowMenu()->hide();

    CCopyDlg* copy = window.CopyDialog();
    copy->Progress()->SetPos(42);
    copy->show();
    shooter.Shoot(copy, "copy_dialog");
    copy->hide();
    copy->Progress()->SetPos(0);

    std::unique_ptr<QDialog> about(CreateAboutBox(&window));
    about->show();
    shooter.Shoot(about.get(), "about_box");
    about->hide();

    // The smallest the window can be dragged: every text still whole.
    window.resize(window.minimumSize());
    shooter.Shoot(&window, "player_window_smallest");

    CloseFile(window);
  }
  fs::remove_all(scratch, ec);
  return shooter.failed() ? 1 : 0;
}

}  // namespace player::ui
