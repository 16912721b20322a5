#pragma once
// Stamping a line of time-coded text onto a frame image.
#include <cstddef>
#include <cstdint>
#include <string>

#include <QFont>

#include "recorder/camera/camera_record.h"
#include "media/frame_image.h"

namespace recorder::frame {

enum OverlayBackground : int32_t { kOverlaySolid = 0, kOverlayTransparent = 1, kOverlayShadow = 2, kOverlayOutline = 3 };
enum OverlayVAlign : int32_t { kVAlignCenter = 0, kVAlignTop = 1, kVAlignBottom = 2 };
enum OverlayHAlign : int32_t { kHAlignCenter = 0, kHAlignLeft = 1, kHAlignRight = 2 };

// What the stamp needs from a camera record; text is already expanded.
struct OverlaySettings {
  std::string text;  // UTF-8
  camera::LogFont font;
  int32_t background = kOverlaySolid;
  int32_t vAlign = kVAlignTop;
  int32_t hAlign = kHAlignCenter;
  uint32_t backColor = 0xFFFFFF;  // 0x00BBGGRR
  uint32_t textColor = 0x000000;
};

// The record's overlay settings with overlayText expanded for the current local time.
OverlaySettings OverlaySettingsFrom(const camera::CameraRecord& camera);

// Font family used when the record's face is not installed.
extern const char* const kFallbackFontFamily;

// A font for the description: pixel size |height| (13 when 0), weight, italic,
// underline, strike-out and face, without antialiasing so that stamped colours are exact.
QFont BuildFont(const camera::LogFont& logFont);

struct OverlayPosition {
  int x = 0;  // from the left
  int y = 0;  // from the top of the picture
};
// Top-left corner of a textWidth x textHeight text in a frame, by alignment.
// Halvings truncate toward zero; a text larger than the frame gets a negative position.
OverlayPosition ComputeOverlayPosition(int frameWidth, int frameHeight, int textWidth, int textHeight,
                                       int32_t hAlign, int32_t vAlign);

// Draws the text into the frame (any of the 8/16/24/32-bit depths; other depths and
// invalid frames are left alone). Returns false when nothing could be drawn.
// Unconditional: the caller checks overlayEnabled.
bool StampText(media::FrameImage& image, const OverlaySettings& settings);

// StampText on Y, Cb and Cr planes: the same rendered text, blended converted to
// YUV (full-range, as JPEG pictures carry it); chroma samples take the text's
// colour in proportion to how much of their pixels it covers.
bool StampText(media::YuvImage& image, const OverlaySettings& settings);

// StampText with the record's settings; unconditional like StampText (the frame
// pipeline checks overlayEnabled).
bool StampOverlay(media::FrameImage& image, const camera::CameraRecord& camera);
bool StampOverlay(media::YuvImage& image, const camera::CameraRecord& camera);

}  // namespace recorder::frame
