#include "player/cli.h"

#include <signal.h>

#include <climits>
#include <deque>
#include <functional>
#include <optional>

#include "media/frame_messages.h"
#include "media/mjpg_reader.h"
#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/window_registry.h"
#include "player/editing.h"
#include "player/file_info.h"
#include "player/messages.h"
#include "player/still_export.h"
#include "player/video_thread.h"

#ifndef VELMO_VERSION
#define VELMO_VERSION "0"
#endif

namespace player {

namespace {

using namespace to_video_thread;
using namespace to_player_window;
using platform::Post;

const char* const kUsage =
    "usage: velmo [FILE]\n"
    "       velmo --screenshots DIR\n"
    "       velmo --info FILE\n"
    "       velmo --extract FILE --from N --to M -o OUT\n"
    "       velmo --remove FILE --from N --to M -o OUT\n"
    "       velmo --append FILE SECOND -o OUT\n"
    "       velmo --export-frame FILE N -o OUT\n"
    "       velmo --help | --version\n"
    "\n"
    "Plays and edits MJPG recordings. Without a command the player window opens,\n"
    "playing FILE when one is given. Frames are counted from 1 in reading order.\n"
    "  --screenshots   every window rendered offscreen to DIR/*.png\n"
    "  --info          frame count, first and last frame times, file size and the\n"
    "                  damaged bytes skipped (exit status 1 when there were any)\n"
    "  --extract       frames N to M, byte for byte, into OUT\n"
    "  --remove        FILE without frames N to M into OUT\n"
    "  --append        FILE followed by SECOND into OUT\n"
    "  --export-frame  frame N as recorded into the JPEG file OUT (\".jpg\" added\n"
    "                  when the name has no dot)\n"
    "The output of an edit is never one of its inputs. It is written beside OUT and\n"
    "takes OUT's place only when complete: a failure, SIGINT or SIGTERM leaves an\n"
    "old OUT as it was. Damaged parts of a recording are read past. Exit status 0\n"
    "when done, 1 when the operation failed, 2 for a wrong command line.\n";

void PrintNotice(std::ostream& err, int code, const std::string& reason) {
  const NoticeText* n = FindNotice(code);
  if (!n) return;
  err << n->caption << ": " << n->text;
  if (!reason.empty()) err << ": " << reason;
  err << "\n";
}

// SIGINT and SIGTERM during an edit: the edit is stopped and nothing of it kept.
volatile sig_atomic_t gStopSignal = 0;
void OnStopSignal(int) { gStopSignal = 1; }

class StopSignals {
 public:
  StopSignals() {
    gStopSignal = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
  }

 private:
  struct sigaction oldInt_ {}, oldTerm_ {};
};

// A playback thread driven as the window drives it. The thread posts its frames
// and its messages for the window to one collecting target; the labels and bars
// are not needed here.
class Session {
 public:
  Session() : handle_(platform::RegisterWindow(&target_)) {}
  ~Session() {
    if (thread_) {
      Post<VT_CLOSE>(thread_->Id());
      thread_->Wait(-1);
    }
    platform::UnregisterWindow(handle_);
  }

  // Starts a thread on the file; true once its first frame is on view.
  bool Open(const std::string& path) {
    VideoThreadSetup setup;
    setup.path = path;
    setup.picture = handle_;
    setup.mainWindow = handle_;
    setup.sizeLabel = handle_;  // says whether a file that opened holds no frame
    setup.playOnOpen = false;
    thread_ = CVideoThread::Create(setup);
    if (!thread_) return false;
    platform::MessageThread::Resume(thread_);
    return Pump([&](platform::Message& msg) { return frame_ == 1 || platform::Is<PLAYER_THREAD_CLOSED>(msg); }) &&
           frame_ == 1;
  }

