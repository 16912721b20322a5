#include "recorder/app/cli.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <sys/stat.h>

#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/timecode.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/settings_file.h"

namespace recorder::app {

namespace {

using camera::CameraRecord;

const char* const kBadUrl = "Only ftp and http url's are supported";
const char* const kBadExtension = "Save path file extension is not valid, you must specify .mjpg or .jpg or .jpeg";
const char* const kBadDirectory =
    "Could not create save directory, you may have specified invalid characters,\n"
    "an invalid path, or a path without write access.";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && Lower(s.substr(0, prefix.size())) == prefix;
}

// Ends in the ending and has something before it.
bool EndsWithNoCase(const std::string& s, const std::string& ending) {
  return s.size() > ending.size() && Lower(s.substr(s.size() - ending.size())) == ending;
}

bool IsSupportedUrl(const std::string& url) {
  return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "ftp://");
}

// An http address that does not name a JPEG file delivers a push stream.
bool LooksLikePushStream(const std::string& url) {
  if (!StartsWithNoCase(url, "http://")) return false;
  return !EndsWithNoCase(url, ".jpg") && !EndsWithNoCase(url, ".jpeg");
}

bool HasSaveExtension(const std::string& path) {
  return EndsWithNoCase(path, ".mjpg") || EndsWithNoCase(path, ".jpg") || EndsWithNoCase(path, ".jpeg");
}

