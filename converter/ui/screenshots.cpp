#include "converter/ui/screenshots.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>

#include "converter/conversion.h"
#include "converter/ui/about_box.h"
#include "converter/ui/converter_dlg.h"
#include "media/frame_image.h"
#include "media/jpeg_codec.h"
#include "media/mjpg.h"
#include "widgets/progress_ex.h"
#include "widgets/prompts.h"
#include "widgets/screenshot_support.h"

namespace converter::ui {

using widgets::BoxIcon;
using widgets::CreateMessageBox;
using widgets::FileRequest;

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
      if (top < height * 30 / 100) {
        r = 170, g = 160, b = 140;
      } else {
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

// `frames` frames of 1280 x 720: a few pictures, repeated, so the file is made
// quickly and converted slowly enough to be seen half done.
bool WriteRecording(const std::string& path, int frames) {
  std::vector<std::vector<uint8_t>> pictures(8);
  for (size_t i = 0; i < pictures.size(); ++i)
    if (!media::EncodeJpeg(Scene(1280, 720, int(i) * 3), 85, pictures[i])) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (int i = 0; i < frames && ok; ++i) {
    const auto& jpeg = pictures[size_t(i) % pictures.size()];
    ok = media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), 1772957700u + uint32_t(i)) == media::mjpg::WriteResult::Ok;
  }
  return ::close(fd) == 0 && ok;
}

using Shooter = widgets::ScreenshotShooter;

// Lets posted messages arrive until done() holds or a minute passed.
bool SettleUntil(const std::function<bool()>& done, int atLeastMs) {
  return widgets::SettleUntil(done, atLeastMs, 60000);
}

// Renders each message box instead of waiting for an answer; cancels the browse dialog.
class ShotPrompts : public Prompts {
 public:
  explicit ShotPrompts(Shooter& shooter) : shooter_(shooter) {}
  void Expect(std::string name) { name_ = std::move(name); }
  void Tell(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon) override {
    std::unique_ptr<QMessageBox> box(CreateMessageBox(parent, text, caption, icon));
    box->show();
    shooter_.Shoot(box.get(), name_.empty() ? "message_box" : name_);
    name_.clear();
  }
  QString ChooseFile(QWidget*, const FileRequest&) override { return {}; }

 private:
  Shooter& shooter_;
  std::string name_;
};

}  // namespace

int RenderScreenshots(const std::string& dir, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir)) {
    err << "brandle: cannot create " << dir << '\n';
    return 1;
  }
  std::string scratch = (fs::temp_directory_path() / "brandle-shots-XXXXXX").string();
  if (!::mkdtemp(scratch.data())) {
    err << "brandle: cannot create a temporary folder\n";
    return 1;
  }
  const std::string recording = scratch + "/Car Park Entrance.mjpg";
  Shooter shooter("brandle", dir, out, err, /*framed=*/true);
  ShotPrompts prompts(shooter);
  if (!WriteRecording(recording, 600)) {
    err << "brandle: cannot write the sample recording\n";
    fs::remove_all(scratch, ec);
    return 1;
  }
  {
    CConverterDlg window(&prompts);
    window.InputEdit()->setText(QString::fromStdString(recording));
    window.show();
    shooter.Shoot(&window, "converter_window");

    window.HelpMenu()->popup(window.mapToGlobal(QPoint(8, 24)));
    shooter.Shoot(window.HelpMenu(), "converter_help_menu");
    window.HelpMenu()->hide();

    std::unique_ptr<QDialog> about(CreateAboutBox(&window));
    about->show();
    shooter.Shoot(about.get(), "about_box");
    about->hide();

    // Half way through a conversion, then cancelled: the window, then the result.
    window.TypeList()->setCurrentIndex(FindVideoType("Divx"));
    window.ConvertButton()->click();
    const auto halfWay = [&] { return window.ProgressBar()->GetPos() >= kFractionRange * 2 / 5 || !window.Converting(); };
    if (SettleUntil(halfWay, 0) && window.Converting()) {
      shooter.Shoot(&window, "converter_window_converting", false);
    } else {
      shooter.Fail("the conversion ended before it could be shown half done");
    }
    prompts.Expect("result_canceled");
    window.CancelButton()->click();
    if (!SettleUntil([&] { return !window.Converting(); }, 0)) shooter.Fail("the cancelled conversion did not end");

    // The recording named as its own output: refused before anything is touched.
    window.OutputEdit()->setText(QString::fromStdString(recording));
    prompts.Expect("result_same_file");
    window.ConvertButton()->click();
    window.TypeList()->setCurrentIndex(0);

    // A whole conversion of a short recording.
    if (!WriteRecording(recording, 10)) shooter.Fail("cannot write the short recording");
    prompts.Expect("result_complete");
    window.ConvertButton()->click();
    if (!SettleUntil([&] { return !window.Converting(); }, 0)) shooter.Fail("the conversion did not end");
  }
  fs::remove_all(scratch, ec);
  return shooter.failed() ? 1 : 0;
}

}  // namespace converter::ui
