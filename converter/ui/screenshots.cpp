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

// Lets posted messages arrive until done() holds or some seconds passed.
bool SettleUntil(const std::function<bool()>& done, int atLeastMs = 50, int atMostMs = 60000) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < atMostMs && (timer.elapsed() < atLeastMs || !done())) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return done();
}

// A window as grabbed, under a plain title bar with its icon and caption, since
// offscreen windows have no frame; menus as they are.
QPixmap WithCaption(QWidget* widget) {
  const QPixmap content = widget->grab();
  if (!widget->isWindow() || widget->inherits("QMenu")) return content;
  const int bar = widget->fontMetrics().height() + 10;
  // Sizes in the window's own units; the pixmap may have more pixels per unit.
  const QSize size = content.deviceIndependentSize().toSize();
  const qreal ratio = content.devicePixelRatio();
  QPixmap framed((QSizeF(size.width() + 2, size.height() + bar + 1) * ratio).toSize());
  framed.setDevicePixelRatio(ratio);
  framed.fill(QColor(120, 120, 120));
  QPainter p(&framed);
  p.fillRect(QRect(1, 1, size.width(), bar - 1), QColor(60, 80, 120));
  const int iconSide = bar - 8;
  widget->windowIcon().paint(&p, QRect(6, 5, iconSide, iconSide));
  p.setPen(Qt::white);
  p.setFont(widget->font());
  p.drawText(QRect(iconSide + 14, 1, size.width() - iconSide - 14, bar - 1), Qt::AlignVCenter | Qt::AlignLeft,
             widget->windowTitle());
  p.drawPixmap(1, bar, content);
  return framed;
}

class Shooter {
 public:
  Shooter(std::string dir, std::ostream& out, std::ostream& err) : dir_(std::move(dir)), out_(out), err_(err) {}

  // settle: let pending events be handled first; off when the picture must show
  // the state of this very moment.
  void Shoot(QWidget* widget, const std::string& name, bool settle = true) {
    widget->ensurePolished();
    if (settle) SettleUntil([] { return true; });
    const std::string path = dir_ + "/" + name + ".png";
    if (WithCaption(widget).save(QString::fromStdString(path))) {
      out_ << path << '\n';
    } else {
      Fail("could not write " + path);
    }
  }
  void Fail(const std::string& what) {
    err_ << "brandle: " << what << '\n';
    failed_ = true;
  }
  bool failed() const { return failed_; }

 private:
  std::string dir_;
  std::ostream& out_;
  std::ostream& err_;
  bool failed_ = false;
};

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
  Shooter shooter(dir, out, err);
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
