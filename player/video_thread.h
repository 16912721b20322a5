#pragma once
// The playback thread: one per opened file. It owns the frame reader, paces
// playback with a timer, posts each frame to the picture window, keeps the
// position bar and the two status labels current, holds the edit marks and runs
// the edits. A window drives it only by posting the messages of
// player::to_video_thread to its id, and learns its state from the messages of
// player::to_player_window posted back to the main window handle.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "media/mjpg_reader.h"
#include "platform/message_thread.h"
#include "player/editing.h"
#include "player/messages.h"

namespace player {

class CThreadRegistry;

// What the thread is given before it runs. A handle of 0 receives nothing.
struct VideoThreadSetup {
  std::string path;                       // the MJPG file
  platform::WindowHandle picture = 0;     // ShowFrame: the frame's JPEG bytes, or a clear
  platform::WindowHandle positionBar = 0;  // range 0..86400 at open, then the position of each frame
  platform::WindowHandle mainWindow = 0;   // PLAYER_* messages
  platform::WindowHandle timeLabel = 0;    // the frame's time stamp text
  platform::WindowHandle sizeLabel = 0;    // " Video Size: " and the file's size
  platform::WindowHandle progressBar = 0;  // an edit's percentage
  int32_t frameDelayMs = 100;
  // The command line steps frames itself and does not start playing at open.
  bool playOnOpen = true;
  // The picture answers every frame with VT_FRAME_SHOWN, so playback keeps at most
  // kFramesInFlight frames on their way to it (the window's picture does; a
  // collecting target does not).
  bool pictureAnswers = false;
  CThreadRegistry* registry = nullptr;  // the process-wide one when null
};

class CVideoThread : public platform::MessageThread {
 public:
  // The group the thread registers under.
  static constexpr int kRegistryGroup = 1;
  static constexpr int kFramesInFlight = 2;

  // Creates the thread suspended; the caller stores its id (and makes it the
  // position bar's seek target) before MessageThread::Resume lets it run.
  static platform::ThreadHandlePtr Create(VideoThreadSetup setup);

  explicit CVideoThread(VideoThreadSetup setup);
  ~CVideoThread() override;

 protected:
  bool InitInstance() override;
  int ExitInstance() override;
  void OnMessage(platform::Message& msg) override;
  void OnTimer(uint32_t timerId) override;

 private:
  enum class Move { Next, Previous, Seek };

  void Open();
  void Close();
  // Reads a frame and shows it with its labels; false when the reader found none.
  bool ShowFrame(Move move, int fraction = 0);
  void StartPlayTimer();
  // Kills the play timer; tells the window when it was running.
  void StopPlaying();
  void PlayPause();
  void Step(Move move);
  void StepFrames(intptr_t count);
  void Seek(int fraction);
  void SetDelay(int32_t delayMs);
  void PostNotice(int code, std::string reason = {});
  void FrameShown();

  void BeginEdit(EditOp op, platform::Message& msg);
  void FilesChosen(platform::Message& msg);
  void ContinueEdit(EditOp op, UniqueFd source, const EditFiles& files);
  void CopyStep();
  // Ends the copy (keeping what was written, cut back to whole frames, or
  // nothing) and tells the window the copy is over.
  enum class CopyEnd { Finished, Keep, Discard };
  void EndCopy(CopyEnd how);

  VideoThreadSetup setup_;
  CThreadRegistry* registry_;
  media::CMjpgReader reader_;
  uint32_t playTimer_ = 0;
  bool stop_ = false;
  bool busy_ = false;
  bool cancel_ = false;
  bool abort_ = false;
  int framesInFlight_ = 0;
  bool tickWaiting_ = false;  // a play tick came while the picture was behind
  int32_t frameDelayMs_;
  uint64_t startMark_ = 0;
  uint64_t endMark_ = 0;

  // An edit waiting for the window to choose its files, with its open source.
  EditOp pendingOp_ = EditOp::Extract;
  UniqueFd pendingSource_;
  // The copy in progress.
  std::unique_ptr<CopyJob> copy_;
};

}  // namespace player
