#pragma once
// Helpers for the programs' --screenshots runs: letting posted events arrive,
// and grabbing windows into PNG files.
#include <QPixmap>
#include <functional>
#include <ostream>
#include <string>

#include "media/frame_image.h"

class QWidget;

namespace widgets {

// A car park seen from above its entrance, with a car that crosses it as step
// goes from 0 to 24; bottom-up BGR like every frame.
media::FrameImage SampleScene(int width, int height, int step);

// An MJPG file of `frames` frames a second apart from 8 March 2026, 08:15:00 UTC,
// cycling through `distinct` pictures of the scene (few: quick to write).
bool WriteSampleRecording(const std::string& path, int frames, int width, int height, int distinct);

// Lets posted events arrive until done() holds and at least atLeastMs passed,
// or atMostMs passed; what done() says at the end.
bool SettleUntil(const std::function<bool()>& done, int atLeastMs = 50, int atMostMs = 5000);

// Lets posted events arrive for ms milliseconds.
void Settle(int ms = 50);

// A window as grabbed, under a plain title bar with its icon and caption, since
// offscreen windows have no frame; menus and child widgets as they are.
QPixmap WithCaption(QWidget* widget);

// Saves widgets as DIR/NAME.png, tells each path on out and each failure on err
// with the program's name in front.
class ScreenshotShooter {
 public:
  // framed: windows drawn under a title bar (WithCaption) rather than bare.
  ScreenshotShooter(std::string program, std::string dir, std::ostream& out, std::ostream& err, bool framed = false);

  // settle: let pending events be handled first; off when the picture must show
  // the state of this very moment.
  void Shoot(QWidget* widget, const std::string& name, bool settle = true);
  // Tells what went wrong and marks the run failed.
  void Fail(const std::string& what);
  bool failed() const { return failed_; }

 private:
  std::string program_;
  std::string dir_;
  std::ostream& out_;
  std::ostream& err_;
  bool framed_;
  bool failed_ = false;
};

}  // namespace widgets
