#pragma once
// The motion alarm: plays a desktop event sound by name, else a sound file, asynchronously.
#include <memory>
#include <string>
#include <vector>

namespace recorder::frame {

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Starts playing and returns at once. Failures are silent.
  virtual void Play(const std::string& nameOrFile) = 0;
};

// The desktop sound player: the name is tried as an event sound first, then as a file;
// a relative file name is looked up in the recorder's settings folder, then beside
// the program, then in the working folder.
std::unique_ptr<SoundPlayer> CreateDesktopSoundPlayer();

// The recorder's settings folder (where its settings file lies), with a trailing
// '/': the first place a relative sound file name is looked for.
std::string SoundSettingsFolder();

// The two ways a sound can be started; both return at once, true when playback began.
class SoundBackend {
 public:
  virtual ~SoundBackend() = default;
  virtual bool PlayEvent(const std::string& eventName) = 0;
  virtual bool PlayFile(const std::string& path) = 0;
};

// Where a sound file name is looked for, in order: an absolute name as it stands;
// a relative one in the settings folder (when given), beside the program, then in
// the working folder. Empty for an empty name.
std::vector<std::string> SoundFileCandidates(const std::string& name, const std::string& programDir,
                                             const std::string& workDir, const std::string& settingsDir = "");
// The first candidate that is an existing regular file, or empty.
std::string ResolveSoundFile(const std::string& name, const std::string& programDir, const std::string& workDir,
                             const std::string& settingsDir = "");

// A player over any backend (the desktop player uses the system sound service).
std::unique_ptr<SoundPlayer> CreateSoundPlayer(std::unique_ptr<SoundBackend> backend, std::string programDir,
                                               std::string workDir, std::string settingsDir = "");

}  // namespace recorder::frame
