#include "recorder/camera/settings_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_support.h"

namespace recorder::camera {
namespace {

// ---- helpers ----

void PutI32(std::vector<uint8_t>& b, size_t at, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(u >> (8 * i));
}
int32_t GetI32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(b.at(at + i)) << (8 * i);
  return static_cast<int32_t>(u);
}

// A text field holding `text`, a NUL, then a recognisable tail (as an older
// value leaves it in a file; SetText itself clears the tail).
void FillText(TextField& f, const std::string& text, char tail) {
  f.fill(tail);
  std::memcpy(f.data(), text.c_str(), text.size() + 1);
}

// A camera whose stored fields mostly differ from their defaults (and from other
// seeds) while staying inside the ranges that loading keeps. Neighbouring flags differ
// from each other, so that swapped fields show up.
std::unique_ptr<CameraRecord> MakeFilled(int seed) {
  auto c = CreateDefaultCamera();
  c->cameraType = seed % 2 == 0 ? kCameraLocal : kCameraIp;
  c->deviceIndex = 10 + seed;
  c->formatWidth = 640 + seed;
  c->formatHeight = 480 + seed;
  c->formatBits = 24 + seed;
  c->pinIndex = 3 + seed;
  FillText(c->url, "http://u" + std::to_string(seed) + ":p@127.0.0.1/v.cgi", static_cast<char>('a' + seed));
  c->pushStream = 1;
  c->flipVertical = 1;
  c->flipHorizontal = 0;
  c->jpegQuality = 40 + seed;
  c->rotation = 1 + seed % 3;
  c->saveEnabled = 0;
  c->frameDelayMs = 250 + seed;
  FillText(c->savePath, "/tmp/cams/" + std::to_string(seed) + "/%H.mjpg", static_cast<char>('k' + seed));
  c->saveAsMjpg = 0;
  c->maxJpgCount = 99 + seed;
  c->motionEnabled = 0;
  c->motionTriggerLevel = 200 + seed;
  c->frameSaveCount = 17 + seed;
  c->cleanSaveDir = 1;
  c->motionSound = 0;
  FillText(c->soundFile, "alarm" + std::to_string(seed) + ".wav", static_cast<char>(0x80 + seed));
  for (size_t i = 0; i < kGridBytes; ++i) c->motionGrid[i] = static_cast<uint8_t>((i * 7 + seed) % 3);
  c->overlayEnabled = 1;
  c->overlayBackground = 3;
  c->overlayVAlign = 2;
  c->overlayHAlign = 1;
  c->overlayBackColor = 0x00123456u + static_cast<uint32_t>(seed);
  c->overlayTextColor = 0x00ABCDEFu - static_cast<uint32_t>(seed);
  FillText(c->overlayText, "Cam " + std::to_string(seed) + " %H:%M", '~');
  LogFont& f = c->overlayFont;
  f.height = -20 - seed;
  f.width = 5 + seed;
  f.escapement = 900;
  f.orientation = -900;
  f.weight = 400 + seed;
  f.italic = 1;
  f.underline = 1;
  f.strikeOut = 1;
  f.charSet = 204;
  f.outPrecision = 7;
  f.clipPrecision = 9;
  f.quality = 5;
  f.pitchAndFamily = 0x31;
  f.faceName.fill('#');
  std::memcpy(f.faceName.data(), "Mono", 5);
  return c;
}

auto FontValues(const LogFont& f) {
  return std::tie(f.height, f.width, f.escapement, f.orientation, f.weight, f.italic, f.underline, f.strikeOut,
                  f.charSet, f.outPrecision, f.clipPrecision, f.quality, f.pitchAndFamily, f.faceName);
}
auto NumberValues(const CameraRecord& c) {
  return std::tie(c.cameraType, c.deviceIndex, c.formatWidth, c.formatHeight, c.formatBits, c.pinIndex,
                  c.pushStream, c.flipVertical, c.flipHorizontal, c.jpegQuality, c.rotation, c.saveEnabled,
                  c.frameDelayMs, c.saveAsMjpg, c.maxJpgCount, c.motionEnabled, c.motionTriggerLevel,
                  c.frameSaveCount, c.cleanSaveDir, c.motionSound, c.overlayEnabled, c.overlayBackground,
                  c.overlayVAlign, c.overlayHAlign, c.overlayBackColor, c.overlayTextColor);
}

// Compares every stored field, text fields as whole raw arrays.
void ExpectSameStored(const CameraRecord& a, const CameraRecord& b) {
  EXPECT_EQ(NumberValues(a), NumberValues(b));
  EXPECT_EQ(a.url, b.url);
  EXPECT_EQ(a.savePath, b.savePath);
  EXPECT_EQ(a.soundFile, b.soundFile);
  EXPECT_EQ(a.overlayText, b.overlayText);
  EXPECT_EQ(a.motionGrid, b.motionGrid);
  EXPECT_EQ(FontValues(a.overlayFont), FontValues(b.overlayFont));
}

std::vector<const CameraRecord*> Ptrs(const std::vector<std::unique_ptr<CameraRecord>>& v) {
  std::vector<const CameraRecord*> out;
  for (const auto& c : v) out.push_back(c.get());
  return out;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> ListFolder(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  return names;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  test_support::ScopedTempDir tmp_{"settings"};
  const std::string dir_ = tmp_.Path().substr(0, tmp_.Path().size() - 1);  // no trailing '/'
  const std::string path_ = dir_ + "/tollan.cfg";
};

// ---- layout ----

TEST(SettingsLayout, LengthIsHeaderPlusBlocksPlusFlag) {
  std::vector<std::unique_ptr<CameraRecord>> cams;
  for (int n = 0; n <= 3; ++n) {
    const auto bytes = SerializeSettings(Ptrs(cams), 1);
    EXPECT_EQ(bytes.size(), 12 + kCameraBlockSize * static_cast<size_t>(n));
    EXPECT_EQ(GetI32(bytes, 0), 2005);
    EXPECT_EQ(GetI32(bytes, 4), n);
    EXPECT_EQ(GetI32(bytes, bytes.size() - 4), 1);
    cams.push_back(MakeFilled(n));
  }
}

TEST(SettingsLayout, FieldsSitAtTheirOffsets) {
  std::vector<std::unique_ptr<CameraRecord>> cams;
  cams.push_back(MakeFilled(0));
  cams.push_back(MakeFilled(1));
  const auto bytes = SerializeSettings(Ptrs(cams), 0);
  for (size_t i = 0; i < cams.size(); ++i) {
    const CameraRecord& c = *cams[i];
    const size_t block = 8 + i * kCameraBlockSize;
    EXPECT_EQ(GetI32(bytes, block), c.cameraType);
    EXPECT_EQ(GetI32(bytes, block + 4), c.deviceIndex);
    EXPECT_EQ(GetI32(bytes, block + 20), c.pinIndex);
    EXPECT_EQ(0, std::memcmp(&bytes[block + 24], c.url.data(), kTextField));
    EXPECT_EQ(GetI32(bytes, block + 284), c.pushStream);
    EXPECT_EQ(GetI32(bytes, block + 288 + 8), c.jpegQuality);
    EXPECT_EQ(GetI32(bytes, block + 288 + 20), c.frameDelayMs);
    EXPECT_EQ(0, std::memcmp(&bytes[block + 288 + 24], c.savePath.data(), kTextField));
    EXPECT_EQ(GetI32(bytes, block + 288 + 300), c.frameSaveCount);
    EXPECT_EQ(0, std::memcmp(&bytes[block + 288 + 312], c.soundFile.data(), kTextField));
    EXPECT_EQ(GetI32(bytes, block + 860), c.overlayEnabled);
    EXPECT_EQ(static_cast<uint32_t>(GetI32(bytes, block + 860 + 16)), c.overlayBackColor);
    EXPECT_EQ(0, std::memcmp(&bytes[block + 860 + 24], c.overlayText.data(), kTextField));
    EXPECT_EQ(GetI32(bytes, block + 1144), c.overlayFont.height);
    EXPECT_EQ(GetI32(bytes, block + 1144 + 16), c.overlayFont.weight);
    EXPECT_EQ(bytes[block + 1144 + 20], c.overlayFont.italic);
    EXPECT_EQ(bytes[block + 1144 + 27], c.overlayFont.pitchAndFamily);
    EXPECT_EQ(0, std::memcmp(&bytes[block + 1144 + 28], c.overlayFont.faceName.data(), 32));
    EXPECT_EQ(0, std::memcmp(&bytes[block + 1204], c.motionGrid.data(), kGridBytes));
  }
}

TEST(SettingsLayout, MissingGridIsStoredAsClear) {
  auto c = MakeFilled(2);
  c->motionGrid.clear();
  const auto bytes = SerializeSettings({c.get()}, 0);
  ASSERT_EQ(bytes.size(), 12 + kCameraBlockSize);
  for (size_t i = 0; i < kGridBytes; ++i) ASSERT_EQ(bytes[8 + 1204 + i], 0) << i;
  const auto loaded = ParseSettings(bytes.data(), bytes.size());
  ASSERT_EQ(loaded.cameras.size(), 1u);
  EXPECT_EQ(loaded.cameras[0]->motionGrid, std::vector<uint8_t>(kGridBytes, 0));
}

// ---- the extension section after logToFile ----

TEST(SettingsExtension, NamesAndProgramRecordsFollowAnUnchangedFixedFile) {
  std::vector<std::unique_ptr<CameraRecord>> cams;
  for (int i = 0; i < 3; ++i) cams.push_back(MakeFilled(i));
  const std::vector<uint8_t> plain = SerializeSettings(Ptrs(cams), 1);
  cams[0]->name = "front-door";
  cams[2]->name = "Hof \xC3\xBC = back";
  cams[1]->storeAsSent = 1;
  const ProgramRecords program{{"later.setting", "a=b"}};
  const std::vector<uint8_t> bytes = SerializeSettings(Ptrs(cams), 1, program);

  // What an earlier build reads, up to logToFile, is the plain file byte for byte.
  ASSERT_GT(bytes.size(), plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), bytes.begin()));
  EXPECT_EQ(0, std::memcmp(&bytes[plain.size()], "TLX1", 4));
  EXPECT_EQ(static_cast<size_t>(GetI32(bytes, plain.size() + 4)), bytes.size() - plain.size() - 8);

