#pragma once
// The field table: every stored field of the camera record by name, with its
// range or choice list, help text and validation messages, and the rules that
// turn a value into text and back. The settings commands (--set, --show, --help)
// and the camera options dialog read this one table, and every camera loaded
// from a settings file passes through its clamps.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "recorder/camera/camera_record.h"

namespace recorder::camera {

// The options dialog's own texts, used as they stand.
inline constexpr const char* kBadUrlMessage = "Only ftp and http url's are supported";
inline constexpr const char* kBadExtensionMessage =
    "Save path file extension is not valid, you must specify .mjpg or .jpg or .jpeg";
inline constexpr const char* kBadDirectoryMessage =
    "Could not create save directory, you may have specified invalid characters,\n"
    "an invalid path, or a path without write access.";

enum class FieldKind {
  Number,  // whole number in [min, max]; typed values outside are clamped when the field has a clamp, else refused
  Flag,    // 0 or 1
  Choice,  // index into a drop list
  Colour,  // 0x00BBGGRR
  Text,    // NUL-terminated text of at most maxLength characters
  Grid,    // the 400 motion grid bytes as 800 hex digits
};

struct Field {
  std::string name;
  FieldKind kind = FieldKind::Number;
  std::string help;
  // Number, Flag, Choice, Colour: the range every stored value lies in.
  int64_t min = 0;
  int64_t max = 0;
  // Choice: the drop list's entries in order; the stored value is the index.
  std::vector<std::string> choices;
  // Choice: what a value outside the list becomes when a file is loaded.
  int32_t defaultChoice = 0;
  // Text: the most characters taken.
  size_t maxLength = 0;

  // The value as the text that Parse takes back unchanged.
  std::function<std::string(const CameraRecord&)> format;
  // Checks typed text and stores it. Numbers with a clamp are clamped as the
  // options dialog clamps them; anything else out of place is refused, and
  // `error` then says why (naming the field, except the dialog's own texts).
  std::function<bool(CameraRecord&, std::string_view text, std::string& error)> parse;
  // Brings a value read from a settings file into range: numbers clamped, flags
  // to 0/1, choices outside the list to their default. Texts are left alone.
  std::function<void(CameraRecord&)> clampLoaded;
  // Number fields with a clamp: the dialog's read rule, typed value -> stored value.
  std::function<int64_t(int64_t)> clamp;
};

// Every stored field, in the order of the settings file's camera block
// (leading word first, motion grid last).
const std::vector<Field>& FieldTable();
// The field of that name (case-sensitive), or nullptr.
const Field* FindField(std::string_view name);

// Passes every field of a camera read from a settings file through its clamp,
// so that a damaged file cannot, say, make a worker sleep for an hour.
void ClampLoadedCamera(CameraRecord& camera);
// Whether every field of the camera holds a value that its Parse would accept
// again; false with the first refused field and its message otherwise.
bool CameraIsValid(const CameraRecord& camera, std::string& error, const Field** refused = nullptr);

// "http://" or "ftp://", case-insensitively.
bool IsSupportedUrl(std::string_view url);
// Whether an http address names a JPEG image (its path, without any query or
// fragment, ends in .jpg or .jpeg): then it is a snapshot address, else a stream.
bool UrlPathNamesJpeg(std::string_view url);
// Ends, case-insensitively, in .mjpg, .jpg or .jpeg, with something before it.
bool HasSaveExtension(std::string_view path);
// Expands the save path's time codes for now and creates the folder it names.
bool CreateSaveFolder(const std::string& savePathTemplate);

}  // namespace recorder::camera
