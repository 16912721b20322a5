#include "recorder/camera/field_table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "platform/files.h"
#include "platform/timecode.h"

namespace recorder::camera {

namespace {

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kColourMax = 0xFFFFFF;
constexpr size_t kFaceMaxLength = sizeof(LogFont::faceName) - 1;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (Lower(s[i]) != prefix[i]) return false;
  return true;
}

// Ends in the ending and has something before it.
bool EndsWithNoCase(std::string_view s, std::string_view ending) {
  return s.size() > ending.size() && StartsWithNoCase(s.substr(s.size() - ending.size()), ending);
}

// A whole decimal number with an optional sign. Values beyond 64 bits saturate,
// so that a clamp still applies and a range check still refuses them.
std::optional<int64_t> ParseWhole(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  constexpr int64_t kLimit = std::numeric_limits<int64_t>::max() / 10 - 9;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    if (value < kLimit) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Where a whole number lives in the record: an int32 of the record, a colour, or a font member.
struct Slot {
  std::function<int64_t(const CameraRecord&)> read;
  std::function<void(CameraRecord&, int64_t)> write;
};

template <typename T>
Slot Member(T CameraRecord::*m) {
  return {[m](const CameraRecord& c) { return static_cast<int64_t>(c.*m); },
          [m](CameraRecord& c, int64_t v) { c.*m = static_cast<T>(v); }};
}

template <typename T>
Slot FontMember(T LogFont::*m) {
  return {[m](const CameraRecord& c) { return static_cast<int64_t>(c.overlayFont.*m); },
          [m](CameraRecord& c, int64_t v) { c.overlayFont.*m = static_cast<T>(v); }};
}

Field Base(std::string name, FieldKind kind, std::string help) {
  Field f;
  f.name = std::move(name);
  f.kind = kind;
  f.help = std::move(help);
  return f;
}

// A number. With a clamp, typed and loaded values pass through it (the dialog's
// rule); without one, values outside [lo, hi] are refused and loaded values kept.
Field Number(std::string name, std::string help, Slot slot, int64_t lo, int64_t hi,
             std::function<int64_t(int64_t)> clamp = nullptr) {
  Field f = Base(name, FieldKind::Number, std::move(help));
  f.min = lo;
  f.max = hi;
  f.clamp = clamp;
  f.format = [read = slot.read](const CameraRecord& c) { return std::to_string(read(c)); };
  f.parse = [name, lo, hi, clamp, write = slot.write](CameraRecord& c, std::string_view text, std::string& error) {
    std::optional<int64_t> n = ParseWhole(text);
    if (!n) {
      error = name + ": " + Quoted(text) + " is not a whole number";
      return false;
    }
    if (clamp) n = clamp(*n);
    if (*n < lo || *n > hi) {
      error = name + ": " + std::string(text) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi);
      return false;
    }
    write(c, *n);
    return true;
  };
  f.clampLoaded = [clamp, slot](CameraRecord& c) {
    if (clamp) slot.write(c, clamp(slot.read(c)));
  };
  return f;
}

// The dialog's clamp to a range.
std::function<int64_t(int64_t)> Between(int64_t lo, int64_t hi) {
  return [lo, hi](int64_t n) { return std::clamp(n, lo, hi); };
}

std::string ChoiceList(const std::vector<std::string>& labels, bool withLabels) {
  std::string s;
  for (size_t i = 0; i < labels.size(); ++i) {
    if (i > 0) s += ", ";
    s += std::to_string(i);
    if (withLabels) s += " (" + labels[i] + ")";
  }
  return s;
}

// A value from a fixed list. The command line refuses anything else; a loaded
// value outside the list becomes the default, as the dialog's drop list would.
// aliases: words taken for a value, in any case (a label, or a former label that
// scripts written with an older wording still use).
Field Choice(std::string name, FieldKind kind, std::string help, Slot slot, std::vector<std::string> labels,
             int32_t defaultChoice, std::vector<std::pair<std::string, int32_t>> aliases = {}) {
  Field f = Base(name, kind, std::move(help));
  f.min = 0;
  f.max = static_cast<int64_t>(labels.size()) - 1;
  f.choices = labels;
  f.defaultChoice = defaultChoice;
  const std::string allowed = ChoiceList(labels, kind == FieldKind::Choice);
  const int64_t last = f.max;
  f.format = [read = slot.read](const CameraRecord& c) { return std::to_string(read(c)); };
  f.parse = [name, last, allowed, aliases, write = slot.write](CameraRecord& c, std::string_view text,
                                                               std::string& error) {
    for (const auto& [word, value] : aliases) {
      if (word.size() == text.size() && std::equal(word.begin(), word.end(), text.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
          })) {
        write(c, value);
        return true;
      }
    }
    const std::optional<int64_t> n = ParseWhole(text);
    // A sign or leading zero would still name an entry, but the list is what --help shows.
    if (!n || *n < 0 || *n > last || std::to_string(*n) != text) {
      error = name + ": " + Quoted(text) + " is not in the choice list; allowed values: " + allowed;
      return false;
    }
    write(c, *n);
    return true;
  };
  if (kind == FieldKind::Flag) {
    f.clampLoaded = [slot](CameraRecord& c) { slot.write(c, slot.read(c) != 0 ? 1 : 0); };
  } else {
    f.clampLoaded = [slot, last, defaultChoice](CameraRecord& c) {
      const int64_t v = slot.read(c);
      if (v < 0 || v > last) slot.write(c, defaultChoice);
    };
  }
  return f;
}

