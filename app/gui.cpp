#include "app/gui.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/msgdlg.h>
#include <wx/generic/msgdlgg.h>
#include <wx/joystick.h>
#include <wx/progdlg.h>
#include <wx/statbmp.h>
#include <wx/timer.h>
#include <wx/tooltip.h>
#include <wx/utils.h>

#include <functional>
#include <memory>

#include "app/application.h"
#include "app/line_reader.h"
#include "core/console.h"
#include "core/language.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/settings.h"
#include "core/text.h"
#include "ui/list_dialog.h"
#include "ui/interface.h"

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
    ask(wx(text), wxOK | wxICON_ERROR);
  }

  // Message boxes of the start-up are the toolkit's own dialogs (not the
  // system's), so that a quit request can close them.
  static int ask(const wxString& text, long style) {
    wxGenericMessageDialog box(nullptr, text, dvrPRODUCT, style);
    int answer = box.ShowModal();
    return answer == wxID_OK ? wxOK : answer == wxID_YES ? wxYES : wxCANCEL;
  }

  // Ends every modal dialog, so that a quit request is never held up by a question.
  static void endModalDialogs() {
    for (wxWindow* w : wxTopLevelWindows)
      if (auto* dialog = dynamic_cast<wxDialog*>(w); dialog && dialog->IsModal())
        dialog->EndModal(wxID_CANCEL);
  }

  void startInterface() override {
    if (onInterface) onInterface();
  }
  std::function<void()> onInterface;

  void openInputDevices() override {
    if (wxJoystick::GetNumberJoysticks() > 0) {
      joystick_ = std::make_unique<wxJoystick>(wxJOYSTICK1);
      joystick_->SetMovementThreshold(100);
    }
  }
  void closeInputDevices() { joystick_.reset(); }

  // Runs the wizard from the main loop, once the start-up is over.
  void firstRunWizard() override {
    wxTheApp->CallAfter([this] { runFirstRunWizard(); });
  }

  void runFirstRunWizard() {
    dvrConsole* console = dvrProcess().console;
    if (!console || dvrProcess().quitting) return;
    wxString intro = wxString::Format(
        wx(dvrTr("This is the first time %s is run on this computer.\nThe following dialogs will "
                 "allow you to do automated tasks\nto speed up the system setup.")),
        dvrPRODUCT);
    if (ask(intro, wxOK | wxCANCEL) != wxOK || dvrProcess().quitting) return;
    struct Task {
      int cameras;
      int framerate;
    };
    const Task tasks[] = {{16, 6}, {24, 4}, {32, 3}};
    dvrListDialog list(nullptr, wx(dvrTr("Select tasks to run")), false);
    for (int n = 0; n < 3; ++n)
      list.addEntry(wxString::Format(wx(dvrTr("Add a Brisa100 board and %d cameras")), tasks[n].cameras), n + 1);
    if (list.ShowModal() <= 0 || dvrProcess().quitting) return;
    wxProgressDialog busy(dvrPRODUCT, wx(dvrTr("Executing the commands...")), 100, nullptr,
                          wxPD_APP_MODAL | wxPD_AUTO_HIDE);
    wxBusyCursor cursor;
    int value = 0;
    for (int entry : list.values()) {
      value += 10;
      busy.Update(value);
      const Task& t = tasks[entry - 1];
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
    // Quit ends the main loop explicitly; windows coming and going do not.
    SetExitOnFrameDelete(false);
    ui_.onInterface = [this] { interface_ = std::make_unique<dvrInterface>(); };
    // Signals are only recorded by their handlers; the quit they ask for is
    // issued by the poller, which runs from the start so that a question on
    // screen never holds a quit up. Command lines piped into standard input
    // (not a terminal) run as console lines, which lets scripts drive the
    // windowed recorder.
    if (!isatty(STDIN_FILENO)) {
      input_ = std::make_unique<dvrLineReader>(STDIN_FILENO);
      fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    }
    poller_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { poll(); });
    poller_.Start(20);
    if (!application_.initialise(ui_, false)) return false;
    dvrProcess().onQuit = [this] {
      poller_.Stop();
      finishQuit();
    };
    quitter_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { finishQuit(); });
    started_ = true;
    if (quitRequested_) CallAfter([] {
        if (dvrConsole* console = dvrProcess().console) console->execute("quit");
      });
    return true;
  }

  int OnExit() override {
    poller_.Stop();
    quitter_.Stop();
    dvrProcess().onQuit = nullptr;
    interface_.reset();
    application_.shutdown(ui_);
    dvrProcess().onTooltips = nullptr;
    ui_.closeInputDevices();
    return 0;
  }

 private:
  // Closes the interface and leaves the main loop. Inside a modal dialog's
  // loop the dialogs are ended first and the rest waits until they are gone,
  // so that it is the main loop that ends.
  void finishQuit() {
    wxEventLoopBase* active = wxEventLoopBase::GetActive();
    if (active && active != GetMainLoop()) {
      WindowedUi::endModalDialogs();
      quitter_.StartOnce(20);
      return;
    }
    interface_.reset();  // logs "Exiting." and closes every window
    ExitMainLoop();
  }

  void poll() {
    dvrConsole* console = dvrProcess().console;
    if (!console) return;
    if (dvrTakeQuitSignal()) {
      if (started_) {
        console->execute("quit");
      } else {
        // During the start-up: end its questions and quit once it is over.
        quitRequested_ = true;
        WindowedUi::endModalDialogs();
      }
      return;
    }
    if (started_ && input_ && input_->open()) {
      pollfd fd{input_->fd(), POLLIN, 0};
      if (::poll(&fd, 1, 0) > 0)
        input_->readAvailable([](const std::string& line) {
          if (dvrConsole* c = dvrProcess().console; c && !dvrProcess().quitting) c->execute(line);
        });
    }
  }

  dvrApplication application_;
  WindowedUi ui_;
  std::unique_ptr<dvrInterface> interface_;
  std::unique_ptr<dvrLineReader> input_;
  wxTimer poller_;
  wxTimer quitter_;
  bool started_ = false;        // the start-up sequence is over
  bool quitRequested_ = false;  // a signal came during the start-up
};

}  // namespace

int dvrRunWindowed(int argc, char** argv) {
  wxApp::SetInstance(new DVR);
  return wxEntry(argc, argv);
}
