#pragma once
// Saving the frame on view as a JPEG file: its bytes exactly as recorded, time
// stamp comment included; nothing is decoded or re-encoded.
#include <cstdint>
#include <string>
#include <vector>

namespace player {

constexpr const char* kSaveFrameCommand = "Save Current Frame as JPEG";
constexpr const char* kStillSuggestedName = "frame.jpg";
constexpr const char* kStillFilter = "JPG Files (*.jpg)|*.jpg|All Files (*.*)|*.*||";
constexpr const char* kStillSaveFailed = "Unable to save JPG image";
constexpr const char* kStillCreateFailedCaption = "File creation failed";
constexpr const char* kStillWriteFailedCaption = "File write failed";

// The path a chosen name is saved under: blanks around the file name dropped, and
// ".jpg" appended when the name is empty or holds no '.' at all. Only the file
// name counts, so a dot in a folder name does not keep the extension away.
std::string StillExportPath(const std::string& chosen);

enum class StillSave { Saved, CreateFailed, WriteFailed };
// Writes the bytes beside the path and puts them in its place once they are all
// written, so a failed save leaves no cut-off picture and an old file as it was.
// *reason (when given) receives the path and the system's words for a failure.
StillSave SaveStill(const std::vector<uint8_t>& jpeg, const std::string& path, std::string* reason = nullptr);

}  // namespace player
