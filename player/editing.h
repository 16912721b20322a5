#pragma once
// Editing by byte copies: frames are never parsed or decoded. An edit copies
// byte ranges of one or two MJPG files into a new output file, in large chunks
// (copied by the kernel where it can), in slices that the playback thread runs
// between its other messages. The output is written beside its target and takes
// its place only when the edit ends, so a failed or stopped edit leaves an old
// file there as it was.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/replacement_file.h"

namespace player {

// Notices the playback thread posts to the window (PLAYER_NOTICE).
enum Notice : int {
  kNoticeStartSet = 1,
  kNoticeEndSet = 2,
  kNoticeMarksEqual = 3,
  kNoticeStartAfterEnd = 4,
  kNoticeCannotRead = 5,
  kNoticeCannotWrite = 6,
  kNoticeWriteFailed = 7,
  kNoticeReadFailed = 8,
  // The player's own: the chosen output is one of the files being read,
  kNoticeOutputIsInput = 9,
  // and a removal that would leave no frame.
  kNoticeRemovesAll = 10,
};

struct NoticeText {
  const char* text;
  const char* caption;
  bool exclamation;  // else information
};
// The message box for a notice code; nullptr for a code that shows nothing.
const NoticeText* FindNotice(int code);

// 0 when the marks select something; else the notice that says why not. The
// selection is the bytes from the start mark up to, not including, the end mark.
int SelectionTest(uint64_t startMark, uint64_t endMark);

// Bytes copied per step; progress is reported and the queue looked at between steps.
constexpr size_t kCopyChunk = size_t(8) << 20;
constexpr const char* kMjpgFilter = "MJPG Files (*.mjpg)|*.mjpg|All Files (*.*)|*.*||";
constexpr const char* kMjpgExtension = ".mjpg";
constexpr const char* kAppendDialogTitle = "Select a file to append to the end of the current video";
constexpr const char* kSaveOutputTitle = "Save Output File As...";
constexpr const char* kCopyDialogTitle = "Creating Output Video...";
constexpr const char* kExtractCommand = "Extract Video Selection";
constexpr const char* kRemoveCommand = "Remove Video Selection";
constexpr const char* kAppendCommand = "Append Video to end of Current Video";

// An owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  ~UniqueFd() { Reset(); }
  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release();
  void Reset();

 private:
  int fd_ = -1;
};

// An edit's input, opened for reading; others may go on reading and writing it.
UniqueFd OpenEditInput(const std::string& path);
// Length of an open file; 0 when it cannot be asked.
uint64_t FileLength(int fd);

// Creates the output beside `path`, under a temporary name; others may read it
// meanwhile but not write. Refused with kNoticeOutputIsInput when `path` is the
// same file as one of the inputs (by device and inode, so links and other
// spellings of the path count too); kNoticeCannotWrite, with the path and the
// system's words in `reason`, when it cannot be created or an existing file there
// is being written by someone else.
platform::ReplacementFile CreateEditOutput(const std::string& path, const std::vector<int>& inputs, int& notice,
                                           std::string& reason);

// One run of the copy loop: read `fd` from offset `from` until the output holds
// `target` bytes.
struct CopyPart {
  int fd = -1;
  uint64_t from = 0;
  uint64_t target = 0;
};
struct CopyPlan {
  std::vector<CopyPart> parts;
  uint64_t total = 0;  // the output size the percentage counts towards
};
CopyPlan PlanExtract(int source, uint64_t startMark, uint64_t endMark);
CopyPlan PlanRemove(int source, uint64_t sourceLength, uint64_t startMark, uint64_t endMark);
CopyPlan PlanAppend(int first, uint64_t firstLength, int second, uint64_t secondLength);

// The length of the whole frames at the start of an open file of `length` bytes:
// just past its last FF D9 (0 when there is none).
uint64_t WholeFramesLength(int fd, uint64_t length);

// A notice and why it came: the path and the system's words ("" when the notice
// says it all).
using NoticeSink = std::function<void(int code, const std::string& reason)>;

// The copy of one edit. It owns its files and closes them when it ends.
class CopyJob {
 public:
  enum class State { Running, Done, WriteFailed };

  CopyJob(std::vector<UniqueFd> inputs, platform::ReplacementFile output, CopyPlan plan);

  // Copies chunks until the job ends or `yield` (asked before every chunk) says
  // to return to the message loop. A source that ends before its part's target
  // posts kNoticeReadFailed and the next part still runs; a failed write posts
  // kNoticeWriteFailed, removes the output and ends the job. At the end the
  // output takes its target's place. `progress` receives the percentage of the
  // total written whenever it changes.
  State Run(const std::function<bool()>& yield, const NoticeSink& notice, const std::function<void(int)>& progress);
  // Ends the copy before its end. With `keep`, what was written, cut back to its
  // last whole frame, takes the target's place (nothing does when no whole frame
  // was written); without, the output is removed and the target left as it was.
  void Stop(bool keep);
  uint64_t Written() const { return written_; }

 private:
  // Copies up to n bytes of `part` on into the output. The bytes copied; 0 when
  // the source ended or could not be read (*readError), -1 when writing failed
  // (*error has why).
  int64_t CopyChunk(const CopyPart& part, size_t n, int* error, bool* readError);

  std::vector<UniqueFd> inputs_;
  platform::ReplacementFile output_;
  CopyPlan plan_;
  size_t part_ = 0;
  uint64_t readInPart_ = 0;
  uint64_t written_ = 0;
  int percent_ = -1;
  bool kernelCopy_ = true;       // copy_file_range works between these files
  std::vector<uint8_t> buffer_;  // for read and write where it does not
};

}  // namespace player
