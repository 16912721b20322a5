#include "recorder/app/cli.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <optional>

#include "platform/ascii.h"
#include "platform/timecode.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/program_settings.h"
#include "recorder/camera/settings_check.h"
#include "recorder/camera/field_table.h"
#include "recorder/camera/settings_file.h"
#include "recorder/camera/settings_lock.h"
#include "recorder/capture/capture_service.h"
#include "recorder/capture/dx_video.h"
#include "recorder/recording/retention.h"
#include "recorder/web/serve_settings.h"

namespace recorder::app {

namespace {

using camera::CameraRecord;

using platform::ascii::StartsWithNoCase;

// The window version's start-hidden switch, in either spelling and any case.
bool IsStartHiddenSwitch(const std::string& arg) {
  return arg.size() == 2 && (arg[0] == '-' || arg[0] == '/') && (arg[1] == 'm' || arg[1] == 'M');
}

bool LooksLikeOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

// An unknown option or a stray argument: say which, then how the commands go.
int UsageError(std::ostream& err, const std::string& arg) {
  err << (LooksLikeOption(arg) ? "Unknown option: " : "Unexpected argument: ") << arg << "\n" << SettingsUsage();
  return kCliUsage;
}

int MissingArgument(std::ostream& err, const std::string& message) {
  err << message << "\n" << SettingsUsage();
  return kCliUsage;
}

// The settings file as it stands. A file that exists but cannot be read, or
// does not look like a settings file, is refused rather than overwritten.
struct Settings {
  std::vector<std::unique_ptr<CameraRecord>> cameras;
  int32_t logToFile = 0;
  camera::ProgramRecords program;  // carried through an edit unchanged

  std::vector<const CameraRecord*> Pointers() const {
    std::vector<const CameraRecord*> out;
    for (const auto& c : cameras) out.push_back(c.get());
    return out;
  }
};

bool Load(const std::string& path, Settings& settings, std::ostream& err) {
  // A file that cannot be read is reported, never overwritten by an empty list.
  const std::string problem = camera::SettingsFileReadProblem(path);
  if (!problem.empty()) {
    err << problem << "\n";
    return false;
  }
  camera::LoadedSettings loaded = camera::LoadSettingsFile(path);
  settings.cameras = std::move(loaded.cameras);
  settings.logToFile = loaded.logToFile;
  settings.program = std::move(loaded.program);
  return true;
}

// Read, change and write happen under the edit lock, so that commands running
// at the same time queue up instead of overwriting each other's changes. A
// running recorder would neither see an edit nor keep it, so edits are refused.
class Edit {
 public:
  bool Begin(const std::string& path, std::ostream& err) {
    path_ = path;
    std::string error;
    if (!lock_.Acquire(camera::EditLockPath(path), /*wait=*/true, &error)) {
      err << error << "\n";
      return false;
    }
    if (camera::RecorderRunning(path)) {
      err << "A recorder is running with " << path << "; stop it first\n";
      return false;
    }
    return Load(path, settings_, err);
  }
  Settings& settings() { return settings_; }
  bool Save(std::ostream& err) {
    if (!camera::SaveSettingsFile(path_, settings_.Pointers(), settings_.logToFile, settings_.program)) {
      err << "Could not save the settings file: " << path_ << "\n";
      return false;
    }
    return true;
  }

