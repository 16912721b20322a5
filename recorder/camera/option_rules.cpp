#include "recorder/camera/option_rules.h"

#include "platform/ascii.h"
#include "recorder/camera/field_table.h"

namespace recorder::camera {

namespace {

constexpr size_t kNumberChars = 49;  // what the edit's text buffer of 50 holds

}  // namespace

int64_t ReadEditNumber(std::string_view text) {
  text = text.substr(0, kNumberChars);
  size_t i = 0;
  while (i < text.size() && platform::ascii::IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const auto value = static_cast<int64_t>(platform::ascii::ReadDigits(text, i).value_or(0));
  return negative ? -value : value;
}

bool StoreEditNumber(CameraRecord& camera, std::string_view field, std::string_view text) {
  const Field* f = FindField(field);
  if (f == nullptr || f->kind != FieldKind::Number || !f->clamp) return false;
  std::string error;
  return f->parse(camera, std::to_string(f->clamp(ReadEditNumber(text))), error);
}

bool StoreChoice(CameraRecord& camera, std::string_view field, int index) {
  const Field* f = FindField(field);
  if (f == nullptr || (f->kind != FieldKind::Choice && f->kind != FieldKind::Flag)) return false;
  const int64_t value = index >= f->min && index <= f->max ? index : f->defaultChoice;
  std::string error;
  return f->parse(camera, std::to_string(value), error);
}

std::string CutAtCharacter(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t n = maxBytes;
  // Back up over continuation bytes so that no character is cut in half.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return std::string(text.substr(0, n));
}

namespace {

// The choices Rotate turns by; others leave the picture as it is.
bool Turns(int32_t rotation) {
  return rotation == 1 || rotation == 2 || rotation == 3 || rotation == 90 || rotation == 180 || rotation == 270;
}

}  // namespace

bool ChangesPicture(const CameraRecord& camera) {
  return camera.flipHorizontal == 1 || camera.flipVertical == 1 || Turns(camera.rotation) ||
         camera.overlayEnabled == 1;
}

std::string StoreAsSentBlocker(const CameraRecord& camera) {
  std::string changes;
  auto add = [&](const char* what) { changes += changes.empty() ? what : std::string(" and ") + what; };
  if (camera.flipHorizontal == 1 || camera.flipVertical == 1) add("flipping");
  if (Turns(camera.rotation)) add("rotation");
  if (camera.overlayEnabled == 1) add("the text overlay");
  if (changes.empty()) return "";
  return "Pictures are re-encoded while " + changes + " change them (Image Modify and Overlay pages).";
}

std::string SwitchSaveExtension(std::string_view path, std::string_view extension) {
  std::string text = EditText(path);
  // Only the file name's "." counts: a dotted folder name ("cams.d/video") keeps its name.
  const size_t slash = text.rfind('/');
  const size_t dot = text.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return text;
  std::string switched = text.substr(0, dot) + std::string(extension);
  return switched.size() <= kMaxTextInput ? switched : text;
}

std::optional<UserMessage> PrepareSavePath(const std::string& savePathTemplate) {
  if (!HasSaveExtension(savePathTemplate)) return UserMessage{kBadExtensionMessage, kInvalidSavePathCaption};
  if (savePathTemplate.empty() || savePathTemplate.front() != '/' || !CreateSaveFolder(savePathTemplate))
    return UserMessage{kBadDirectoryMessage, kDirectoryFailedCaption};
  return std::nullopt;
}

}  // namespace recorder::camera
