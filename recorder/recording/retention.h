#pragma once
// Retention: which files of a camera's save path may be deleted to keep its
// recordings within an age or a size, and deleting them safely.
//
// A camera's root is the folder part of its save path before the first time
// code; only files below the root whose path matches the save path, with every
// time code read as a wildcard, are its recordings (both the MJPG file and the
// numbered JPEG files, "<base>_<N>.jpg", that the same path produces). A file
// that a recorder holds open (its exclusive lock) is never deleted, nor anything
// outside the root. A root that is "/" or the home folder itself gets no
// retention at all.
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "recorder/camera/camera_record.h"

namespace recorder::recording {

struct RetentionRoot {
  std::string root;   // absolute, ending in '/'; empty when refused
  std::string error;  // why there is no retention, when refused
};
// The root of a save path template; `home` is the home folder that gets no retention.
RetentionRoot RetentionRootOf(const std::string& savePathTemplate, const std::string& home);

// Whether an absolute path is one the template produces (time codes as wildcards).
bool MatchesSavePath(const std::string& savePathTemplate, const std::string& path);

struct RecordingFile {
  std::string path;
  uint64_t bytes = 0;
  int64_t lastFrameTime = 0;  // seconds since 1970: the MJPG file's last time stamp, else its mtime
  uint64_t device = 0;        // the file system it lies on
};

// Remembers the last frame time of MJPG files, so that a file whose size and
// modification time did not change is not read again.
class LastFrameCache {
 public:
  int64_t Get(const std::string& path, uint64_t size, int64_t mtimeNs);
  void Forget(const std::string& path) { entries_.erase(path); }
  // Drops the files that no Get asked for since the last call, so that files
  // deleted by others do not pile up here.
  void EndPass();
  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    uint64_t size;
    int64_t mtimeNs;
    int64_t lastFrame;
    uint64_t pass;
  };
  std::map<std::string, Entry> entries_;
  uint64_t pass_ = 0;
};

// The time stamp of the last whole frame of an MJPG file; 0 when none is found.
int64_t LastMjpgFrameTime(const std::string& path);

// Every recording of the template below its root, oldest first (by last frame
// time, then path). Symbolic links are neither followed nor listed.
std::vector<RecordingFile> FindRecordings(const std::string& savePathTemplate, const std::string& root,
                                          LastFrameCache& cache);

enum class RemoveResult { Removed, InUse, Failed };
// Deletes one recording unless a recorder holds it (probed with the lock that
// saving takes) or it lies outside root; then removes the folders that became
// empty, up to but not including the root.
RemoveResult RemoveRecording(const std::string& path, const std::string& root);

using Remover = std::function<RemoveResult(const RecordingFile& file)>;

// Applies one camera's limits to its recordings (oldest first): removes those
// whose last frame is older than keepDays (0 = no age limit), then the oldest
// until all of them together fit keepBytes (0 = no size limit). A file the
// remover finds in use stays and still counts. Returns the files removed.
std::vector<RecordingFile> ApplyCameraLimits(const std::vector<RecordingFile>& files, int32_t keepDays,
                                             uint64_t keepBytes, int64_t now, const Remover& remover);

// Whether a recorder holds the file open for writing (its exclusive lock).
bool RecordingInUse(const std::string& path);

// The warning for a size limit that one growing MJPG file can outgrow: given
// when the camera's newest whole file is over a quarter of the limit and the
// path has no hour code. Empty when there is nothing to warn of.
std::string OutgrowWarning(const std::string& savePathTemplate, bool saveAsMjpg, uint64_t keepBytes,
                           const std::vector<RecordingFile>& files);

// What the options dialog and --set say about a camera's limits: that its save
// path allows no retention, or that one growing file can outgrow its size limit.
// Empty when the camera has no limits or nothing to warn of.
std::string RetentionWarning(const camera::CameraRecord& camera, const std::string& home);

}  // namespace recorder::recording
