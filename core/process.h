// The process-wide objects that every subsystem reaches.
//
// The application creates and deletes them in its start-up and shutdown
// sequences and fills these pointers; everyone else only reads them. A null
// pointer means the object does not exist (yet, or any more).
#pragma once

#include <atomic>
#include <functional>

class dvrConsole;
class dvrCore;
class dvrSettingSet;
class dvrSoundPlayer;

struct dvrProcessObjects {
  dvrConsole* console = nullptr;
  dvrCore* core = nullptr;
  dvrSettingSet* globals = nullptr;
  dvrSoundPlayer* sound = nullptr;

  // Set by Quit and at the start of shutdown, cleared at the start of start-up;
  // windows refuse to open while it is set.
  std::atomic<bool> quitting{false};
  // Set at the start of shutdown.
  std::atomic<bool> shuttingDown{false};

  // The effect of the Quit command beyond the quitting flag, set by the
  // application (the windowed one deletes its interface, headless ends its loop).
  std::function<void()> onQuit;
  // Switches the tooltips of the whole interface; set by the user interface.
  std::function<void(bool)> onTooltips;
};

dvrProcessObjects& dvrProcess();
