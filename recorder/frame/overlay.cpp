#include "recorder/frame/overlay.h"

#include <QColor>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cstring>

#include "platform/bytes.h"
#include "platform/timecode.h"
#include "recorder/frame/adjust.h"

namespace recorder::frame {

using namespace camera;
using media::FrameImage;
using media::FrameRecord;

const char* const kFallbackFontFamily = "DejaVu Sans";

namespace {

// Pixel sizes beyond this come only from a damaged settings file; they would make
// the font engine allocate huge glyph caches.
constexpr int kMaxPixelSize = 1024;
constexpr int kDefaultPixelSize = 13;

std::string FaceName(const camera::LogFont& logFont) {
  const auto& face = logFont.faceName;
  const size_t n = std::find(face.begin(), face.end(), '\0') - face.begin();
  return std::string(face.data(), n);
}

// The family lookup asks the font database; remember the last answer per thread
// because the same face is asked for on every frame.
QString ResolveFamily(const std::string& face) {
  thread_local std::string lastFace;
  thread_local std::string lastFamily;
  thread_local bool known = false;
  if (known && face == lastFace) return QString::fromStdString(lastFamily);
  std::string family = kFallbackFontFamily;
  if (!face.empty() && QFontDatabase::hasFamily(QString::fromUtf8(face.data(), qsizetype(face.size())))) family = face;
  lastFace = face;
  lastFamily = family;
  known = true;
  return QString::fromStdString(family);
}

QColor FromColorRef(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

inline uint8_t Mix(uint32_t srcPremul, uint32_t dst, uint32_t alpha) {
  // src is already premultiplied: out = src + dst * (1 - a).
  const uint32_t v = srcPremul + (dst * (255 - alpha) + 127) / 255;
  return uint8_t(std::min<uint32_t>(v, 255));
}

inline uint8_t Expand5(uint32_t v) { return uint8_t((v << 3) | (v >> 2)); }

// Blends a top-down premultiplied ARGB layer into the bottom-up frame at (left, top)
// from the picture's top. The layer lies wholly inside the frame.
void BlendLayer(const QImage& layer, FrameImage& image, int left, int top) {
  const int bpp = image.bitsPerPixel / 8;
  const size_t stride = size_t(image.width) * size_t(bpp);
  for (int ly = 0; ly < layer.height(); ++ly) {
    const auto* src = reinterpret_cast<const QRgb*>(layer.constScanLine(ly));
    const int frameRow = image.height - 1 - (top + ly);  // rows run bottom-up in the buffer
    uint8_t* row = image.pixels.data() + size_t(frameRow) * stride;
    for (int lx = 0; lx < layer.width(); ++lx) {
      const QRgb s = src[lx];
      const uint32_t a = qAlpha(s);
      if (a == 0) continue;
      const uint32_t r = qRed(s), g = qGreen(s), b = qBlue(s);
      uint8_t* p = row + size_t(left + lx) * size_t(bpp);
      switch (bpp) {
        case 3:
        case 4:  // blue, green, red (and an untouched fourth byte)
          p[0] = Mix(b, p[0], a);
          p[1] = Mix(g, p[1], a);
          p[2] = Mix(r, p[2], a);
          break;
        case 2: {  // RGB555, little-endian
          const uint32_t v = platform::LoadLE16(p);
          const uint32_t nr = Mix(r, Expand5((v >> 10) & 31), a);
          const uint32_t ng = Mix(g, Expand5((v >> 5) & 31), a);
          const uint32_t nb = Mix(b, Expand5(v & 31), a);
          const uint32_t out = (v & 0x8000) | ((nr >> 3) << 10) | ((ng >> 3) << 5) | (nb >> 3);
          p[0] = uint8_t(out & 0xFF);
          p[1] = uint8_t(out >> 8);
          break;
        }
        case 1: {  // grey
          const uint32_t grey = (r * 299 + g * 587 + b * 114 + 500) / 1000;
          p[0] = Mix(grey, p[0], a);
          break;
        }
        default: break;
      }
    }
  }
}

}  // namespace

OverlaySettings OverlaySettingsFrom(const camera::CameraRecord& camera) {
  OverlaySettings s;
  s.text = platform::ExpandTimeCodes(camera::GetText(camera.overlayText));
  s.font = camera.overlayFont;
  s.background = camera.overlayBackground;
  s.vAlign = camera.overlayVAlign;
  s.hAlign = camera.overlayHAlign;
  s.backColor = camera.overlayBackColor;
  s.textColor = camera.overlayTextColor;
  return s;
}

QFont BuildFont(const camera::LogFont& logFont) {
  QFont font;
  font.setFamily(ResolveFamily(FaceName(logFont)));
  // Negative height is the character height, positive the cell height; both serve
  // as the pixel size here.
  int64_t size = logFont.height < 0 ? -int64_t(logFont.height) : int64_t(logFont.height);
  if (size == 0) size = kDefaultPixelSize;
  font.setPixelSize(int(std::min<int64_t>(size, kMaxPixelSize)));
  int weight = logFont.weight;
  if (weight <= 0) weight = 400;  // "don't care"
  weight = std::clamp((weight + 50) / 100 * 100, 100, 900);
  font.setWeight(QFont::Weight(weight));
  font.setItalic(logFont.italic != 0);
  font.setUnderline(logFont.underline != 0);
  font.setStrikeOut(logFont.strikeOut != 0);
  // Exact colours: a stamped pixel is either text, background or untouched.
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

OverlayPosition ComputeOverlayPosition(int frameWidth, int frameHeight, int textWidth, int textHeight, int32_t hAlign,
                                       int32_t vAlign) {
  OverlayPosition pos;
  if (hAlign == kHAlignCenter) pos.x = (frameWidth - textWidth) / 2;
  else if (hAlign == kHAlignRight) pos.x = frameWidth - textWidth;
  if (vAlign == kVAlignCenter) pos.y = (frameHeight - textHeight) / 2;
  else if (vAlign == kVAlignBottom) pos.y = frameHeight - textHeight;
  return pos;
}

namespace {

bool SameFont(const camera::LogFont& a, const camera::LogFont& b) {
  return a.height == b.height && a.width == b.width && a.escapement == b.escapement &&
         a.orientation == b.orientation && a.weight == b.weight && a.italic == b.italic &&
         a.underline == b.underline && a.strikeOut == b.strikeOut && a.charSet == b.charSet &&
         a.outPrecision == b.outPrecision && a.clipPrecision == b.clipPrecision && a.quality == b.quality &&
         a.pitchAndFamily == b.pitchAndFamily && a.faceName == b.faceName;
}

// The text changes once a second at most while frames come many times a second:
// each thread keeps its last rendered text so that only the blend is repeated.
struct RenderedText {
  bool valid = false;
  OverlaySettings settings;
  int frameWidth = 0, frameHeight = 0;
  QImage layer;
  int left = 0, top = 0;

  bool Matches(const OverlaySettings& s, int w, int h) const {
    return valid && frameWidth == w && frameHeight == h && settings.text == s.text &&
           settings.background == s.background && settings.vAlign == s.vAlign && settings.hAlign == s.hAlign &&
           settings.backColor == s.backColor && settings.textColor == s.textColor && SameFont(settings.font, s.font);
  }
};

}  // namespace

namespace {

// The text rendered for a frame of this size: once per change of text or settings,
// kept per thread; null when nothing can be drawn.
const RenderedText* RenderText(const OverlaySettings& settings, int32_t frameWidth, int32_t frameHeight) {
  if (settings.text.empty()) return nullptr;  // nothing visible in any mode
  if (settings.background < kOverlaySolid || settings.background > kOverlayOutline) return nullptr;

  thread_local RenderedText cache;
  if (cache.Matches(settings, frameWidth, frameHeight)) return &cache;
  cache.valid = false;

  const QString text = QString::fromUtf8(settings.text.data(), qsizetype(settings.text.size()));
  const QFont font = BuildFont(settings.font);
  const QFontMetrics metrics(font);
  const int textWidth = metrics.horizontalAdvance(text);
  const int textHeight = metrics.height();
  const OverlayPosition pos =
      ComputeOverlayPosition(frameWidth, frameHeight, textWidth, textHeight, settings.hAlign, settings.vAlign);

  // Only the part of the frame the text can reach is rendered: one pixel around the
  // text for shadow and outline, plus room for italic overhang at the sides.
  const int64_t sideMargin = 1 + textHeight / 2;
  const int64_t left = std::max<int64_t>(0, pos.x - sideMargin);
  const int64_t right = std::min<int64_t>(frameWidth, int64_t(pos.x) + textWidth + sideMargin);
  const int64_t top = std::max<int64_t>(0, pos.y - 1);
  const int64_t bottom = std::min<int64_t>(frameHeight, int64_t(pos.y) + textHeight + 1);
  if (left >= right || top >= bottom) return nullptr;

  QImage layer(int(right - left), int(bottom - top), QImage::Format_ARGB32_Premultiplied);
  if (layer.isNull()) return nullptr;
  layer.fill(Qt::transparent);
  {
    QPainter painter(&layer);
    if (!painter.isActive()) return nullptr;
    painter.translate(-double(left), -double(top));
    painter.setFont(font);
    const int ascent = metrics.ascent();
    const QColor back = FromColorRef(settings.backColor);
    const QColor fore = FromColorRef(settings.textColor);
    auto drawAt = [&](int dx, int dy, const QColor& colour) {
      painter.setPen(colour);
      painter.drawText(QPoint(pos.x + dx, pos.y + dy + ascent), text);
    };
    switch (settings.background) {
      case kOverlaySolid:
        painter.fillRect(QRect(pos.x, pos.y, textWidth, textHeight), back);
        drawAt(0, 0, fore);
        break;
      case kOverlayTransparent:
        drawAt(0, 0, fore);
        break;
      case kOverlayShadow:
        drawAt(1, 1, back);
        drawAt(0, 0, fore);
        break;
      case kOverlayOutline:
        // The rim leaves out the two positions straight left and right.
        drawAt(-1, -1, back);
        drawAt(1, -1, back);
        drawAt(-1, 1, back);
        drawAt(0, -1, back);
        drawAt(0, 1, back);
        drawAt(1, 1, back);
        drawAt(0, 0, fore);
        break;
      default: break;
    }
  }
  cache.settings = settings;
  cache.frameWidth = frameWidth;
  cache.frameHeight = frameHeight;
  cache.layer = std::move(layer);
  cache.left = int(left);
  cache.top = int(top);
  cache.valid = true;
  return &cache;
}

// Blends the layer into the planes: Y per pixel, each chroma sample by the share
// of its pixels the layer covers.
void BlendLayer(const QImage& layer, media::YuvImage& image, int left, int top) {
  const int lw = layer.width(), lh = layer.height();
  for (int ly = 0; ly < lh; ++ly) {
    const auto* src = reinterpret_cast<const QRgb*>(layer.constScanLine(ly));
    uint8_t* row = image.plane[0].data() + size_t(top + ly) * size_t(image.stride[0]);
    for (int lx = 0; lx < lw; ++lx) {
      const QRgb s = src[lx];
      const uint32_t a = qAlpha(s);
      if (a == 0) continue;
      // The luma of a premultiplied colour is the premultiplied luma.
      const uint32_t y = (qRed(s) * 299 + qGreen(s) * 587 + qBlue(s) * 114 + 500) / 1000;
      row[left + lx] = Mix(y, row[left + lx], a);
    }
  }
  const int sx = image.sampling == media::ChromaSampling::k444 ? 1 : 2;
  const int sy = image.sampling == media::ChromaSampling::k420 ? 2 : 1;
  for (int cy = top / sy; cy <= (top + lh - 1) / sy; ++cy) {
    for (int cx = left / sx; cx <= (left + lw - 1) / sx; ++cx) {
      double coverage = 0, cb = 0, cr = 0;
      int pixels = 0;
      for (int y = cy * sy; y < cy * sy + sy && y < image.height; ++y)
        for (int x = cx * sx; x < cx * sx + sx && x < image.width; ++x) {
          ++pixels;
          if (y < top || y >= top + lh || x < left || x >= left + lw) continue;
          const QRgb s = reinterpret_cast<const QRgb*>(layer.constScanLine(y - top))[x - left];
          const double a = qAlpha(s) / 255.0, r = qRed(s), g = qGreen(s), b = qBlue(s);
          coverage += a;
          cb += -0.168736 * r - 0.331264 * g + 0.5 * b + 128.0 * a;
          cr += 0.5 * r - 0.418688 * g - 0.081312 * b + 128.0 * a;
        }
      if (coverage <= 0 || pixels == 0) continue;
      const double keep = 1.0 - coverage / pixels;
      uint8_t* pcb = image.plane[1].data() + size_t(cy) * size_t(image.stride[1]) + size_t(cx);
      uint8_t* pcr = image.plane[2].data() + size_t(cy) * size_t(image.stride[2]) + size_t(cx);
      *pcb = uint8_t(std::clamp(*pcb * keep + cb / pixels + 0.5, 0.0, 255.0));
      *pcr = uint8_t(std::clamp(*pcr * keep + cr / pixels + 0.5, 0.0, 255.0));
    }
  }
}

}  // namespace

bool StampText(FrameImage& image, const OverlaySettings& settings) {
  if (!SupportedDepth(image.bitsPerPixel) || !image.Valid()) return false;
  const RenderedText* text = RenderText(settings, image.width, image.height);
  if (!text) return false;
  BlendLayer(text->layer, image, text->left, text->top);
  return true;
}

bool StampText(media::YuvImage& image, const OverlaySettings& settings) {
  if (!image.Valid()) return false;
  const RenderedText* text = RenderText(settings, image.width, image.height);
  if (!text) return false;
  BlendLayer(text->layer, image, text->left, text->top);
  return true;
}

bool StampOverlay(FrameImage& image, const camera::CameraRecord& camera) {
  return StampText(image, OverlaySettingsFrom(camera));
}

bool StampOverlay(media::YuvImage& image, const camera::CameraRecord& camera) {
  return StampText(image, OverlaySettingsFrom(camera));
}

}  // namespace recorder::frame