  // Steps forward to frame n (never back) and sets a mark there. False, with the
  // number of frames seen in *frames, when the file ends before frame n.
  bool MarkAt(int n, bool start, int* frames) {
    if (n > frame_) {
      const int before = frame_;
      Post<VT_STEP_FRAMES>(thread_->Id(), n - frame_);
      Pump([&](platform::Message& msg) {
        if (!platform::Is<PLAYER_STEPPED>(msg)) return false;
        frame_ = before + int(msg.wParam);  // only the last frame stepped to is shown
        return true;
      });
    }
    if (start) {
      Post<VT_MARK_START>(thread_->Id());
    } else {
      Post<VT_MARK_END>(thread_->Id());
    }
    const int expected = start ? kNoticeStartSet : kNoticeEndSet;
    Pump([&](platform::Message& msg) { return platform::Is<PLAYER_NOTICE>(msg) && msg.wParam == expected; });
    *frames = frame_;
    return frame_ == n;
  }

  // Runs an edit to its end; the notices it gave with their reasons, in order
  // (marks aside). A stop signal aborts the copy: *stopped is then set.
  std::vector<std::pair<int, std::string>> Edit(EditOp op, const EditFiles& files, bool* stopped) {
    switch (op) {
      case EditOp::Extract: Post<VT_EXTRACT>(thread_->Id(), 0, 0, files); break;
      case EditOp::Remove: Post<VT_REMOVE>(thread_->Id(), 0, 0, files); break;
      case EditOp::Append: Post<VT_APPEND>(thread_->Id(), 0, 0, files); break;
    }
    std::vector<std::pair<int, std::string>> notices;
    Pump([&](platform::Message& msg) {
      if (platform::Is<PLAYER_COPYING>(msg)) return msg.wParam == 0;
      if (!platform::Is<PLAYER_NOTICE>(msg)) return false;
      const int code = int(msg.wParam);
      notices.emplace_back(code, platform::Take<PLAYER_NOTICE>(msg));
      // These end an edit before its copy starts.
      return code == kNoticeMarksEqual || code == kNoticeStartAfterEnd || code == kNoticeCannotRead ||
             code == kNoticeCannotWrite || code == kNoticeOutputIsInput || code == kNoticeRemovesAll;
    }, stopped);
    return notices;
  }

  const std::vector<uint8_t>& FrameOnView() const { return picture_; }
  // After a failed Open: whether the file opened but showed no frame.
  bool Invalid() const { return invalid_; }

 private:
  // Takes messages in order, keeping the frame count and the picture, until
  // `done` says so; false when the thread ended first. With `stopped`, a stop
  // signal aborts the edit in progress and sets it.
  bool Pump(const std::function<bool(platform::Message&)>& done, bool* stopped = nullptr) {
    for (;;) {
      if (stopped && gStopSignal && !*stopped) *stopped = Post<VT_ABORT_EDIT>(thread_->Id());
      if (queue_.empty()) {
        if (!target_.WaitForCount(1, 100)) {
          if (thread_->Finished() && target_.Count() == 0) return false;
          continue;
        }
        for (platform::Message& m : target_.TakeAll()) queue_.push_back(std::move(m));
      }
      platform::Message msg = std::move(queue_.front());
      queue_.pop_front();
      if (const std::string* text = platform::Peek<to_control::SetText>(msg)) invalid_ = *text == kInvalidVideoFormat;
      if (platform::Is<media::ShowFrame>(msg) && msg.wParam == 1) {
        ++frame_;
        picture_ = platform::Take<media::ShowFrame>(msg);
      }
      if (done(msg)) return true;
    }
  }

