#pragma once
// A self-drawn progress bar: a gradient bar in a rounded or flat frame, an
// embossed percentage or custom text, and a busy animation in which a
// third-width segment runs across. It doubles as a seek bar: a click reports
// the position under the pointer to a seek target. The recorder's motion level
// bar, the player's position bar and the converter's progress use it.
//
// Like the standard progress bar, position and range are never clamped to each
// other: a position above the range draws the bar beyond its end.
#include <QColor>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

class QPainter;

namespace widgets {

class CProgressEx : public QWidget {
 public:
  struct Range {
    int32_t low = 0;
    int32_t high = 0;
  };
  // Positions for SetPos that start and stop the busy animation.
  static constexpr int32_t kStartBusy = -1;
  static constexpr int32_t kStopBusy = -2;

  explicit CProgressEx(QWidget* parent = nullptr);
  ~CProgressEx() override;

  // Colours are given as QColor. Colour values in the design's 0x00BBGGRR
  // notation (red in the low byte) become QColor through ColorRef.
  static QColor ColorRef(uint32_t bgr);

  void SetRange(int32_t low, int32_t high);
  // Returns low when wantLow is set, else high; fills range when given.
  int32_t GetRange(bool wantLow, Range* range = nullptr) const;
  // kStartBusy starts the busy animation (position 0, range 0 to 100) unless it
  // runs; kStopBusy stops it (position 0); 0 or more stops it and sets the
  // position; any other value just sets it. Returns the position before.
  int32_t SetPos(int32_t pos, bool repaint = true);
  int32_t GetPos() const;
  // Returns the step before.
  int32_t SetStep(int32_t step);
  // Position += step; returns the position before.
  int32_t StepIt();

  // Rounded: vertical mirrored gradient, rounded corners and an inner border.
  // Flat: horizontal gradient, square corners, no inner border. Resets every
  // colour; bar colour B depends on the style that was set before.
  void SetStyle(bool rounded);
  bool Rounded() const;
  // A: the bar's centre (rounded) or right end (flat); B: its edges or left end.
  void SetBarColors(const QColor& a, const QColor& b);
  QColor BarColorA() const;
  QColor BarColorB() const;

  // At most 254 characters are kept; an empty text shows the percentage again.
  void SetText(const QString& text, bool repaint = true);
  void SetShowText(bool show);
  // What the bar writes now: the text, the percentage, or nothing while busy
  // without a text.
  QString DisplayText() const;
  bool Busy() const;

  // A left-button release reports low + trunc(x / width x high) (a negative
  // product counts as 0) to the target; an empty function turns seeking off.
  void SetSeekTarget(std::function<void(int32_t position)> target);
  // The position a click at client x reports.
  int32_t SeekPositionAt(int x) const;

  // One step of the busy animation (called by its 20 ms timer).
  void BusyTick();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Draw(QPainter& painter) const;
  void StartBusy();
  void StopBusy();

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace widgets