 private:
  std::string path_;
  camera::FileLock lock_;
  Settings settings_;
};

// Index of an existing camera, or nothing (with a message).
std::optional<size_t> ParseIndex(const std::string& text, const Settings& settings, std::ostream& err) {
  const std::optional<uint64_t> index = platform::ascii::ParseUnsigned(text, 999999999);
  if (!index || *index >= settings.cameras.size()) {
    err << "No camera with index " << text << " (there are " << settings.cameras.size() << " cameras)\n";
    return std::nullopt;
  }
  return static_cast<size_t>(*index);
}

// How the camera's worker gets its pictures, as the worker decides it.
const char* ModeOf(const CameraRecord& c) {
  if (c.cameraType != camera::kCameraIp) return "local";
  if (camera::IsRtspUrl(camera::GetText(c.url))) return "rtsp";
  if (!StartsWithNoCase(camera::GetText(c.url), "http://")) return "ftp";
  return c.pushStream != 0 ? "stream" : "snapshot";
}

int CmdList(const std::vector<std::string>& args, const std::string& path, std::ostream& out, std::ostream& err) {
  if (args.size() > 1) return UsageError(err, args[1]);
  Settings s;
  if (!Load(path, s, err)) return kCliError;
  // On standard error, so that the tab-separated lines stay the whole output.
  err << "Settings file: " << path << "\n";
  // Two cameras recording into the same file fail; compared as expanded now.
  const std::time_t now = std::time(nullptr);
  std::map<std::string, std::vector<size_t>> byPath;
  std::vector<std::string> expanded;
  for (size_t i = 0; i < s.cameras.size(); ++i) {
    expanded.push_back(platform::ExpandTimeCodes(camera::GetText(s.cameras[i]->savePath), now));
    byPath[expanded.back()].push_back(i);
  }
  for (size_t i = 0; i < s.cameras.size(); ++i) {
    const CameraRecord& c = *s.cameras[i];
    out << i << '\t' << (c.cameraType == camera::kCameraIp ? "IP" : "Local") << '\t'
        << camera::MaskUrlPassword(camera::GetText(c.url)) << '\t' << camera::GetText(c.savePath) << '\t' << ModeOf(c);
    if (!c.name.empty()) out << "\tname=" << c.name;
    std::string others;
    for (size_t j : byPath[expanded[i]])
      if (j != i) others += (others.empty() ? "" : ",") + std::to_string(j);
    if (!others.empty()) out << "\tsave path shared with " << others;
    out << '\n';
  }
  return kCliOk;
}

int CmdShow(const std::vector<std::string>& args, const std::string& path, std::ostream& out, std::ostream& err) {
  if (args.size() < 2) return MissingArgument(err, "--show needs a camera index");
  if (args.size() > 2) return UsageError(err, args[2]);
  Settings s;
  if (!Load(path, s, err)) return kCliError;
  const auto index = ParseIndex(args[1], s, err);
  if (!index) return kCliError;
  const CameraRecord& c = *s.cameras[*index];
  // Every line must go back through --set unchanged; a value that would not is
  // reported instead of printed, so a copy never silently differs.
  std::string error;
  const camera::Field* refused = nullptr;
  if (!camera::CameraIsValid(c, error, &refused)) {
    err << "Camera " << *index << " cannot be shown: its field " << refused->name
        << " holds a value that --set would refuse: " << error << "\n";
    return kCliError;
  }
  for (const camera::Field& f : camera::FieldTable()) out << f.name << '=' << f.format(c) << '\n';
  return kCliOk;
}

int CmdAddIp(const std::vector<std::string>& args, const std::string& path, std::ostream& out, std::ostream& err) {
  std::optional<std::string> url;
  bool push = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--push-stream")
      push = true;
    else if (LooksLikeOption(args[i]) || url)
      return UsageError(err, args[i]);
    else
      url = args[i];
  }
  if (!url) return MissingArgument(err, "--add-ip needs a URL");
  auto cam = camera::CreateDefaultCamera();
  cam->cameraType = camera::kCameraIp;
  std::string error;
  if (!camera::FindField("url")->parse(*cam, *url, error)) {
    err << error << "\n";
    return kCliError;
  }
  // The path alone tells a snapshot address from a stream; a query is no file name.
  cam->pushStream = (push || (StartsWithNoCase(*url, "http://") && !camera::UrlPathNamesJpeg(*url))) ? 1 : 0;

