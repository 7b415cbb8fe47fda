#include "ui/main_window.h"

#include <wx/bmpbuttn.h>
#include <wx/display.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statusbr.h>
#include <wx/utils.h>

#include <ctime>

#include "core/console.h"
#include "core/language.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/run_statistics.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/users.h"
#include "ui/console_window.h"
#include "ui/interface.h"

namespace {

wxString tr(const char* msgid) { return wxString::FromUTF8(dvrTr(msgid)); }
constexpr const char* kProduct = "Tavel DVR";
constexpr const char* kWebAddress = "http://www.tavel-dvr.example";

const std::time_t g_startTime = std::time(nullptr);

struct ButtonEntry {
  int index;
  const char* picture;
  const char* tooltip;
  const char* hint;
  const char* command;
  const char* right;  // empty: no right needed
};

constexpr ButtonEntry kButtons[] = {
    {0, "/live_icon.png", "Live image", "Live image", "openwindow live", "c_live"},
    {1, "/view_icon.png", "Recordings", "View recordings", "openwindow viewer", "c_rec"},
    {2, "/tools_icon.png", "Settings", "Open settings", "openwindow setup", "c_setup"},
    {3, "/photo_icon.png", "Gallery", "Open image gallery", "openwindow gallery", "c_gallery"},
    {5, "/network_button.png", "Remote connections", "Remote connections",
     "openwindow remotelist", ""},
};

wxBitmap loadPicture(const std::string& path) {
  wxImage image;
  if (wxFileExists(wxString::FromUTF8(path)) && image.LoadFile(wxString::FromUTF8(path)))
    return wxBitmap(image);
  wxBitmap blank(64, 64);
  return blank;
}

void execute(const std::string& line) {
  if (dvrConsole* console = dvrProcess().console) console->execute(line);
}

}  // namespace

dvrMainWindow::dvrMainWindow()
    : wxFrame(nullptr, wxID_ANY, kProduct, wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX),
      timer_() {
  dvrSettingSet* globals = dvrProcess().globals;
  if (globals && globals->getInt("bgwindow") == 1) background_ = new dvrBackgroundWindow;

  auto* recorder = new wxMenu;
  logout_ = recorder->Append(wxID_ANY, tr("&Log out"), tr("Log out the current user."));
  recorder->Append(wxID_EXIT, tr("&Quit"), tr("Quit the program; all recording will end!"));
  auto* help = new wxMenu;
  help->Append(wxID_ABOUT, tr("&About..."), tr("Shows information about the program."));
  auto* bar = new wxMenuBar;
  bar->Append(recorder, tr("&Recorder"));
  bar->Append(help, tr("&Help"));
  SetMenuBar(bar);
  CreateStatusBar(1);
  Bind(wxEVT_MENU, [](wxCommandEvent&) { execute("logout"); }, logout_->GetId());
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { quitProcedure(); }, wxID_EXIT);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { showAbout(); }, wxID_ABOUT);
  Bind(wxEVT_HELP, [](wxHelpEvent&) { execute("help mainwindow"); });

  auto* panel = new wxPanel(this);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  const std::string dir = dvrGetPath(dvrPATH_BUTTONS);
  for (const ButtonEntry& entry : kButtons) {
    auto* button = new wxBitmapButton(panel, wxID_ANY, loadPicture(dir + entry.picture));
    button->SetToolTip(tr(entry.tooltip));
    const int index = entry.index;
    button->Bind(wxEVT_BUTTON, [this, index](wxCommandEvent&) { buttonClicked(index); });
    const wxString hint = tr(entry.hint);
    button->Bind(wxEVT_ENTER_WINDOW, [this, hint](wxMouseEvent& e) {
      SetStatusText(hint);
      e.Skip();
    });
    button->Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent& e) {
      SetStatusText(status_);
      e.Skip();
    });
    buttons_[index] = button;
    row->Add(button, 0, wxALL, 4);
  }
  panel->SetSizer(row);
  auto* frameSizer = new wxBoxSizer(wxVERTICAL);
  frameSizer->Add(panel, 1, wxEXPAND);
  SetSizerAndFit(frameSizer);
  // No remote-client board exists yet: the remote connections button starts hidden.
  buttons_[5]->Hide();
  Layout();

  wxRect display = wxDisplay(0u).GetGeometry();
  wxSize size = GetSize();
  Move(display.width / 2 - size.x / 2, display.y + display.height - size.y - 101);
  wxIcon icon;
  icon.CopyFromBitmap(loadPicture(dvrGetPath(dvrPATH_ICONS) + "/tavel32.png"));
  SetIcon(icon);
  Bind(wxEVT_CLOSE_WINDOW, &dvrMainWindow::onClose, this);
  Show();

  loginChanged();
  lastTick_ = std::chrono::steady_clock::now();
  timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { tick(); });
  timer_.Start(kPeriodMs);
}

dvrMainWindow::~dvrMainWindow() {
  timer_.Stop();
  if (background_) background_->Destroy();
  background_ = nullptr;
  if (dvrInterface* ui = dvrInterface::instance()) ui->windowDestroyed(this);
}

