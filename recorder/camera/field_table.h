#pragma once
// The field table: every stored field of the camera record, one constant row
// each, in the order of the settings file. A row says where the field lives in
// the record and in the file (block, encoding, offset), its range or choice
// list, its clamp and its help text. One routine reads every row: the settings
// file writes and reads camera blocks by walking the rows, the settings commands
// (--set, --show, --help) and the options dialog parse and format through them,
// and every camera loaded from a file passes through their clamps.
//
// Adding a setting is one row: a field of the fixed camera block if the block
// has room for it (it has none left), otherwise a row with `Block::Extension`
// and its default text. Extension fields are written after the fixed file as
// name=value records, and only when they differ from their default, so a file of
// plain settings stays byte for byte what earlier builds wrote.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "recorder/camera/camera_record.h"

namespace recorder::camera {

// The options dialog's own texts, used as they stand.
inline constexpr const char* kBadUrlMessage = "Only ftp and http url's are supported";
inline constexpr const char* kBadExtensionMessage =
    "Save path file extension is not valid, you must specify .mjpg or .jpg or .jpeg";
inline constexpr const char* kBadDirectoryMessage =
    "Could not create save directory, you may have specified invalid characters,\n"
    "an invalid path, or a path without write access.";

enum class FieldKind : uint8_t {
  Number,  // whole number in [min, max]; typed values outside are clamped when the field has a clamp, else refused
  Flag,    // 0 or 1
  Choice,  // index into a drop list
  Colour,  // 0x00BBGGRR
  Text,    // NUL-terminated text of at most maxLength characters
  Grid,    // the 400 motion grid bytes as 800 hex digits
};

// Where the settings file keeps a field: a part of the fixed camera block, or
// the extension section after it.
enum class Block : uint8_t { Leading, A, B, C, D, F, G, Extension };

// What the field is in the record, which is also its encoding inside a block.
enum class Storage : uint8_t {
  Int32,      // int32 member, 4 bytes little-endian
  Colour,     // uint32 member, 4 bytes little-endian
  FontInt32,  // int32 of the overlay font, 4 bytes
  FontByte,   // byte of the overlay font, 1 byte
  Text,       // fixed text array member, written whole (bytes after the NUL too)
  FontFace,   // the font's 32-byte face name
  Grid,       // the 400 motion grid bytes; a record without a grid stores a clear one
  String,     // std::string member; extension fields only
};

// A text check beyond length and line breaks; false with `error` set refuses.
using TextCheck = bool (*)(std::string_view text, std::string& error);
// The options dialog's read rule for a number: typed value -> stored value.
using Clamp = int64_t (*)(int64_t);

// Another spelling a choice field takes on the command line.
struct ChoiceAlias {
  std::string_view text;  // compared case-insensitively
  int32_t value;
};

struct Field {
  constexpr Field() = default;
  constexpr Field(std::string_view name, FieldKind kind, Block block, Storage storage)
      : name(name), kind(kind), block(block), storage(storage) {}

  std::string_view name;
  FieldKind kind = FieldKind::Number;
  Block block = Block::Leading;
  Storage storage = Storage::Int32;
  // The member the field lives in; the one `storage` names is set.
  int32_t CameraRecord::*int32Member = nullptr;
  uint32_t CameraRecord::*colourMember = nullptr;
  TextField CameraRecord::*textMember = nullptr;
  std::string CameraRecord::*stringMember = nullptr;
  int32_t LogFont::*fontInt32 = nullptr;
  uint8_t LogFont::*fontByte = nullptr;
  // Inside the camera block as written today; filled in from the row order.
  size_t offset = 0;

  // Number, Flag, Choice, Colour: the range every stored value lies in.
  int64_t min = 0;
  int64_t max = 0;
  // Choice: the drop list's entries in order; the stored value is the index.
  std::span<const std::string_view> choices;
  // Choice: what a value outside the list becomes when a file is loaded.
  int32_t defaultChoice = 0;
  // Choice: further spellings --set takes.
  std::span<const ChoiceAlias> aliases;
  // Text: the most characters taken.
  size_t maxLength = 0;
  // Number: the dialog's clamp, applied to typed and loaded values; without one,
  // values outside [min, max] are refused and loaded values kept.
  Clamp clamp = nullptr;
  // Text: a check of its own (the URL's scheme, the save path's extension).
  TextCheck check = nullptr;
  // Extension fields: the value as text that is not written to the file.
  std::string_view defaultValue;
  std::string_view help;

  // Bytes the field takes in the camera block (0 for extension fields).
  constexpr size_t StoredSize() const {
    if (block == Block::Extension) return 0;
    switch (storage) {
      case Storage::FontByte: return 1;
      case Storage::Text: return kTextField;
      case Storage::FontFace: return sizeof(LogFont::faceName);
      case Storage::Grid: return kGridBytes;
      case Storage::String: return 0;
      default: return 4;
    }
  }
  // The value as the text that parse takes back unchanged.
  std::string format(const CameraRecord& camera) const;
  // Checks typed text and stores it. Numbers with a clamp are clamped as the
  // options dialog clamps them; anything else out of place is refused, and
  // `error` then says why (naming the field, except the dialog's own texts).
  bool parse(CameraRecord& camera, std::string_view text, std::string& error) const;
  // Brings a value read from a settings file into range: numbers clamped, flags
  // to 0/1, choices outside the list to their default. Texts are left alone.
  void clampLoaded(CameraRecord& camera) const;
  // Extension fields: whether the camera holds the default (then nothing is written).
  bool IsDefault(const CameraRecord& camera) const;
};

// Every stored field, in the order of the settings file's camera block (leading
// word first, motion grid last), then the extension fields.
std::span<const Field> FieldTable();
// The field of that name (case-sensitive), or nullptr.
const Field* FindField(std::string_view name);

// Passes every field of a camera read from a settings file through its clamp,
// so that a damaged file cannot, say, make a worker sleep for an hour.
void ClampLoadedCamera(CameraRecord& camera);
// Whether every field of the camera holds a value that its Parse would accept
// again; false with the first refused field and its message otherwise.
bool CameraIsValid(const CameraRecord& camera, std::string& error, const Field** refused = nullptr);
// Sets every extension field of a new record to its default.
void ApplyExtensionDefaults(CameraRecord& camera);

// How texts name a camera: "camera 2", or "camera 2 (front-door)" when it has a name.
std::string CameraLabel(size_t index, const CameraRecord& camera);

// "http://", "ftp://", "rtsp://" or "rtsps://", case-insensitively.
bool IsSupportedUrl(std::string_view url);
// "rtsp://" or "rtsps://", case-insensitively: the camera's worker reads an RTSP stream.
bool IsRtspUrl(std::string_view url);
// Whether an http address names a JPEG image (its path, without any query or
// fragment, ends in .jpg or .jpeg): then it is a snapshot address, else a stream.
bool UrlPathNamesJpeg(std::string_view url);
// Ends, case-insensitively, in .mjpg, .jpg or .jpeg, with something before it.
bool HasSaveExtension(std::string_view path);
// Expands the save path's time codes for now and creates the folder it names.
bool CreateSaveFolder(const std::string& savePathTemplate);

}  // namespace recorder::camera
