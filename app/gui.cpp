#include "app/gui.h"

#include <wx/app.h>
#include <wx/choicdlg.h>
#include <wx/frame.h>
#include <wx/joystick.h>
#include <wx/msgdlg.h>
#include <wx/progdlg.h>
#include <wx/statbmp.h>
#include <wx/timer.h>
#include <wx/tooltip.h>
#include <wx/utils.h>

#include <memory>

#include "app/application.h"
#include "core/console.h"
#include "core/language.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/settings.h"
#include "core/text.h"

namespace {

wxString wx(const std::string& s) { return wxString::FromUTF8(s); }

// Splash, progress dialog, message boxes and the first-run wizard on screen.
class WindowedUi : public dvrStartupUi {
 public:
  void beginProgress(const std::string& message) override {
    if (!dvrProcess().shuttingDown) {
      splash_ = new wxFrame(nullptr, wxID_ANY, dvrPRODUCT, wxDefaultPosition, wxSize(256, 256),
                            wxFRAME_NO_TASKBAR | wxSTAY_ON_TOP | wxBORDER_NONE);
      wxImage logo;
      if (logo.LoadFile(wx(dvrGetPath(dvrPATH_IMAGES) + "/startlogo.png")))
        new wxStaticBitmap(splash_, wxID_ANY, wxBitmap(logo));
      splash_->Centre(wxBOTH);
      splash_->Show();
    }
    dialog_ = new wxProgressDialog(dvrPRODUCT, wx(message), 100, nullptr, wxPD_APP_MODAL | wxPD_AUTO_HIDE);
    wxYield();
  }
  void progress(int value, const std::string& message) override {
    if (dialog_) dialog_->Update(value, wx(message));
  }
  void endProgress() override {
    // Deleted at once: the dialog runs a temporary event loop of its own
    // before the main loop exists, and must be gone before that loop changes.
    delete dialog_;
    dialog_ = nullptr;
    if (splash_) splash_->Destroy();
    splash_ = nullptr;
  }
  void errorBox(const std::string& text) override {
    wxMessageBox(wx(text), dvrPRODUCT, wxOK | wxICON_ERROR);
  }

  void openInputDevices() override {
    if (wxJoystick::GetNumberJoysticks() > 0) {
      joystick_ = std::make_unique<wxJoystick>(wxJOYSTICK1);
      joystick_->SetMovementThreshold(100);
    }
  }
  void closeInputDevices() { joystick_.reset(); }

  void firstRunWizard() override {
    dvrConsole* console = dvrProcess().console;
    if (!console) return;
    wxString intro = wxString::Format(
        wx(dvrTr("This is the first time %s is run on this computer.\nThe following dialogs will "
                 "allow you to do automated tasks\nto speed up the system setup.")),
        dvrPRODUCT);
    if (wxMessageBox(intro, dvrPRODUCT, wxOK | wxCANCEL) != wxOK) return;
    struct Task {
      int cameras;
      int framerate;
    };
    const Task tasks[] = {{16, 6}, {24, 4}, {32, 3}};
    wxArrayString entries;
    for (const Task& t : tasks)
      entries.Add(wxString::Format(wx(dvrTr("Add a Brisa100 board and %d cameras")), t.cameras));
    wxMultiChoiceDialog list(nullptr, wx(dvrTr("Select tasks to run")),
                             wx(dvrTr("Select tasks to run")), entries);
    if (list.ShowModal() != wxID_OK) return;
    wxProgressDialog busy(dvrPRODUCT, wx(dvrTr("Executing the commands...")), 100, nullptr,
                          wxPD_APP_MODAL | wxPD_AUTO_HIDE);
    wxBusyCursor cursor;
    int value = 0;
    for (int index : list.GetSelections()) {
      value += 10;
      busy.Update(value);
      const Task& t = tasks[index];
      console->execute("AddCard brisa Brisa1");
      for (int i = 0; i < t.cameras; ++i) {
        std::string name = dvrFormat("Brisa1_%d", i + 1);
        console->execute(dvrFormat("AddCamera Brisa1 %d %s", i, name.c_str()));
        console->execute(dvrFormat("set camera %s framerate int %d", name.c_str(), t.framerate));
      }
    }
    busy.Update(50);
    console->execute("stop");
    console->execute("start");
    busy.Update(100);
  }

 private:
  wxFrame* splash_ = nullptr;
  wxProgressDialog* dialog_ = nullptr;
  std::unique_ptr<wxJoystick> joystick_;  // joystick 0, when the system has one
};

class DVR : public wxApp {
 public:
  bool OnInit() override {
    dvrProcess().onTooltips = [](bool on) { wxToolTip::Enable(on); };
    // The recorder runs on with no window open; only Quit ends the main loop.
    SetExitOnFrameDelete(false);
    if (!application_.initialise(ui_, false)) return false;
    // The heartbeat: "refresh" every 20 ms on the main thread. Signals are
    // only recorded by their handlers; the quit they ask for is issued here.
    heartbeat_.Bind(wxEVT_TIMER, [](wxTimerEvent&) {
      dvrConsole* console = dvrProcess().console;
      if (!console) return;
      if (dvrTakeQuitSignal()) console->execute("quit");
      if (dvrProcess().console) dvrProcess().console->execute("refresh");
    });
    heartbeat_.Start(20);
    dvrProcess().onQuit = [this] {
      dvrLogMessage("%s", dvrTr("Exiting.").c_str());
      heartbeat_.Stop();
      for (wxWindow* w : wxTopLevelWindows) w->Destroy();
      ExitMainLoop();
    };
    return true;
  }

  int OnExit() override {
    heartbeat_.Stop();
    dvrProcess().onQuit = nullptr;
    application_.shutdown(ui_);
    dvrProcess().onTooltips = nullptr;
    ui_.closeInputDevices();
    return 0;
  }

 private:
  dvrApplication application_;
  WindowedUi ui_;
  wxTimer heartbeat_;
};

}  // namespace

int dvrRunWindowed(int argc, char** argv) {
  wxApp::SetInstance(new DVR);
  return wxEntry(argc, argv);
}
