#include "recorder/camera/settings_file.h"

#include "platform/bytes.h"
#include "platform/files.h"
#include "recorder/camera/field_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace recorder::camera {

namespace {

constexpr int32_t kOldestVersion = 2000;
constexpr size_t kHeaderSize = 8;
constexpr size_t kFontSize = 60;
constexpr size_t kBlockCSize = 572;
constexpr size_t kBlockCSize2000 = 304;

// ---- writing ----

class Writer {
 public:
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void U8(uint8_t v) { out_.push_back(v); }
  void Bytes(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + n);
  }
  void Zeros(size_t n) { out_.insert(out_.end(), n, 0); }
  std::vector<uint8_t>& Out() { return out_; }

 private:
  std::vector<uint8_t> out_;
};

void WriteFont(Writer& w, const LogFont& f) {
  w.I32(f.height);
  w.I32(f.width);
  w.I32(f.escapement);
  w.I32(f.orientation);
  w.I32(f.weight);
  w.U8(f.italic);
  w.U8(f.underline);
  w.U8(f.strikeOut);
  w.U8(f.charSet);
  w.U8(f.outPrecision);
  w.U8(f.clipPrecision);
  w.U8(f.quality);
  w.U8(f.pitchAndFamily);
  w.Bytes(f.faceName.data(), f.faceName.size());
}

void WriteCamera(Writer& w, const CameraRecord& c) {
  w.I32(c.cameraType);
  // A
  w.I32(c.deviceIndex);
  w.I32(c.formatWidth);
  w.I32(c.formatHeight);
  w.I32(c.formatBits);
  w.I32(c.pinIndex);
  // B
  w.Bytes(c.url.data(), kTextField);
  w.I32(c.pushStream);
  // C
  w.I32(c.flipVertical);
  w.I32(c.flipHorizontal);
  w.I32(c.jpegQuality);
  w.I32(c.rotation);
  w.I32(c.saveEnabled);
  w.I32(c.frameDelayMs);
  w.Bytes(c.savePath.data(), kTextField);
  w.I32(c.saveAsMjpg);
  w.I32(c.maxJpgCount);
  w.I32(c.motionEnabled);
  w.I32(c.motionTriggerLevel);
  w.I32(c.frameSaveCount);
  w.I32(c.cleanSaveDir);
  w.I32(c.motionSound);
  w.Bytes(c.soundFile.data(), kTextField);
  // D
  w.I32(c.overlayEnabled);
  w.I32(c.overlayBackground);
  w.I32(c.overlayVAlign);
  w.I32(c.overlayHAlign);
  w.U32(c.overlayBackColor);
  w.U32(c.overlayTextColor);
  w.Bytes(c.overlayText.data(), kTextField);
  // F
  WriteFont(w, c.overlayFont);
  // G: a record without a grid stores an all-clear grid
  const size_t gridBytes = std::min(c.motionGrid.size(), kGridBytes);
  w.Bytes(c.motionGrid.data(), gridBytes);
  w.Zeros(kGridBytes - gridBytes);
}

// ---- reading ----

// Walks a byte range field by field. A field is taken only when all its bytes
// lie inside the buffer; the position advances regardless, so later fields keep
// their offsets and simply fall outside once the buffer has ended.
class Reader {
 public:
  Reader(const uint8_t* bytes, size_t length, size_t pos) : bytes_(bytes), length_(length), pos_(pos) {}

  bool Has(size_t n) const { return pos_ <= length_ && length_ - pos_ >= n; }

  void I32(int32_t& out) {
    uint32_t v;
    if (ReadU32(v)) out = static_cast<int32_t>(v);
  }
  void U32(uint32_t& out) { ReadU32(out); }
  void Text(TextField& out) {
    if (Has(kTextField)) std::memcpy(out.data(), bytes_ + pos_, kTextField);
    pos_ += kTextField;
  }
  void Grid(std::vector<uint8_t>& out) {
    if (Has(kGridBytes)) out.assign(bytes_ + pos_, bytes_ + pos_ + kGridBytes);
    pos_ += kGridBytes;
  }
  // The font block is taken whole or not at all: half a font description is no font.
  void Font(LogFont& out) {
    if (Has(kFontSize)) {
      Reader r(bytes_, length_, pos_);
      LogFont f;
      r.I32(f.height);
      r.I32(f.width);
      r.I32(f.escapement);
      r.I32(f.orientation);
      r.I32(f.weight);
      f.italic = r.Byte();
      f.underline = r.Byte();
      f.strikeOut = r.Byte();
      f.charSet = r.Byte();
      f.outPrecision = r.Byte();
      f.clipPrecision = r.Byte();
      f.quality = r.Byte();
      f.pitchAndFamily = r.Byte();
      std::memcpy(f.faceName.data(), bytes_ + r.pos_, f.faceName.size());
      // A face name without a terminator would run past its array when used as a C string.
      if (std::find(f.faceName.begin(), f.faceName.end(), '\0') == f.faceName.end()) f.faceName.back() = '\0';
      out = f;
    }
    pos_ += kFontSize;
  }

 private:
  bool ReadU32(uint32_t& out) {
    const bool ok = Has(4);
    if (ok) {
      const uint8_t* p = bytes_ + pos_;
      out = platform::LoadLE32(p);
    }
    pos_ += 4;
    return ok;
  }
  // Only called inside a range already checked by Font().
  uint8_t Byte() { return bytes_[pos_++]; }

  const uint8_t* bytes_;
  size_t length_;
  size_t pos_;
};

