#include "recorder/camera/field_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/timecode.h"

namespace recorder::camera {

namespace {

using platform::ascii::EndsWithNoCase;
using platform::ascii::ParseWhole;
using platform::ascii::StartsWithNoCase;

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kColourMax = 0xFFFFFF;
constexpr size_t kFaceMaxLength = sizeof(LogFont::faceName) - 1;
constexpr size_t kNameMaxLength = 64;

int HexDigit(char c) {
  if (platform::ascii::IsDigit(c)) return c - '0';
  c = platform::ascii::Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// ---- clamps and checks the rows point at ----

constexpr int64_t ClampQuality(int64_t n) { return std::clamp<int64_t>(n, 0, 100); }
constexpr int64_t ClampLevel(int64_t n) { return std::clamp<int64_t>(n, 0, 255); }
constexpr int64_t ClampFrameDelay(int64_t n) { return n < 1 ? 0 : std::min<int64_t>(n, 20000); }
constexpr int64_t ClampAtLeastOne(int64_t n) { return std::clamp<int64_t>(n, 1, kInt32Max); }
constexpr int64_t ClampSaveCount(int64_t n) { return n < 0 ? 1 : std::min(n, kInt32Max); }
constexpr int64_t kMaxKeepDays = 36500;
constexpr int64_t kMaxKeepMegabytes = 16777216;  // 16 TB
constexpr int64_t ClampKeepDays(int64_t n) { return std::clamp<int64_t>(n, 0, kMaxKeepDays); }
constexpr int64_t ClampKeepMegabytes(int64_t n) { return std::clamp<int64_t>(n, 0, kMaxKeepMegabytes); }

bool CheckUrl(std::string_view text, std::string& error) {
  if (IsSupportedUrl(text)) return true;
  error = kBadUrlMessage;
  return false;
}

bool CheckSavePath(std::string_view text, std::string& error) {
  if (!HasSaveExtension(text)) {
    error = kBadExtensionMessage;
    return false;
  }
  // A relative path would depend on the folder the recorder happens to start in.
  if (text.front() != '/') {
    error = "savePath: the path must be absolute (start with /): " + std::string(text);
    return false;
  }
  return true;
}

// A name goes into tab-separated listings and log lines: no control characters.
bool CheckName(std::string_view text, std::string& error) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      error = "name: control characters (tabs, line breaks) are not allowed";
      return false;
    }
  }
  return true;
}

bool CheckTransport(std::string_view text, std::string& error) {
  if (text == "tcp" || text == "udp") return true;
  error = "rtspTransport: \"" + std::string(text) + "\" is not tcp or udp";
  return false;
}

// ---- row builders ----

constexpr std::string_view kOffOn[] = {"off", "on"};
constexpr std::string_view kCameraTypes[] = {"IP", "Local"};
// "DirectX" is what earlier builds called a local camera.
constexpr ChoiceAlias kCameraTypeAliases[] = {{"IP", 0}, {"Local", 1}, {"DirectX", 1}};
constexpr std::string_view kRotations[] = {"0", "90", "180", "270"};
constexpr std::string_view kBackgrounds[] = {"Solid", "Transparent", "Shadow", "Outline"};
constexpr std::string_view kVAligns[] = {"CENTER", "TOP", "BOTTOM"};
constexpr std::string_view kHAligns[] = {"CENTER", "LEFT", "RIGHT"};

constexpr Field Row(std::string_view name, FieldKind kind, Block block, Storage storage, std::string_view help) {
  Field f(name, kind, block, storage);
  f.help = help;
  return f;
}

constexpr Field Number(std::string_view name, Block block, int32_t CameraRecord::*member, std::string_view help,
                       int64_t lo = kInt32Min, int64_t hi = kInt32Max, Clamp clamp = nullptr) {
  Field f = Row(name, FieldKind::Number, block, Storage::Int32, help);
  f.int32Member = member;
  f.min = lo;
  f.max = hi;
  f.clamp = clamp;
  return f;
}

constexpr Field Choice(std::string_view name, Block block, int32_t CameraRecord::*member, std::string_view help,
                       std::span<const std::string_view> choices, int32_t defaultChoice) {
  Field f = Number(name, block, member, help, 0, static_cast<int64_t>(choices.size()) - 1);
  f.kind = FieldKind::Choice;
  f.choices = choices;
  f.defaultChoice = defaultChoice;
  return f;
}

