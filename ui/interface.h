// The object that executes the window commands and owns the references to
// the single instances of the top-level windows. Created when the user
// interface starts (it makes the main window at once) and deleted by Quit,
// which closes every window.
//
// Threads: main thread only. Other threads open windows through the command queue.
#pragma once

#include <cstdint>
#include <string>

#include "core/object.h"

class wxWindow;
struct dvrCommand;
class dvrMainWindow;
class dvrConsoleWindow;
class dvrBackgroundWindow;

class dvrInterface : public dvrObserver {
 public:
  // Creates the main window, binds the window commands, installs the login
  // prompt and logs "%s (%s) started.".
  dvrInterface();
  // Logs "Exiting." and closes every window.
  ~dvrInterface() override;

  // The one instance, or null before the interface starts and after Quit.
  static dvrInterface* instance();
  // Raised while "ReOpenWindow" rebuilds the windows.
  static bool recreating();

  // The window commands; each answers whether it succeeded.
  int openWindow(const dvrCommand& command);
  int closeWindow(const dvrCommand& command);
  int reopenWindows(const dvrCommand& command);

  // Redraws the windows that follow the engine (console text, status bar).
  void refreshWindows();

  dvrMainWindow* mainWindow() const { return main_; }
  dvrConsoleWindow* consoleWindow() const { return console_; }
  // Windows report their destruction here, so no reference dangles.
  void windowDestroyed(wxWindow* window);

  void update(dvrNotifier* notifier, std::uint32_t codes) override;

 private:
  void openConsole();
  void openGallery();

  dvrMainWindow* main_ = nullptr;
  dvrConsoleWindow* console_ = nullptr;
};

// Binds the window commands to the process's interpreter for a recorder
// without a display: each logs that no display is available.
void dvrBindHeadlessWindowCommands();