  const LoadedSettings loaded = ParseSettings(bytes.data(), bytes.size());
  ASSERT_EQ(loaded.cameras.size(), 3u);
  EXPECT_EQ(loaded.cameras[0]->name, "front-door");
  EXPECT_EQ(loaded.cameras[1]->name, "");
  EXPECT_EQ(loaded.cameras[2]->name, "Hof \xC3\xBC = back");
  EXPECT_EQ(loaded.cameras[0]->storeAsSent, 0);
  EXPECT_EQ(loaded.cameras[1]->storeAsSent, 1);
  EXPECT_EQ(loaded.program, program);
  EXPECT_EQ(loaded.logToFile, 1);
  EXPECT_EQ(SerializeSettings(Ptrs(loaded.cameras), loaded.logToFile, loaded.program), bytes);

  // Without a value away from its default, nothing follows logToFile.
  for (auto& c : cams) c->name.clear(), c->storeAsSent = 0;
  EXPECT_EQ(SerializeSettings(Ptrs(cams), 1), plain);
}

TEST(SettingsExtension, DamagedSectionsKeepTheFixedFileAndEveryWholeRecord) {
  std::vector<std::unique_ptr<CameraRecord>> cams;
  for (int i = 0; i < 2; ++i) cams.push_back(MakeFilled(i));
  cams[0]->name = "a";
  cams[1]->name = "b";
  const std::vector<uint8_t> good = SerializeSettings(Ptrs(cams), 1);
  const size_t section = 12 + 2 * kCameraBlockSize;
  const size_t first = section + 8, second = first + 8 + 6;  // records: owner, size, "name=a"
  ASSERT_EQ(good.size(), second + 8 + 6);
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* name0;
    const char* name1;
  };
  const Case cases[] = {
      {"intact", [](auto&) {}, "a", "b"},
      {"another tag", [&](auto& b) { b[section] = 'X'; }, "", ""},
      {"length past the end", [&](auto& b) { PutI32(b, section + 4, GetI32(b, section + 4) + 1); }, "", ""},
      {"length of 2^32 - 1", [&](auto& b) { PutI32(b, section + 4, -1); }, "", ""},
      {"section ends inside the second record", [&](auto& b) { PutI32(b, section + 4, 14 + 7); }, "a", ""},
      {"record size past the section", [&](auto& b) { PutI32(b, second + 4, 0x7FFFFFFF); }, "a", ""},
      {"owner beyond the cameras", [&](auto& b) { PutI32(b, second, 2); }, "a", ""},
      {"unknown field", [&](auto& b) { b[first + 8 + 1] = 'o'; }, "", "b"},
      {"a block field by name", [&](auto& b) { std::memcpy(&b[first + 8], "url=", 4); }, "", "b"},
      {"no equals sign", [&](auto& b) { b[first + 8 + 4] = ':'; }, "", "b"},
      {"a value that --set refuses", [&](auto& b) { b[first + 8 + 5] = '\t'; }, "", "b"},
      {"cut inside the tag", [&](auto& b) { b.resize(section + 3); }, "", ""},
      {"cut inside the first record", [&](auto& b) { b.resize(first + 5); }, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = good;
    c.damage(bytes);
    const LoadedSettings loaded = ParseSettings(bytes.data(), bytes.size());
    ASSERT_EQ(loaded.cameras.size(), 2u);
    EXPECT_EQ(loaded.logToFile, 1);
    EXPECT_EQ(loaded.cameras[0]->name, c.name0);
    EXPECT_EQ(loaded.cameras[1]->name, c.name1);
    EXPECT_EQ(GetText(loaded.cameras[0]->url), GetText(cams[0]->url));  // the fixed file is untouched
  }
}