  Edit edit;
  if (!edit.Begin(path, err)) return kCliError;
  Settings& s = edit.settings();
  camera::SetText(cam->savePath, camera::UniqueDefaultSavePath(s.Pointers(), s.cameras.size()));
  s.cameras.push_back(std::move(cam));
  if (!edit.Save(err)) return kCliError;
  out << (s.cameras.size() - 1) << '\n';
  return kCliOk;
}

// A whole decimal number (optional minus sign) that fits an int32.
std::optional<int32_t> ParseInt32(const std::string& text) {
  if (!text.empty() && text[0] == '+') return std::nullopt;
  const std::optional<int64_t> value = platform::ascii::ParseWhole(text);
  if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
  return int32_t(*value);
}

int CmdAddLocal(const std::vector<std::string>& args, const std::string& path, std::ostream& out, std::ostream& err) {
  if (args.size() < 3)
    return MissingArgument(err, "--add-local needs a device index and a format such as \"640x480 24 bit\"");
  if (args.size() > 4) return UsageError(err, args[4]);
  const auto device = ParseInt32(args[1]);
  if (!device || *device < 0) {
    err << "--add-local: the device index must be a number from 0, not " << args[1] << "\n";
    return kCliError;
  }
  int width = 0, height = 0, bits = 0;
  capture::CDXVideo::ParseFormatText(args[2], width, height, bits);
  if (width <= 0 || height <= 0 || capture::SampleDepthFor(bits) == 0) {
    err << "--add-local: the format must read \"WIDTHxHEIGHT BITS bit\" with BITS 8, 9, 12, 16, 24 or 32, not \""
        << args[2] << "\"\n";
    return kCliError;
  }
  std::optional<int32_t> pin = 0;
  if (args.size() == 4) {
    pin = ParseInt32(args[3]);
    if (!pin || *pin < -1) {
      err << "--add-local: the input must be a number from -1 (none), not " << args[3] << "\n";
      return kCliError;
    }
  }
  auto cam = camera::CreateDefaultCamera();
  cam->cameraType = camera::kCameraLocal;
  cam->deviceIndex = *device;
  cam->formatWidth = width;
  cam->formatHeight = height;
  cam->formatBits = bits;
  cam->pinIndex = *pin;

  Edit edit;
  if (!edit.Begin(path, err)) return kCliError;
  Settings& s = edit.settings();
  camera::SetText(cam->savePath, camera::UniqueDefaultSavePath(s.Pointers(), s.cameras.size()));
  s.cameras.push_back(std::move(cam));
  if (!edit.Save(err)) return kCliError;
  out << (s.cameras.size() - 1) << '\n';
  return kCliOk;
}

// Every capture device position with its name and formats, so that --add-local
// can be given a device and a format it offers.
int CmdListDevices(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() > 1) return UsageError(err, args[1]);
  auto service = capture::DefaultCaptureService();
  const auto devices = service->Devices();
  if (!devices) {
    err << "Capture devices cannot be listed here\n";
    return kCliError;
  }
  capture::CDXVideo video(service);
  for (size_t position = 0; position < devices->size(); ++position) {
    const capture::DeviceEntry& entry = (*devices)[position];
    out << position << '\t' << (entry.nameReadable ? entry.name : "(cannot be opened)");
    capture::ComboList formats(true);
    if (entry.nameReadable && video.ListFormats(int(position), &formats) > 0) {
      // The format the device dialog would preselect comes first.
      out << '\t' << formats.SelectedText();
      for (const std::string& f : formats.Items())
        if (f != formats.SelectedText()) out << '\t' << f;
    }
    out << '\n';
  }
  return kCliOk;
}

// What --set says about a camera's retention limits; nothing is refused.
void WarnAboutRetention(const camera::CameraRecord& c, std::ostream& err) {
  const char* home = std::getenv("HOME");
  const std::string warning = recording::RetentionWarning(c, home ? home : "");
  if (!warning.empty()) err << "Warning: " << warning << "\n";
}

int CmdSet(const std::vector<std::string>& args, const std::string& path, std::ostream& err) {
  if (args.size() < 3) return MissingArgument(err, "--set needs an index and at least one FIELD=VALUE");
  // Check the form of every pair before touching the file.
  std::vector<std::pair<const camera::Field*, std::string>> pairs;
  for (size_t i = 2; i < args.size(); ++i) {
    const size_t eq = args[i].find('=');
    if (eq == std::string::npos || eq == 0) return UsageError(err, args[i]);
    const std::string name = args[i].substr(0, eq);
    const camera::Field* field = camera::FindField(name);
    if (!field) {
      err << "Unknown field: " << name << " (see --help)\n";
      return kCliUsage;
    }
    pairs.emplace_back(field, args[i].substr(eq + 1));
  }
  Edit edit;
  if (!edit.Begin(path, err)) return kCliError;
  Settings& s = edit.settings();
  const auto index = ParseIndex(args[1], s, err);
  if (!index) return kCliError;

  // Work on a copy so that a bad pair leaves the camera as it was.
  auto work = camera::CopyCamera(*s.cameras[*index]);
  bool savePathGiven = false;
  for (const auto& [field, value] : pairs) {
    std::string error;
    if (!field->parse(*work, value, error)) {
      err << error << "\n";
      return kCliError;
    }
    if (field->name == "savePath") savePathGiven = true;
  }
  // The folder is created only once every value passed, so that a refused
  // command leaves no trace.
  if (savePathGiven && !camera::CreateSaveFolder(camera::GetText(work->savePath))) {
    err << camera::kBadDirectoryMessage << "\n";
    return kCliError;
  }
  s.cameras[*index] = std::move(work);
  if (!edit.Save(err)) return kCliError;
  WarnAboutRetention(*s.cameras[*index], err);
  return kCliOk;
}