  platform::CollectingWindowTarget target_;
  platform::WindowHandle handle_;
  platform::ThreadHandlePtr thread_;
  std::deque<platform::Message> queue_;
  int frame_ = 0;
  bool invalid_ = false;
  std::vector<uint8_t> picture_;
};

int CannotOpen(const std::string& path, std::ostream& err) {
  const std::string why = platform::ReadFailureReason(path);
  err << "velmo: cannot open " << path << ": " << (why.empty() ? "it could not be read" : why) << "\n";
  return 1;
}

// Why a file could not be edited or exported.
int NotOpened(const Session& session, const std::string& path, std::ostream& err) {
  if (session.Invalid()) {
    err << "velmo: " << path << ":" << kInvalidVideoFormat << "\n";
    return 1;
  }
  return CannotOpen(path, err);
}

std::optional<int> FrameNumber(const std::string& text) {
  const std::optional<uint64_t> n = platform::ascii::ParseUnsigned(text, 999999999);
  if (!n || *n < 1) return {};
  return int(*n);
}

struct Options {
  std::vector<std::string> files;
  std::optional<int> from, to;
  std::optional<std::string> output;
};

// Positional arguments and the options --from, --to and -o (or --output).
bool ParseOptions(const std::vector<std::string>& args, Options& o, std::ostream& err) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool valued = a == "--from" || a == "--to" || a == "-o" || a == "--output";
    if (valued && i + 1 >= args.size()) {
      err << "velmo: " << a << " needs a value\n";
      return false;
    }
    const bool repeated = (a == "--from" && o.from) || (a == "--to" && o.to) || ((a == "-o" || a == "--output") && o.output);
    if (repeated) {
      err << "velmo: " << a << " is given more than once\n";
      return false;
    }
    if (a == "--from" || a == "--to") {
      const auto n = FrameNumber(args[++i]);
      if (!n) {
        err << "velmo: " << a << " needs a frame number from 1 on, not \"" << args[i] << "\"\n";
        return false;
      }
      (a == "--from" ? o.from : o.to) = n;
    } else if (a == "-o" || a == "--output") {
      o.output = args[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      err << "velmo: unknown option " << a << "\n";
      return false;
    } else {
      o.files.push_back(a);
    }
  }
  return true;
}

// Frames and times of a file, and what the reader skipped in it: exit 1 when it
// skipped anything, so scripts see a damaged recording.
int Info(const std::string& path, std::ostream& out, std::ostream& err) {
  media::CMjpgReader reader;
  if (!reader.Open(path)) return CannotOpen(path, err);
  std::vector<uint8_t> jpeg;
  uint32_t first = 0, last = 0;
  if (!reader.ReadNextFrame(jpeg, &first)) {
    err << "velmo: " << path << ":" << kInvalidVideoFormat << "\n";
    return 1;
  }
  uint64_t frames = 1;
  last = first;
  while (reader.ReadNextFrame(jpeg, &last)) ++frames;
  const media::CMjpgReader::Damage& damage = reader.GetDamage();
  out << "Frames: " << frames << "\n"
      << "First frame time:" << TimeStampText(first) << "\n"
      << "Last frame time:" << TimeStampText(last) << "\n"
      << "Video Size: " << SizeText(int64_t(reader.GetLength())) << "\n"
      << "Damaged bytes skipped: " << damage.bytesSkipped << "\n";
  if (!damage.Any()) return 0;
  out << "Damaged frames skipped: " << damage.framesSkipped << "\n"
      << "First damage at byte: " << damage.firstOffset << "\n";
  err << "velmo: " << path << " is damaged: " << damage.bytesSkipped << " bytes skipped, the first at byte "
      << damage.firstOffset << "\n";
  return 1;
}

int NoFrame(std::ostream& err, const std::string& path, int n, int frames) {
  err << "velmo: " << path << " has no frame " << n << " (it holds " << frames << ")\n";
  return 1;
}

int Edit(EditOp op, const Options& o, std::ostream& err) {
  const std::string& path = o.files[0];
  Session session;
  if (!session.Open(path)) return NotOpened(session, path, err);
  EditFiles files;
  files.output = *o.output;
  if (op == EditOp::Append) {
    files.second = o.files[1];
  } else {
    // The marks are set walking forward, the earlier frame first.
    int frames = 0;
    if (!session.MarkAt(*o.from, true, &frames)) return NoFrame(err, path, *o.from, frames);
    if (!session.MarkAt(*o.to, false, &frames)) return NoFrame(err, path, *o.to, frames);
  }
  StopSignals signals;
  bool stopped = false;
  const auto notices = session.Edit(op, files, &stopped);
  for (const auto& [code, reason] : notices) PrintNotice(err, code, reason);
  if (stopped) {
    err << "velmo: stopped; " << files.output << " was not written\n";
    return 1;
  }
  return notices.empty() ? 0 : 1;
}

int ExportFrame(const Options& o, std::ostream& out, std::ostream& err) {
  const std::string& path = o.files[0];
  const auto n = FrameNumber(o.files[1]);
  if (!n) {
    err << "velmo: a frame number from 1 on is needed, not \"" << o.files[1] << "\"\n";
    return 2;
  }
  Session session;
  if (!session.Open(path)) return NotOpened(session, path, err);
  int frames = 0;
  if (!session.MarkAt(*n, true, &frames)) return NoFrame(err, path, *n, frames);
  // The copy the window would save: the frame's bytes as the picture received them.
  const std::vector<uint8_t> frame = session.FrameOnView();
  const std::string target = StillExportPath(*o.output);
  std::string reason;
  switch (SaveStill(frame, target, &reason)) {
    case StillSave::Saved: out << target << "\n"; return 0;
    case StillSave::CreateFailed: err << kStillCreateFailedCaption << ": " << kStillSaveFailed << ": " << reason << "\n"; return 1;
    case StillSave::WriteFailed: err << kStillWriteFailedCaption << ": " << kStillSaveFailed << ": " << reason << "\n"; return 1;
  }
  return 1;
}

}  // namespace

