#include "core/sound.h"

#include <SDL.h>

#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/settings.h"

namespace {

class AudioPlayer : public dvrSoundPlayer {
 public:
  ~AudioPlayer() override {
    if (device_) SDL_CloseAudioDevice(device_);
    if (initialised_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  bool play(const std::string& wavePath) override {
    if (!initialised_) {
      if (failed_) return false;
      if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        dvrLogWarning("Sound output not available: %s", SDL_GetError());
        failed_ = true;
        return false;
      }
      initialised_ = true;
    }
    SDL_AudioSpec wave{};
    Uint8* data = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV(wavePath.c_str(), &wave, &data, &length)) {
      dvrLogWarning("Cannot play sound %s: %s", wavePath.c_str(), SDL_GetError());
      return false;
    }
    // The device is reopened only when a sound needs another format.
    if (!device_ || wave.freq != open_.freq || wave.format != open_.format ||
        wave.channels != open_.channels) {
      if (device_) SDL_CloseAudioDevice(device_);
      device_ = SDL_OpenAudioDevice(nullptr, 0, &wave, nullptr, 0);
      open_ = wave;
      if (!device_) {
        dvrLogWarning("Cannot open sound output: %s", SDL_GetError());
        SDL_FreeWAV(data);
        return false;
      }
    }
    SDL_ClearQueuedAudio(device_);
    bool ok = SDL_QueueAudio(device_, data, length) == 0;
    SDL_FreeWAV(data);
    SDL_PauseAudioDevice(device_, 0);
    return ok;
  }

 private:
  bool initialised_ = false;
  bool failed_ = false;
  SDL_AudioDeviceID device_ = 0;
  SDL_AudioSpec open_{};  // the format the device was opened with
};

}  // namespace

std::unique_ptr<dvrSoundPlayer> dvrMakeAudioPlayer() { return std::make_unique<AudioPlayer>(); }

void dvrPlaySound(std::string_view name) {
  dvrSettingSet* globals = dvrProcess().globals;
  dvrSoundPlayer* player = dvrProcess().sound;
  if (!globals || !player || globals->getInt("sfx") == 0) return;
  player->play(dvrGetPath(dvrPATH_SOUNDS) + "/" + std::string(name) + ".wav");
}
