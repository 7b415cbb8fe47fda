// Sound effects: wave files under the sounds directory, played
// asynchronously through one reused player when the global "sfx" is on.
//
// Threads: main thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

class dvrSoundPlayer {
 public:
  virtual ~dvrSoundPlayer() = default;
  // Starts playing a wave file and returns at once; false when it cannot be played.
  virtual bool play(const std::string& wavePath) = 0;
};

// The player on the system's audio output (SDL2). The audio device is opened
// on the first sound, so a machine without audio costs nothing until then.
std::unique_ptr<dvrSoundPlayer> dvrMakeAudioPlayer();

// Plays "<sounds>/<name>.wav" through the process's player when the global
// "sfx" is non-zero. Names in use: "logon", "logoff", "checkbox", "window_open".
void dvrPlaySound(std::string_view name);