Field Flag(std::string name, std::string help, Slot slot) {
  return Choice(std::move(name), FieldKind::Flag, std::move(help), std::move(slot), {"off", "on"}, 0);
}

Field Colour(std::string name, std::string help, uint32_t CameraRecord::*member) {
  Field f = Base(name, FieldKind::Colour, std::move(help));
  f.min = 0;
  f.max = kColourMax;
  f.format = [member](const CameraRecord& c) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(c.*member));
    return std::string(text);
  };
  f.parse = [name, member](CameraRecord& c, std::string_view text, std::string& error) {
    std::optional<int64_t> value;
    if (StartsWithNoCase(text, "0x")) {
      if (text.size() > 2 && text.size() <= 10) {
        int64_t v = 0;
        for (size_t i = 2; i < text.size() && v >= 0; ++i) v = HexDigit(text[i]) < 0 ? -1 : v * 16 + HexDigit(text[i]);
        if (v >= 0) value = v;
      }
    } else {
      value = ParseWhole(text);
    }
    if (!value || *value < 0 || *value > kColourMax) {
      error = name + ": " + Quoted(text) + " is not a colour; give 0x00BBGGRR in hex (0x...) or decimal, at most 0xFFFFFF";
      return false;
    }
    c.*member = static_cast<uint32_t>(*value);
    return true;
  };
  // The top byte means nothing in 0x00BBGGRR.
  f.clampLoaded = [member](CameraRecord& c) { c.*member &= static_cast<uint32_t>(kColourMax); };
  return f;
}