// ---- round trips ----

TEST_F(SettingsFileTest, SeveralCamerasRoundTripEveryByte) {
  std::vector<std::unique_ptr<CameraRecord>> cams;
  for (int i = 0; i < 3; ++i) cams.push_back(MakeFilled(i));
  ASSERT_TRUE(SaveSettingsFile(path_, Ptrs(cams), 1));
  const auto onDisk = ReadAll(path_);
  EXPECT_EQ(onDisk, SerializeSettings(Ptrs(cams), 1));

  const LoadedSettings loaded = LoadSettingsFile(path_);
  EXPECT_EQ(loaded.logToFile, 1);
  ASSERT_EQ(loaded.cameras.size(), cams.size());
  for (size_t i = 0; i < cams.size(); ++i) {
    SCOPED_TRACE(i);
    ExpectSameStored(*loaded.cameras[i], *cams[i]);
  }
  // Saving what was loaded reproduces the file byte for byte.
  EXPECT_EQ(SerializeSettings(Ptrs(loaded.cameras), loaded.logToFile), onDisk);
}

TEST_F(SettingsFileTest, NewCameraKeepsItsRecordingDefaults) {
  auto fresh = CreateDefaultCamera();
  ASSERT_TRUE(SaveSettingsFile(path_, {fresh.get()}, 0));
  const LoadedSettings loaded = LoadSettingsFile(path_);
  ASSERT_EQ(loaded.cameras.size(), 1u);
  const CameraRecord& c = *loaded.cameras[0];
  EXPECT_EQ(c.motionEnabled, 1);
  EXPECT_EQ(c.saveEnabled, 1);
  EXPECT_EQ(c.saveAsMjpg, 1);
  EXPECT_EQ(c.jpegQuality, 75);
  EXPECT_EQ(c.frameDelayMs, 1000);
  ExpectSameStored(c, *fresh);
  EXPECT_EQ(loaded.logToFile, 0);
}