int CmdRemove(const std::vector<std::string>& args, const std::string& path, std::ostream& err) {
  if (args.size() < 2) return MissingArgument(err, "--remove needs a camera index");
  if (args.size() > 2) return UsageError(err, args[2]);
  Edit edit;
  if (!edit.Begin(path, err)) return kCliError;
  Settings& s = edit.settings();
  const auto index = ParseIndex(args[1], s, err);
  if (!index) return kCliError;
  s.cameras.erase(s.cameras.begin() + static_cast<std::ptrdiff_t>(*index));
  return edit.Save(err) ? kCliOk : kCliError;
}

int CmdLogToFile(const std::vector<std::string>& args, const std::string& path, std::ostream& err) {
  if (args.size() < 2) return MissingArgument(err, "--log-to-file needs 0 or 1");
  if (args.size() > 2) return UsageError(err, args[2]);
  if (args[1] != "0" && args[1] != "1") {
    err << "--log-to-file takes 0 or 1, not " << args[1] << "\n";
    return kCliError;
  }
  Edit edit;
  if (!edit.Begin(path, err)) return kCliError;
  edit.settings().logToFile = args[1] == "1" ? 1 : 0;
  return edit.Save(err) ? kCliOk : kCliError;
}

// --keep-free, --on-event, --offline-after: one program setting each.
int CmdProgramSetting(const std::vector<std::string>& args, const camera::ProgramField& field,
                      const std::string& path, std::ostream& err) {
  const std::string option = "--" + std::string(field.name);
  if (args.size() < 2) return MissingArgument(err, option + " needs a value");
  if (args.size() > 2) return UsageError(err, args[2]);
  std::string error;
  if (!camera::CheckProgramValue(field, args[1], error)) {
    err << error << "\n";
    return kCliError;
  }
  Edit edit;
  if (!edit.Begin(path, err)) return kCliError;
  camera::ProgramRecords& records = edit.settings().program;
  camera::ProgramSettings settings = camera::ReadProgramSettings(records);
  if (field.name == "keep-free") settings.keepFreePercent = static_cast<int32_t>(*platform::ascii::ParseWhole(args[1]));
  if (field.name == "offline-after")
    settings.offlineAfterSeconds = static_cast<int32_t>(*platform::ascii::ParseWhole(args[1]));
  if (field.name == "on-event") settings.onEventCommand = args[1];
  camera::WriteProgramSettings(settings, records);
  return edit.Save(err) ? kCliOk : kCliError;
}

// --serve ADDRESS:PORT|off and --serve-user, --serve-password, --serve-cert,
// --serve-key, each with its value, in any order and combination.
int CmdServe(const std::vector<std::string>& args, const std::string& path, std::ostream& out, std::ostream& err) {
  for (size_t i = 0; i < args.size(); i += 2) {
    const std::string& flag = args[i];
    if (flag != "--serve" && flag != "--serve-user" && flag != "--serve-password" && flag != "--serve-cert" &&
        flag != "--serve-key")
      return UsageError(err, flag);
    if (i + 1 >= args.size()) return MissingArgument(err, flag + " needs a value");
  }
  Edit edit;
  if (!edit.Begin(path, err)) return kCliError;
  web::ServeSettings serve = web::ReadServeSettings(edit.settings().program);
  for (size_t i = 0; i < args.size(); i += 2) {
    const std::string& flag = args[i];
    const std::string& value = args[i + 1];
    if (flag == "--serve") {
      if (value == "off") {
        serve.enabled = false;
        continue;
      }
      std::string error;
      if (!web::ParseServeAddress(value, serve.address, serve.port, error)) {
        err << "--serve: " << error << "\n";
        return kCliError;
      }
      serve.enabled = true;
    } else if (flag == "--serve-user") {
      serve.user = value;
    } else if (flag == "--serve-password") {
      serve.password = value;
    } else if (flag == "--serve-cert") {
      serve.certFile = value;
    } else {
      serve.keyFile = value;
    }
  }
  if (serve.enabled &&
      (serve.user + serve.password + serve.certFile + serve.keyFile).find_first_of("\r\n") != std::string::npos) {
    err << "Serving settings take no line breaks\n";
    return kCliError;
  }
  const std::string problem = web::ServeSettingsProblem(serve);
  if (!problem.empty()) {
    err << problem << "\n";
    return kCliError;
  }
  for (const std::string* file : {&serve.certFile, &serve.keyFile}) {
    if (serve.enabled && !file->empty() && ::access(file->c_str(), R_OK) != 0) {
      err << "Cannot read " << *file << "\n";
      return kCliError;
    }
  }
  web::WriteServeSettings(serve, edit.settings().program);
  if (!edit.Save(err)) return kCliError;
  if (serve.enabled)
    out << "The recorder serves its cameras at " << serve.WallUrl() << "\n";
  else
    out << "The recorder serves no live pictures\n";
  return kCliOk;
}

}  // namespace

