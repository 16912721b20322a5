#pragma once
// The motion alarm: plays a desktop event sound by name, else a sound file, asynchronously.
#include <memory>
#include <string>

namespace frame {

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Starts playing and returns at once. Failures are silent.
  virtual void Play(const std::string& nameOrFile) = 0;
};

// The desktop sound player: the name is tried as an event sound first, then as a file;
// a relative file name is looked up beside the program, then in the working folder.
std::unique_ptr<SoundPlayer> CreateDesktopSoundPlayer();

}  // namespace frame
