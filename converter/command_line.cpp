#include "converter/command_line.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <ostream>

#include "converter/conversion.h"
#include "converter/conversion_thread.h"
#include "converter/messages.h"
#include "platform/window_registry.h"

namespace converter {

namespace {

volatile sig_atomic_t gStopSignal = 0;

void OnStopSignal(int) { gStopSignal = 1; }

struct Options {
  std::string input;
  std::optional<std::string> output;
  int type = 0;
  std::string fps = kDefaultFrameRate;
  bool direct = true;
};

int UsageError(std::ostream& err, const std::string& what) {
  err << "brandle: " << what << "\n\n" << Usage();
  return kExitUsage;
}

// Prints progress as whole percents: in place on a terminal, a line per tenth otherwise.
class ProgressPrinter {
 public:
  explicit ProgressPrinter(std::ostream& err) : err_(err), terminal_(::isatty(STDERR_FILENO) == 1) {}
  void Show(intptr_t position, intptr_t frames) {
    const int percent = int(int64_t(position) * 100 / kFractionRange);
    if (terminal_) {
      if (percent == last_) return;
      err_ << "\rConverting: " << percent << "% (" << frames << " frames)" << std::flush;
      open_ = true;
    } else {
      if (percent / 10 == last_ / 10) return;
      err_ << "Converting: " << percent << "% (" << frames << " frames)\n" << std::flush;
    }
    last_ = percent;
  }
  void End() {
    if (open_) err_ << "\n";
    open_ = false;
  }

 private:
  std::ostream& err_;
  bool terminal_;
  bool open_ = false;
  int last_ = -10;
};

int Convert(const Options& options, std::ostream& out, std::ostream& err) {
  platform::CollectingWindowTarget target;
  const platform::WindowHandle window = platform::RegisterWindow(&target);
  ConversionRequest request;
  request.inputPath = options.input;
  request.outputPath = *options.output;
  request.videoType = options.type;
  request.frameRateText = options.fps;
  request.window = window;
  request.directDecode = options.direct;

  gStopSignal = 0;
  struct sigaction action {}, oldInt {}, oldTerm {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &oldInt);
  sigaction(SIGTERM, &action, &oldTerm);

  int result = -1;
  std::string detail;
  platform::ThreadHandlePtr thread = CConversionThread::Start(std::move(request));
  if (thread) {
    ProgressPrinter progress(err);
    bool ended = false, cancelSent = false;
    while (!ended) {
      if (gStopSignal && !cancelSent)
        cancelSent = platform::Post<to_conversion::ConvertCancel>(thread->Id());
      target.WaitForCount(1, 100);
      for (platform::Message& msg : target.TakeAll()) {
        if (platform::Is<to_converter_window::ConvertProgress>(msg)) progress.Show(msg.wParam, msg.lParam);
        else if (platform::Is<to_converter_window::ConvertResult>(msg)) {
          result = int(msg.wParam);
          detail = platform::Take<to_converter_window::ConvertResult>(msg);
        }
        else if (platform::Is<to_converter_window::ConvertEnded>(msg)) ended = true;
      }
    }
    progress.End();
    thread->Wait(-1);
  }
  platform::UnregisterWindow(window);
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);

  const std::string text = ResultText(result, detail);
  if (text.empty()) {
    err << "brandle: the conversion could not be started\n";
    return kExitFailed;
  }
  const bool completed = result == kResultComplete || result == kResultDamaged;
  (completed ? out : err) << text << "\n";
  if (result == kResultComplete) return kExitComplete;
  return result == kResultDamaged ? kExitDamaged : kExitFailed;
}

}  // namespace