bool ParseWindowStart(const std::vector<std::string>& args, WindowStart& start) {
  start = {};
  if (args.empty()) return true;
  if (args.size() == 1 && !args[0].empty() && args[0][0] != '-') {
    start.file = args[0];
    return true;
  }
  if (args.size() == 2 && args[0] == "--" && !args[1].empty()) {
    start.file = args[1];
    return true;
  }
  if (args.size() == 2 && args[0] == "--screenshots" && !args[1].empty()) {
    start.screenshotDir = args[1];
    return true;
  }
  return false;
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string command = args.empty() ? "" : args[0];
  if (command == "--help" || command == "-h") {
    out << kUsage;
    return 0;
  }
  if (command == "--version") {
    out << "velmo " << VELMO_VERSION << "\n";
    return 0;
  }
  if (command.empty() || command[0] != '-' || command == "--") {
    err << "velmo: the window opens one file at a time\n" << kUsage;
    return 2;
  }
  Options o;
  if (!ParseOptions(args, o, err)) return 2;
  const auto wrong = [&]() {
    err << kUsage;
    return 2;
  };
  const bool hasOutput = o.output && !o.output->empty();
  if (command == "--info") {
    if (o.files.size() != 1 || o.from || o.to || o.output) return wrong();
    return Info(o.files[0], out, err);
  }
  if (command == "--extract" || command == "--remove") {
    if (o.files.size() != 1 || !o.from || !o.to || !hasOutput) return wrong();
    if (*o.from > *o.to) {
      err << "velmo: the start (--from " << *o.from << ") lies after the end (--to " << *o.to << ")\n";
      return 2;
    }
    return Edit(command == "--extract" ? EditOp::Extract : EditOp::Remove, o, err);
  }
  if (command == "--append") {
    if (o.files.size() != 2 || o.from || o.to || !hasOutput) return wrong();
    return Edit(EditOp::Append, o, err);
  }
  if (command == "--export-frame") {
    if (o.files.size() != 2 || o.from || o.to || !hasOutput) return wrong();
    return ExportFrame(o, out, err);
  }
  err << "velmo: unknown command " << command << "\n";
  return wrong();
}

}  // namespace player