TEST_F(SettingsFileTest, SaveReplacesAnOlderFileOwnerOnlyAndLeavesNoTemporary) {
  // An older file readable by everyone: the saved one holds passwords and is not.
  WriteFileBytes(path_, {1, 2, 3});
  ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
  std::vector<std::unique_ptr<CameraRecord>> cams;
  for (int i = 0; i < 4; ++i) cams.push_back(MakeFilled(i));
  ASSERT_TRUE(SaveSettingsFile(path_, Ptrs(cams), 1));
  struct stat st{};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  cams.resize(1);
  ASSERT_TRUE(SaveSettingsFile(path_, Ptrs(cams), 0));
  EXPECT_EQ(ReadAll(path_).size(), 12 + kCameraBlockSize);
  EXPECT_EQ(ListFolder(dir_), std::vector<std::string>{"tollan.cfg"});
  EXPECT_EQ(LoadSettingsFile(path_).cameras.size(), 1u);
}

TEST_F(SettingsFileTest, MissingOrUnusableFileLoadsNothing) {
  const LoadedSettings missing = LoadSettingsFile(dir_ + "/none.cfg");
  EXPECT_TRUE(missing.cameras.empty());
  EXPECT_EQ(missing.logToFile, 0);
  const LoadedSettings folder = LoadSettingsFile(dir_);
  EXPECT_TRUE(folder.cameras.empty());
  EXPECT_EQ(folder.logToFile, 0);
  WriteFileBytes(path_, {});
  EXPECT_TRUE(LoadSettingsFile(path_).cameras.empty());
}

