#pragma once
// A picture control: shows the latest frame sent to its window handle
// (ShowFrame with JPEG bytes, ShowFrameRecord with a decoded frame and its motion
// blocks), frames the moving area, and lets the user edit a 20 x 20 motion grid
// with the mouse and a context menu. The recorder's live view, camera options and
// source dialogs and the player all use it.
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "media/frame_image.h"
#include "platform/message.h"

class QPainter;

namespace platform {
class QtWindowTarget;
}

namespace widgets {

class CPictureBox : public QWidget {
 public:
  explicit CPictureBox(QWidget* parent = nullptr);
  ~CPictureBox() override;

  // Handle that ShowFrame and ShowFrameRecord are posted to.
  platform::WindowHandle Handle() const;

  // Window that receives a saved grid (GridChanged, lParam = the handle given
  // with SetGridOwner, else 0); 0 = none, which hides "Save Custom Detection Grid".
  void SetGridTarget(platform::WindowHandle target);
  // The handle sent along with a saved grid (the live view's own handle).
  void SetGridOwner(platform::WindowHandle owner);
  // Copies 400 bytes in (index column * 20 + row from the bottom); shorter input is ignored.
  void SetGrid(const std::vector<uint8_t>& grid);
  std::vector<uint8_t> CopyGrid() const;

  bool GridEditing() const;
  void SetGridEditing(bool on);
  bool HasPicture() const;
  // The picture on show, bottom-up as received (no preview adjustments).
  const media::FrameImage& Picture() const;

  // Direct calls with the same effect as the two posted messages (used by owners
  // on the GUI thread and by tests). Null / empty clears the picture.
  void ShowJpeg(std::vector<uint8_t> jpeg);
  void ShowRecord(std::unique_ptr<media::FrameRecord> record);
  void Clear();

  // Preview mode (camera options): before drawing, a copy of the picture passes
  // through adjust (flips, rotation); after drawing it, overlay paints over the
  // control's rectangle. Either may be empty. The live view never sets these.
  using PreviewAdjust = std::function<void(media::FrameImage& image)>;
  using PreviewOverlay = std::function<void(QPainter& painter, const QRect& rect)>;
  void SetPreview(PreviewAdjust adjust, PreviewOverlay overlay);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace widgets
