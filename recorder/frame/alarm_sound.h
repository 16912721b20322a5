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
// a relative file name is looked up beside the program, then in the working folder.
std::unique_ptr<SoundPlayer> CreateDesktopSoundPlayer();

// The two ways a sound can be started; both return at once, true when playback began.
class SoundBackend {
 public:
  virtual ~SoundBackend() = default;
  virtual bool PlayEvent(const std::string& eventName) = 0;
  virtual bool PlayFile(const std::string& path) = 0;
};

// Where a sound file name is looked for, in order: an absolute name as it stands;
// a relative one beside the program, then in the working folder. Empty for an empty name.
std::vector<std::string> SoundFileCandidates(const std::string& name, const std::string& programDir,
                                             const std::string& workDir);
// The first candidate that is an existing regular file, or empty.
std::string ResolveSoundFile(const std::string& name, const std::string& programDir, const std::string& workDir);

// A player over any backend (the desktop player uses the system sound service).
std::unique_ptr<SoundPlayer> CreateSoundPlayer(std::unique_ptr<SoundBackend> backend, std::string programDir,
                                               std::string workDir);

}  // namespace recorder::frame