// Checks shared by every text: its length and characters. A line break would
// split the FIELD=VALUE line that --show prints.
bool CheckText(const std::string& name, std::string_view text, size_t maxLength, std::string& error) {
  if (text.size() > maxLength) {
    error = name + ": longer than " + std::to_string(maxLength) + " characters";
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

using TextCheck = std::function<bool(std::string_view, std::string&)>;

Field Text(std::string name, std::string help, TextField CameraRecord::*member, TextCheck check = nullptr) {
  Field f = Base(name, FieldKind::Text, std::move(help));
  f.maxLength = kMaxTextInput;
  f.format = [member](const CameraRecord& c) { return GetText(c.*member); };
  f.parse = [name, member, check](CameraRecord& c, std::string_view text, std::string& error) {
    if (!CheckText(name, text, kMaxTextInput, error)) return false;
    if (check && !check(text, error)) return false;
    SetText(c.*member, std::string(text));
    return true;
  };
  f.clampLoaded = [](CameraRecord&) {};
  return f;
}

Field FaceName() {
  const std::string name = "overlayFontFace";
  Field f = Base(name, FieldKind::Text, "font face name (at most 31 characters)");
  f.maxLength = kFaceMaxLength;
  f.format = [](const CameraRecord& c) {
    const auto& face = c.overlayFont.faceName;
    return std::string(face.begin(), std::find(face.begin(), face.end(), '\0'));
  };
  f.parse = [name](CameraRecord& c, std::string_view text, std::string& error) {
    if (!CheckText(name, text, kFaceMaxLength, error)) return false;
    auto& face = c.overlayFont.faceName;
    face.fill('\0');
    std::memcpy(face.data(), text.data(), text.size());
    return true;
  };
  f.clampLoaded = [](CameraRecord&) {};
  return f;
}

Field Grid() {
  const std::string name = "motionGrid";
  Field f = Base(name, FieldKind::Grid,
                 "exactly 800 hex digits: 400 bytes, index column * 20 + row from the bottom, non-zero = ignore block");
  f.format = [](const CameraRecord& c) {
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
  };
  f.parse = [name](CameraRecord& c, std::string_view text, std::string& error) {
    if (text.size() != kGridBytes * 2) {
      error = name + ": must be exactly " + std::to_string(kGridBytes * 2) + " hex digits";
      return false;
    }
    std::vector<uint8_t> grid(kGridBytes);
    for (size_t i = 0; i < grid.size(); ++i) {
      const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
      if (hi < 0 || lo < 0) {
        error = name + ": must hold hex digits only";
        return false;
      }
      grid[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    c.motionGrid = std::move(grid);
    return true;
  };
  f.clampLoaded = [](CameraRecord&) {};
  return f;
}

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

std::vector<Field> BuildTable() {
  const auto any = [](std::string name, std::string help, Slot slot) {
    return Number(std::move(name), std::move(help), std::move(slot), kInt32Min, kInt32Max);
  };
  const auto byte = [](std::string name, std::string help, uint8_t LogFont::*m) {
    return Number(std::move(name), std::move(help), FontMember(m), 0, 255);
  };
  using C = CameraRecord;
  std::vector<Field> t;
  t.push_back(Choice("cameraType", FieldKind::Choice, "0 or IP: network camera, 1 or Local: local capture device",
                     Member(&C::cameraType), {"IP", "Local"}, 0, {{"IP", 0}, {"Local", 1}, {"DirectX", 1}}));
  // A leading word of 2 or more is still a local device: any non-zero value was one.
  t.back().clampLoaded = [](CameraRecord& c) { c.cameraType = c.cameraType != 0 ? kCameraLocal : kCameraIp; };
  t.push_back(any("deviceIndex", "local capture device: index in the device list", Member(&C::deviceIndex)));
  t.push_back(any("formatWidth", "width of the chosen capture format", Member(&C::formatWidth)));
  t.push_back(any("formatHeight", "height of the chosen capture format", Member(&C::formatHeight)));
  t.push_back(any("formatBits", "bit depth of the chosen capture format", Member(&C::formatBits)));
  t.push_back(any("pinIndex", "index of the chosen capture input (-1 none)", Member(&C::pinIndex)));
  t.push_back(Text("url", "http:// or ftp:// address (at most 258 characters)", &C::url, CheckUrl));
  t.push_back(Flag("pushStream", "0/1, the address delivers a motion-JPEG push stream", Member(&C::pushStream)));
  t.push_back(Flag("flipVertical", "0/1", Member(&C::flipVertical)));
  t.push_back(Flag("flipHorizontal", "0/1", Member(&C::flipHorizontal)));
  t.push_back(Number("jpegQuality", "0..100, clamped", Member(&C::jpegQuality), 0, 100, Between(0, 100)));
  t.push_back(Choice("rotation", FieldKind::Choice, "0 none, 1 90, 2 180, 3 270 degrees", Member(&C::rotation),
                     {"0", "90", "180", "270"}, 0));
  t.push_back(Flag("saveEnabled", "0/1", Member(&C::saveEnabled)));
  t.push_back(Number("frameDelayMs", "milliseconds, below 1 becomes 0, above 20000 becomes 20000",
                     Member(&C::frameDelayMs), 0, 20000, [](int64_t n) { return n < 1 ? 0 : std::min<int64_t>(n, 20000); }));
  t.push_back(Text("savePath", "absolute path template ending in .mjpg, .jpg or .jpeg; its folder is created",
                   &C::savePath, CheckSavePath));
  t.push_back(Flag("saveAsMjpg", "0/1, 1 one MJPG file, 0 numbered JPG files", Member(&C::saveAsMjpg)));
  t.push_back(Number("maxJpgCount", "below 1 becomes 1", Member(&C::maxJpgCount), 1, kInt32Max, Between(1, kInt32Max)));
  t.push_back(Flag("motionEnabled", "0/1", Member(&C::motionEnabled)));
  t.push_back(Number("motionTriggerLevel", "0..255, clamped", Member(&C::motionTriggerLevel), 0, 255, Between(0, 255)));
  t.push_back(Number("frameSaveCount", "negative becomes 1, 0 is kept", Member(&C::frameSaveCount), 0, kInt32Max,
                     [](int64_t n) { return n < 0 ? 1 : std::min(n, kInt32Max); }));
  t.push_back(Flag("cleanSaveDir", "0/1", Member(&C::cleanSaveDir)));
  t.push_back(Flag("motionSound", "0/1", Member(&C::motionSound)));
  t.push_back(Text("soundFile", "wave file played on motion (at most 258 characters)", &C::soundFile));
  t.push_back(Flag("overlayEnabled", "0/1", Member(&C::overlayEnabled)));
  t.push_back(Choice("overlayBackground", FieldKind::Choice, "0 Solid, 1 Transparent, 2 Shadow, 3 Outline",
                     Member(&C::overlayBackground), {"Solid", "Transparent", "Shadow", "Outline"}, 0));
  t.push_back(Choice("overlayVAlign", FieldKind::Choice, "0 CENTER, 1 TOP, 2 BOTTOM", Member(&C::overlayVAlign),
                     {"CENTER", "TOP", "BOTTOM"}, 1));
  t.push_back(Choice("overlayHAlign", FieldKind::Choice, "0 CENTER, 1 LEFT, 2 RIGHT", Member(&C::overlayHAlign),
                     {"CENTER", "LEFT", "RIGHT"}, 0));
  t.push_back(Colour("overlayBackColor", "0x00BBGGRR in hex (0x...) or decimal", &C::overlayBackColor));
  t.push_back(Colour("overlayTextColor", "0x00BBGGRR in hex (0x...) or decimal", &C::overlayTextColor));
  t.push_back(Text("overlayText", "template with date and time codes (at most 258 characters)", &C::overlayText));
  t.push_back(any("overlayFontHeight", "negative: character height, positive: cell height, in pixels",
                  FontMember(&LogFont::height)));
  t.push_back(any("overlayFontWidth", "average character width, 0 = natural", FontMember(&LogFont::width)));
  t.push_back(any("overlayFontEscapement", "tenths of a degree", FontMember(&LogFont::escapement)));
  t.push_back(any("overlayFontOrientation", "tenths of a degree", FontMember(&LogFont::orientation)));
  t.push_back(any("overlayFontWeight", "0 = don't care, 400 normal, 700 bold", FontMember(&LogFont::weight)));
  t.push_back(Flag("overlayFontItalic", "0/1", FontMember(&LogFont::italic)));
  t.push_back(Flag("overlayFontUnderline", "0/1", FontMember(&LogFont::underline)));
  t.push_back(Flag("overlayFontStrikeOut", "0/1", FontMember(&LogFont::strikeOut)));
  t.push_back(byte("overlayFontCharSet", "0..255", &LogFont::charSet));
  t.push_back(byte("overlayFontOutPrecision", "0..255", &LogFont::outPrecision));
  t.push_back(byte("overlayFontClipPrecision", "0..255", &LogFont::clipPrecision));
  t.push_back(byte("overlayFontQuality", "0..255", &LogFont::quality));
  t.push_back(byte("overlayFontPitchAndFamily", "0..255", &LogFont::pitchAndFamily));
  t.push_back(FaceName());
  t.push_back(Grid());
  return t;
}

}  // namespace

const std::vector<Field>& FieldTable() {
  static const std::vector<Field> table = BuildTable();
  return table;
}

const Field* FindField(std::string_view name) {
  for (const Field& f : FieldTable())
    if (f.name == name) return &f;
  return nullptr;
}

void ClampLoadedCamera(CameraRecord& camera) {
  for (const Field& f : FieldTable()) f.clampLoaded(camera);
}

bool CameraIsValid(const CameraRecord& camera, std::string& error, const Field** refused) {
  CameraRecord scratch = camera;
  for (const Field& f : FieldTable()) {
    if (!f.parse(scratch, f.format(camera), error)) {
      if (refused) *refused = &f;
      return false;
    }
  }
  return true;
}

bool IsSupportedUrl(std::string_view url) {
  return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "ftp://");
}

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