// A whole decimal number with an optional sign; values beyond 64 bits saturate
// so that the field's own clamp still applies.
std::optional<int64_t> ParseNumber(const std::string& text) {
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
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Colours are the raw 0x00BBGGRR value, in hex with "0x" or in decimal.
std::optional<uint32_t> ParseColour(const std::string& text) {
  uint64_t value = 0;
  if (StartsWithNoCase(text, "0x")) {
    if (text.size() == 2 || text.size() > 10) return std::nullopt;
    for (size_t i = 2; i < text.size(); ++i) {
      if (HexDigit(text[i]) < 0) return std::nullopt;
      value = value * 16 + static_cast<uint64_t>(HexDigit(text[i]));
    }
  } else {
    auto n = ParseNumber(text);
    if (!n || *n < 0) return std::nullopt;
    value = static_cast<uint64_t>(*n);
  }
  if (value > 0xFFFFFF) return std::nullopt;
  return static_cast<uint32_t>(value);
}

int32_t Clamp(int64_t v, int64_t lo, int64_t hi) { return static_cast<int32_t>(std::clamp(v, lo, hi)); }
constexpr int64_t kIntMax = std::numeric_limits<int32_t>::max();

// One editable field: checks the text and writes it into the record, or says what is wrong.
using Setter = std::function<bool(CameraRecord&, const std::string&, std::string& error)>;
struct Field {
  const char* name;
  const char* help;
  Setter set;
};

Setter NumberField(int32_t CameraRecord::*member, std::function<int32_t(int64_t)> rule) {
  return [member, rule](CameraRecord& cam, const std::string& v, std::string& error) {
    auto n = ParseNumber(v);
    if (!n) {
      error = "is not a number";
      return false;
    }
    cam.*member = rule(*n);
    return true;
  };
}

Setter RangeField(int32_t CameraRecord::*member, int64_t lo, int64_t hi) {
  return NumberField(member, [lo, hi](int64_t n) { return Clamp(n, lo, hi); });
}

// Values that come from a fixed choice list: anything outside it is refused.
Setter ChoiceField(int32_t CameraRecord::*member, int32_t count) {
  return [member, count](CameraRecord& cam, const std::string& v, std::string& error) {
    auto n = ParseNumber(v);
    if (!n || *n < 0 || *n >= count) {
      error = "must be a whole number from 0 to " + std::to_string(count - 1);
      return false;
    }
    cam.*member = static_cast<int32_t>(*n);
    return true;
  };
}

Setter FlagField(int32_t CameraRecord::*member) { return ChoiceField(member, 2); }

Setter TextSetter(camera::TextField CameraRecord::*member) {
  return [member](CameraRecord& cam, const std::string& v, std::string& error) {
    if (v.size() > camera::kMaxTextInput || v.find('\0') != std::string::npos) {
      error = "is longer than " + std::to_string(camera::kMaxTextInput) + " characters";
      return false;
    }
    camera::SetText(cam.*member, v);
    return true;
  };
}

Setter ColourField(uint32_t CameraRecord::*member) {
  return [member](CameraRecord& cam, const std::string& v, std::string& error) {
    auto c = ParseColour(v);
    if (!c) {
      error = "must be a colour 0x00BBGGRR (hex with 0x, or decimal) up to 0xFFFFFF";
      return false;
    }
    cam.*member = *c;
    return true;
  };
}

const std::vector<Field>& Fields() {
  static const std::vector<Field> fields = {
      {"cameraType", "0 network camera (IP), 1 local capture device", ChoiceField(&CameraRecord::cameraType, 2)},
      {"url", "http:// or ftp:// address (at most 258 characters)",
       [](CameraRecord& cam, const std::string& v, std::string& error) {
         if (!IsSupportedUrl(v)) {
           error = kBadUrl;
           return false;
         }
         return TextSetter(&CameraRecord::url)(cam, v, error);
       }},
      {"pushStream", "0/1, the address delivers a motion-JPEG push stream", FlagField(&CameraRecord::pushStream)},
      {"saveEnabled", "0/1", FlagField(&CameraRecord::saveEnabled)},
      {"frameDelayMs", "milliseconds, below 1 becomes 0, above 20000 becomes 20000",
       NumberField(&CameraRecord::frameDelayMs, [](int64_t n) { return n < 1 ? 0 : Clamp(n, 0, 20000); })},
      {"savePath", "template ending in .mjpg, .jpg or .jpeg; its folder is created",
       [](CameraRecord& cam, const std::string& v, std::string& error) {
         if (!HasSaveExtension(v)) {
           error = kBadExtension;
           return false;
         }
         return TextSetter(&CameraRecord::savePath)(cam, v, error);
       }},
      {"saveAsMjpg", "0/1, 1 one MJPG file, 0 numbered JPG files", FlagField(&CameraRecord::saveAsMjpg)},
      {"maxJpgCount", "below 1 becomes 1", RangeField(&CameraRecord::maxJpgCount, 1, kIntMax)},
      {"cleanSaveDir", "0/1", FlagField(&CameraRecord::cleanSaveDir)},
      {"flipHorizontal", "0/1", FlagField(&CameraRecord::flipHorizontal)},
      {"flipVertical", "0/1", FlagField(&CameraRecord::flipVertical)},
      {"rotation", "0 none, 1 90, 2 180, 3 270 degrees; anything else becomes 0",
       NumberField(&CameraRecord::rotation, [](int64_t n) { return n >= 0 && n <= 3 ? static_cast<int32_t>(n) : 0; })},
      {"jpegQuality", "0..100, clamped", RangeField(&CameraRecord::jpegQuality, 0, 100)},
      {"motionEnabled", "0/1", FlagField(&CameraRecord::motionEnabled)},
      {"motionTriggerLevel", "0..255, clamped", RangeField(&CameraRecord::motionTriggerLevel, 0, 255)},
      {"frameSaveCount", "negative becomes 1, 0 is kept",
       NumberField(&CameraRecord::frameSaveCount, [](int64_t n) { return n < 0 ? 1 : Clamp(n, 0, kIntMax); })},
      {"motionSound", "0/1", FlagField(&CameraRecord::motionSound)},
      {"soundFile", "wave file played on motion (at most 258 characters)", TextSetter(&CameraRecord::soundFile)},
      {"motionGrid", "exactly 800 hex digits (400 bytes, non-zero = ignore block)",
       [](CameraRecord& cam, const std::string& v, std::string& error) {
         if (v.size() != camera::kGridBytes * 2) {
           error = "must be exactly " + std::to_string(camera::kGridBytes * 2) + " hex digits";
           return false;
         }
         std::vector<uint8_t> grid(camera::kGridBytes);
         for (size_t i = 0; i < grid.size(); ++i) {
           int hi = HexDigit(v[2 * i]), lo = HexDigit(v[2 * i + 1]);
           if (hi < 0 || lo < 0) {
             error = "must hold hex digits only";
             return false;
           }
           grid[i] = static_cast<uint8_t>(hi * 16 + lo);
         }
         cam.motionGrid = std::move(grid);
         return true;
       }},
      {"overlayEnabled", "0/1", FlagField(&CameraRecord::overlayEnabled)},
      {"overlayText", "template with date and time codes (at most 258 characters)",
       TextSetter(&CameraRecord::overlayText)},
      {"overlayBackground", "0 Solid, 1 Transparent, 2 Shadow, 3 Outline",
       ChoiceField(&CameraRecord::overlayBackground, 4)},
      {"overlayVAlign", "0 CENTER, 1 TOP, 2 BOTTOM", ChoiceField(&CameraRecord::overlayVAlign, 3)},
      {"overlayHAlign", "0 CENTER, 1 LEFT, 2 RIGHT", ChoiceField(&CameraRecord::overlayHAlign, 3)},
      {"overlayBackColor", "0x00BBGGRR in hex (0x...) or decimal", ColourField(&CameraRecord::overlayBackColor)},
      {"overlayTextColor", "0x00BBGGRR in hex (0x...) or decimal", ColourField(&CameraRecord::overlayTextColor)},
  };
  return fields;
}

const Field* FindField(const std::string& name) {
  for (const Field& f : Fields())
    if (name == f.name) return &f;
  return nullptr;
}

// The settings file as it stands. A file that exists but cannot be read, or
// does not look like a settings file, is refused rather than overwritten.
struct Settings {
  std::vector<std::unique_ptr<CameraRecord>> cameras;
  int32_t logToFile = 0;
};

bool LoadForEdit(const std::string& path, Settings& settings, std::ostream& err) {
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      err << "Settings file is not a regular file: " << path << "\n";
      return false;
    }
    if (st.st_size > 0) {
      std::ifstream in(path, std::ios::binary);
      unsigned char head[4];
      if (!in || !in.read(reinterpret_cast<char*>(head), 4) || st.st_size < 12) {
        err << "Settings file cannot be read: " << path << "\n";
        return false;
      }
      const int32_t version = static_cast<int32_t>(platform::LoadLE32(head));
      if (version < 2000) {
        err << "Not a settings file this program can read: " << path << "\n";
        return false;
      }
    }
  }
  camera::LoadedSettings loaded = camera::LoadSettingsFile(path);
  settings.cameras = std::move(loaded.cameras);
  settings.logToFile = loaded.logToFile;
  return true;
}

