#include "widgets/progress_ex.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "widgets/gradient.h"

namespace widgets {

namespace {

const QColor kBarA(4, 10, 132);
const QColor kBarBAfterRounded(123, 246, 253);
const QColor kBarBOtherwise(95, 188, 223);
const QColor kText(75, 75, 75);
const QColor kBarText(255, 255, 255);
const QColor kTextHighlight(240, 240, 240);
const QColor kBarTextShadow(128, 128, 128);
const QColor kInnerBorder(200, 200, 200);
const QColor kOuterBorder(128, 128, 128);
const QColor kBackground(255, 255, 255);

constexpr int kBusyIntervalMs = 20;
constexpr int32_t kBusyWrap = 140;
constexpr int kMaxText = 254;

// Bar ends far outside the control draw nothing either way; keeping them within
// this bound keeps the integer arithmetic defined for any position.
constexpr double kCoordinateLimit = 1 << 24;

int32_t ToInt32(double v) {
  v = std::clamp(v, double(std::numeric_limits<int32_t>::min()), double(std::numeric_limits<int32_t>::max()));
  return static_cast<int32_t>(v);  // truncates toward zero
}

}  // namespace

struct CProgressEx::State {
  int32_t low = 0, high = 0;
  int32_t position = 0;
  int32_t step = 1;
  QString text;
  bool showText = true;
  bool busy = false;
  bool rounded = true;
  bool square = false;
  bool noInnerBorder = false;
  QColor barA = kBarA;
  // The default B is the one that follows a flat style: there was no rounded one before.
  QColor barB = kBarBOtherwise;
  QTimer* timer = nullptr;
  std::function<void(int32_t)> seekTarget;
  bool fontTaken = false;
  QFont font;

