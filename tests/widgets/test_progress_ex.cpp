// Progress bar: its text, the busy animation and seek clicks.
#include <QApplication>
#include <QMouseEvent>

#include <optional>
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

}  // namespace
