#include "recorder/frame/alarm_sound.h"

#include <canberra.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/paths.h"

namespace recorder::frame {


namespace {

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string WorkingDirectory() {
  std::error_code ec;
  const auto cwd = std::filesystem::current_path(ec);
  return ec ? std::string() : cwd.string();
}

class CanberraBackend final : public SoundBackend {
 public:
  ~CanberraBackend() override {
    if (context_) ca_context_destroy(context_);
  }
  bool PlayEvent(const std::string& eventName) override {
    if (!Context()) return false;
    return ca_context_play(context_, 0, CA_PROP_EVENT_ID, eventName.c_str(), nullptr) == CA_SUCCESS;
  }
  bool PlayFile(const std::string& path) override {
    if (!Context()) return false;
    // The file may change between alarms, so it is not kept in the sound server's cache.
    return ca_context_play(context_, 0, CA_PROP_MEDIA_FILENAME, path.c_str(), CA_PROP_CANBERRA_CACHE_CONTROL,
                           "volatile", nullptr) == CA_SUCCESS;
  }

 private:
  // Created on first use so that a camera without an alarm never opens the sound service.
  ca_context* Context() {
    if (context_ || failed_) return context_;
    if (ca_context_create(&context_) != CA_SUCCESS) {
      context_ = nullptr;
      failed_ = true;
    }
    return context_;
  }
  ca_context* context_ = nullptr;
  bool failed_ = false;
};

class BackendSoundPlayer final : public SoundPlayer {
 public:
  BackendSoundPlayer(std::unique_ptr<SoundBackend> backend, std::string programDir, std::string workDir,
                     std::string settingsDir)
      : backend_(std::move(backend)),
        programDir_(std::move(programDir)),
        workDir_(std::move(workDir)),
        settingsDir_(std::move(settingsDir)) {}

  void Play(const std::string& nameOrFile) override {
    if (!backend_ || nameOrFile.empty()) return;
    if (backend_->PlayEvent(nameOrFile)) return;
    const std::string path = ResolveSoundFile(nameOrFile, programDir_, workDir_, settingsDir_);
    if (!path.empty()) backend_->PlayFile(path);
  }

 private:
  std::unique_ptr<SoundBackend> backend_;
  std::string programDir_;
  std::string workDir_;
  std::string settingsDir_;
};

}  // namespace

std::vector<std::string> SoundFileCandidates(const std::string& name, const std::string& programDir,
                                             const std::string& workDir, const std::string& settingsDir) {
  if (name.empty()) return {};
  if (name.front() == '/') return {name};
  std::vector<std::string> out;
  if (!settingsDir.empty()) out.push_back(JoinPath(settingsDir, name));
  if (!programDir.empty() && programDir != settingsDir) out.push_back(JoinPath(programDir, name));
  out.push_back(JoinPath(workDir, name));
  return out;
}

std::string ResolveSoundFile(const std::string& name, const std::string& programDir, const std::string& workDir,
                             const std::string& settingsDir) {
  for (const std::string& candidate : SoundFileCandidates(name, programDir, workDir, settingsDir)) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return {};
}

std::unique_ptr<SoundPlayer> CreateSoundPlayer(std::unique_ptr<SoundBackend> backend, std::string programDir,
                                               std::string workDir, std::string settingsDir) {
  return std::make_unique<BackendSoundPlayer>(std::move(backend), std::move(programDir), std::move(workDir),
                                              std::move(settingsDir));
}

std::string SoundSettingsFolder() { return platform::ConfigDirectory("tollan"); }

std::unique_ptr<SoundPlayer> CreateDesktopSoundPlayer() {
  return CreateSoundPlayer(std::make_unique<CanberraBackend>(), platform::ProgramDirectory(), WorkingDirectory(),
                           SoundSettingsFolder());
}

}  // namespace recorder::frame
