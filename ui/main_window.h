// The small main window: five big buttons (live view, recordings, settings,
// gallery, remote connections), the Recorder and Help menus, a status bar,
// and the 20 ms refresh timer that is the heartbeat of the engine.
//
// Threads: main thread only.
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "core/object.h"

class wxBitmapButton;
class wxMenuItem;
class dvrBackgroundWindow;

class dvrMainWindow : public wxFrame, public dvrObserver {
 public:
  static constexpr int kPeriodMs = 20;

  dvrMainWindow();
  ~dvrMainWindow() override;

  // One tick of the refresh timer: title, remote button, "refresh", and the
  // window refresh when the previous tick lies less than 40 ms back.
  void tick();
  // Whether the window refresh of a tick whose previous tick lies elapsedMs back runs.
  static bool refreshesWindows(std::int64_t elapsedMs) { return elapsedMs < 2 * kPeriodMs; }

  // The title "Tavel DVR - <customer> - <user name or Not logged in>".
  static wxString titleText();
  // Quit procedure: needs c_quit, then follows savemode.
  void quitProcedure();
  // Updates the log-out menu item after a log-in or log-out.
  void loginChanged();
  // Copies the status message into the status bar when it differs.
  void refreshStatus();
  void setStatusMessage(const wxString& text) { status_ = text; }
  void showAbout();

  wxBitmapButton* button(int index) const { return index >= 0 && index < 6 ? buttons_[index] : nullptr; }
  dvrBackgroundWindow* background() const { return background_; }
  wxMenuItem* logoutItem() const { return logout_; }

  void update(dvrNotifier* notifier, std::uint32_t codes) override;

 private:
  void buttonClicked(int index);
  void onClose(wxCloseEvent& event);

  wxString status_;
  wxTimer timer_;
  std::chrono::steady_clock::time_point lastTick_;
  wxBitmapButton* buttons_[6] = {};
  wxMenuItem* logout_ = nullptr;
  dvrBackgroundWindow* background_ = nullptr;
};

// The full-screen window behind the program's windows that covers the desktop.
class dvrBackgroundWindow : public wxFrame {
 public:
  dvrBackgroundWindow();
  ~dvrBackgroundWindow() override;
};
