#include "converter/conversion.h"

#include <sys/stat.h>

#include <array>
#include <cctype>
#include <climits>

#include "platform/ascii.h"

namespace converter {

namespace {

const std::array<VideoType, 5> kVideoTypes = {{
    {"Windows Media Video", WriterKind::Wmv, 0, kWmvProfileGuid, ".wmv"},
    {"Divx", WriterKind::Avi, FourCc('D', 'I', 'V', 'X'), nullptr, ".avi"},
    {"I5V0", WriterKind::Avi, FourCc('I', 'V', '5', '0'), nullptr, ".avi"},
    {"MSVC", WriterKind::Avi, FourCc('M', 'S', 'V', 'C'), nullptr, ".avi"},
    // An AVI file like the others; only the suggested name differs.
    {"MPEG4", WriterKind::Avi, FourCc('M', 'P', 'G', '4'), nullptr, ".mp4"},
}};

const std::array<ResultMessage, 8> kResults = {{
    {"Possibilities for this error include:\n\nCodec not installed.\nCannot write to output file.\nCodec "
     "experienced an error.",
     "Convert Error", ResultIcon::Error},
    {"Could not open the MJPG file for reading.", "File Open Error", ResultIcon::Error},
    {"Conversion Completed Successfully.", "Conversion Complete!", ResultIcon::Information},
    {"Frame rate must be between 1 and 30 Fps.", "Frame Rate Invalid", ResultIcon::Error},
    {"Error Reading the MJPG Video File.", "Convert Error", ResultIcon::Error},
    {"Only part of the MJPG Video file was converted.\nThe converted file is still playable.", "Convert Canceled",
     ResultIcon::Exclamation},
    {"The output file is the MJPG file itself. Choose another output file.", "Output File Invalid",
     ResultIcon::Error},
    {"Conversion completed; damaged parts of the MJPG file were skipped.", "Conversion Complete!",
     ResultIcon::Exclamation},
}};

}  // namespace

std::span<const VideoType> VideoTypes() { return kVideoTypes; }

int FindVideoType(std::string_view text) {
  for (size_t i = 0; i < kVideoTypes.size(); ++i) {
    if (platform::ascii::EqualsNoCase(kVideoTypes[i].text, text)) return int(i);
  }
  return -1;
}

const ResultMessage* FindResultMessage(int code) {
  if (code < 0 || size_t(code) >= kResults.size()) return nullptr;
  return &kResults[size_t(code)];
}

std::string ResultText(int code, const std::string& detail) {
  const ResultMessage* message = FindResultMessage(code);
  if (!message) return "";
  if (detail.empty()) return message->text;
  if (code == kResultDamaged) return detail;
  return detail + "\n\n" + message->text;
}

std::string DamageText(uint64_t frames, uint64_t bytes, uint64_t firstOffset) {
  const auto count = [](uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::string text = "Conversion completed; ";
  if (frames > 0) text += count(frames, "damaged frame", "damaged frames");
  if (frames > 0 && bytes > 0) text += " and ";
  if (bytes > 0) text += count(bytes, frames > 0 ? "damaged byte" : "byte between frames",
                               frames > 0 ? "damaged bytes" : "bytes between frames");
  text += " skipped.";
  if (bytes > 0) text += " The first damage is at byte " + std::to_string(firstOffset) + " of the MJPG file.";
  return text;
}

std::optional<std::string> DeriveOutputPath(const std::string& input, int type) {
  if (type < 0 || size_t(type) >= kVideoTypes.size()) return std::nullopt;
  const size_t dot = input.rfind('.');
  const size_t slash = input.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
  return input.substr(0, dot) + kVideoTypes[size_t(type)].extension;
}

int ParseFrameRate(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && platform::ascii::IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const auto value = static_cast<int>(platform::ascii::ReadDigits(text, i, INT_MAX).value_or(0));
  return negative ? -value : value;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  // An empty path names no file: opening it fails as any missing input does.
  if (a.empty() || b.empty()) return false;
  if (a == b) return true;
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace converter