wxString dvrMainWindow::titleText() {
  dvrSettingSet* globals = dvrProcess().globals;
  wxString customer = globals ? wxString::FromUTF8(globals->getText("customer")) : wxString();
  dvrUserList* users = dvrUsers();
  wxString user = users && users->current()
                      ? wxString::FromUTF8(users->current()->settings().getText("name"))
                      : tr("Not logged in");
  return wxString(kProduct) + " - " + customer + " - " + user;
}

void dvrMainWindow::tick() {
  wxString title = titleText();
  if (GetTitle() != title) SetTitle(title);

  auto now = std::chrono::steady_clock::now();
  std::int64_t elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - lastTick_).count();
  // A tick is due 20 ms after the one before; the timer's own delay counts.
  dvrCountHeartbeat(now - lastTick_ - std::chrono::milliseconds(20));
  lastTick_ = now;
  execute("refresh");
  // "refresh" may have run a queued "quit", which deletes the interface.
  dvrInterface* ui = dvrInterface::instance();
  if (ui && refreshesWindows(elapsed)) ui->refreshWindows();
}

void dvrMainWindow::refreshStatus() {
  if (GetStatusBar() && GetStatusBar()->GetStatusText() != status_) SetStatusText(status_);
}

void dvrMainWindow::buttonClicked(int index) {
  wxBusyCursor busy;
  for (const ButtonEntry& entry : kButtons) {
    if (entry.index != index) continue;
    if (entry.right[0] && !requireRight(this, entry.right)) return;
    execute(entry.command);
    return;
  }
}

void dvrMainWindow::loginChanged() {
  dvrUserList* users = dvrUsers();
  if (!logout_) return;
  if (users && users->current()) {
    wxString label = wxString::Format(tr("&Log out `%s'"),
                                      wxString::FromUTF8(users->current()->settings().getText("name")));
    logout_->SetItemLabel(wxString::Format("%s\tAlt-L", label));
  } else {
    logout_->SetItemLabel(tr("&Log out"));
  }
}

void dvrMainWindow::quitProcedure() {
  if (!requireRight(this, "c_quit")) return;
  dvrSettingSet* globals = dvrProcess().globals;
  int savemode = globals ? globals->getInt("savemode") : 0;
  if (savemode == 1) {
    int answer = wxMessageBox(tr("Quitting. Save settings?\nPlease note that shutting down the "
                                 "program will stop all recording!"),
                              kProduct, wxYES_NO | wxCANCEL, this);
    if (answer == wxCANCEL) return;
    if (answer == wxNO) {
      execute("quit");
      return;
    }
  } else if (savemode != 2) {
    if (wxMessageBox(tr("Really quit?"), kProduct, wxYES_NO, this) != wxYES) return;
  }
  execute(dvrFormat("savesettings %s/settings.tvl", dvrGetPath(dvrPATH_SETTINGS).c_str()));
  execute("quit");
}

void dvrMainWindow::onClose(wxCloseEvent& event) {
  if (dvrInterface::recreating() || dvrProcess().quitting || !event.CanVeto()) {
    event.Skip();
    return;
  }
  event.Veto();
  quitProcedure();
}

void dvrMainWindow::showAbout() {
  long up = static_cast<long>(std::time(nullptr) - g_startTime);
  wxString text = wxString::Format("%s %s\n\n", kProduct, TAVEL_VERSION_TEXT);
  text += wxString::Format(tr("Compiled: %s %s\nMore information at %s\nUptime: %dd %02ld:%02ld\n"),
                           __DATE__, __TIME__, kWebAddress, static_cast<int>(up / 86400),
                           (up / 3600) % 24, (up / 60) % 60);
  text += wxString(wxVERSION_STRING) + "\n" + wxGetOsDescription() + "\n";
  wxMessageBox(text, wxString::Format(tr("About %s"), kProduct), wxOK | wxICON_INFORMATION, this);
}

void dvrMainWindow::update(dvrNotifier* notifier, std::uint32_t codes) {
  dvrObserver::update(notifier, codes);
  // Motion notifications of cameras (32) update the status message once cameras exist.
}

dvrBackgroundWindow::dvrBackgroundWindow()
    : wxFrame(nullptr, wxID_ANY, "Background", wxDefaultPosition, wxDefaultSize,
              wxBORDER_NONE | wxFRAME_NO_TASKBAR) {
  wxRect display = wxDisplay(0u).GetGeometry();
  SetSize(display);
  wxImage picture;
  std::string path = dvrGetPath(dvrPATH_IMAGES) + "/background.png";
  if (wxFileExists(wxString::FromUTF8(path)) && picture.LoadFile(wxString::FromUTF8(path))) {
    wxSize client = GetClientSize();
    if (client.x > 0 && client.y > 0) picture.Rescale(client.x, client.y);
    new wxStaticBitmap(this, wxID_ANY, wxBitmap(picture), wxPoint(0, 0), client);
  }
  Show();
  Lower();
  Bind(wxEVT_ACTIVATE, [](wxActivateEvent& e) {
    // Bring the program's windows back in front of the background.
    if (e.GetActive()) {
      if (dvrInterface* ui = dvrInterface::instance()) {
        if (wxFrame* main = ui->mainWindow()) {
          if (!main->IsIconized()) {
            main->Raise();
            main->SetTitle(dvrMainWindow::titleText());
          }
        }
      }
    }
    e.Skip();
  });
}

dvrBackgroundWindow::~dvrBackgroundWindow() = default;
