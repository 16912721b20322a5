#pragma once
// Turns one camera's processed frames into files: one growing MJPG file or a
// ring of numbered JPEG files under an expanded save path.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/loop_clock.h"
#include "recorder/camera/camera_record.h"
#include "media/frame_image.h"

namespace recorder::recording {

// What the recording output needs from its worker: reporting, and whether to stop.
class RecordingReporter {
 public:
  virtual ~RecordingReporter() = default;
  virtual void ReportStatus(int32_t status) = 0;                         // status report
  virtual void ReportEvent(int32_t code, const std::string& argument) = 0;  // log event
  // True when the worker has been told to stop, or a stop waits in its queue.
  // Long steps ask between items, end early and return to the worker's loop,
  // which then handles the stop; nothing is handled from inside a step.
  virtual bool StopRequested() const = 0;
};

class RecordingOutput {
 public:
  enum class SaveResult {
    Handled,     // written (or counted as handled per the rules)
    NotHandled,  // dropped without counting (encode failure, JPG file could not be opened)
    Fatal,       // status 3/4/5 was reported: the worker must end
  };

  RecordingOutput(const camera::CameraRecord& camera, RecordingReporter& reporter);
  ~RecordingOutput();
  RecordingOutput(const RecordingOutput&) = delete;
  RecordingOutput& operator=(const RecordingOutput&) = delete;

  // Prepares the output before the first frame. False: status and event reported, worker ends.
  bool StartRecording(bool resume);
  // Save-count rule: saveEnabled and (motion off or counter below frameSaveCount).
  bool ShouldSave() const;
  // A motion trigger restarts the count of frames to save.
  void OnMotionTrigger() { saveCounter_ = 0; }
  // Encodes and stores one frame; updates the save counter as the rules say.
  SaveResult SaveFrame(const media::FrameImage& image);
  // The same for a picture held as Y, Cb and Cr planes, encoded from them.
  SaveResult SaveFrame(const media::YuvImage& planes);
  // Stores a camera's own JPEG as it came (an MJPG frame gets its time-stamp
  // comment inserted, a JPEG file gets the bytes alone); the save counter as above.
  // The caller has checked it with media::mjpg::StampPosition.
  SaveResult SaveAsSent(media::SharedJpeg jpeg);
  // The bytes of the frame stored last, as sent or as encoded (without the time
  // stamp); null before the first.
  const media::SharedJpeg& LastJpeg() const { return lastJpeg_; }
  // Closes the MJPG file without reporting errors.
  void StopRecording();
  // Marks the worker as stopping: long steps (cleaning, resume scan) end at once.
  void SetStopping() { stopping_ = true; }
  // The clock whose calendar time expands the path and stamps the frames: the
  // worker's own; null restores the system clock.
  void SetClock(std::shared_ptr<const platform::LoopClock> clock) {
    clock_ = clock ? std::move(clock) : platform::SystemClock();
  }

  // The bytes of the frame the last SaveFrame() stored, as they are in the file;
  // empty when it stored none. Taken, not copied: live viewers are shown them.
  media::SharedJpeg TakeSavedPicture() { return std::exchange(savedPicture_, nullptr); }

  const std::string& currentPath() const { return currentPath_; }
  // The file the last saved frame went to (the MJPG file, or the numbered JPEG
  // file); empty before the first. What "Motion started" names.
  const std::string& lastFile() const { return lastFile_; }
  int32_t saveCounter() const { return saveCounter_; }
  int32_t jpgNumber() const { return jpgNumber_; }

 private:
  struct Impl;
  std::time_t Now() const;
  // Reports status 3 and event 1 for the directory part of path; false on failure.
  bool PrepareDirectory(const std::string& path);
  // Opens an output file with an exclusive lock; -1 on failure.
  int OpenLocked(const std::string& path, bool truncate, bool append) const;
  // Deletes the plain files of a directory; false when told to stop meanwhile.
  bool CleanDirectory(const std::string& directory);
  // Highest number formed by the digits of the *.jpg names of a directory; -1 when told to stop.
  int64_t ScanJpgNumbers(const std::string& directory);
  void CountHandledFrame();
  // Sets lastJpeg_ to the frame's bytes: the ones given, else image encoded.
  // False, with the event reported, when encoding fails.
  // One frame to store: exactly one of the three is set.
  struct Picture {
    const media::FrameImage* image = nullptr;
    const media::YuvImage* planes = nullptr;
    media::SharedJpeg asSent;
  };
  SaveResult Save(Picture picture);
  bool TakeBytes(Picture picture);
  SaveResult SaveMjpgFrame(Picture picture);
  SaveResult SaveJpgFrame(Picture picture);

  const camera::CameraRecord& camera_;
  RecordingReporter& reporter_;
  std::string currentPath_;
  std::string lastFile_;
  media::SharedJpeg savedPicture_;
  media::SharedJpeg lastJpeg_;
  int outputFd_ = -1;
  int32_t jpgNumber_ = 0;
  int32_t saveCounter_ = 0;
  bool resumeMode_ = false;
  bool stopping_ = false;
  std::shared_ptr<const platform::LoopClock> clock_ = platform::SystemClock();
};

}  // namespace recorder::recording