constexpr Field Flag(std::string_view name, Block block, int32_t CameraRecord::*member, std::string_view help) {
  Field f = Choice(name, block, member, help, kOffOn, 0);
  f.kind = FieldKind::Flag;
  return f;
}

constexpr Field Colour(std::string_view name, uint32_t CameraRecord::*member, std::string_view help) {
  Field f = Row(name, FieldKind::Colour, Block::D, Storage::Colour, help);
  f.colourMember = member;
  f.max = kColourMax;
  return f;
}

constexpr Field Text(std::string_view name, Block block, TextField CameraRecord::*member, std::string_view help,
                     TextCheck check = nullptr) {
  Field f = Row(name, FieldKind::Text, block, Storage::Text, help);
  f.textMember = member;
  f.maxLength = kMaxTextInput;
  f.check = check;
  return f;
}

constexpr Field FontNumber(std::string_view name, int32_t LogFont::*member, std::string_view help) {
  Field f = Number(name, Block::F, nullptr, help);
  f.storage = Storage::FontInt32;
  f.fontInt32 = member;
  return f;
}

constexpr Field FontByte(std::string_view name, uint8_t LogFont::*member, std::string_view help) {
  Field f = Number(name, Block::F, nullptr, help, 0, 255);
  f.storage = Storage::FontByte;
  f.fontByte = member;
  return f;
}

constexpr Field FontFlag(std::string_view name, uint8_t LogFont::*member, std::string_view help) {
  Field f = FontByte(name, member, help);
  f.kind = FieldKind::Flag;
  f.max = 1;
  f.choices = kOffOn;
  return f;
}

constexpr Field FontFace() {
  Field f = Row("overlayFontFace", FieldKind::Text, Block::F, Storage::FontFace,
                "font face name (at most 31 characters); takes effect");
  f.maxLength = kFaceMaxLength;
  return f;
}

constexpr Field Grid() {
  return Row("motionGrid", FieldKind::Grid, Block::G, Storage::Grid,
             "exactly 800 hex digits: 400 bytes, index column * 20 + row from the bottom, non-zero = ignore block");
}

constexpr Field ExtensionText(std::string_view name, std::string CameraRecord::*member, size_t maxLength,
                              std::string_view defaultValue, std::string_view help, TextCheck check) {
  Field f = Row(name, FieldKind::Text, Block::Extension, Storage::String, help);
  f.stringMember = member;
  f.maxLength = maxLength;
  f.defaultValue = defaultValue;
  f.check = check;
  return f;
}

constexpr Field ExtensionNumber(std::string_view name, int32_t CameraRecord::*member, int64_t lo, int64_t hi,
                                Clamp clamp, std::string_view defaultValue, std::string_view help) {
  Field f = Number(name, Block::Extension, member, help, lo, hi, clamp);
  f.defaultValue = defaultValue;
  return f;
}

// Gives every block field its offset in the camera block from the row order.
template <size_t N>
constexpr std::array<Field, N> WithOffsets(std::array<Field, N> rows) {
  size_t offset = 0;
  for (Field& f : rows) {
    if (f.block == Block::Extension) continue;
    f.offset = offset;
    offset += f.StoredSize();
  }
  return rows;
}

using C = CameraRecord;
using L = LogFont;

// ---- the table ----

