// The console window: type command lines of the command language and see the
// console text (the log lines) that the program collects.
//
// Threads: main thread only.
#pragma once

#include <wx/frame.h>

#include <cstdint>

class wxTextCtrl;

class dvrConsoleWindow : public wxFrame {
 public:
  dvrConsoleWindow();
  ~dvrConsoleWindow() override;

  // Appends the console text added since the last update.
  void periodicUpdate();
  // Executes what the command field holds, as Enter does, and empties it.
  void executeCommandField();

  wxTextCtrl* output() const { return output_; }
  wxTextCtrl* commandField() const { return command_; }

 private:
  wxTextCtrl* output_;
  wxTextCtrl* command_;
};

// How much of the console text has been shown in a console window; kept
// across windows, so a reopened console does not show old text again.
std::uint64_t& dvrConsoleTextShown();