bool Save(const std::string& path, const Settings& settings, std::ostream& err) {
  std::vector<const CameraRecord*> cams;
  for (const auto& c : settings.cameras) cams.push_back(c.get());
  if (!camera::SaveSettingsFile(path, cams, settings.logToFile)) {
    err << "Could not save the settings file: " << path << "\n";
    return false;
  }
  return true;
}

// Index of an existing camera, or nothing (with a message).
std::optional<size_t> ParseIndex(const std::string& text, const Settings& settings, std::ostream& err) {
  auto n = ParseNumber(text);
  if (!n || text[0] == '+' || text[0] == '-' || *n < 0 || static_cast<uint64_t>(*n) >= settings.cameras.size()) {
    err << "No camera with index " << text << " (there are " << settings.cameras.size() << " cameras)\n";
    return std::nullopt;
  }
  return static_cast<size_t>(*n);
}

int CmdList(const std::string& path, std::ostream& out, std::ostream& err) {
  Settings s;
  if (!LoadForEdit(path, s, err)) return kCliError;
  for (size_t i = 0; i < s.cameras.size(); ++i) {
    const CameraRecord& c = *s.cameras[i];
    out << i << '\t' << (c.cameraType == camera::kCameraLocal ? "DirectX" : "IP") << '\t'
        << camera::MaskUrlPassword(camera::GetText(c.url)) << '\t' << camera::GetText(c.savePath) << '\n';
  }
  return kCliOk;
}