constexpr auto kFields = WithOffsets(std::array{
    [] {
      Field f = Choice("cameraType", Block::Leading, &C::cameraType,
                       "0 or IP: network camera, 1 or Local: local capture device",
                       kCameraTypes, 1);  // a leading word of 2 or more, or negative, was a local device
      f.aliases = kCameraTypeAliases;
      return f;
    }(),
    Number("deviceIndex", Block::A, &C::deviceIndex, "local capture device: index in the device list"),
    Number("formatWidth", Block::A, &C::formatWidth, "width of the chosen capture format"),
    Number("formatHeight", Block::A, &C::formatHeight, "height of the chosen capture format"),
    Number("formatBits", Block::A, &C::formatBits, "bit depth of the chosen capture format"),
    Number("pinIndex", Block::A, &C::pinIndex, "index of the chosen capture input (-1 none)"),
    Text("url", Block::B, &C::url, "http://, ftp://, rtsp:// or rtsps:// address (at most 258 characters)", CheckUrl),
    Flag("pushStream", Block::B, &C::pushStream, "0/1, the address delivers a motion-JPEG push stream"),
    Flag("flipVertical", Block::C, &C::flipVertical, "0/1"),
    Flag("flipHorizontal", Block::C, &C::flipHorizontal, "0/1"),
    Number("jpegQuality", Block::C, &C::jpegQuality, "0..100, clamped", 0, 100, ClampQuality),
    Choice("rotation", Block::C, &C::rotation, "0 none, 1 90, 2 180, 3 270 degrees", kRotations, 0),
    Flag("saveEnabled", Block::C, &C::saveEnabled, "0/1"),
    Number("frameDelayMs", Block::C, &C::frameDelayMs, "milliseconds, below 1 becomes 0, above 20000 becomes 20000", 0,
           20000, ClampFrameDelay),
    Text("savePath", Block::C, &C::savePath,
         "absolute path template ending in .mjpg, .jpg or .jpeg; its folder is created", CheckSavePath),
    Flag("saveAsMjpg", Block::C, &C::saveAsMjpg, "0/1, 1 one MJPG file, 0 numbered JPG files"),
    Number("maxJpgCount", Block::C, &C::maxJpgCount, "below 1 becomes 1", 1, kInt32Max, ClampAtLeastOne),
    Flag("motionEnabled", Block::C, &C::motionEnabled, "0/1"),
    Number("motionTriggerLevel", Block::C, &C::motionTriggerLevel, "0..255, clamped", 0, 255, ClampLevel),
    Number("frameSaveCount", Block::C, &C::frameSaveCount, "negative becomes 1, 0 is kept", 0, kInt32Max,
           ClampSaveCount),
    Flag("cleanSaveDir", Block::C, &C::cleanSaveDir, "0/1"),
    Flag("motionSound", Block::C, &C::motionSound, "0/1"),
    Text("soundFile", Block::C, &C::soundFile, "wave file played on motion (at most 258 characters)"),
    Flag("overlayEnabled", Block::D, &C::overlayEnabled, "0/1"),
    Choice("overlayBackground", Block::D, &C::overlayBackground, "0 Solid, 1 Transparent, 2 Shadow, 3 Outline",
           kBackgrounds, 0),
    Choice("overlayVAlign", Block::D, &C::overlayVAlign, "0 CENTER, 1 TOP, 2 BOTTOM", kVAligns, 1),
    Choice("overlayHAlign", Block::D, &C::overlayHAlign, "0 CENTER, 1 LEFT, 2 RIGHT", kHAligns, 0),
    Colour("overlayBackColor", &C::overlayBackColor, "0x00BBGGRR in hex (0x...) or decimal"),
    Colour("overlayTextColor", &C::overlayTextColor, "0x00BBGGRR in hex (0x...) or decimal"),
    Text("overlayText", Block::D, &C::overlayText, "template with date and time codes (at most 258 characters)"),
    FontNumber("overlayFontHeight", &L::height,
               "negative: character height, positive: cell height, in pixels; takes effect"),
    FontNumber("overlayFontWidth", &L::width, "average character width, 0 = natural; kept, not used"),
    FontNumber("overlayFontEscapement", &L::escapement, "tenths of a degree; kept, not used"),
    FontNumber("overlayFontOrientation", &L::orientation, "tenths of a degree; kept, not used"),
    FontNumber("overlayFontWeight", &L::weight, "0 = don't care, 400 normal, 700 bold; takes effect"),
    FontFlag("overlayFontItalic", &L::italic, "0/1; takes effect"),
    FontFlag("overlayFontUnderline", &L::underline, "0/1; takes effect"),
    FontFlag("overlayFontStrikeOut", &L::strikeOut, "0/1; takes effect"),
    FontByte("overlayFontCharSet", &L::charSet, "0..255; kept, not used"),
    FontByte("overlayFontOutPrecision", &L::outPrecision, "0..255; kept, not used"),
    FontByte("overlayFontClipPrecision", &L::clipPrecision, "0..255; kept, not used"),
    FontByte("overlayFontQuality", &L::quality, "0..255; kept, not used"),
    FontByte("overlayFontPitchAndFamily", &L::pitchAndFamily, "0..255; kept, not used"),
    FontFace(),
    Grid(),
    // ---- extension fields: after the fixed file, written when not the default ----
    ExtensionText("name", &C::name, kNameMaxLength, "",
                  "the camera's name (at most 64 characters): live view title, list tooltip, log lines", CheckName),
    ExtensionNumber("keepDays", &C::keepDays, 0, kMaxKeepDays, ClampKeepDays, "0",
                    "0..36500, clamped: recordings whose last frame is older are deleted; 0 = no age limit"),
    ExtensionNumber("keepMegabytes", &C::keepMegabytes, 0, kMaxKeepMegabytes, ClampKeepMegabytes, "0",
                    "0..16777216, clamped: the oldest recordings are deleted to stay within this size; 0 = no limit"),
    [] {
      Field f = Flag("storeAsSent", Block::Extension, &C::storeAsSent,
                     "0/1: store pictures as the camera sends them (no re-encoding; jpegQuality does not apply) "
                     "while no flip, rotation or overlay changes them");
      f.defaultValue = "0";
      return f;
    }(),
    ExtensionText("rtspTransport", &C::rtspTransport, 16, "tcp",
                  "rtsp:// cameras: tcp (the stream inside the RTSP connection) or udp (separate RTP packets)",
                  CheckTransport),
});

