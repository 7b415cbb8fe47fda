#include "ui/console_window.h"

#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "core/console.h"
#include "core/console_text.h"
#include "core/language.h"
#include "core/process.h"
#include "ui/interface.h"

namespace {
wxString tr(const char* msgid) { return wxString::FromUTF8(dvrTr(msgid)); }
}  // namespace

std::uint64_t& dvrConsoleTextShown() {
  static std::uint64_t shown = 0;
  return shown;
}

dvrConsoleWindow::dvrConsoleWindow()
    : wxFrame(nullptr, wxID_ANY, tr("Console"), wxPoint(20, 20), wxSize(610, 250),
              wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX) {
  output_ = new wxTextCtrl(this, wxID_ANY, "", wxPoint(0, 0), wxSize(600, 200),
                           wxTE_MULTILINE | wxTE_READONLY);
  output_->SetEditable(false);
  auto* label = new wxStaticText(this, wxID_ANY, tr("Command"), wxPoint(3, 207));
  // The label has 57 pixels before the command field; a smaller font keeps it whole.
  label->SetFont(label->GetFont().Smaller());
  command_ = new wxTextCtrl(this, wxID_ANY, "", wxPoint(60, 204), wxSize(540, 20),
                            wxTE_PROCESS_ENTER);
  command_->SetToolTip(tr("Enter the command here. For full list of commands, type \"help\"."));
  command_->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { executeCommandField(); });
  command_->SetFocus();
  Show();
}

dvrConsoleWindow::~dvrConsoleWindow() {
  if (dvrInterface* ui = dvrInterface::instance()) ui->windowDestroyed(this);
}

void dvrConsoleWindow::executeCommandField() {
  dvrConsole* console = dvrProcess().console;
  if (!console) return;
  std::string line = command_->GetValue().utf8_string();
  command_->Clear();
  console->execute(line);
}

void dvrConsoleWindow::periodicUpdate() {
  std::uint64_t next = 0;
  std::string added = dvrConsoleTextSince(dvrConsoleTextShown(), &next);
  if (!added.empty()) output_->AppendText(wxString::FromUTF8(added));
  dvrConsoleTextShown() = next;
}