int CmdAddIp(const std::vector<std::string>& args, const std::string& path, std::ostream& out, std::ostream& err) {
  std::optional<std::string> url;
  bool push = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--push-stream") {
      push = true;
    } else if (!url) {
      url = args[i];
    } else {
      err << "Unexpected argument: " << args[i] << "\n";
      return kCliUsage;
    }
  }
  if (!url) {
    err << "--add-ip needs a URL\n";
    return kCliUsage;
  }
  if (!IsSupportedUrl(*url)) {
    err << kBadUrl << "\n";
    return kCliError;
  }
  if (url->size() > camera::kMaxTextInput) {
    err << "URL is longer than " << camera::kMaxTextInput << " characters\n";
    return kCliError;
  }
  Settings s;
  if (!LoadForEdit(path, s, err)) return kCliError;
  auto cam = camera::CreateDefaultCamera();
  cam->cameraType = camera::kCameraIp;
  camera::SetText(cam->url, *url);
  cam->pushStream = (push || LooksLikePushStream(*url)) ? 1 : 0;
  s.cameras.push_back(std::move(cam));
  if (!Save(path, s, err)) return kCliError;
  out << (s.cameras.size() - 1) << '\n';
  return kCliOk;
}

int CmdSet(const std::vector<std::string>& args, const std::string& path, std::ostream& err) {
  if (args.size() < 3) {
    err << "--set needs an index and at least one FIELD=VALUE\n";
    return kCliUsage;
  }
  // Check the form of every pair before touching the file.
  std::vector<std::pair<const Field*, std::string>> pairs;
  for (size_t i = 2; i < args.size(); ++i) {
    auto eq = args[i].find('=');
    if (eq == std::string::npos || eq == 0) {
      err << "Expected FIELD=VALUE, got: " << args[i] << "\n";
      return kCliUsage;
    }
    std::string name = args[i].substr(0, eq);
    const Field* field = FindField(name);
    if (!field) {
      err << "Unknown field: " << name << " (see --help)\n";
      return kCliUsage;
    }
    pairs.emplace_back(field, args[i].substr(eq + 1));
  }
  Settings s;
  if (!LoadForEdit(path, s, err)) return kCliError;
  auto index = ParseIndex(args[1], s, err);
  if (!index) return kCliError;

  // Work on a copy so that a bad pair leaves the camera as it was.
  auto work = camera::CopyCamera(*s.cameras[*index]);
  bool savePathGiven = false;
  for (auto& [field, value] : pairs) {
    std::string error;
    if (!field->set(*work, value, error)) {
      // The dialog's own texts stand alone; the others name the field.
      if (error == kBadUrl || error == kBadExtension)
        err << error << "\n";
      else
        err << field->name << ": " << error << "\n";
      return kCliError;
    }
    if (std::string(field->name) == "savePath") savePathGiven = true;
  }
  // The folder is created only once every other value passed, so that a
  // refused command leaves no trace.
  if (savePathGiven) {
    std::string dir = platform::SaveDirectoryOf(platform::ExpandTimeCodes(camera::GetText(work->savePath)));
    if (!platform::CreateSaveDirectory(dir)) {
      err << kBadDirectory << "\n";
      return kCliError;
    }
  }
  s.cameras[*index] = std::move(work);
  return Save(path, s, err) ? kCliOk : kCliError;
}

int CmdRemove(const std::vector<std::string>& args, const std::string& path, std::ostream& err) {
  if (args.size() != 2) {
    err << "--remove needs exactly one index\n";
    return kCliUsage;
  }
  Settings s;
  if (!LoadForEdit(path, s, err)) return kCliError;
  auto index = ParseIndex(args[1], s, err);
  if (!index) return kCliError;
  s.cameras.erase(s.cameras.begin() + static_cast<std::ptrdiff_t>(*index));
  return Save(path, s, err) ? kCliOk : kCliError;
}

