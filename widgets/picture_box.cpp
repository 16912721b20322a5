// First cut: shows pictures; grid editing, the context menu and the motion
// rectangle are still to come.
#include "widgets/picture_box.h"

#include <QImage>
#include <QPainter>

#include "media/frame_messages.h"
#include "media/jpeg_codec.h"
#include "platform/qt/qt_window.h"

namespace widgets {

struct CPictureBox::State {
  platform::QtWindowTarget* target = nullptr;
  platform::WindowHandle gridTarget = 0;
  platform::WindowHandle gridOwner = 0;
  std::vector<uint8_t> grid = std::vector<uint8_t>(400, 0);
  bool gridEditing = false;
  media::FrameImage picture;
  PreviewAdjust adjust;
  PreviewOverlay overlay;
};

CPictureBox::CPictureBox(QWidget* parent) : QWidget(parent), state_(std::make_unique<State>()) {
  state_->target = new platform::QtWindowTarget(this, [this](platform::Message& msg) {
    if (platform::Is<media::ShowFrame>(msg)) {
      if (msg.wParam == 0 || msg.lParam == 0) Clear();
      else ShowJpeg(platform::Take<media::ShowFrame>(msg));
    } else if (platform::Is<media::ShowFrameRecord>(msg)) {
      ShowRecord(platform::Take<media::ShowFrameRecord>(msg));
    }
  });
}

CPictureBox::~CPictureBox() { state_->target->Unregister(); }

platform::WindowHandle CPictureBox::Handle() const { return state_->target->Handle(); }
void CPictureBox::SetGridTarget(platform::WindowHandle target) { state_->gridTarget = target; }
void CPictureBox::SetGridOwner(platform::WindowHandle owner) { state_->gridOwner = owner; }
void CPictureBox::SetGrid(const std::vector<uint8_t>& grid) {
  if (grid.size() >= 400) state_->grid.assign(grid.begin(), grid.begin() + 400);
}
std::vector<uint8_t> CPictureBox::CopyGrid() const { return state_->grid; }
bool CPictureBox::GridEditing() const { return state_->gridEditing; }
void CPictureBox::SetGridEditing(bool on) { state_->gridEditing = on; update(); }
bool CPictureBox::HasPicture() const { return state_->picture.Valid(); }
const media::FrameImage& CPictureBox::Picture() const { return state_->picture; }

void CPictureBox::ShowJpeg(std::vector<uint8_t> jpeg) {
  if (jpeg.empty()) return Clear();
  media::FrameImage image;
  if (!media::DecodeJpeg(jpeg.data(), jpeg.size(), image)) return;
  state_->picture = std::move(image);
  update();
}

void CPictureBox::ShowRecord(std::unique_ptr<media::FrameRecord> record) {
  if (!record) return Clear();
  state_->picture = std::move(record->image);
  update();
}

void CPictureBox::Clear() {
  state_->picture = media::FrameImage();
  update();
}

void CPictureBox::SetPreview(PreviewAdjust adjust, PreviewOverlay overlay) {
  state_->adjust = std::move(adjust);
  state_->overlay = std::move(overlay);
  update();
}

void CPictureBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const media::FrameImage& p = state_->picture;
  if (p.Valid() && p.bitsPerPixel == 24) {
    QImage image(p.pixels.data(), p.width, p.height, p.width * 3, QImage::Format_BGR888);
    painter.drawImage(rect(), image.mirrored(false, true));
  } else {
    painter.fillRect(rect(), Qt::black);
    painter.setPen(QColor(255, 60, 0));
    painter.drawText(rect(), Qt::AlignCenter, "No Image Loaded Yet...");
  }
  if (state_->overlay) state_->overlay(painter, rect());
}

void CPictureBox::mouseReleaseEvent(QMouseEvent* event) { QWidget::mouseReleaseEvent(event); }

}  // namespace widgets
