#pragma once
// A picture control: shows the latest frame sent to its window handle
// (ShowFrame with JPEG bytes, ShowFrameRecord with a decoded frame and its motion
// blocks), frames the moving area, and lets the user edit a 20 x 20 motion grid
// with the mouse and a context menu. The recorder's live view, camera options and
// source dialogs and the player all use it.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "media/frame_image.h"
#include "media/motion_grid.h"
#include "platform/message.h"

class QPainter;

namespace platform {
class QtWindowTarget;
}

namespace widgets {

// A saved grid, posted by "Save Custom Detection Grid" to the grid target:
// payload the 400 grid bytes, lParam the grid owner's handle. The recorder's main
// window takes it as its GridChanged: same number, same payload type.
struct GridSaved : platform::WindowMessage<platform::WM_USER + 502, std::vector<uint8_t>> {};
static_assert(GridSaved::kNumber == 1526);

class CPictureBox : public QWidget {
 public:
  // Context menu commands.
  static constexpr int kEditGrid = 150;   // show or hide the grid for editing
  static constexpr int kClearGrid = 151;  // every block watched
  static constexpr int kFillGrid = 152;   // every block ignored
  static constexpr int kSaveGrid = 153;   // post GridSaved to the grid target

  struct MenuEntry {
    QString text;  // empty for a separator
    int id = 0;    // 0 for a separator
    bool operator==(const MenuEntry&) const = default;
  };

  explicit CPictureBox(QWidget* parent = nullptr);
  ~CPictureBox() override;

  // Handle that ShowFrame and ShowFrameRecord are posted to.
  platform::WindowHandle Handle() const;
  // Shows a ShowFrame or ShowFrameRecord message that reached an owner's handle
  // (the live view passes its frames on this way). False for any other message.
  bool HandleMessage(platform::Message& msg);

  // Window that receives a saved grid (GridSaved, lParam = the handle given
  // with SetGridOwner, else 0); 0 = none, which hides "Save Custom Detection Grid".
  void SetGridTarget(platform::WindowHandle target);
  // The handle sent along with a saved grid (the live view's own handle).
  void SetGridOwner(platform::WindowHandle owner);
  // Copies 400 bytes in (index column * 20 + row from the bottom); shorter input is ignored.
  void SetGrid(const std::vector<uint8_t>& grid);
  std::vector<uint8_t> CopyGrid() const;
  // The grid being edited and the motion blocks of the frame on show.
  const media::MotionGrid& Grid() const;

  bool GridEditing() const;
  void SetGridEditing(bool on);
  bool HasPicture() const;
  // The frame on show came as a triggered frame record.
  bool ShownTriggered() const;
  // The picture on show, bottom-up as received (no preview adjustments).
  const media::FrameImage& Picture() const;
  // The JPEG bytes of the picture on show when it came by ShowFrame; empty otherwise.
  const std::vector<uint8_t>& LastJpeg() const;

  // Direct calls with the same effect as the two posted messages (used by owners
  // on the GUI thread and by tests). Null / empty clears the picture.
  void ShowJpeg(std::vector<uint8_t> jpeg);
  void ShowRecord(std::unique_ptr<media::FrameRecord> record);
  void Clear();

  // The context menu as a right-button release would show it now, in order.
  std::vector<MenuEntry> MenuEntries() const;
  // Carries out a menu command; unknown ids do nothing.
  void RunCommand(int id);
  // An owner's own command, listed after a separator below the grid entries.
  void AddMenuCommand(const QString& text, int id, std::function<void()> action);
  // Replaces the context menu: a right-button release calls handler with the
  // point in this control's coordinates instead (the player's own menu).
  void SetContextMenuHandler(std::function<void(const QPoint& point)> handler);
  // Called after each frame sent by SHOW_FRAME has been decoded for drawing, so a
  // sender can keep from running ahead of the picture (the player's playback).
  void SetFrameShownHandler(std::function<void()> handler);

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