  // position / high, the low end not subtracted; a range ending at 0 shows an empty bar.
  double Fraction() const { return high == 0 ? 0.0 : double(position) / double(high); }
};

CProgressEx::CProgressEx(QWidget* parent) : QWidget(parent), state_(std::make_unique<State>()) {
  state_->timer = new QTimer(this);
  state_->timer->setInterval(kBusyIntervalMs);
  QObject::connect(state_->timer, &QTimer::timeout, this, [this] { BusyTick(); });
  // Everything is painted from the off-screen copy; no background erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

CProgressEx::~CProgressEx() = default;

QColor CProgressEx::ColorRef(uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

void CProgressEx::SetRange(int32_t low, int32_t high) {
  state_->low = low;
  state_->high = high;
  update();
}

int32_t CProgressEx::GetRange(bool wantLow, Range* range) const {
  if (range) {
    range->low = state_->low;
    range->high = state_->high;
  }
  return wantLow ? state_->low : state_->high;
}

int32_t CProgressEx::SetPos(int32_t pos, bool repaint) {
  const int32_t old = state_->position;
  if (pos == kStartBusy) {
    StartBusy();
  } else if (pos == kStopBusy) {
    StopBusy();
  } else {
    if (pos >= 0) StopBusy();
    state_->position = pos;
  }
  if (repaint) update();
  return old;
}

int32_t CProgressEx::GetPos() const { return state_->position; }

int32_t CProgressEx::SetStep(int32_t step) { return std::exchange(state_->step, step); }

int32_t CProgressEx::StepIt() {
  const int32_t old = state_->position;
  // Wraps like the 32-bit sum it stands for instead of overflowing.
  state_->position = int32_t(uint32_t(old) + uint32_t(state_->step));
  update();
  return old;
}

void CProgressEx::SetStyle(bool rounded) {
  State& s = *state_;
  s.barA = kBarA;
  s.barB = s.rounded ? kBarBAfterRounded : kBarBOtherwise;
  s.rounded = rounded;
  s.square = s.noInnerBorder = !rounded;
  update();
}

bool CProgressEx::Rounded() const { return state_->rounded; }

void CProgressEx::SetBarColors(const QColor& a, const QColor& b) {
  state_->barA = a;
  state_->barB = b;
  update();
}

QColor CProgressEx::BarColorA() const { return state_->barA; }
QColor CProgressEx::BarColorB() const { return state_->barB; }

void CProgressEx::SetText(const QString& text, bool repaint) {
  state_->text = text.left(kMaxText);
  if (repaint) update();
}

void CProgressEx::SetShowText(bool show) {
  state_->showText = show;
  update();
}

QString CProgressEx::DisplayText() const {
  const State& s = *state_;
  if (!s.showText) return QString();
  if (!s.text.isEmpty()) return s.text;
  if (s.busy) return QString();
  const int32_t percent = std::max(0, ToInt32(s.Fraction() * 100.0));
  return QString::asprintf("%d%%", percent);
}

bool CProgressEx::Busy() const { return state_->busy; }

void CProgressEx::SetSeekTarget(std::function<void(int32_t)> target) { state_->seekTarget = std::move(target); }

int32_t CProgressEx::SeekPositionAt(int x) const {
  const int w = width();
  double product = w > 0 ? double(x) / double(w) * double(state_->high) : 0.0;
  if (product < 0) product = 0;
  return ToInt32(double(state_->low) + std::trunc(product));
}

void CProgressEx::StartBusy() {
  State& s = *state_;
  if (s.busy) return;
  s.busy = true;
  s.position = 0;
  s.low = 0;
  s.high = 100;
  s.timer->start();
  update();
}

void CProgressEx::StopBusy() {
  State& s = *state_;
  s.busy = false;
  s.position = 0;
  s.timer->stop();
  update();
}

void CProgressEx::BusyTick() {
  State& s = *state_;
  if (++s.position >= kBusyWrap) s.position = 0;
  update();
}

void CProgressEx::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && state_->seekTarget)
    state_->seekTarget(SeekPositionAt(static_cast<int>(std::floor(event->position().x()))));
  QWidget::mouseReleaseEvent(event);
}

void CProgressEx::paintEvent(QPaintEvent*) {
  if (!state_->fontTaken) {
    state_->font = QApplication::font();
    state_->fontTaken = true;
  }
  // Drawn off-screen and copied in one step, so the bar never flickers.
  const qreal dpr = devicePixelRatioF();
  QPixmap pixmap(size() * dpr);
  pixmap.setDevicePixelRatio(dpr);
  {
    QPainter painter(&pixmap);
    Draw(painter);
  }
  QPainter(this).drawPixmap(0, 0, pixmap);
}

void CProgressEx::Draw(QPainter& painter) const {
  const State& s = *state_;
  QRect r = rect();
  if (s.square) r.setHeight(r.height() - 1);
  const double corner = r.height() / 5;  // whole pixels, as the corner size is
  auto shape = [&](const QRect& area) {
    QPainterPath path;
    if (s.square)
      path.addRect(QRectF(area));
    else
      path.addRoundedRect(QRectF(area), corner / 2, corner / 2);
    return path;
  };
  // Outside the shape (round corners, the square style's last row) the window
  // behind shows through.
  painter.fillRect(rect(), palette().color(QPalette::Window));
  painter.setRenderHint(QPainter::Antialiasing, !s.square);
  painter.fillPath(shape(r), kOuterBorder);
  QRect working = r.adjusted(1, 1, -1, -1);
  if (!s.noInnerBorder) {
    painter.fillPath(shape(working), kInnerBorder);
    working = r.adjusted(2, 2, -2, -2);
  }
  painter.fillPath(shape(working), kBackground);
  const QPainterPath barShape = !s.noInnerBorder && !s.busy ? shape(r.adjusted(1, 1, -1, -1)) : shape(working);
  painter.setRenderHint(QPainter::Antialiasing, false);

  const double span = std::clamp(double(r.width()) * s.Fraction(), -kCoordinateLimit, kCoordinateLimit);
  const int right = r.left() + static_cast<int>(span);
  int left = right - (s.busy ? r.width() / 3 : r.width());
  if (left < 0 && !s.busy) left = 0;
  const QRect bar(left, r.top(), right - left, r.height());
  if (bar.width() > 0) {
    painter.save();
    painter.setClipPath(barShape);
    GradientFill(painter, bar, s.barB, s.barA, s.rounded, s.rounded);
    painter.restore();
  }

  const QString text = DisplayText();
  if (text.isEmpty()) return;
  const QRect textRect = s.rounded ? r.translated(0, -1) : r;
  const int flags = Qt::AlignCenter | Qt::TextSingleLine;
  painter.setFont(s.font);
  auto pass = [&](const QColor& color, int dx, int dy) {
    painter.setPen(color);
    painter.drawText(textRect.translated(dx, dy), flags, text);
  };
  painter.setClipRect(rect());
  pass(kTextHighlight, 1, -1);
  pass(kText, 0, 0);
  if (bar.width() <= 0) return;
  painter.setClipRect(bar);
  pass(kBarTextShadow, 1, -1);
  pass(kBarText, 0, 0);
}

}  // namespace widgets
