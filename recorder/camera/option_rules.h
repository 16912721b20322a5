#pragma once
// The camera options' read rules: how the texts of the option edits and drop
// lists become record fields, the save path check that guards "Save", and the
// extension switch of the save format choice. Windows hand texts over; the rules
// stay here, where the headless recorder and the command line can use them too.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "recorder/camera/camera_record.h"

namespace recorder::camera {

inline constexpr const char* kInvalidSavePathCaption = "Invalid Save Path";
inline constexpr const char* kDirectoryFailedCaption = "Directory Creation Failed";

// A message for the user: its text and the caption of its box.
struct UserMessage {
  const char* text;
  const char* caption;
};

// An edit's number as "%d" reads it from the first 49 characters: leading white
// space, a sign and the digits up to the first other character. Text that holds
// no number gives 0; numbers beyond 64 bits saturate (the clamps then apply).
int64_t ReadEditNumber(std::string_view text);

// Stores an edit's number in a clamped number field of the field table
// (frameDelayMs, maxJpgCount, jpegQuality, motionTriggerLevel, frameSaveCount),
// through that field's clamp. False for a field without a clamp.
bool StoreEditNumber(CameraRecord& camera, std::string_view field, std::string_view text);

// Stores a drop list's selection in a choice field; an index outside the list
// (no selection) stores the field's default choice. False for a non-choice field.
bool StoreChoice(CameraRecord& camera, std::string_view field, int index);

// The text cut to at most maxBytes, before a UTF-8 character that would not fit whole.
std::string CutAtCharacter(std::string_view text, size_t maxBytes);
// An edit's text as a record takes it: at most 258 bytes, whole characters.
inline std::string EditText(std::string_view text) { return CutAtCharacter(text, kMaxTextInput); }

// Why pictures cannot be stored as the camera sent them: "" when nothing (flip,
// rotation, overlay) changes them, else the reason the options dialog shows.
std::string StoreAsSentBlocker(const CameraRecord& camera);
// True when flips, a turn or the overlay change the picture.
bool ChangesPicture(const CameraRecord& camera);

// The save path with its file name's extension replaced by `extension` (".mjpg",
// ".jpg"): the file name's last "." onwards is replaced. The path (taken up to 258
// bytes) comes back unchanged when its file name has no "." or when the result
// would not fit an edit.
std::string SwitchSaveExtension(std::string_view path, std::string_view extension);

// The check of "Save": the template must end in .mjpg, .jpg or .jpeg after some
// name, and the folder it names, expanded for the current local time, must exist
// or be created. Returns the message to show, or nothing when the path may be
// stored (with its codes unexpanded). A relative path fails like an uncreatable
// folder: where it lands would depend on the folder the recorder starts in.
std::optional<UserMessage> PrepareSavePath(const std::string& savePathTemplate);

}  // namespace recorder::camera
