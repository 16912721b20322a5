// Progress bar: its text, the busy animation, seek clicks and what it paints.
#include <QApplication>
#include <QImage>
#include <QMouseEvent>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "widgets/progress_ex.h"

namespace {

using widgets::CProgressEx;

TEST(ProgressEx, TextIsTheSetTextOrTheTruncatedPercentage) {
  struct Row {
    int32_t low, high, pos;
    QString text;
    QString expected;
  };
  const QString longText(300, QChar('x'));
  const std::vector<Row> rows = {
      {0, 255, 128, "", "50%"},   // 50.19..
      {0, 255, 255, "", "100%"},
      {0, 0, 5, "", "0%"},        // a range ending at 0 divides nothing
      {0, 100, -5, "", "0%"},
      {0, 100, 150, "", "150%"},  // no clamping to the range
      {50, 100, 50, "", "50%"},   // the low end is not subtracted
      {0, 255, 128, "Motion Level: 128", "Motion Level: 128"},
      {0, 255, 0, longText, QString(254, QChar('x'))},
  };
  for (const Row& r : rows) {
    CProgressEx bar;
    bar.SetRange(r.low, r.high);
    bar.SetPos(r.pos);
    bar.SetText(r.text);
    EXPECT_EQ(bar.DisplayText(), r.expected) << r.low << ".." << r.high << " at " << r.pos;
    EXPECT_EQ(bar.GetPos(), r.pos);
  }
}

TEST(ProgressEx, RangeStepAndPositionAreNotClamped) {
  CProgressEx bar;
  bar.SetRange(0, 10);
  EXPECT_EQ(bar.SetPos(50), 0);
  EXPECT_EQ(bar.SetStep(7), 1);
  EXPECT_EQ(bar.StepIt(), 50);
  EXPECT_EQ(bar.GetPos(), 57);
  CProgressEx::Range range;
  EXPECT_EQ(bar.GetRange(true, &range), 0);
  EXPECT_EQ(bar.GetRange(false), 10);
  EXPECT_EQ(range.high, 10);
}

TEST(ProgressEx, BusyAnimationRunsAThirdWidthSegmentAndWrapsAt140) {
  CProgressEx bar;
  bar.SetRange(0, 255);
  bar.SetPos(200);
  bar.SetPos(CProgressEx::kStartBusy);
  EXPECT_TRUE(bar.Busy());
  EXPECT_EQ(bar.GetPos(), 0);
  EXPECT_EQ(bar.GetRange(false), 100);
  EXPECT_EQ(bar.DisplayText(), "") << "no percentage while busy";
  bar.SetText("Working");
  EXPECT_EQ(bar.DisplayText(), "Working") << "a text is shown while busy";

  for (int i = 0; i < 139; ++i) bar.BusyTick();
  EXPECT_EQ(bar.GetPos(), 139);
  bar.SetPos(CProgressEx::kStartBusy);
  EXPECT_EQ(bar.GetPos(), 139) << "starting again while running changes nothing";
  bar.BusyTick();
  EXPECT_EQ(bar.GetPos(), 0);

  bar.SetPos(CProgressEx::kStopBusy);
  EXPECT_FALSE(bar.Busy());
  bar.SetText("");
  EXPECT_EQ(bar.DisplayText(), "0%");
  bar.SetPos(CProgressEx::kStartBusy);
  bar.SetPos(30);
  EXPECT_FALSE(bar.Busy()) << "a real position stops the animation";
  EXPECT_EQ(bar.GetPos(), 30);
}

void Release(QWidget& w, int x, Qt::MouseButton button) {
  QMouseEvent e(QEvent::MouseButtonRelease, QPointF(x, 5), w.mapToGlobal(QPointF(x, 5)), button, Qt::NoButton,
                Qt::NoModifier);
  QApplication::sendEvent(&w, &e);
}

TEST(ProgressEx, SeekClickReportsLowPlusTruncatedShareOfHigh) {
  struct Row {
    int32_t low, high;
    int x;
    std::optional<int32_t> reported;
    Qt::MouseButton button = Qt::LeftButton;
  };
  const std::vector<Row> rows = {
      {0, 86400, 100, 43200},
      {0, 86400, 199, 85968},  // 199 / 200 x 86400 = 85968
      {10, 100, 199, 109},     // 99.5 truncated, low added
      {0, 86400, -10, 0},      // left of the bar: negative product as 0
      {7, -100, 50, 7},        // negative high: product 0
      {0, 86400, 100, std::nullopt, Qt::RightButton},
  };
  for (const Row& r : rows) {
    CProgressEx bar;
    bar.resize(200, 12);
    bar.SetRange(r.low, r.high);
    std::optional<int32_t> got;
    bar.SetSeekTarget([&got](int32_t pos) { got = pos; });
    Release(bar, r.x, r.button);
    EXPECT_EQ(got, r.reported) << r.low << ".." << r.high << " x " << r.x;
  }
}

QImage Render(CProgressEx& bar) { return bar.grab().toImage().convertToFormat(QImage::Format_RGB32); }

TEST(ProgressEx, PaintsFrameBarAndBackground) {
  // Bar colours at their defaults: B (95, 188, 223) to A (4, 10, 132).
  struct Row {
    std::string what;
    bool rounded;
    int ticks;  // -1: not busy, position 50 of 100
    int x, y;
    QRgb expected;
  };
  const std::vector<Row> rows = {
      {"flat: outer border", false, -1, 0, 5, qRgb(128, 128, 128)},
      {"flat: no inner border, bar starts at B", false, -1, 1, 1, qRgb(95, 188, 223)},
      {"flat: horizontal gradient, column 10", false, -1, 10, 10, qRgb(79, 156, 207)},
      {"flat: background after the bar", false, -1, 60, 10, qRgb(255, 255, 255)},
      {"rounded: bar covers the inner border, row 10 of 20", true, -1, 1, 10, qRgb(14, 28, 142)},
      {"rounded: inner border after the bar", true, -1, 60, 1, qRgb(200, 200, 200)},
      {"rounded: background inside the borders", true, -1, 60, 10, qRgb(255, 255, 255)},
      {"busy: segment from 17 to 50", true, 50, 30, 10, qRgb(14, 28, 142)},
      {"busy: inner border stays over the segment", true, 50, 30, 1, qRgb(200, 200, 200)},
      {"busy: nothing before the segment", true, 50, 10, 10, qRgb(255, 255, 255)},
  };
  for (const Row& r : rows) {
    CProgressEx bar;
    bar.resize(100, r.rounded ? 20 : 21);  // the flat style gives up the last row
    bar.SetShowText(false);
    if (!r.rounded) {
      bar.SetStyle(false);
      bar.SetBarColors(CProgressEx::ColorRef(0x840A04), CProgressEx::ColorRef(0xDFBC5F));
    }
    bar.SetRange(0, 100);
    if (r.ticks < 0) {
      bar.SetPos(50);
    } else {
      bar.SetPos(CProgressEx::kStartBusy);
      for (int i = 0; i < r.ticks; ++i) bar.BusyTick();
    }
    EXPECT_EQ(QColor(Render(bar).pixel(r.x, r.y)), QColor(r.expected)) << r.what;
  }
}

int Count(const QImage& img, QRgb colour, int fromX, int toX) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = fromX; x < toX; ++x) n += img.pixel(x, y) == colour;
  return n;
}

TEST(ProgressEx, TextIsDarkOverTheBackgroundAndWhiteOverTheBar) {
  CProgressEx bar;
  bar.resize(200, 30);
  bar.SetStyle(false);
  bar.SetRange(0, 100);
  bar.SetText("MMMM");
  const QRgb dark = qRgb(75, 75, 75), white = qRgb(255, 255, 255);
  bar.SetPos(0);
  QImage empty = Render(bar);
  EXPECT_GT(Count(empty, dark, 0, 200), 0);
  bar.SetPos(100);
  QImage full = Render(bar);
  EXPECT_EQ(Count(full, dark, 0, 200), 0) << "the bar text covers the dark text everywhere";
  EXPECT_GT(Count(full, white, 1, 199), 0);
}

}  // namespace
