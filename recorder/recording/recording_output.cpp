#include "recorder/recording/recording_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/ascii.h"
#include "platform/files.h"
#include "recorder/camera/events.h"
#include "media/mjpg.h"
#include "recorder/recording/retention_thread.h"
#include "recorder/recording/save_paths.h"
#include "media/jpeg_codec.h"

namespace recorder::recording {

using namespace camera;
using media::FrameImage;
using media::FrameRecord;
namespace {

bool EndsWithJpg(const char* name) {
  const std::string_view s(name);
  return s.size() >= 4 && platform::ascii::EqualsNoCase(s.substr(s.size() - 4), ".jpg");
}

// All decimal digits of a name read as one number; -1 when it does not fit int32.
int64_t DigitsOf(const char* name) {
  int64_t value = 0;
  for (const char* p = name; *p; ++p) {
    if (*p < '0' || *p > '9') continue;
    value = value * 10 + (*p - '0');
    if (value > std::numeric_limits<int32_t>::max()) return -1;
  }
  return value;
}

// The numbered file name: the path without its extension, "_N.jpg" appended. Only a
// '.' in the last path component starts an extension, so "/rec/cam.1/video" keeps
// its directory intact and becomes "/rec/cam.1/video_N.jpg".
std::string JpgFileName(const std::string& path, int32_t number) {
  std::string base = path;
  const size_t dot = base.rfind('.');
  const size_t slash = base.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
  return base + "_" + std::to_string(number) + ".jpg";
}

// Deletes a plain file unless a recorder holds it open. Linux lets an open file be
// unlinked, and its camera would then record on into a file nobody can reach; so
// the file is probed with the lock that saving holds, and unlinked only while that
// probe lock is ours. A file that cannot be probed stays. Failures are ignored.
void RemoveUnlessRecorded(int dfd, const char* name) {
  const int fd = ::openat(dfd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat opened {}, named {};
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::fstatat(dfd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
      named.st_ino == opened.st_ino) {
    ::unlinkat(dfd, name, 0);
  }
  ::close(fd);
}

}  // namespace

RecordingOutput::RecordingOutput(const CameraRecord& camera, RecordingReporter& reporter)
    : camera_(camera), reporter_(reporter) {}

RecordingOutput::~RecordingOutput() { StopRecording(); }

std::time_t RecordingOutput::Now() const { return clock_->WallNow(); }

bool RecordingOutput::ShouldSave() const {
  return camera_.saveEnabled != 0 && (camera_.motionEnabled == 0 || saveCounter_ < camera_.frameSaveCount);
}

void RecordingOutput::CountHandledFrame() {
  if (camera_.motionEnabled == 0) {
    saveCounter_ = 0;
  } else if (saveCounter_ < std::numeric_limits<int32_t>::max()) {
    ++saveCounter_;
  }
}

bool RecordingOutput::PrepareDirectory(const std::string& path) {
  const std::string directory = platform::SaveDirectoryOf(path);
  // A relative path would land wherever the recorder happened to be started.
  if (!path.empty() && path[0] == '/' && platform::CreateSaveDirectory(directory)) return true;
  reporter_.ReportStatus(kStatusDirCreateFailed);
  reporter_.ReportEvent(kEventDirCreateFailed, directory);
  return false;
}

int RecordingOutput::OpenLocked(const std::string& path, bool truncate, bool append) const {
  // A cleaner that probed this file may unlink it between our open and our lock;
  // recording into that unlinked file would lose everything, so open again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    // O_NONBLOCK keeps a FIFO planted at the save path from blocking the worker;
    // only regular files are accepted below.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return -1;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Writing by others is denied through an exclusive lock; a second camera on the
    // same file fails here. Truncation comes only after the lock is ours, so the
    // loser never empties the winner's file. Cleaning probes the same lock.
    ok = ok && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    struct stat named {};
    if (ok && (::stat(path.c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino)) {
      ::close(fd);
      continue;
    }
    if (ok) {
      const int flags = ::fcntl(fd, F_GETFL);
      ok = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    }
    if (ok && truncate) ok = ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0;
    if (ok && append) ok = ::lseek(fd, 0, SEEK_END) >= 0;
    if (!ok) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  return -1;
}

bool RecordingOutput::CleanDirectory(const std::string& directory) {
  std::string dir = directory;
  // A trailing '/' would make the kernel follow a symlink despite O_NOFOLLOW.
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.empty()) dir = ".";
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dfd < 0) return !stopping_;
  const int listFd = ::dup(dfd);
  DIR* listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (!listing) {
    if (listFd >= 0) ::close(listFd);
    ::close(dfd);
    return !stopping_;
  }
  bool completed = true;
  while (const dirent* entry = ::readdir(listing)) {
    if (stopping_ || reporter_.StopRequested()) {
      stopping_ = true;
      completed = false;
      break;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    struct stat st {};
    if (::fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) continue;  // subdirectories stay, as a failed delete would leave them
    if (S_ISREG(st.st_mode)) {
      RemoveUnlessRecorded(dfd, name);
    } else {
      // Links, pipes and the like are never recorded into (saving accepts regular
      // files only), and unlinkat never follows a link: its target stays.
      ::unlinkat(dfd, name, 0);
    }
  }
  ::closedir(listing);
  ::close(dfd);
  return completed;
}

int64_t RecordingOutput::ScanJpgNumbers(const std::string& directory) {
  DIR* listing = ::opendir(directory.empty() ? "." : directory.c_str());
  if (!listing) return stopping_ ? -1 : 0;
  int64_t highest = 0;
  while (const dirent* entry = ::readdir(listing)) {
    if (stopping_ || reporter_.StopRequested()) {
      stopping_ = true;
      highest = -1;
      break;
    }
    if (!EndsWithJpg(entry->d_name)) continue;
    const int64_t number = DigitsOf(entry->d_name);
    if (number > highest) highest = number;
  }
  ::closedir(listing);
  return highest;
}

bool RecordingOutput::StartRecording(bool resume) {
  StopRecording();
  resumeMode_ = resume;
  jpgNumber_ = 0;
  currentPath_ = ExpandSavePath(GetText(camera_.savePath), Now());
  if (!PrepareDirectory(currentPath_)) return false;

  if (camera_.saveAsMjpg != 0) {
    outputFd_ = OpenLocked(currentPath_, !resume, resume);
    if (outputFd_ < 0) {
      reporter_.ReportStatus(kStatusOpenFileFailed);
      reporter_.ReportEvent(kEventMjpgCreateFailed, currentPath_);
      return false;
    }
    NoteRecordingOpened();
    return true;
  }
  if (resume) {
    const int64_t highest = ScanJpgNumbers(platform::SaveDirectoryOf(currentPath_));
    if (highest < 0) return false;  // told to stop: abandoned without a report
    jpgNumber_ = int32_t(highest);
  }
  return true;
}

RecordingOutput::SaveResult RecordingOutput::Save(Picture picture) {
  savedPicture_.reset();
  return camera_.saveAsMjpg != 0 ? SaveMjpgFrame(std::move(picture)) : SaveJpgFrame(std::move(picture));
}

RecordingOutput::SaveResult RecordingOutput::SaveFrame(const media::FrameImage& image) {
  return Save({&image, nullptr, nullptr});
}

RecordingOutput::SaveResult RecordingOutput::SaveFrame(const media::YuvImage& planes) {
  return Save({nullptr, &planes, nullptr});
}

RecordingOutput::SaveResult RecordingOutput::SaveAsSent(media::SharedJpeg jpeg) {
  if (!jpeg) return SaveResult::NotHandled;
  return Save({nullptr, nullptr, std::move(jpeg)});
}

bool RecordingOutput::TakeBytes(Picture picture) {
  if (picture.asSent) {
    lastJpeg_ = std::move(picture.asSent);
    return true;
  }
  auto jpeg = std::make_shared<std::vector<uint8_t>>();
  const bool encoded = picture.planes ? media::EncodeJpegYuv(*picture.planes, camera_.jpegQuality, *jpeg)
                                      : picture.image && media::EncodeJpeg(*picture.image, camera_.jpegQuality, *jpeg);
  if (!encoded || jpeg->empty()) {
    reporter_.ReportEvent(kEventEncodeFailed, currentPath_);
    return false;
  }
  lastJpeg_ = std::move(jpeg);
  return true;
}

RecordingOutput::SaveResult RecordingOutput::SaveMjpgFrame(Picture picture) {
  const std::time_t now = Now();
  const std::string path = ExpandSavePath(GetText(camera_.savePath), now);
  if (path != currentPath_) {
    if (!PrepareDirectory(path)) return SaveResult::Fatal;
    if (camera_.cleanSaveDir != 0 && !CleanDirectory(platform::SaveDirectoryOf(path))) return SaveResult::NotHandled;
    StopRecording();
    outputFd_ = OpenLocked(path, true, false);
    if (outputFd_ < 0) {
      reporter_.ReportStatus(kStatusOpenFileFailed);
      reporter_.ReportEvent(kEventMjpgCreateFailed, path);
      return SaveResult::Fatal;
    }
    currentPath_ = path;
    NoteRecordingOpened();
  } else if (outputFd_ < 0) {
    // Same file but closed (after StopRecording): carry on at its end rather than
    // reporting a write error or emptying what was recorded.
    outputFd_ = OpenLocked(path, false, true);
    if (outputFd_ < 0) {
      reporter_.ReportStatus(kStatusOpenFileFailed);
      reporter_.ReportEvent(kEventMjpgCreateFailed, path);
      return SaveResult::Fatal;
    }
  }

  const bool sent = picture.asSent != nullptr;
  if (!TakeBytes(std::move(picture))) return SaveResult::NotHandled;
  CountHandledFrame();

  const std::vector<uint8_t>& jpeg = *lastJpeg_;
  media::mjpg::WriteResult result = media::mjpg::WriteResult::NoQuantTable;
  size_t length = jpeg.size(), position = 0;
  std::vector<uint8_t> written;
  if (!sent)
    result = media::mjpg::WriteFrame(outputFd_, jpeg.data(), jpeg.size(), uint32_t(now), &written);
  else if (media::mjpg::StampPosition(jpeg.data(), length, position))
    result = media::mjpg::WriteFrameAt(outputFd_, jpeg.data(), length, position, uint32_t(now), &written);
  switch (result) {
    case media::mjpg::WriteResult::Ok:
      lastFile_ = currentPath_;
      savedPicture_ = std::make_shared<const std::vector<uint8_t>>(std::move(written));
      return SaveResult::Handled;
    case media::mjpg::WriteResult::NoQuantTable:
      reporter_.ReportEvent(kEventNoQuantTable, currentPath_);
      return SaveResult::Handled;
    case media::mjpg::WriteResult::WriteError:
      break;
  }
  reporter_.ReportStatus(kStatusDiskFull);
  reporter_.ReportEvent(kEventWriteError, currentPath_);
  return SaveResult::Fatal;
}

RecordingOutput::SaveResult RecordingOutput::SaveJpgFrame(Picture picture) {
  if (jpgNumber_ >= camera_.maxJpgCount || jpgNumber_ == std::numeric_limits<int32_t>::max()) {
    jpgNumber_ = 1;
  } else {
    ++jpgNumber_;
  }
  if (jpgNumber_ < 1) jpgNumber_ = 1;  // a negative number left by a bad count

  if (!TakeBytes(std::move(picture))) return SaveResult::NotHandled;
  const std::vector<uint8_t>& jpeg = *lastJpeg_;

  const std::string path = ExpandSavePath(GetText(camera_.savePath), Now());
  if (path != currentPath_) {
    if (!PrepareDirectory(path)) return SaveResult::Fatal;
    if (camera_.cleanSaveDir != 0 && !CleanDirectory(platform::SaveDirectoryOf(path))) return SaveResult::NotHandled;
    currentPath_ = path;
    jpgNumber_ = 1;
    NoteRecordingOpened();
  }

  const std::string fileName = JpgFileName(currentPath_, jpgNumber_);
  const int fd = OpenLocked(fileName, true, false);
  if (fd < 0) return SaveResult::NotHandled;  // dropped silently
  CountHandledFrame();
  const bool written = platform::WriteAll(fd, jpeg.data(), jpeg.size());
  if (!written) {
    // A cut-off picture is of no use to anyone; do not leave it in the ring.
    ::unlink(fileName.c_str());
  }
  ::close(fd);
  if (written) {
    lastFile_ = fileName;
    savedPicture_ = lastJpeg_;
    return SaveResult::Handled;
  }
  reporter_.ReportStatus(kStatusDiskFull);
  reporter_.ReportEvent(kEventJpgCreateFailed, fileName);
  return SaveResult::Fatal;
}

void RecordingOutput::StopRecording() {
  if (outputFd_ >= 0) {
    ::close(outputFd_);  // errors on close are not reported
    outputFd_ = -1;
  }
}

}  // namespace recorder::recording