std::string SettingsUsage() {
  std::string u =
      "Usage: tollan [-m] [--resume-all] [--show-views] | --headless | COMMAND\n"
      "  (no arguments)             start the window version\n"
      "  -m (or /m)                 start it hidden in the notification area and resume\n"
      "                             every camera 30 s later, unless Restore comes first\n"
      "  --resume-all               start every camera at once, appending\n"
      "  --show-views               open every camera's live view at once\n"
      "  --screenshots DIR          render every window to PNG files in DIR and exit\n"
      "  --headless                 record every camera of the settings file (appending),\n"
      "                             print each log entry on standard error naming its\n"
      "                             camera, start a failed camera again every 60 s, print\n"
      "                             a health line per camera on SIGUSR1 and every 10\n"
      "                             minutes, and stop all cameras in order on SIGINT,\n"
      "                             SIGTERM or SIGHUP; one recorder per settings file\n"
      "The settings file and Logfile.txt live in $TOLLAN_HOME when it is set. The\n"
      "settings file holds camera passwords and is written readable by its owner only.\n"
      "Settings commands (they read or edit the settings file and exit):\n"
      "  --list                     one line per camera, tab-separated: index, type\n"
      "                             (IP/Local), URL with the password masked, save path,\n"
      "                             mode (stream, snapshot, ftp or local), name=NAME when\n"
      "                             the camera has a name, and, when its expanded save\n"
      "                             path is another camera's too, a last column \"save\n"
      "                             path shared with\" those indices; the settings file's\n"
      "                             path goes to standard error\n"
      "  --show INDEX               every field of one camera as FIELD=VALUE lines, each\n"
      "                             one accepted unchanged by --set; passwords are printed\n"
      "                             in full, since this is the configuration itself. Copy\n"
      "                             a camera: tollan --show 0 | xargs -d '\\n' tollan --set 1\n"
      "  --add-ip URL [--push-stream]\n"
      "                             add a network camera with default settings and print\n"
      "                             its index; an http URL whose path (without a query)\n"
      "                             does not end in .jpg or .jpeg is taken as a push\n"
      "                             stream unless told otherwise; an rtsp:// or rtsps://\n"
      "                             URL is an RTSP camera (H.264/H.265; rtspTransport\n"
      "                             tcp or udp). A default save path\n"
      "                             that another camera uses becomes\n"
      "                             ~/Cameras/camera-N/%A/video.mjpg\n"
      "  --list-devices             one line per local capture device, tab-separated: its\n"
      "                             DEVICE_INDEX, its name, and its formats (the one the\n"
      "                             device dialog would choose first)\n"
      "  --add-local DEVICE_INDEX \"WxH B bit\" [PIN]\n"
      "                             add a local capture device with default settings and\n"
      "                             print its index: DEVICE_INDEX counts the video capture\n"
      "                             devices (/dev/video* nodes that capture, in node\n"
      "                             order, from 0), the format is one the device lists\n"
      "                             (\"640x480 24 bit\"), PIN is its input (default 0)\n"
      "  --set INDEX FIELD=VALUE... change fields of one camera\n"
      "  --remove INDEX             remove one camera\n"
      "  --log-to-file 0|1          write the event log to Logfile.txt\n"
      "  --keep-free PERCENT        keep this share (0..90) of the recordings' file system\n"
      "                             free by deleting the oldest recordings of all cameras\n"
      "                             together; 0 = off\n"
      "  --on-event COMMAND         run a shell command for every log event, with\n"
      "                             TOLLAN_CAMERA, TOLLAN_NAME, TOLLAN_EVENT, TOLLAN_DETAIL\n"
      "                             and TOLLAN_TIME set; \"\" = none. At most one command\n"
      "                             runs per camera; one that runs 30 s is killed\n"
      "  --offline-after SECONDS    log \"Camera offline\" when a running camera has given\n"
      "                             no picture for this long (1..86400, default 60)\n"
      "  --serve ADDRESS:PORT|off [--serve-user USER --serve-password PASSWORD]\n"
      "        [--serve-cert CERT.pem --serve-key KEY.pem]\n"
      "                             serve live pictures and the camera wall over HTTP\n"
      "                             (HTTPS with a certificate and key) while the recorder\n"
      "                             runs; ADDRESS is 127.0.0.1 unless named, and any\n"
      "                             address but loopback needs a user and password.\n"
      "                             The options also change one setting on their own\n"
      "  -h, --help                 this text\n"
      "  --version                  the program version\n"
      "Commands that change settings wait for one another, and are refused while a\n"
      "recorder runs with the same settings file.\n"
      "Fields for --set and --show:\n";
  for (const camera::Field& f : camera::FieldTable()) {
    std::string name = "  " + std::string(f.name);
    name.resize(std::max<size_t>(name.size() + 1, 29), ' ');
    u += name + std::string(f.help) + "\n";
  }
  u += "Numbers are whole decimal numbers (optional sign); anything else is refused.\n"
       "Out-of-range numbers are clamped as noted; 0/1 fields and choice lists take\n"
       "only the listed values. Colours are the raw value 0x00BBGGRR (blue, green, red).\n"
       "Texts take no line breaks. Every pair is checked before anything is saved; one\n"
       "bad pair saves nothing.\n"
       "Of the font fields, height, weight, italic, underline, strike-out and face take\n"
       "effect on the overlay; the others are kept in the settings file but not used.\n"
       "Exit codes: 0 done, 1 error (bad index or value, save failed, recorder running),\n"
       "2 usage error (unknown option or field, stray or missing argument).\n";
  return u;
}