void ReadCamera(Reader& r, CameraRecord& c, bool oldLayout) {
  r.I32(c.cameraType);
  // A
  r.I32(c.deviceIndex);
  r.I32(c.formatWidth);
  r.I32(c.formatHeight);
  r.I32(c.formatBits);
  r.I32(c.pinIndex);
  // B
  r.Text(c.url);
  r.I32(c.pushStream);
  // C
  r.I32(c.flipVertical);
  r.I32(c.flipHorizontal);
  r.I32(c.jpegQuality);
  r.I32(c.rotation);
  r.I32(c.saveEnabled);
  r.I32(c.frameDelayMs);
  r.Text(c.savePath);
  r.I32(c.saveAsMjpg);
  r.I32(c.maxJpgCount);
  r.I32(c.motionEnabled);
  r.I32(c.motionTriggerLevel);
  r.I32(c.frameSaveCount);
  if (!oldLayout) {
    r.I32(c.cleanSaveDir);
    r.I32(c.motionSound);
    r.Text(c.soundFile);
  }
  // D
  r.I32(c.overlayEnabled);
  r.I32(c.overlayBackground);
  r.I32(c.overlayVAlign);
  r.I32(c.overlayHAlign);
  r.U32(c.overlayBackColor);
  r.U32(c.overlayTextColor);
  r.Text(c.overlayText);
  // F, G
  r.Font(c.overlayFont);
  r.Grid(c.motionGrid);
}

size_t BlockSizeFor(int32_t version) {
  return version == kOldestVersion ? kCameraBlockSize2000 : kCameraBlockSize;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

static_assert(kCameraBlockSize == 4 + 20 + 264 + kBlockCSize + 284 + kFontSize + kGridBytes);
static_assert(kCameraBlockSize2000 == kCameraBlockSize - (kBlockCSize - kBlockCSize2000));

std::vector<uint8_t> SerializeSettings(const std::vector<const CameraRecord*>& cameras, int32_t logToFile) {
  Writer w;
  w.Out().reserve(kHeaderSize + kCameraBlockSize * cameras.size() + 4);
  w.I32(kSettingsVersion);
  w.I32(static_cast<int32_t>(cameras.size()));
  for (const CameraRecord* c : cameras) {
    if (c != nullptr) {
      WriteCamera(w, *c);
    } else {
      // The count is already written; a missing record is stored as a default one
      // so the file stays consistent.
      WriteCamera(w, *CreateDefaultCamera());
    }
  }
  w.I32(logToFile);
  return std::move(w.Out());
}

LoadedSettings ParseSettings(const uint8_t* bytes, size_t length) {
  LoadedSettings result;
  if (bytes == nullptr || length < kHeaderSize) return result;
  const int32_t version = static_cast<int32_t>(platform::LoadLE32(bytes));
  if (version < kOldestVersion) return result;
  const int32_t count = static_cast<int32_t>(platform::LoadLE32(bytes + 4));
  const size_t blockSize = BlockSizeFor(version);
  const bool oldLayout = version == kOldestVersion;

  // The count is not trusted: only cameras whose block begins inside the buffer exist.
  const size_t announced = count > 0 ? static_cast<size_t>(count) : 0;
  for (size_t i = 0; i < announced; ++i) {
    const size_t start = kHeaderSize + i * blockSize;
    if (start >= length) break;
    auto camera = CreateDefaultCamera();
    Reader r(bytes, length, start);
    ReadCamera(r, *camera, oldLayout);
    // Only the copy in memory is clamped; the file changes when next saved.
    ClampLoadedCamera(*camera);
    result.cameras.push_back(std::move(camera));
  }

  // 64-bit arithmetic: count * blockSize fits even for the largest count.
  const uint64_t logOffset = kHeaderSize + static_cast<uint64_t>(announced) * blockSize;
  if (logOffset <= length && length - logOffset >= 4) {
    result.logToFile = static_cast<int32_t>(platform::LoadLE32(bytes + logOffset));
  }
  return result;
}

LoadedSettings LoadSettingsFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  const platform::ReadFileResult read = platform::ReadWholeFile(path, bytes);
  if (read == platform::ReadFileResult::OpenFailed || read == platform::ReadFileResult::NotRegularFile) return {};
  const bool readError = read == platform::ReadFileResult::ReadError;

  if (readError) {
    // Keep only the cameras read completely before the failure; logToFile keeps its default.
    if (bytes.size() < kHeaderSize) return {};
    const int32_t version = static_cast<int32_t>(platform::LoadLE32(bytes.data()));
    const size_t blockSize = BlockSizeFor(version);
    const size_t whole = (bytes.size() - kHeaderSize) / blockSize;
    bytes.resize(kHeaderSize + whole * blockSize);
    LoadedSettings partial = ParseSettings(bytes.data(), bytes.size());
    partial.logToFile = 0;
    return partial;
  }
  return ParseSettings(bytes.data(), bytes.size());
}

bool SaveSettingsFile(const std::string& path, const std::vector<const CameraRecord*>& cameras, int32_t logToFile) {
  if (path.empty()) return false;
  const std::vector<uint8_t> bytes = SerializeSettings(cameras, logToFile);

  // The new contents go to a temporary file beside the old one and replace it
  // only when complete, so a full disk or a crash never leaves a damaged or
  // missing settings file behind.
  std::string temp = path + ".tmp-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;

  // The file holds camera passwords: readable by its owner only, set before any
  // byte is written and carried over by the rename.
  bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
  ok = ok && platform::WriteAll(fd, bytes.data(), bytes.size());
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }

  // Make the rename itself durable; a failure here leaves a complete file either way.
  const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace recorder::camera
