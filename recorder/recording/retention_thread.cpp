#include "recorder/recording/retention_thread.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <map>

#include "recorder/camera/events.h"

namespace recorder::recording {

namespace {
std::atomic<platform::ThreadId> gListener{0};
}  // namespace

void SetRetentionListener(platform::ThreadId retentionThread) { gListener.store(retentionThread); }

void NoteRecordingOpened() {
  const platform::ThreadId listener = gListener.load();
  if (listener != 0) platform::Post<to_retention::CheckNow>(listener);
}

double FreePercentOf(const std::string& path) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0 || vfs.f_blocks == 0) return 100.0;
  // Blocks free to an ordinary user, as `df` counts them.
  const double total = double(vfs.f_blocks - vfs.f_bfree + vfs.f_bavail);
  return total > 0 ? 100.0 * double(vfs.f_bavail) / total : 100.0;
}

RetentionThread::RetentionThread(platform::ThreadId logThread, RetentionTiming timing)
    : logThread_(logThread), timing_(std::move(timing)) {
  if (!timing_.wallClock) timing_.wallClock = [] { return static_cast<int64_t>(std::time(nullptr)); };
  if (!timing_.freePercent) timing_.freePercent = FreePercentOf;
}

bool RetentionThread::InitInstance() {
  timer_ = SetTimer(timing_.checkIntervalMs);
  return true;
}

void RetentionThread::OnMessage(platform::Message& msg) {
  if (platform::Is<to_retention::SetRules>(msg)) {
    config_ = platform::Take<to_retention::SetRules>(msg);
    Check();
  } else if (platform::Is<to_retention::CheckNow>(msg)) {
    Check();
  } else if (platform::Is<to_retention::ThreadStop>(msg)) {
    PostQuit();
  }
}

void RetentionThread::OnTimer(uint32_t timerId) {
  if (timerId != timer_) return;
  Check();
  timer_ = SetTimer(timing_.checkIntervalMs);
}

void RetentionThread::Removed(const RecordingFile& file, platform::ThreadId worker) {
  cache_.Forget(file.path);
  camera::PostLogEvent(logThread_, camera::kEventRecordingRemoved, file.path, worker);
}

void RetentionThread::Check() {
  const int64_t now = timing_.wallClock();
  struct Found {
    RecordingFile file;
    std::string root;
    platform::ThreadId worker;
  };
  std::vector<Found> all;
  std::map<uint64_t, std::string> rootOfDevice;
  std::set<std::string> seenPaths;
  for (const RetentionRule& rule : config_.cameras) {
    const bool limited = rule.keepDays > 0 || rule.keepMegabytes > 0;
    if (!limited && config_.keepFreePercent <= 0) continue;
    const RetentionRoot scope = RetentionRootOf(rule.savePath, timing_.home);
    if (scope.root.empty()) {
      // Said once per save path, and only where a limit would have acted.
      if (refusedLogged_.insert(rule.savePath).second)
        camera::PostLogEvent(logThread_, camera::kEventRetentionOff,
                             rule.savePath + " (" + (rule.label.empty() ? "" : rule.label + ": ") + scope.error + ")",
                             rule.worker);
      continue;
    }
    const auto remover = [&](const RecordingFile& f) {
      const RemoveResult r = RemoveRecording(f.path, scope.root);
      if (r == RemoveResult::Removed) Removed(f, rule.worker);
      return r;
    };
    std::vector<RecordingFile> files = FindRecordings(rule.savePath, scope.root, cache_);
    if (limited) {
      const auto removed = ApplyCameraLimits(files, rule.keepDays, uint64_t(rule.keepMegabytes) << 20, now, remover);
      if (!removed.empty()) files = FindRecordings(rule.savePath, scope.root, cache_);
    }
    // Two cameras under one root share their files: each file is counted once.
    for (RecordingFile& f : files) {
      if (!seenPaths.insert(f.path).second) continue;
      rootOfDevice.emplace(f.device, scope.root);
      all.push_back({std::move(f), scope.root, rule.worker});
    }
  }
  cache_.EndPass();
  if (config_.keepFreePercent <= 0 || all.empty()) return;
  std::stable_sort(all.begin(), all.end(), [](const Found& a, const Found& b) {
    return a.file.lastFrameTime != b.file.lastFrameTime ? a.file.lastFrameTime < b.file.lastFrameTime
                                                        : a.file.path < b.file.path;
  });
  for (const Found& f : all) {
    if (timing_.freePercent(rootOfDevice[f.file.device]) >= double(config_.keepFreePercent)) continue;
    if (RemoveRecording(f.file.path, f.root) == RemoveResult::Removed) Removed(f.file, f.worker);
  }
}

}  // namespace recorder::recording
