#include "player/video_thread.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "media/frame_messages.h"
#include "platform/files.h"
#include "player/file_info.h"
#include "player/thread_registry.h"

namespace player {

using namespace to_video_thread;
using namespace to_player_window;
using platform::Post;

namespace {

// A copy slice returns to the message loop at least this often, so timers and
// other messages are not held up for long.
constexpr auto kCopySlice = std::chrono::milliseconds(20);

}  // namespace

platform::ThreadHandlePtr CVideoThread::Create(VideoThreadSetup setup) {
  return platform::MessageThread::CreateSuspended(std::make_unique<CVideoThread>(std::move(setup)));
}

CVideoThread::CVideoThread(VideoThreadSetup setup)
    : setup_(std::move(setup)),
      registry_(setup_.registry ? setup_.registry : &CThreadRegistry::Instance()),
      frameDelayMs_(setup_.frameDelayMs) {}

CVideoThread::~CVideoThread() = default;

bool CVideoThread::InitInstance() {
  if (!registry_->Add(Id(), Handle(), kRegistryGroup)) return false;
  Post<VT_OPEN>(Id());
  return true;
}

int CVideoThread::ExitInstance() {
  if (copy_) EndCopy(CopyEnd::Discard);
  registry_->Remove(Id());
  return MessageThread::ExitInstance();
}

void CVideoThread::OnMessage(platform::Message& msg) {
  switch (msg.id) {
    case VT_CLOSE::kNumber: Close(); break;
    case VT_OPEN::kNumber: Open(); break;
    case VT_PLAY_PAUSE::kNumber: PlayPause(); break;
    case VT_SEEK::kNumber: Seek(int(std::clamp<intptr_t>(msg.wParam, INT32_MIN, INT32_MAX))); break;
    case VT_SET_DELAY::kNumber: SetDelay(int32_t(std::clamp<intptr_t>(msg.wParam, INT32_MIN, INT32_MAX))); break;
    case VT_PREV_FRAME::kNumber: Step(Move::Previous); break;
    case VT_NEXT_FRAME::kNumber: Step(Move::Next); break;
    case VT_STEP_FRAMES::kNumber: StepFrames(msg.wParam); break;
    case VT_MARK_START::kNumber:
      StopPlaying();
      startMark_ = reader_.GetFrameStart();
      PostNotice(kNoticeStartSet);
      break;
    case VT_MARK_END::kNumber:
      StopPlaying();
      endMark_ = reader_.GetPosition();
      PostNotice(kNoticeEndSet);
      break;
    case VT_EXTRACT::kNumber: BeginEdit(EditOp::Extract, msg); break;
    case VT_REMOVE::kNumber: BeginEdit(EditOp::Remove, msg); break;
    case VT_APPEND::kNumber: BeginEdit(EditOp::Append, msg); break;
    case VT_FILES_CHOSEN::kNumber: FilesChosen(msg); break;
    case VT_CANCEL_EDIT::kNumber: cancel_ = true; break;
    case VT_ABORT_EDIT::kNumber: abort_ = true; break;
    case VT_FRAME_SHOWN::kNumber: FrameShown(); break;
    case VT_COPY_STEP::kNumber: CopyStep(); break;
    default: break;
  }
}

void CVideoThread::OnTimer(uint32_t timerId) {
  if (timerId != playTimer_) return;  // a timer killed or replaced meanwhile
  // Timers fire once; the next tick is set before the frame is read, so the period
  // stays the delay however long the read takes, and no tick is made up.
  StartPlayTimer();
  // The picture is behind: this tick's frame waits until it has shown one, so
  // reading never runs ahead of the picture (memory stays flat at any delay).
  if (setup_.pictureAnswers && framesInFlight_ >= kFramesInFlight) {
    tickWaiting_ = true;
    return;
  }
  if (!ShowFrame(Move::Next)) StopPlaying();
}

void CVideoThread::FrameShown() {
  if (framesInFlight_ > 0) --framesInFlight_;
  if (!tickWaiting_) return;
  tickWaiting_ = false;
  if (playTimer_ && !ShowFrame(Move::Next)) StopPlaying();
}

void CVideoThread::Open() {
  if (!reader_.Open(setup_.path, media::CMjpgReader::Sharing::ReadWrite)) {
    Post<VT_CLOSE>(Id());
    return;
  }
  Post<to_control::SetRange32>(setup_.positionBar, 0, reader_.GetFractionRange());
  if (ShowFrame(Move::Next)) {
    if (setup_.playOnOpen) {
      StartPlayTimer();
      Post<PLAYER_PLAY_STATE>(setup_.mainWindow, 1);
    }
  } else {
    Post<to_control::SetText>(setup_.sizeLabel, 0, 0, std::string(kInvalidVideoFormat));
    Post<VT_CLOSE>(Id());
  }
}

void CVideoThread::Close() {
  stop_ = true;
  if (copy_) EndCopy(CopyEnd::Discard);
  pendingSource_.Reset();
  if (playTimer_) KillTimer(playTimer_);
  playTimer_ = 0;
  reader_.Close();
  Post<media::ShowFrame>(setup_.picture, 0, 0);
  Post<PLAYER_THREAD_CLOSED>(setup_.mainWindow, 0);
  PostQuit();
}

bool CVideoThread::ShowFrame(Move move, int fraction) {
  if (busy_) return true;
  busy_ = true;
  std::vector<uint8_t> jpeg;
  uint32_t stamp = 0;
  const bool read = move == Move::Next       ? reader_.ReadNextFrame(jpeg, &stamp)
                    : move == Move::Previous ? reader_.ReadPreviousFrame(jpeg, &stamp)
                                             : reader_.SeekToFraction(fraction, jpeg, &stamp);
  if (!read) {
    busy_ = false;
    return false;
  }
  Post<to_control::SetPosition>(setup_.positionBar, reader_.GetPositionFraction());
  // The length is asked again for every frame: a file still being recorded grows.
  Post<to_control::SetText>(setup_.sizeLabel, 0, 0, VideoSizeLabel(reader_.GetLength()));
  Post<to_control::SetText>(setup_.timeLabel, 0, 0, TimeStampText(stamp));
  const intptr_t length = intptr_t(jpeg.size());
  if (Post<media::ShowFrame>(setup_.picture, 1, length, std::move(jpeg))) ++framesInFlight_;
  busy_ = false;
  return true;
}

void CVideoThread::StartPlayTimer() {
  if (playTimer_) KillTimer(playTimer_);
  // A negative delay cannot come from the window's digits-only edit; it counts as 0,
  // the shortest period.
  playTimer_ = SetTimer(uint32_t(std::max<int32_t>(frameDelayMs_, 0)));
}

void CVideoThread::StopPlaying() {
  tickWaiting_ = false;
  if (!playTimer_) return;
  KillTimer(playTimer_);
  playTimer_ = 0;
  Post<PLAYER_PLAY_STATE>(setup_.mainWindow, 0);
}

void CVideoThread::PlayPause() {
  if (playTimer_) {
    StopPlaying();
  } else if (ShowFrame(Move::Next)) {
    StartPlayTimer();
    Post<PLAYER_PLAY_STATE>(setup_.mainWindow, 1);
  }
}

void CVideoThread::Step(Move move) {
  StopPlaying();
  ShowFrame(move);
}

void CVideoThread::StepFrames(intptr_t count) {
  StopPlaying();
  intptr_t stepped = 0;
  // The frames passed over are cut, not copied or shown; a close waiting ends the walk.
  while (stepped + 1 < count && reader_.SkipNextFrame()) {
    ++stepped;
    if (stepped % 4096 == 0 && StopWaiting(VT_CLOSE::kNumber)) break;
  }
  if (stepped + 1 == count && ShowFrame(Move::Next)) ++stepped;
  Post<PLAYER_STEPPED>(setup_.mainWindow, stepped);
}

void CVideoThread::Seek(int fraction) {
  const bool wasPlaying = playTimer_ != 0;
  if (playTimer_) KillTimer(playTimer_);
  playTimer_ = 0;
  if (ShowFrame(Move::Seek, fraction) && wasPlaying) {
    StartPlayTimer();  // playing goes on from the new place
  } else {
    Post<PLAYER_PLAY_STATE>(setup_.mainWindow, 0);
  }
}

void CVideoThread::SetDelay(int32_t delayMs) {
  frameDelayMs_ = delayMs;
  if (playTimer_) StartPlayTimer();
}

void CVideoThread::PostNotice(int code, std::string reason) {
  Post<PLAYER_NOTICE>(setup_.mainWindow, code, 0, std::move(reason));
}

namespace {

std::string CannotReadReason(const std::string& path) {
  const std::string why = platform::ReadFailureReason(path);
  return path + ": " + (why.empty() ? "it could not be read" : why);
}

// Whether a whole frame lies in the bytes [from, to) of the file.
bool HoldsWholeFrame(const std::string& path, uint64_t from, uint64_t to) {
  media::CMjpgReader reader;
  if (from >= to || !reader.Open(path)) return false;
  reader.SetPosition(from);
  std::vector<uint8_t> jpeg;
  return reader.ReadNextFrame(jpeg) && reader.GetPosition() <= to;
}

}  // namespace

void CVideoThread::BeginEdit(EditOp op, platform::Message& msg) {
  StopPlaying();
  // One edit at a time: the window is disabled during a copy, so a second request
  // can only come from elsewhere.
  if (copy_ || pendingSource_) return;
  if (op != EditOp::Append) {
    if (const int notice = SelectionTest(startMark_, endMark_)) {
      PostNotice(notice);
      return;
    }
  }
  UniqueFd source = OpenEditInput(setup_.path);
  if (!source) {
    PostNotice(kNoticeCannotRead, CannotReadReason(setup_.path));
    return;
  }
  // A removal must leave a frame before or after the selection; an empty file is
  // no recording.
  if (op == EditOp::Remove && !HoldsWholeFrame(setup_.path, 0, startMark_) &&
      !HoldsWholeFrame(setup_.path, endMark_, FileLength(source.Get()))) {
    PostNotice(kNoticeRemovesAll);
    return;
  }
  // The three edit messages carry the same payload type.
  if (const EditFiles* files = msg.Peek<EditFiles>()) {
    ContinueEdit(op, std::move(source), *files);
    return;
  }
  // The window shows its file dialogs and answers with VT_FILES_CHOSEN.
  if (Post<PLAYER_CHOOSE_FILES>(setup_.mainWindow, intptr_t(op))) {
    pendingOp_ = op;
    pendingSource_ = std::move(source);
  }
}

void CVideoThread::FilesChosen(platform::Message& msg) {
  if (!pendingSource_ || msg.wParam != intptr_t(pendingOp_)) return;
  const EditFiles files = platform::Take<VT_FILES_CHOSEN>(msg);
  UniqueFd source = std::move(pendingSource_);
  if (files.output.empty()) return;  // the user cancelled: nothing to do
  ContinueEdit(pendingOp_, std::move(source), files);
}

void CVideoThread::ContinueEdit(EditOp op, UniqueFd source, const EditFiles& files) {
  std::vector<UniqueFd> inputs;
  UniqueFd second;
  if (op == EditOp::Append) {
    second = OpenEditInput(files.second);
    if (!second) {
      PostNotice(kNoticeCannotRead, CannotReadReason(files.second));
      return;
    }
  }
  int notice = 0;
  std::string reason;
  platform::ReplacementFile output =
      CreateEditOutput(files.output, {source.Get(), second ? second.Get() : source.Get()}, notice, reason);
  if (!output.IsOpen()) {
    PostNotice(notice, reason);
    return;
  }
  CopyPlan plan;
  switch (op) {
    case EditOp::Extract: plan = PlanExtract(source.Get(), startMark_, endMark_); break;
    case EditOp::Remove: plan = PlanRemove(source.Get(), FileLength(source.Get()), startMark_, endMark_); break;
    case EditOp::Append:
      plan = PlanAppend(source.Get(), FileLength(source.Get()), second.Get(), FileLength(second.Get()));
      break;
  }
  inputs.push_back(std::move(source));
  if (second) inputs.push_back(std::move(second));
  copy_ = std::make_unique<CopyJob>(std::move(inputs), std::move(output), std::move(plan));
  cancel_ = false;
  abort_ = false;
  Post<PLAYER_COPYING>(setup_.mainWindow, 1);
  Post<VT_COPY_STEP>(Id());
}

void CVideoThread::CopyStep() {
  if (!copy_) return;
  if (stop_ || cancel_ || abort_) {
    // A cancel keeps what was copied; a close or an abort keeps nothing.
    EndCopy(cancel_ && !stop_ && !abort_ ? CopyEnd::Keep : CopyEnd::Discard);
    return;
  }
  const auto until = std::chrono::steady_clock::now() + kCopySlice;
  // Between chunks: a close or a cancel waiting in the queue, or the end of the
  // slice, sends the copy back to the loop, which handles what waits first.
  auto yield = [&] {
    return StopWaiting(VT_CLOSE::kNumber) || StopWaiting(VT_CANCEL_EDIT::kNumber) ||
           StopWaiting(VT_ABORT_EDIT::kNumber) || std::chrono::steady_clock::now() >= until;
  };
  auto notice = [&](int code, const std::string& reason) { PostNotice(code, reason); };
  auto progress = [&](int percent) { Post<to_control::SetPosition>(setup_.progressBar, percent); };
  if (copy_->Run(yield, notice, progress) == CopyJob::State::Running) {
    Post<VT_COPY_STEP>(Id());
    return;
  }
  EndCopy(CopyEnd::Finished);
}

void CVideoThread::EndCopy(CopyEnd how) {
  if (how != CopyEnd::Finished) copy_->Stop(how == CopyEnd::Keep);
  copy_.reset();
  Post<PLAYER_COPYING>(setup_.mainWindow, 0);
}

}  // namespace player
