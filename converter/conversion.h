#pragma once
// What the converter offers and answers, shared by its window and command line:
// the video types, the result codes with their message texts, the output path
// suggested for an input, and how the frame rate text is read.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace converter {

enum class WriterKind { Wmv, Avi };

struct VideoType {
  const char* text;       // as the type list shows it
  WriterKind writer;
  uint32_t codecCode;     // four-character code for the AVI writer, 0 for WMV
  const char* profile;    // system profile for the WMV writer, nullptr for AVI
  const char* extension;  // suggested for the output path
};

// The type list in its order; the first is the one selected at start.
std::span<const VideoType> VideoTypes();
// Index of the type whose text matches (case-insensitively), or -1.
int FindVideoType(std::string_view text);

constexpr uint32_t FourCc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

constexpr const char* kWmvProfileGuid = "{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}";

constexpr int kFrameRateMin = 1;
constexpr int kFrameRateMax = 30;
constexpr const char* kDefaultFrameRate = "10";
// The progress scale: positions are byte fractions of the input on this scale.
constexpr int kFractionRange = 86400;

// Results of one conversion.
enum ConvertResultCode : int {
  kResultWriterError = 0,
  kResultOpenError = 1,
  kResultComplete = 2,
  kResultRateInvalid = 3,
  kResultReadError = 4,
  kResultCanceled = 5,
  // Ours: the output path names the input file itself, so converting would first
  // delete the recording. Nothing is touched.
  kResultSameFile = 6,
  // Ours: every whole frame converted, but damaged frames or bytes were skipped.
  kResultDamaged = 7,
};

enum class ResultIcon { Error, Information, Exclamation };
struct ResultMessage {
  const char* text;
  const char* caption;
  ResultIcon icon;
};
// The message a result shows; nullptr for codes that show nothing.
const ResultMessage* FindResultMessage(int code);
// The text a result shows with the conversion's own detail (why it failed, or what
// damage was skipped) put first; "" for codes that show nothing.
std::string ResultText(int code, const std::string& detail);
// What a conversion skipped, as its result says it: "Conversion completed; 1
// damaged frame skipped." and the like.
std::string DamageText(uint64_t frames, uint64_t bytes, uint64_t firstOffset);

// The output path suggested for an input and a type: the input up to the last '.'
// of its file name, then the type's extension. Without a '.' in the file name there
// is no suggestion (a '.' in a folder name does not count).
std::optional<std::string> DeriveOutputPath(const std::string& input, int type);

// The frame rate as the rate field gives it: leading white space, an optional sign
// and the leading digits, saturating; empty or no digits gives 0.
int ParseFrameRate(std::string_view text);

// Whether two paths name the same file: the same text, or the same file on disk
// (links and other spellings included). An empty path is never the same file.
bool IsSameFile(const std::string& a, const std::string& b);

}  // namespace converter
