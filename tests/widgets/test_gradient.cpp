// Gradient fill: the colour of every line.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "widgets/gradient.h"

namespace {

using widgets::GradientLines;

TEST(Gradient, LineColours) {
  const QColor black(0, 0, 0), grey(100, 100, 100), c(10, 20, 30);
  struct Row {
    std::string name;
    QColor start, end;
    int count;
    bool mirrored;
    std::vector<QRgb> lines;
  };
  const std::vector<Row> rows = {
      {"equal colours fill every line", c, c, 3, false, {qRgb(10, 20, 30), qRgb(10, 20, 30), qRgb(10, 20, 30)}},
      {"count 0 draws nothing", black, grey, 0, false, {}},
      {"negative count draws nothing", black, grey, -4, true, {}},
      // Line k has (k - 1) / count of the way: the plain gradient stops a step short of the end.
      {"plain", black, QColor(100, 50, 10), 4, false,
       {qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(25, 12, 2), qRgb(50, 25, 5)}},
      {"plain steps truncate toward zero", grey, black, 3, false,
       {qRgb(100, 100, 100), qRgb(100, 100, 100), qRgb(67, 67, 67)}},
      // d = 3: up to the end colour on lines 4 and 5, then back.
      {"mirrored", black, grey, 7, true,
       {qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(33, 33, 33), qRgb(66, 66, 66), qRgb(100, 100, 100),
        qRgb(100, 100, 100), qRgb(66, 66, 66)}},
      {"mirrored single line", black, grey, 1, true, {qRgb(0, 0, 0)}},
      {"mirrored two lines", black, grey, 2, true, {qRgb(0, 0, 0), qRgb(0, 0, 0)}},
  };
  for (const Row& r : rows) EXPECT_EQ(GradientLines(r.start, r.end, r.count, r.mirrored), r.lines) << r.name;
}

}  // namespace