int CmdLogToFile(const std::vector<std::string>& args, const std::string& path, std::ostream& err) {
  if (args.size() != 2) {
    err << "--log-to-file needs 0 or 1\n";
    return kCliUsage;
  }
  if (args[1] != "0" && args[1] != "1") {
    err << "--log-to-file takes 0 or 1, not " << args[1] << "\n";
    return kCliError;
  }
  Settings s;
  if (!LoadForEdit(path, s, err)) return kCliError;
  s.logToFile = args[1] == "1" ? 1 : 0;
  return Save(path, s, err) ? kCliOk : kCliError;
}

const char* const kCommands[] = {"--list", "--add-ip", "--set", "--remove", "--log-to-file", "--help", "--version"};

}  // namespace

std::string SettingsUsage() {
  std::string u =
      "Usage: tollan --headless | COMMAND\n"
      "  --headless                 record every camera of the settings file (appending),\n"
      "                             print each log entry on standard error, and stop all\n"
      "                             cameras in order on SIGINT or SIGTERM\n"
      "The settings file and Logfile.txt live in $TOLLAN_HOME when it is set.\n"
      "Settings commands (they edit the settings file and exit):\n"
      "  --list                     one line per camera: index, type (IP/DirectX), URL\n"
      "                             with the password masked, save path; tab-separated\n"
      "  --add-ip URL [--push-stream]\n"
      "                             add a network camera with default settings and print\n"
      "                             its index; an http URL not ending in .jpg or .jpeg is\n"
      "                             taken as a push stream unless told otherwise\n"
      "  --set INDEX FIELD=VALUE... change fields of one camera\n"
      "  --remove INDEX             remove one camera\n"
      "  --log-to-file 0|1          write the event log to Logfile.txt\n"
      "  --help                     this text\n"
      "  --version                  the program version\n"
      "Fields for --set:\n";
  for (const Field& f : Fields()) {
    std::string name = "  " + std::string(f.name);
    name.resize(std::max<size_t>(name.size() + 1, 23), ' ');
    u += name + f.help + "\n";
  }
  u +=
      "Numbers are whole decimal numbers (optional sign); anything else is refused.\n"
      "Out-of-range numbers are clamped as noted; 0/1 fields and choice lists take\n"
      "only the listed values. Colours are the raw value 0x00BBGGRR (blue, green, red).\n"
      "Every pair is checked before anything is saved; one bad pair saves nothing.\n"
      "Exit codes: 0 done, 1 error (bad index or value, save failed), 2 usage error.\n";
  return u;
}

bool IsSettingsCommand(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  return std::find(std::begin(kCommands), std::end(kCommands), args[0]) != std::end(kCommands);
}

int RunSettingsCommand(const std::vector<std::string>& args, const std::string& settingsPath, std::ostream& out,
                       std::ostream& err) {
  if (args.empty()) {
    err << SettingsUsage();
    return kCliUsage;
  }
  const std::string& cmd = args[0];
  if (cmd == "--help") {
    out << SettingsUsage();
    return kCliOk;
  }
  if (cmd == "--version") {
    out << kVersionText << '\n';
    return kCliOk;
  }
  if (cmd == "--list") {
    if (args.size() != 1) {
      err << "--list takes no arguments\n";
      return kCliUsage;
    }
    return CmdList(settingsPath, out, err);
  }
  if (cmd == "--add-ip") return CmdAddIp(args, settingsPath, out, err);
  if (cmd == "--set") return CmdSet(args, settingsPath, err);
  if (cmd == "--remove") return CmdRemove(args, settingsPath, err);
  if (cmd == "--log-to-file") return CmdLogToFile(args, settingsPath, err);
  err << "Unknown command: " << cmd << "\n" << SettingsUsage();
  return kCliUsage;
}

}  // namespace recorder::app
