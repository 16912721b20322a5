#include "recorder/camera/field_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "recorder/camera/settings_file.h"
#include "tests/recorder/camera/sample_cameras.h"
#include "tests/test_support.h"

namespace recorder::camera {
namespace {

using camera_samples::Block;
using camera_samples::UnusualCamera;

// The far ends of every range.
std::unique_ptr<CameraRecord> Extremes() {
  auto c = UnusualCamera();
  c->deviceIndex = std::numeric_limits<int32_t>::min();
  c->formatWidth = std::numeric_limits<int32_t>::max();
  c->maxJpgCount = std::numeric_limits<int32_t>::max();
  c->frameSaveCount = std::numeric_limits<int32_t>::max();
  c->overlayBackColor = 0xFFFFFF;
  SetText(c->url, "http://127.0.0.1/" + std::string(kMaxTextInput - 17, 'u'));
  SetText(c->overlayText, "");
  c->motionGrid.assign(kGridBytes, 0xFF);
  c->overlayFont.faceName.fill('F');
  c->overlayFont.faceName.back() = 0;
  c->overlayFont.charSet = 0;
  return c;
}

TEST(FieldTable, FormatThenParseRebuildsEveryStoredByte) {
  // The target starts as a different camera, so a field missing from the
  // table, or one that parses into the wrong place, leaves a byte behind.
  struct Case {
    const char* name;
    std::unique_ptr<CameraRecord> source, target;
  };
  Case cases[] = {
      {"unusual over default", UnusualCamera(), CreateDefaultCamera()},
      {"default over unusual", CreateDefaultCamera(), UnusualCamera()},
      {"extremes over default", Extremes(), CreateDefaultCamera()},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Field& f : FieldTable()) {
      const std::string text = f.format(*c.source);
      EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << f.name;
      std::string error;
      EXPECT_TRUE(f.parse(*c.target, text, error)) << f.name << ": " << error;
    }
    EXPECT_EQ(Block(*c.target), Block(*c.source));
    std::string error;
    EXPECT_TRUE(CameraIsValid(*c.source, error)) << error;
  }
  std::set<std::string> names;
  for (const Field& f : FieldTable()) EXPECT_TRUE(names.insert(std::string(f.name)).second) << "twice: " << f.name;
}

// Byte offset of the font's italic byte inside a camera block.
constexpr size_t kFontFlags = 1144 + 20;

TEST(FieldTable, LoadedValuesAreClampedInMemoryAndReachTheFileOnlyWhenSaved) {
  struct Case {
    const char* field;
    size_t offset;
    int64_t stored;   // the damaged value in the file
    int64_t clamped;  // what the camera holds after loading
  };
  const Case cases[] = {
      {"frameDelayMs", 308, 4000000, 20000},
      {"frameDelayMs", 308, -5, 0},
      {"maxJpgCount", 576, 0, 1},
      {"frameSaveCount", 588, 0, 0},
      {"frameSaveCount", 588, -3, 1},
      {"jpegQuality", 296, 500, 100},
      {"motionTriggerLevel", 584, -9, 0},
      {"rotation", 300, 7, 0},
      {"rotation", 300, 3, 3},
      {"overlayVAlign", 868, -1, 1},  // outside the list: the default, TOP
      {"overlayHAlign", 872, 3, 0},
      {"cameraType", 0, 7, 1},
      {"saveEnabled", 304, -5, 1},
      {"overlayBackColor", 876, 0xFF123456, 0x123456},
      {"overlayFontItalic", kFontFlags, 9, 1},
      {"pinIndex", 20, -1, -1},  // no range: kept
  };
  auto good = CreateDefaultCamera();
  SetText(good->savePath, "/srv/cams/video.mjpg");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + std::to_string(c.stored));
    const size_t size = c.offset == kFontFlags ? 1 : 4;
    const auto put = [&](std::vector<uint8_t>& b, int64_t v) {
      for (size_t i = 0; i < size; ++i) b[8 + c.offset + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    // The raw bytes at the field, compared with the value's low bytes.
    const auto get = [&](const std::string& b) {
      uint32_t v = 0;
      for (size_t i = 0; i < size; ++i) v |= uint32_t(uint8_t(b.at(8 + c.offset + i))) << (8 * i);
      return v;
    };
    const uint32_t clamped = size == 1 ? uint8_t(c.clamped) : uint32_t(c.clamped);
    std::vector<uint8_t> damaged = SerializeSettings({good.get()}, 0);
    put(damaged, c.stored);
    const std::string file(damaged.begin(), damaged.end());
    const test_support::ScopedTempDir tmp{"clamp"};
    const std::string path = tmp.Path("tollan.cfg");
    std::ofstream(path, std::ios::binary) << file;

    LoadedSettings loaded = LoadSettingsFile(path);
    ASSERT_EQ(loaded.cameras.size(), 1u);
    const auto inMemory = SerializeSettings({loaded.cameras[0].get()}, 0);
    EXPECT_EQ(get(std::string(inMemory.begin(), inMemory.end())), clamped);
    std::string error;
    EXPECT_TRUE(CameraIsValid(*loaded.cameras[0], error)) << error;
    EXPECT_EQ(test_support::ReadFile(path), file);  // loading leaves the file alone

    ASSERT_TRUE(SaveSettingsFile(path, {loaded.cameras[0].get()}, 0));
    EXPECT_EQ(get(test_support::ReadFile(path)), clamped);
  }
}

}  // namespace
}  // namespace recorder::camera
