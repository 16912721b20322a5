#pragma once
// Sample cameras and block helpers shared by the camera and command-line tests.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "recorder/camera/camera_record.h"
#include "recorder/camera/settings_file.h"

namespace camera_samples {

using namespace recorder::camera;

// The stored bytes of one camera, as the settings file holds them: its block,
// then its extension records (its fields away from their defaults), if any.
inline std::vector<uint8_t> Block(const CameraRecord& c) {
  auto bytes = SerializeSettings({&c}, 0);
  bytes.erase(bytes.begin() + 8 + static_cast<long>(kCameraBlockSize), bytes.begin() + 12 + static_cast<long>(kCameraBlockSize));
  bytes.erase(bytes.begin(), bytes.begin() + 8);
  return bytes;
}

// Every stored field away from its default and inside the ranges the table keeps.
inline std::unique_ptr<CameraRecord> UnusualCamera() {
  auto c = CreateDefaultCamera();
  c->name = "front door = \"Hof\"";
  c->cameraType = kCameraLocal;
  c->deviceIndex = 3;
  c->formatWidth = 1280;
  c->formatHeight = 720;
  c->formatBits = 16;
  c->pinIndex = -1;
  SetText(c->url, "ftp://me:pa ss@127.0.0.1:2121/dir/snap.jpg");
  c->pushStream = 1;
  c->flipVertical = 1;
  c->flipHorizontal = 1;
  c->jpegQuality = 0;
  c->rotation = 3;
  c->saveEnabled = 0;
  c->frameDelayMs = 20000;
  SetText(c->savePath, "/srv/my cams/%Y-%m/front door.JPEG");
  c->saveAsMjpg = 0;
  c->maxJpgCount = 1;
  c->motionEnabled = 0;
  c->motionTriggerLevel = 255;
  c->frameSaveCount = 0;
  c->cleanSaveDir = 1;
  c->motionSound = 1;
  SetText(c->soundFile, "  alarm 'bell' \"x\" \\.wav ");
  for (size_t i = 0; i < kGridBytes; ++i) c->motionGrid[i] = static_cast<uint8_t>(i * 37);
  c->overlayEnabled = 1;
  c->overlayBackground = 3;
  c->overlayVAlign = 2;
  c->overlayHAlign = 2;
  c->overlayBackColor = 0x000000;
  c->overlayTextColor = 0xABCDEF;
  SetText(c->overlayText, "Cam = 1\t%H:%M %%");
  LogFont& f = c->overlayFont;
  f.height = 40;
  f.width = 7;
  f.escapement = 900;
  f.orientation = -900;
  f.weight = 100;
  f.italic = 1;
  f.underline = 1;
  f.strikeOut = 1;
  f.charSet = 204;
  f.outPrecision = 7;
  f.clipPrecision = 255;
  f.quality = 5;
  f.pitchAndFamily = 0x31;
  f.faceName.fill(0);
  std::memcpy(f.faceName.data(), "DejaVu Sans Mono", 16);
  return c;
}

// The stored block with every byte after a text's terminator cleared: what a
// copy through FIELD=VALUE text can reproduce.
inline std::vector<uint8_t> TextBlock(const CameraRecord& c) {
  CameraRecord copy = c;
  for (TextField* t : {&copy.url, &copy.savePath, &copy.soundFile, &copy.overlayText}) SetText(*t, GetText(*t));
  auto& face = copy.overlayFont.faceName;
  std::fill(std::find(face.begin(), face.end(), '\0'), face.end(), '\0');
  return Block(copy);
}

}  // namespace camera_samples