std::string Usage() {
  std::string types, writable, missing;
  for (size_t i = 0; i < VideoTypes().size(); ++i) {
    const VideoType& t = VideoTypes()[i];
    types += std::string(types.empty() ? "" : "|") + "\"" + t.text + "\"";
    std::string& list = WhyTypeCannotBeWritten(int(i)).empty() ? writable : missing;
    list += std::string(list.empty() ? "" : ", ") + t.text;
  }
  return "Usage: brandle                     the converter window\n"
         "       brandle --screenshots DIR   its windows rendered to DIR/*.png, then exit\n"
         "       brandle INPUT.mjpg [OUTPUT] [--type TYPE] [--fps N] [--via-rgb]\n"
         "Converts an MJPG recording into a video file, every recorded frame one video\n"
         "frame at the chosen rate (the recording times are not used).\n"
         "  --type TYPE   " + types + "\n"
         "                (any case; default \"Windows Media Video\"). Divx, MSVC and MPEG4\n"
         "                write AVI files, \"Windows Media Video\" an ASF file.\n"
         "                This system can write: " + (writable.empty() ? "none" : writable) + "\n" +
         (missing.empty() ? "" : "                and has no encoder for: " + missing + "\n") +
         "  --fps N       frames per second, a whole number from 1 to 30 (default 10)\n"
         "  --via-rgb     decode every frame to 24-bit pixels first (slower; the output\n"
         "                looks the same)\n"
         "  -h, --help    this text\n"
         "  --version     the program version\n"
         "Without OUTPUT, the input's name with the type's extension is used (.wmv,\n"
         ".avi, or .mp4 for MPEG4). OUTPUT must not be the input. A file at OUTPUT is\n"
         "replaced only when the conversion has ended; a conversion that fails leaves it\n"
         "as it was. Damaged parts of the input are skipped and reported. Progress goes\n"
         "to standard error; SIGINT or SIGTERM stop early and keep what was converted\n"
         "as a playable file.\n"
         "Exit codes: 0 conversion complete, 1 conversion failed or stopped early,\n"
         "2 usage error, 3 conversion complete with damaged frames or bytes skipped.\n";
}

bool IsWindowStart(const std::vector<std::string>& args, std::string& screenshotDir) {
  screenshotDir.clear();
  if (args.empty()) return true;
  if (args.size() != 2 || args[0] != "--screenshots" || args[1].empty()) return false;
  screenshotDir = args[1];
  return true;
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return UsageError(err, "no input file");
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << Usage();
    return kExitComplete;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << kVersionText << "\n";
    return kExitComplete;
  }

  Options options;
  std::vector<std::string> paths;
  std::vector<std::string> seen;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool option = a == "--type" || a == "--fps" || a == "--via-rgb";
    if (option && std::find(seen.begin(), seen.end(), a) != seen.end())
      return UsageError(err, a + " is given more than once");
    if (option) seen.push_back(a);
    if (a == "--type" || a == "--fps") {
      if (i + 1 >= args.size()) return UsageError(err, a + " needs a value");
      const std::string& value = args[++i];
      if (a == "--fps") {
        // Whole digits only: "10abc" or "1e1" are not a rate.
        if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
          return UsageError(err, "--fps needs a whole number from 1 to 30, not \"" + value + "\"");
        options.fps = value;
      } else if ((options.type = FindVideoType(value)) < 0) {
        return UsageError(err, "unknown video type: " + value);
      } else if (const std::string why = WhyTypeCannotBeWritten(options.type); !why.empty()) {
        return UsageError(err, why);
      }
    } else if (a == "--via-rgb") {
      options.direct = false;
    } else if (a.size() > 1 && a[0] == '-' && a != "--") {
      return UsageError(err, "unknown option: " + a);
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) return UsageError(err, "no input file");
  if (paths.size() > 2) return UsageError(err, "unexpected argument: " + paths[2]);
  options.input = paths[0];
  options.output = paths.size() > 1 ? std::optional(paths[1]) : DeriveOutputPath(options.input, options.type);
  if (!options.output || options.output->empty())
    return UsageError(err, "no output file, and the input's name has no extension to replace");
  return Convert(options, out, err);
}

}  // namespace converter