// ---- versions and counts ----

// One camera in the earlier layout: block C stops after frameSaveCount.
std::vector<uint8_t> BuildVersion2000File(int cameras) {
  std::vector<uint8_t> b(8 + kCameraBlockSize2000 * static_cast<size_t>(cameras) + 4, 0);
  PutI32(b, 0, 2000);
  PutI32(b, 4, cameras);
  for (int i = 0; i < cameras; ++i) {
    const size_t block = 8 + kCameraBlockSize2000 * static_cast<size_t>(i);
    PutI32(b, block, kCameraLocal);
    PutI32(b, block + 4, 5 + i);                            // deviceIndex
    std::memcpy(&b[block + 24], "http://127.0.0.1/a", 19);  // url
    PutI32(b, block + 288 + 8, 60 + i);                     // jpegQuality
    std::memcpy(&b[block + 288 + 24], "/tmp/x.mjpg", 12);   // savePath
    PutI32(b, block + 288 + 300, 9);                        // frameSaveCount
    const size_t d = block + 288 + 304;
    PutI32(b, d, 1);  // overlayEnabled
    PutI32(b, d + 8, 2);  // overlayVAlign
    std::memcpy(&b[d + 24], "old overlay", 12);
    const size_t f = d + 284;
    PutI32(b, f, -30);       // font height
    PutI32(b, f + 16, 300);  // weight
    std::memcpy(&b[f + 28], "Courier", 8);
    b[f + 60 + 5] = 1;  // grid byte 5
  }
  PutI32(b, b.size() - 4, 1);
  return b;
}

TEST(SettingsVersions, Version2000UsesTheShortBlockAndDefaultsTheRest) {
  const auto b = BuildVersion2000File(2);
  const LoadedSettings s = ParseSettings(b.data(), b.size());
  ASSERT_EQ(s.cameras.size(), 2u);
  EXPECT_EQ(s.logToFile, 1);
  for (int i = 0; i < 2; ++i) {
    const CameraRecord& c = *s.cameras[static_cast<size_t>(i)];
    SCOPED_TRACE(i);
    EXPECT_EQ(c.cameraType, kCameraLocal);
    EXPECT_EQ(c.deviceIndex, 5 + i);
    EXPECT_EQ(GetText(c.url), "http://127.0.0.1/a");
    EXPECT_EQ(c.jpegQuality, 60 + i);
    EXPECT_EQ(GetText(c.savePath), "/tmp/x.mjpg");
    EXPECT_EQ(c.frameSaveCount, 9);
    EXPECT_EQ(c.cleanSaveDir, 0);
    EXPECT_EQ(c.motionSound, 0);
    EXPECT_EQ(GetText(c.soundFile), "motion.wav");
    EXPECT_EQ(c.overlayEnabled, 1);
    EXPECT_EQ(c.overlayVAlign, 2);
    EXPECT_EQ(GetText(c.overlayText), "old overlay");
    EXPECT_EQ(c.overlayFont.height, -30);
    EXPECT_EQ(c.overlayFont.weight, 300);
    EXPECT_EQ(std::string(c.overlayFont.faceName.data()), "Courier");
    ASSERT_EQ(c.motionGrid.size(), kGridBytes);
    EXPECT_EQ(c.motionGrid[5], 1);
    EXPECT_EQ(c.motionGrid[4], 0);
  }
}

