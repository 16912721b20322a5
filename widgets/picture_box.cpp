#include "widgets/picture_box.h"

#include <QFontMetrics>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "media/frame_messages.h"
#include "media/jpeg_codec.h"
#include "platform/qt/qt_window.h"
#include "widgets/grid_painter.h"

namespace widgets {

namespace {

const char kNoImage[] = "No Image Loaded Yet...";

// The empty picture's font: bold Verdana with cells 20 pixels high and characters
// 10 wide on average; another sans face where Verdana is missing.
QFont NoImageFont() {
  QFont font("Verdana");
  font.setStyleHint(QFont::SansSerif);
  font.setBold(true);
  font.setPixelSize(20);
  const QFontMetrics first(font);
  if (first.height() > 0) font.setPixelSize(std::max(1, int(std::lround(20.0 * 20.0 / first.height()))));
  const int average = QFontMetrics(font).averageCharWidth();
  if (average > 0) font.setStretch(std::clamp(int(std::lround(100.0 * 10.0 / average)), 50, 200));
  return font;
}

// The picture top row first, in a format the painter draws; null for a depth
// that no capture format has. 8-bit pictures carry no palette and show as grey.
QImage ToImage(const media::FrameImage& p) {
  if (!p.Valid()) return QImage();
  QImage::Format format;
  switch (p.bitsPerPixel) {
    case 8: format = QImage::Format_Grayscale8; break;
    case 16: format = QImage::Format_RGB555; break;  // 0RRRRRGGGGGBBBBB, little-endian
    case 24: format = QImage::Format_BGR888; break;
    case 32: format = QImage::Format_RGB32; break;  // blue, green, red, unused
    default: return QImage();
  }
  const QImage view(p.pixels.data(), p.width, p.height, qsizetype(p.width) * (p.bitsPerPixel / 8), format);
  QImage image = view.mirrored(false, true);  // a deep copy, rows top-down
  if (p.bitsPerPixel == 32) {
    // The fourth byte is padding, not alpha.
    for (int y = 0; y < image.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) line[x] |= 0xff000000u;
    }
  }
  return image;
}

struct OwnerCommand {
  QString text;
  int id;
  std::function<void()> action;
};

}  // namespace

struct CPictureBox::State {
  platform::QtWindowTarget* target = nullptr;
  platform::WindowHandle gridTarget = 0;
  platform::WindowHandle gridOwner = 0;
  media::MotionGrid grid;
  bool gridEditing = false;
  bool shownTriggered = false;
  media::FrameImage picture;
  std::vector<uint8_t> jpeg;
  PreviewAdjust adjust;
  PreviewOverlay overlay;
  std::vector<OwnerCommand> ownerCommands;
  std::function<void(const QPoint&)> menuHandler;
  std::function<void()> frameShown;
  QFont noImageFont;
  bool fontReady = false;
};

