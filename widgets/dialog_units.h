#pragma once
// Dialog units: windows laid out after a template in units that scale with the
// font, a quarter of the average character width across and an eighth of the
// character height down, so a larger font or screen scaling cuts no text off.
#include <QFont>
#include <QFontMetricsF>
#include <QSize>
#include <cmath>

namespace widgets {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font) {
    const QFontMetricsF fm(font);
    x_ = fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0;
    y_ = fm.height();
  }
  int X(int units) const { return int(std::lround(units * x_ / 4.0)); }
  int Y(int units) const { return int(std::lround(units * y_ / 8.0)); }
  QSize Size(int width, int height) const { return {X(width), Y(height)}; }

 private:
  double x_ = 6, y_ = 13;
};

}  // namespace widgets