TEST(SettingsVersions, NewerVersionsLoadLikeCurrentOlderLoadNothing) {
  std::vector<std::unique_ptr<CameraRecord>> cams;
  cams.push_back(MakeFilled(1));
  auto b = SerializeSettings(Ptrs(cams), 1);
  for (int32_t v : {2001, 2006, 99999}) {
    PutI32(b, 0, v);
    const LoadedSettings s = ParseSettings(b.data(), b.size());
    ASSERT_EQ(s.cameras.size(), 1u) << v;
    ExpectSameStored(*s.cameras[0], *cams[0]);
    EXPECT_EQ(s.logToFile, 1);
  }
  for (int32_t v : {1999, 0, -2005}) {
    PutI32(b, 0, v);
    const LoadedSettings s = ParseSettings(b.data(), b.size());
    EXPECT_TRUE(s.cameras.empty()) << v;
    EXPECT_EQ(s.logToFile, 0) << v;
  }
}

TEST(SettingsCounts, ZeroOrNegativeCountReadsFlagAtOffset8) {
  for (int32_t count : {0, -1, -2147483647 - 1}) {
    std::vector<uint8_t> b(12 + kCameraBlockSize, 0xEE);
    PutI32(b, 0, 2005);
    PutI32(b, 4, count);
    PutI32(b, 8, 1);
    const LoadedSettings s = ParseSettings(b.data(), b.size());
    EXPECT_TRUE(s.cameras.empty()) << count;
    EXPECT_EQ(s.logToFile, 1) << count;
  }
}

TEST(SettingsCounts, HugeCountOnShortFileMakesOnlyCamerasThatStart) {
  std::vector<std::unique_ptr<CameraRecord>> cams;
  cams.push_back(MakeFilled(0));
  cams.push_back(MakeFilled(1));
  auto b = SerializeSettings(Ptrs(cams), 1);
  PutI32(b, 4, 2000000000);
  LoadedSettings s = ParseSettings(b.data(), b.size());
  // Two whole blocks, and the 4 flag bytes start a third camera that has nothing else.
  ASSERT_EQ(s.cameras.size(), 3u);
  ExpectSameStored(*s.cameras[0], *cams[0]);
  ExpectSameStored(*s.cameras[1], *cams[1]);
  EXPECT_EQ(s.cameras[2]->cameraType, 1);  // the old flag word, read as the leading word
  EXPECT_EQ(s.cameras[2]->jpegQuality, 75);
  EXPECT_EQ(s.logToFile, 0);  // its offset lies far beyond the file

  // The same count with only the header present creates nothing.
  b.resize(8);
  s = ParseSettings(b.data(), b.size());
  EXPECT_TRUE(s.cameras.empty());
  EXPECT_EQ(s.logToFile, 0);
}

// ---- damaged files ----

