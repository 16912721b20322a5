#pragma once
// Locks beside the settings file. Settings commands take the edit lock around
// read, change and write, so concurrent commands queue up and none is lost. A
// running recorder holds the run lock for as long as it runs, so a second
// recorder on the same settings folder, and settings commands that the running
// one would not see, are refused.
#include <string>

namespace recorder::camera {

// "<settings path>.lock", e.g. tollan.cfg.lock.
std::string EditLockPath(const std::string& settingsPath);
// "tollan.run.lock" in the settings file's folder.
std::string RunLockPath(const std::string& settingsPath);

// An exclusive flock on a lock file, released when the object goes.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits for the lock when wait is true, else gives up at once when another
  // process holds it. False with error text when the lock file cannot be opened
  // or (without wait) the lock is held.
  bool Acquire(const std::string& path, bool wait, std::string* error = nullptr);
  bool Held() const { return fd_ >= 0; }
  void Release();

 private:
  int fd_ = -1;
};

// Whether some process holds the run lock of this settings file right now.
bool RecorderRunning(const std::string& settingsPath);

}  // namespace recorder::camera