// The fixed layout the rows must add up to.
constexpr size_t BlockStart(Block block) {
  for (const Field& f : kFields)
    if (f.block == block) return f.offset;
  return 0;
}
constexpr size_t BlockEnd() {
  size_t end = 0;
  for (const Field& f : kFields) end = std::max(end, f.offset + f.StoredSize());
  return end;
}
static_assert(BlockStart(Block::A) == 4 && BlockStart(Block::B) == 24 && BlockStart(Block::C) == 288);
static_assert(BlockStart(Block::D) == 860 && BlockStart(Block::F) == 1144 && BlockStart(Block::G) == 1204);
static_assert(BlockEnd() == 1604);

// ---- the one routine every row goes through ----

int64_t ReadNumber(const Field& f, const CameraRecord& c) {
  switch (f.storage) {
    case Storage::Int32: return c.*f.int32Member;
    case Storage::Colour: return c.*f.colourMember;
    case Storage::FontInt32: return c.overlayFont.*f.fontInt32;
    case Storage::FontByte: return c.overlayFont.*f.fontByte;
    default: return 0;
  }
}

void WriteNumber(const Field& f, CameraRecord& c, int64_t v) {
  switch (f.storage) {
    case Storage::Int32: c.*f.int32Member = static_cast<int32_t>(v); break;
    case Storage::Colour: c.*f.colourMember = static_cast<uint32_t>(v); break;
    case Storage::FontInt32: c.overlayFont.*f.fontInt32 = static_cast<int32_t>(v); break;
    case Storage::FontByte: c.overlayFont.*f.fontByte = static_cast<uint8_t>(v); break;
    default: break;
  }
}

std::string ReadText(const Field& f, const CameraRecord& c) {
  switch (f.storage) {
    case Storage::Text: return GetText(c.*f.textMember);
    case Storage::String: return c.*f.stringMember;
    case Storage::FontFace: {
      const auto& face = c.overlayFont.faceName;
      return std::string(face.begin(), std::find(face.begin(), face.end(), '\0'));
    }
    default: return {};
  }
}

// Called only with text that passed the length check.
void WriteText(const Field& f, CameraRecord& c, std::string_view text) {
  switch (f.storage) {
    case Storage::Text: SetText(c.*f.textMember, std::string(text)); break;
    case Storage::String: c.*f.stringMember = std::string(text); break;
    case Storage::FontFace: {
      auto& face = c.overlayFont.faceName;
      face.fill('\0');
      std::memcpy(face.data(), text.data(), std::min(text.size(), face.size() - 1));
      break;
    }
    default: break;
  }
}