CPictureBox::CPictureBox(QWidget* parent) : QWidget(parent), state_(std::make_unique<State>()) {
  state_->target = new platform::QtWindowTarget(this, [this](platform::Message& msg) { HandleMessage(msg); });
  // The picture or the black empty screen covers every pixel.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

CPictureBox::~CPictureBox() { state_->target->Unregister(); }

platform::WindowHandle CPictureBox::Handle() const { return state_->target->Handle(); }

bool CPictureBox::HandleMessage(platform::Message& msg) {
  if (platform::Is<media::ShowFrame>(msg)) {
    if (msg.wParam == 0 || msg.lParam == 0) {
      Clear();
      return true;
    }
    ShowJpeg(platform::Take<media::ShowFrame>(msg));
    if (state_->frameShown) state_->frameShown();
    return true;
  }
  if (platform::Is<media::ShowFrameRecord>(msg)) {
    ShowRecord(platform::Take<media::ShowFrameRecord>(msg));
    return true;
  }
  return false;
}

void CPictureBox::SetGridTarget(platform::WindowHandle target) { state_->gridTarget = target; }
void CPictureBox::SetGridOwner(platform::WindowHandle owner) { state_->gridOwner = owner; }
void CPictureBox::SetGrid(const std::vector<uint8_t>& grid) {
  state_->grid.SetGrid(grid.data(), grid.size());
  update();
}
std::vector<uint8_t> CPictureBox::CopyGrid() const { return state_->grid.CopyGrid(); }
const media::MotionGrid& CPictureBox::Grid() const { return state_->grid; }
bool CPictureBox::GridEditing() const { return state_->gridEditing; }
void CPictureBox::SetGridEditing(bool on) {
  state_->gridEditing = on;
  update();
}
bool CPictureBox::HasPicture() const { return state_->picture.Valid(); }
bool CPictureBox::ShownTriggered() const { return state_->shownTriggered; }
const media::FrameImage& CPictureBox::Picture() const { return state_->picture; }
const std::vector<uint8_t>& CPictureBox::LastJpeg() const { return state_->jpeg; }

void CPictureBox::ShowJpeg(std::vector<uint8_t> jpeg) {
  if (jpeg.empty()) return Clear();
  media::FrameImage image;
  // A picture that does not decode leaves the one on show.
  if (!media::DecodeJpeg(jpeg.data(), jpeg.size(), image)) return;
  state_->picture = std::move(image);
  state_->jpeg = std::move(jpeg);
  update();
}

void CPictureBox::ShowRecord(std::unique_ptr<media::FrameRecord> record) {
  if (!record) return Clear();
  media::FrameImage& image = record->image;
  // A record whose buffer is shorter than its header promises is not shown:
  // reading its rows would run past the buffer.
  if (!image.Valid()) return;
  state_->shownTriggered = record->triggered != 0;
  state_->grid.SetBlocks({record->firstBlockColumn, record->firstBlockRow},
                         {record->lastBlockColumn, record->lastBlockRow});
  image.pixels.resize(image.Size());
  state_->picture = std::move(image);
  state_->jpeg.clear();
  update();
}

void CPictureBox::Clear() {
  state_->picture = media::FrameImage();
  state_->jpeg.clear();
  update();
}

std::vector<CPictureBox::MenuEntry> CPictureBox::MenuEntries() const {
  std::vector<MenuEntry> entries;
  if (!state_->gridEditing) {
    entries.push_back({"Edit Motion Detection Grid", kEditGrid});
  } else {
    entries.push_back({"Hide Motion Detection Grid", kEditGrid});
    entries.push_back({});
    entries.push_back({"Clear All Ignore Blocks", kClearGrid});
    entries.push_back({"X Entire Detection Grid", kFillGrid});
    if (state_->gridTarget != 0) entries.push_back({"Save Custom Detection Grid", kSaveGrid});
  }
  if (!state_->ownerCommands.empty()) {
    entries.push_back({});
    for (const OwnerCommand& c : state_->ownerCommands) entries.push_back({c.text, c.id});
  }
  return entries;
}

void CPictureBox::RunCommand(int id) {
  State& s = *state_;
  switch (id) {
    case kEditGrid: s.gridEditing = !s.gridEditing; break;
    case kClearGrid: s.grid.ClearGrid(); break;
    case kFillGrid: s.grid.FillGrid(); break;
    case kSaveGrid:
      // A failed post destroys the copy on this side.
      if (s.gridTarget != 0) platform::Post<GridSaved>(s.gridTarget, 0, intptr_t(s.gridOwner), s.grid.CopyGrid());
      return;
    default:
      for (const OwnerCommand& c : s.ownerCommands)
        if (c.id == id && c.action) c.action();
      return;
  }
  s.grid.ResetBlocks();
  update();
}

void CPictureBox::AddMenuCommand(const QString& text, int id, std::function<void()> action) {
  state_->ownerCommands.push_back({text, id, std::move(action)});
}

void CPictureBox::SetFrameShownHandler(std::function<void()> handler) { state_->frameShown = std::move(handler); }

void CPictureBox::SetContextMenuHandler(std::function<void(const QPoint&)> handler) {
  state_->menuHandler = std::move(handler);
}

void CPictureBox::SetPreview(PreviewAdjust adjust, PreviewOverlay overlay) {
  state_->adjust = std::move(adjust);
  state_->overlay = std::move(overlay);
  update();
}

void CPictureBox::paintEvent(QPaintEvent*) {
  State& s = *state_;
  QPainter painter(this);
  const QRect client = rect();
  QImage image;
  if (s.picture.Valid()) {
    if (s.adjust) {
      media::FrameImage copy = s.picture;
      s.adjust(copy);
      image = ToImage(copy);
    } else {
      image = ToImage(s.picture);
    }
  }
  if (!image.isNull()) {
    // Nearest pixel, like a colour-on-colour stretch.
    painter.drawImage(client, image);
    if (s.overlay) s.overlay(painter, client);
  } else {
    if (!s.fontReady) {
      s.noImageFont = NoImageFont();
      s.fontReady = true;
    }
    painter.fillRect(client, Qt::black);
    painter.setFont(s.noImageFont);
    painter.setPen(QColor(255, 60, 0));
    painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, kNoImage);
  }
  if (s.gridEditing) {
    DrawGridLines(painter, client);
    DrawIgnoreBlocks(painter, client, s.grid);
  }
  if (s.shownTriggered && !image.isNull()) DrawMotionRectangle(painter, client, s.grid);
}

void CPictureBox::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (event->button() == Qt::LeftButton && state_->gridEditing) {
    state_->grid.ToggleBlockAt(point.x(), point.y(), 0, 0, width(), height());
    state_->grid.ResetBlocks();
    update();
  } else if (event->button() == Qt::RightButton) {
    setFocus(Qt::MouseFocusReason);
    if (state_->menuHandler) {
      state_->menuHandler(point);
    } else {
      QMenu menu(this);
      for (const MenuEntry& e : MenuEntries()) {
        if (e.id == 0)
          menu.addSeparator();
        else
          menu.addAction(e.text)->setData(e.id);
      }
      if (QAction* chosen = menu.exec(mapToGlobal(point))) RunCommand(chosen->data().toInt());
    }
  }
  QWidget::mouseReleaseEvent(event);
}

}  // namespace widgets