TEST(SettingsTruncation, EveryCutPointLoadsSafely) {
  std::vector<std::unique_ptr<CameraRecord>> cams;
  cams.push_back(MakeFilled(0));
  cams.push_back(MakeFilled(1));
  const auto full = SerializeSettings(Ptrs(cams), 1);
  auto defaults = CreateDefaultCamera();
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    // A fresh heap copy of exactly `cut` bytes, so any read past the end is caught.
    std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<long>(cut));
    const LoadedSettings s = ParseSettings(part.empty() ? nullptr : part.data(), part.size());
    size_t expected = 0;
    if (cut > 8) expected = cut > 8 + kCameraBlockSize ? 2 : 1;
    ASSERT_EQ(s.cameras.size(), expected) << "cut " << cut;
    EXPECT_EQ(s.logToFile, cut == full.size() ? 1 : 0) << "cut " << cut;
    for (size_t i = 0; i < s.cameras.size(); ++i) {
      const size_t block = 8 + i * kCameraBlockSize;
      const CameraRecord& c = *s.cameras[i];
      // A field is taken only when all its bytes are there; otherwise it keeps its default.
      EXPECT_EQ(c.cameraType, cut >= block + 4 ? cams[i]->cameraType : defaults->cameraType) << cut;
      EXPECT_EQ(c.url, cut >= block + 284 ? cams[i]->url : defaults->url) << cut;
      EXPECT_EQ(c.frameSaveCount, cut >= block + 592 ? cams[i]->frameSaveCount : 5) << cut;
      EXPECT_EQ(c.overlayFont.faceName,
                cut >= block + 1204 ? cams[i]->overlayFont.faceName : defaults->overlayFont.faceName)
          << cut;
      EXPECT_EQ(c.overlayFont.height, cut >= block + 1204 ? cams[i]->overlayFont.height : -13) << cut;
      EXPECT_EQ(c.motionGrid, cut >= block + 1604 ? cams[i]->motionGrid : defaults->motionGrid) << cut;
    }
  }
}

TEST(SettingsTruncation, ArbitraryBytesStayInsideTheBuffer) {
  // Random contents behind a valid header: whatever the bytes, parsing stays in bounds.
  uint32_t state = 12345;
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> b(static_cast<size_t>(round * 37 % 4000));
    for (auto& x : b) {
      state = state * 1103515245u + 12345u;
      x = static_cast<uint8_t>(state >> 16);
    }
    if (b.size() >= 8) PutI32(b, 0, round % 2 == 0 ? 2000 : 2005);
    const LoadedSettings s = ParseSettings(b.empty() ? nullptr : b.data(), b.size());
    const size_t blockSize = round % 2 == 0 ? kCameraBlockSize2000 : kCameraBlockSize;
    EXPECT_LE(s.cameras.size(), b.size() > 8 ? (b.size() - 8 + blockSize - 1) / blockSize : 0);
    for (const auto& c : s.cameras) {
      EXPECT_EQ(c->motionGrid.size(), kGridBytes);
      EXPECT_LT(std::strlen(c->overlayFont.faceName.data()), c->overlayFont.faceName.size());
    }
  }
}

// ---- failed saves ----

TEST_F(SettingsFileTest, SaveIntoMissingFolderFails) {
  const std::string notAFolder = dir_ + "/plain";
  WriteFileBytes(notAFolder, {1, 2, 3});
  auto c = CreateDefaultCamera();
  EXPECT_FALSE(SaveSettingsFile(notAFolder + "/tollan.cfg", {c.get()}, 0));
  EXPECT_FALSE(SaveSettingsFile(dir_ + "/missing/tollan.cfg", {c.get()}, 0));
  EXPECT_EQ(ReadAll(notAFolder), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(SettingsFileTest, FailedWriteKeepsThePreviousFile) {
  std::vector<std::unique_ptr<CameraRecord>> before;
  before.push_back(MakeFilled(3));
  ASSERT_TRUE(SaveSettingsFile(path_, Ptrs(before), 1));
  const auto previous = ReadAll(path_);
  ASSERT_EQ(previous.size(), 12 + kCameraBlockSize);

  std::vector<std::unique_ptr<CameraRecord>> after;
  for (int i = 0; i < 8; ++i) after.push_back(MakeFilled(i));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Root ignores permissions but not a file size limit: writes past 3000 bytes fail.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{3000, 3000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool saved = SaveSettingsFile(path_, Ptrs(after), 0);
    _exit(saved ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "save under a 3000-byte limit reported success";
  EXPECT_EQ(ReadAll(path_), previous);
  EXPECT_EQ(ListFolder(dir_), std::vector<std::string>{"tollan.cfg"});
  const LoadedSettings loaded = LoadSettingsFile(path_);
  ASSERT_EQ(loaded.cameras.size(), 1u);
  ExpectSameStored(*loaded.cameras[0], *before[0]);
}

}  // namespace
}  // namespace recorder::camera