bool ParseWindowStart(const std::vector<std::string>& args, WindowStart& start, std::string& error) {
  start = WindowStart();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (IsStartHiddenSwitch(a)) {
      start.hidden = true;
    } else if (a == "--resume-all") {
      start.resumeAll = true;
    } else if (a == "--show-views") {
      start.showViews = true;
    } else if (a == "--screenshots" && args.size() == 1) {
      error = "--screenshots needs a folder";
      return false;
    } else if (a == "--screenshots" && i == 0 && args.size() == 2) {
      start.screenshotDir = args[++i];
    } else {
      error = a == "--screenshots" ? "--screenshots takes only a folder" : "Unknown argument: " + a;
      return false;
    }
  }
  return true;
}

bool IsSettingsCommand(const std::vector<std::string>& args) {
  // Everything but the window version's start and the headless recorder is for
  // the settings commands, which refuse what they do not know.
  if (args.empty() || args[0] == "--headless") return false;
  WindowStart start;
  std::string error;
  return !ParseWindowStart(args, start, error);
}

int RunSettingsCommand(const std::vector<std::string>& args, const std::string& settingsPath, std::ostream& out,
                       std::ostream& err) {
  if (args.empty()) {
    err << SettingsUsage();
    return kCliUsage;
  }
  const std::string& cmd = args[0];
  if (cmd == "--help" || cmd == "-h" || cmd == "--version") {
    if (args.size() > 1) return UsageError(err, args[1]);
    if (cmd == "--version")
      out << kVersionText << '\n';
    else
      out << SettingsUsage();
    return kCliOk;
  }
  if (cmd == "--list") return CmdList(args, settingsPath, out, err);
  if (cmd == "--show") return CmdShow(args, settingsPath, out, err);
  if (cmd == "--add-ip") return CmdAddIp(args, settingsPath, out, err);
  if (cmd == "--add-local") return CmdAddLocal(args, settingsPath, out, err);
  if (cmd == "--list-devices") return CmdListDevices(args, out, err);
  if (cmd == "--set") return CmdSet(args, settingsPath, err);
  if (cmd == "--remove") return CmdRemove(args, settingsPath, err);
  if (cmd == "--log-to-file") return CmdLogToFile(args, settingsPath, err);
  if (cmd.rfind("--serve", 0) == 0) return CmdServe(args, settingsPath, out, err);
  if (cmd.size() > 2 && cmd.compare(0, 2, "--") == 0)
    if (const camera::ProgramField* f = camera::FindProgramField(std::string_view(cmd).substr(2)))
      return CmdProgramSetting(args, *f, settingsPath, err);
  return UsageError(err, cmd);
}

}  // namespace recorder::app
