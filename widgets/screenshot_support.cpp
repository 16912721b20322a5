#include "widgets/screenshot_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QThread>
#include <QWidget>
#include <cstdint>
#include <utility>
#include <vector>

#include "media/jpeg_codec.h"
#include "media/mjpg.h"

namespace widgets {

media::FrameImage SampleScene(int width, int height, int step) {
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

bool WriteSampleRecording(const std::string& path, int frames, int width, int height, int distinct) {
  std::vector<std::vector<uint8_t>> pictures(size_t(distinct > 0 ? distinct : 1));
  for (size_t k = 0; k < pictures.size(); ++k)
    if (!media::EncodeJpeg(SampleScene(width, height, int(k * 24 / pictures.size())), 80, pictures[k])) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (int i = 0; i < frames && ok; ++i) {
    const auto& jpeg = pictures[size_t(i) % pictures.size()];
    ok = media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), 1772957700u + uint32_t(i)) == media::mjpg::WriteResult::Ok;
  }
  return ::close(fd) == 0 && ok;
}

bool SettleUntil(const std::function<bool()>& done, int atLeastMs, int atMostMs) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < atMostMs && (timer.elapsed() < atLeastMs || !done())) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return done();
}

void Settle(int ms) {
  SettleUntil([] { return true; }, ms, ms + 1);
}

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

ScreenshotShooter::ScreenshotShooter(std::string program, std::string dir, std::ostream& out, std::ostream& err,
                                     bool framed)
    : program_(std::move(program)), dir_(std::move(dir)), out_(out), err_(err), framed_(framed) {}

void ScreenshotShooter::Shoot(QWidget* widget, const std::string& name, bool settle) {
  widget->ensurePolished();
  if (settle) Settle();
  const std::string path = dir_ + "/" + name + ".png";
  const QPixmap picture = framed_ ? WithCaption(widget) : widget->grab();
  if (picture.save(QString::fromStdString(path))) {
    out_ << path << '\n';
  } else {
    Fail("could not write " + path);
  }
}

void ScreenshotShooter::Fail(const std::string& what) {
  err_ << program_ << ": " << what << '\n';
  failed_ = true;
}

}  // namespace widgets