std::string FormatGrid(const CameraRecord& c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(kGridBytes * 2);
  for (size_t i = 0; i < kGridBytes; ++i) {
    // A record without a grid is stored as a clear one.
    const uint8_t b = i < c.motionGrid.size() ? c.motionGrid[i] : 0;
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

bool ParseGrid(const Field& f, CameraRecord& c, std::string_view text, std::string& error) {
  if (text.size() != kGridBytes * 2) {
    error = std::string(f.name) + ": must be exactly " + std::to_string(kGridBytes * 2) + " hex digits";
    return false;
  }
  std::vector<uint8_t> grid(kGridBytes);
  for (size_t i = 0; i < grid.size(); ++i) {
    const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) {
      error = std::string(f.name) + ": must hold hex digits only";
      return false;
    }
    grid[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  c.motionGrid = std::move(grid);
  return true;
}

std::optional<int64_t> ParseColour(std::string_view text) {
  if (!StartsWithNoCase(text, "0x")) return ParseWhole(text);
  if (text.size() <= 2 || text.size() > 10) return std::nullopt;
  int64_t v = 0;
  for (size_t i = 2; i < text.size(); ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return std::nullopt;
    v = v * 16 + digit;
  }
  return v;
}

std::string ChoiceList(const Field& f) {
  std::string s;
  for (size_t i = 0; i < f.choices.size(); ++i) {
    if (i > 0) s += ", ";
    s += std::to_string(i);
    if (f.kind == FieldKind::Choice) s += " (" + std::string(f.choices[i]) + ")";
  }
  return s;
}

// Checks shared by every text: its length and characters. A line break would
// split the FIELD=VALUE line that --show prints.
bool CheckText(const Field& f, std::string_view text, std::string& error) {
  const std::string name(f.name);
  if (text.size() > f.maxLength) {
    error = name + ": longer than " + std::to_string(f.maxLength) + " characters";
    return false;
  }
  if (text.find_first_of("\r\n") != std::string_view::npos) {
    error = name + ": line breaks (CR or LF) are not allowed";
    return false;
  }
  if (text.find('\0') != std::string_view::npos) {
    error = name + ": NUL bytes are not allowed";
    return false;
  }
  return true;
}

}  // namespace

std::string Field::format(const CameraRecord& c) const {
  switch (kind) {
    case FieldKind::Number:
    case FieldKind::Flag:
    case FieldKind::Choice: return std::to_string(ReadNumber(*this, c));
    case FieldKind::Colour: {
      char text[16];
      std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(ReadNumber(*this, c)));
      return text;
    }
    case FieldKind::Text: return ReadText(*this, c);
    case FieldKind::Grid: return FormatGrid(c);
  }
  return {};
}

bool Field::parse(CameraRecord& c, std::string_view text, std::string& error) const {
  const std::string own(name);
  switch (kind) {
    case FieldKind::Number: {
      std::optional<int64_t> n = ParseWhole(text);
      if (!n) {
        error = own + ": " + Quoted(text) + " is not a whole number";
        return false;
      }
      if (clamp) n = clamp(*n);
      if (*n < min || *n > max) {
        error = own + ": " + std::string(text) + " is outside " + std::to_string(min) + ".." + std::to_string(max);
        return false;
      }
      WriteNumber(*this, c, *n);
      return true;
    }
    case FieldKind::Flag:
    case FieldKind::Choice: {
      for (const ChoiceAlias& alias : aliases) {
        if (platform::ascii::EqualsNoCase(text, alias.text)) {
          WriteNumber(*this, c, alias.value);
          return true;
        }
      }
      const std::optional<int64_t> n = ParseWhole(text);
      // A sign or leading zero would still name an entry, but the list is what --help shows.
      if (!n || *n < min || *n > max || std::to_string(*n) != text) {
        error = own + ": " + Quoted(text) + " is not in the choice list; allowed values: " + ChoiceList(*this);
        return false;
      }
      WriteNumber(*this, c, *n);
      return true;
    }
    case FieldKind::Colour: {
      const std::optional<int64_t> value = ParseColour(text);
      if (!value || *value < 0 || *value > kColourMax) {
        error =
            own + ": " + Quoted(text) + " is not a colour; give 0x00BBGGRR in hex (0x...) or decimal, at most 0xFFFFFF";
        return false;
      }
      WriteNumber(*this, c, *value);
      return true;
    }
    case FieldKind::Text:
      if (!CheckText(*this, text, error)) return false;
      if (check && !check(text, error)) return false;
      WriteText(*this, c, text);
      return true;
    case FieldKind::Grid: return ParseGrid(*this, c, text, error);
  }
  return false;
}

void Field::clampLoaded(CameraRecord& c) const {
  switch (kind) {
    case FieldKind::Number:
      if (clamp) WriteNumber(*this, c, clamp(ReadNumber(*this, c)));
      break;
    case FieldKind::Flag: WriteNumber(*this, c, ReadNumber(*this, c) != 0 ? 1 : 0); break;
    case FieldKind::Choice: {
      const int64_t v = ReadNumber(*this, c);
      if (v < min || v > max) WriteNumber(*this, c, defaultChoice);
      break;
    }
    // The top byte means nothing in 0x00BBGGRR.
    case FieldKind::Colour: WriteNumber(*this, c, ReadNumber(*this, c) & kColourMax); break;
    // Texts are taken as stored; extension texts were checked by parse when read.
    case FieldKind::Text:
    case FieldKind::Grid: break;
  }
}

bool Field::IsDefault(const CameraRecord& c) const { return format(c) == defaultValue; }

std::span<const Field> FieldTable() { return kFields; }

const Field* FindField(std::string_view name) {
  for (const Field& f : kFields)
    if (f.name == name) return &f;
  return nullptr;
}

void ClampLoadedCamera(CameraRecord& camera) {
  for (const Field& f : kFields) f.clampLoaded(camera);
}

bool CameraIsValid(const CameraRecord& camera, std::string& error, const Field** refused) {
  CameraRecord scratch = camera;
  for (const Field& f : kFields) {
    if (!f.parse(scratch, f.format(camera), error)) {
      if (refused) *refused = &f;
      return false;
    }
  }
  return true;
}

void ApplyExtensionDefaults(CameraRecord& camera) {
  for (const Field& f : kFields) {
    if (f.block != Block::Extension) continue;
    std::string error;
    f.parse(camera, f.defaultValue, error);
  }
}

std::string CameraLabel(size_t index, const CameraRecord& camera) {
  std::string label = "camera " + std::to_string(index);
  if (!camera.name.empty()) label += " (" + camera.name + ")";
  return label;
}

bool IsSupportedUrl(std::string_view url) {
  return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "ftp://") || IsRtspUrl(url);
}

