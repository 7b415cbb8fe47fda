// The recorder's life cycle: initialisation, the start-up sequence, and the
// shutdown sequence, shared by the windowed program and headless mode.
//
// What differs between the two (splash and progress, message boxes, the
// first-run wizard) goes through dvrStartupUi. Everything the start-up
// configures it configures by running command lines ("run settings.tvl",
// "start") through the interpreter.
//
// Threads: main thread only.
#pragma once

#include <memory>
#include <string>

class wxSingleInstanceChecker;
class dvrConsole;
class dvrOKThread;
class dvrRuleSet;
class dvrCore;
class dvrSettingSet;
class dvrSoundPlayer;
class dvrDB_sqlite;
class dvrFileSystem;

class dvrStartupUi {
 public:
  virtual ~dvrStartupUi() = default;
  // Opens the splash and the progress dialog ("Starting up..."), and for the shutdown its dialog.
  virtual void beginProgress(const std::string& message) = 0;
  virtual void progress(int value, const std::string& message) = 0;
  virtual void endProgress() = 0;
  // A message box titled "Tavel DVR" with an OK button and an error icon.
  virtual void errorBox(const std::string& text) = 0;
  // Opens joystick 0 when the system has one (windowed only).
  virtual void openInputDevices() {}
  // Starts the user interface; it logs "%s (%s) started.".
  virtual void startInterface() = 0;
  // The first-run wizard; runs only when firstrun is set.
  virtual void firstRunWizard() = 0;
};

class dvrApplication {
 public:
  dvrApplication();
  ~dvrApplication();

  // Steps 1 to 8 of the initialisation and the start-up sequence. False when
  // another instance runs (the caller ends the process).
  bool initialise(dvrStartupUi& ui, bool headless);
  // The shutdown sequence, then the single-instance checker and the log go.
  void shutdown(dvrStartupUi& ui);

  // The file that a shutdown writes "die" into for the external watchdog.
  static void writePollDie();

 private:
  // False after a fatal error (already shown to the user).
  bool startupSequence(dvrStartupUi& ui, bool headless);

  std::unique_ptr<wxSingleInstanceChecker> instance_;
  std::unique_ptr<dvrSoundPlayer> sound_;
  std::unique_ptr<dvrConsole> console_;
  std::unique_ptr<dvrCore> core_;
  std::unique_ptr<dvrSettingSet> globals_;
  std::unique_ptr<dvrOKThread> watchdog_;
  std::unique_ptr<dvrRuleSet> rules_;
  std::unique_ptr<dvrDB_sqlite> database_;  // the user interface's index connection
  std::unique_ptr<dvrFileSystem> store_;     // null in passive mode
  bool started_ = false;
};

// The product name and the version text of the start message.
inline constexpr const char* dvrPRODUCT = "Tavel DVR";
const char* dvrVersionText();

// Signal handling: SIGINT and SIGTERM only record the signal (and wake the
// descriptor below); the main loop then issues "quit". SIGPIPE is ignored.
void dvrInstallSignalHandlers();
bool dvrTakeQuitSignal();
int dvrSignalWakeDescriptor();
