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
#include <optional>
#include <string_view>

namespace recorder::camera {

namespace {

constexpr int32_t kOldestVersion = 2000;
constexpr size_t kHeaderSize = 8;
constexpr size_t kBlockCStart = 288;
constexpr size_t kBlockCSize = 572;
constexpr size_t kBlockCSize2000 = 304;
constexpr uint8_t kExtensionTag[4] = {'T', 'L', 'X', '1'};
constexpr size_t kRecordHeader = 8;  // owner and size

void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void AppendLE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// ---- camera blocks, one row at a time ----

// `block` holds kCameraBlockSize bytes; each field lands at its row's offset.
void WriteCamera(uint8_t* block, const CameraRecord& c) {
  for (const Field& f : FieldTable()) {
    uint8_t* p = block + f.offset;
    switch (f.block == Block::Extension ? Storage::String : f.storage) {
      case Storage::Int32: PutLE32(p, static_cast<uint32_t>(c.*f.int32Member)); break;
      case Storage::Colour: PutLE32(p, c.*f.colourMember); break;
      case Storage::FontInt32: PutLE32(p, static_cast<uint32_t>(c.overlayFont.*f.fontInt32)); break;
      case Storage::FontByte: *p = c.overlayFont.*f.fontByte; break;
      case Storage::Text: std::memcpy(p, (c.*f.textMember).data(), kTextField); break;
      case Storage::FontFace: std::memcpy(p, c.overlayFont.faceName.data(), c.overlayFont.faceName.size()); break;
      case Storage::Grid:
        // A record without a grid stores an all-clear grid (the block starts zeroed).
        std::memcpy(p, c.motionGrid.data(), std::min(c.motionGrid.size(), kGridBytes));
        break;
      case Storage::String: break;  // extension fields are written after the fixed file
    }
  }
}

void ReadField(const Field& f, const uint8_t* p, CameraRecord& c) {
  switch (f.storage) {
    case Storage::Int32: c.*f.int32Member = static_cast<int32_t>(platform::LoadLE32(p)); break;
    case Storage::Colour: c.*f.colourMember = platform::LoadLE32(p); break;
    case Storage::FontInt32: c.overlayFont.*f.fontInt32 = static_cast<int32_t>(platform::LoadLE32(p)); break;
    case Storage::FontByte: c.overlayFont.*f.fontByte = *p; break;
    case Storage::Text: std::memcpy((c.*f.textMember).data(), p, kTextField); break;
    case Storage::FontFace: {
      auto& face = c.overlayFont.faceName;
      std::memcpy(face.data(), p, face.size());
      // A face name without a terminator would run past its array when used as a C string.
      if (std::find(face.begin(), face.end(), '\0') == face.end()) face.back() = '\0';
      break;
    }
    case Storage::Grid: c.motionGrid.assign(p, p + kGridBytes); break;
    case Storage::String: break;
  }
}

// Where a field lies in a block of the version-2000 layout, whose block C ends
// after frameSaveCount; nothing for the fields that layout lacks.
std::optional<size_t> OffsetIn(size_t offset, bool oldLayout) {
  constexpr size_t kOldCEnd = kBlockCStart + kBlockCSize2000;
  constexpr size_t kCEnd = kBlockCStart + kBlockCSize;
  if (!oldLayout || offset < kOldCEnd) return offset;
  if (offset < kCEnd) return std::nullopt;
  return offset - (kBlockCSize - kBlockCSize2000);
}

// The font group's first byte and size: it is taken whole or not at all, since
// half a font description is no font.
struct Group {
  size_t start = 0;
  size_t size = 0;
};
Group FontGroup() {
  Group g{kCameraBlockSize, 0};
  for (const Field& f : FieldTable()) {
    if (f.block != Block::F) continue;
    g.start = std::min(g.start, f.offset);
    g.size += f.StoredSize();
  }
  return g;
}

// Reads the fields of one block that starts at `start`. A field is taken only
// when all its bytes lie inside the buffer; fields beyond its end keep the values
// they had, and the fields of a file that ends early simply fall outside.
void ReadCamera(const uint8_t* bytes, size_t length, size_t start, CameraRecord& c, bool oldLayout) {
  static const Group font = FontGroup();
  const auto inside = [&](size_t at, size_t n) { return at <= length && length - at >= n; };
  const std::optional<size_t> fontAt = OffsetIn(font.start, oldLayout);
  const bool fontWhole = fontAt && inside(start + *fontAt, font.size);
  for (const Field& f : FieldTable()) {
    if (f.block == Block::Extension) continue;
    const std::optional<size_t> at = OffsetIn(f.offset, oldLayout);
    if (!at || !inside(start + *at, f.StoredSize())) continue;
    if (f.block == Block::F && !fontWhole) continue;
    ReadField(f, bytes + start + *at, c);
  }
}

// ---- the extension section ----

void AppendRecord(std::vector<uint8_t>& out, uint32_t owner, const std::string& record) {
  AppendLE32(out, owner);
  AppendLE32(out, static_cast<uint32_t>(record.size()));
  out.insert(out.end(), record.begin(), record.end());
}

void WriteExtension(std::vector<uint8_t>& out, const std::vector<const CameraRecord*>& cameras,
                    const ProgramRecords& program) {
  std::vector<uint8_t> body;
  for (size_t i = 0; i < cameras.size(); ++i) {
    if (cameras[i] == nullptr) continue;
    for (const Field& f : FieldTable())
      if (f.block == Block::Extension && !f.IsDefault(*cameras[i]))
        AppendRecord(body, static_cast<uint32_t>(i), std::string(f.name) + "=" + f.format(*cameras[i]));
  }
  for (const auto& [name, value] : program) AppendRecord(body, kExtensionProgramOwner, name + "=" + value);
  if (body.empty()) return;  // plain settings: the file ends after logToFile, as it always did
  out.insert(out.end(), std::begin(kExtensionTag), std::end(kExtensionTag));
  AppendLE32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
}

// Reads the section at `pos` when one is there. A section whose length runs past
// the file is ignored whole; a record that runs past its section ends the reading.
// Unknown names and values this build refuses leave the defaults in place.
void ReadExtension(const uint8_t* bytes, size_t length, size_t pos, LoadedSettings& result) {
  if (pos > length || length - pos < sizeof kExtensionTag + 4) return;
  if (std::memcmp(bytes + pos, kExtensionTag, sizeof kExtensionTag) != 0) return;
  const uint32_t size = platform::LoadLE32(bytes + pos + sizeof kExtensionTag);
  pos += sizeof kExtensionTag + 4;
  if (size > length - pos) return;
  const size_t end = pos + size;
  while (end - pos >= kRecordHeader) {
    const uint32_t owner = platform::LoadLE32(bytes + pos);
    const uint32_t n = platform::LoadLE32(bytes + pos + 4);
    pos += kRecordHeader;
    if (n > end - pos) return;
    const std::string_view record(reinterpret_cast<const char*>(bytes + pos), n);
    pos += n;
    const size_t eq = record.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view name = record.substr(0, eq), value = record.substr(eq + 1);
    if (owner == kExtensionProgramOwner) {
      result.program[std::string(name)] = std::string(value);
    } else if (owner < result.cameras.size()) {
      const Field* f = FindField(name);
      std::string error;
      if (f != nullptr && f->block == Block::Extension) f->parse(*result.cameras[owner], value, error);
    }
  }
}

size_t BlockSizeFor(int32_t version) { return version == kOldestVersion ? kCameraBlockSize2000 : kCameraBlockSize; }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

static_assert(kCameraBlockSize2000 == kCameraBlockSize - (kBlockCSize - kBlockCSize2000));

std::vector<uint8_t> SerializeSettings(const std::vector<const CameraRecord*>& cameras, int32_t logToFile,
                                       const ProgramRecords& program) {
  std::vector<uint8_t> out(kHeaderSize + kCameraBlockSize * cameras.size() + 4, 0);
  PutLE32(out.data(), static_cast<uint32_t>(kSettingsVersion));
  PutLE32(out.data() + 4, static_cast<uint32_t>(cameras.size()));
  for (size_t i = 0; i < cameras.size(); ++i) {
    uint8_t* block = out.data() + kHeaderSize + i * kCameraBlockSize;
    // The count is already written; a missing record is stored as a default one
    // so the file stays consistent.
    WriteCamera(block, cameras[i] != nullptr ? *cameras[i] : *CreateDefaultCamera());
  }
  PutLE32(out.data() + kHeaderSize + kCameraBlockSize * cameras.size(), static_cast<uint32_t>(logToFile));
  WriteExtension(out, cameras, program);
  return out;
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
    ReadCamera(bytes, length, start, *camera, oldLayout);
    // Only the copy in memory is clamped; the file changes when next saved.
    ClampLoadedCamera(*camera);
    result.cameras.push_back(std::move(camera));
  }

  // 64-bit arithmetic: count * blockSize fits even for the largest count.
  const uint64_t logOffset = kHeaderSize + static_cast<uint64_t>(announced) * blockSize;
  if (logOffset <= length && length - logOffset >= 4) {
    result.logToFile = static_cast<int32_t>(platform::LoadLE32(bytes + logOffset));
    ReadExtension(bytes, length, static_cast<size_t>(logOffset) + 4, result);
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

bool SaveSettingsFile(const std::string& path, const std::vector<const CameraRecord*>& cameras, int32_t logToFile,
                      const ProgramRecords& program) {
  if (path.empty()) return false;
  const std::vector<uint8_t> bytes = SerializeSettings(cameras, logToFile, program);

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