bool IsRtspUrl(std::string_view url) { return StartsWithNoCase(url, "rtsp://") || StartsWithNoCase(url, "rtsps://"); }

bool UrlPathNamesJpeg(std::string_view url) {
  // Split as the address parser does: with an '@' anywhere, the user name ends at
  // the first ':' after the scheme and the password at the next '@'; the host
  // then ends at the first '/'. So a '?' or '/' inside a password is no path.
  const size_t schemeEnd = url.find("://");
  size_t pos = schemeEnd == std::string_view::npos ? 0 : schemeEnd + 3;
  if (url.find('@') != std::string_view::npos) {
    const size_t colon = url.find(':', pos);
    const size_t at = colon == std::string_view::npos ? std::string_view::npos : url.find('@', colon + 1);
    if (at != std::string_view::npos) pos = at + 1;
  }
  const size_t slash = url.find('/', pos);
  if (slash == std::string_view::npos) return false;
  std::string_view path = url.substr(slash);
  path = path.substr(0, path.find_first_of("?#"));
  return EndsWithNoCase(path, ".jpg") || EndsWithNoCase(path, ".jpeg");
}

bool HasSaveExtension(std::string_view path) {
  return EndsWithNoCase(path, ".mjpg") || EndsWithNoCase(path, ".jpg") || EndsWithNoCase(path, ".jpeg");
}

bool CreateSaveFolder(const std::string& savePathTemplate) {
  return platform::CreateSaveDirectory(platform::SaveDirectoryOf(platform::ExpandTimeCodes(savePathTemplate)));
}

}  // namespace recorder::camera
