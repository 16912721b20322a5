#include "widgets/screenshot_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QThread>
#include <QWidget>
#include <utility>

namespace widgets {

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
