#include "ui/login_dialog.h"

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "core/console.h"
#include "core/language.h"
#include "core/process.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/users.h"

namespace {
wxString tr(const char* msgid) { return wxString::FromUTF8(dvrTr(msgid)); }
wxString wx(const std::string& s) { return wxString::FromUTF8(s); }
constexpr const char* kProduct = "Tavel DVR";
}  // namespace

bool LoginChecker::check(const wxString& login, const wxString& password, bool& focusLogin,
                         wxString& errorText) {
  dvrLoginCheck result = dvrCheckLogin(right_, login.utf8_string(), password.utf8_string());
  focusLogin = result.focusLogin;
  errorText = wx(result.errorText);
  return result.accepted;
}

bool PasswdCheck::check(const wxString& login, const wxString& password, bool& focusLogin,
                        wxString& errorText) {
  dvrLoginCheck result = dvrCheckNewUser(login.utf8_string(), password.utf8_string());
  focusLogin = result.focusLogin;
  errorText = wx(result.errorText);
  if (result.accepted) password_ = password;
  return result.accepted;
}

int dvrLoginRetryDelayMs(int failures) {
  if (failures <= 1) return 2000;
  if (failures == 2) return 4000;
  return 8000;
}

dvrwxLoginDialog::dvrwxLoginDialog(wxWindow* parent, const wxString& title,
                                   const wxString& message, dvrwxLoginChecker& checker,
                                   Style style, const wxString& login)
    : wxDialog(parent, wxID_ANY, title), checker_(checker), style_(style) {
  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(new wxStaticText(this, wxID_ANY, message), 0, wxALL, 8);
  auto* grid = new wxFlexGridSizer(2, 4, 8);
  grid->AddGrowableCol(1);
  grid->Add(new wxStaticText(this, wxID_ANY, tr("Login name")), 0, wxALIGN_CENTER_VERTICAL);
  loginField_ = new wxTextCtrl(this, wxID_ANY, login, wxDefaultPosition, wxSize(200, -1));
  loginField_->SetMaxLength(31);
  grid->Add(loginField_, 1, wxEXPAND);
  grid->Add(new wxStaticText(this, wxID_ANY, tr("Password")), 0, wxALIGN_CENTER_VERTICAL);
  password_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(200, -1), wxTE_PASSWORD);
  password_->SetMaxLength(127);
  grid->Add(password_, 1, wxEXPAND);
  if (style_ == CONFIRM) {
    grid->Add(new wxStaticText(this, wxID_ANY, tr("Confirm password")), 0,
              wxALIGN_CENTER_VERTICAL);
    confirm_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(200, -1), wxTE_PASSWORD);
    confirm_->SetMaxLength(127);
    grid->Add(confirm_, 1, wxEXPAND);
  }
  column->Add(grid, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);
  status_ = new wxStaticText(this, wxID_ANY, "");
  status_->SetForegroundColour(*wxRED);
  column->Add(status_, 0, wxEXPAND | wxALL, 8);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  ok_ = new wxButton(this, wxID_OK, tr("OK"));
  cancel_ = new wxButton(this, wxID_CANCEL, tr("Cancel"));
  buttons->Add(ok_, 0, wxALL, 4);
  buttons->Add(cancel_, 0, wxALL, 4);
  column->Add(buttons, 0, wxALIGN_RIGHT | wxALL, 4);
  SetSizerAndFit(column);
  ok_->SetDefault();
  ok_->Enable(!loginField_->IsEmpty());
  loginField_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { ok_->Enable(!loginField_->IsEmpty()); });
  ok_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { submit(); });
  retry_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { retryNow(); });
  (login.empty() ? loginField_ : password_)->SetFocus();
  CentreOnScreen();
}

dvrwxLoginDialog::~dvrwxLoginDialog() { retry_.Stop(); }

void dvrwxLoginDialog::enableInput(bool on) {
  loginField_->Enable(on);
  password_->Enable(on);
  if (confirm_) confirm_->Enable(on);
  ok_->Enable(on && !loginField_->IsEmpty());
  cancel_->Enable(on);
}

void dvrwxLoginDialog::submit() {
  if (loginField_->IsEmpty() || pendingDelay_ > 0) return;
  enableInput(false);
  bool focusLogin = false;
  wxString error;
  bool accepted = false;
  if (style_ == CONFIRM && password_->GetValue() != confirm_->GetValue()) {
    accepted = false;
  } else {
    accepted = checker_.check(loginField_->GetValue(), password_->GetValue(), focusLogin, error);
  }
  if (accepted) {
    login_ = loginField_->GetValue();
    status_->SetLabel("");
    EndModal(wxID_OK);
    return;
  }
  if (error.empty())
    error = style_ == CONFIRM ? tr("Passwords do not match.") : tr("Login incorrect.");
  status_->SetLabel(error);
  focusLoginAfterRetry_ = focusLogin;
  if (style_ == LOGIN) {
    ++failures_;
    pendingDelay_ = dvrLoginRetryDelayMs(failures_);
    retry_.StartOnce(pendingDelay_);
  } else {
    retryNow();
  }
}

void dvrwxLoginDialog::retryNow() {
  retry_.Stop();
  pendingDelay_ = 0;
  password_->Clear();
  if (confirm_) confirm_->Clear();
  enableInput(true);
  (focusLoginAfterRetry_ ? loginField_ : password_)->SetFocus();
}

bool dvrShowLoginPrompt(wxWindow* parent, const std::string& right) {
  LoginChecker checker(right);
  dvrwxLoginDialog dialog(parent, wxString::Format(tr("Login - %s"), kProduct),
                          tr("Please log in to continue. You may also cancel."), checker);
  return dialog.ShowModal() == wxID_OK;
}

void dvrAddUserFlow(wxWindow* parent) {
  if (!requireRight(parent, "c_users")) return;
  PasswdCheck checker;
  dvrwxLoginDialog dialog(parent, tr("Add user"),
                          tr("Enter the desired User ID (2 to 30 letters)\nEnter the password "
                             "twice for confirmation."),
                          checker, dvrwxLoginDialog::CONFIRM);
  if (dialog.ShowModal() != wxID_OK) return;
  if (dvrConsole* console = dvrProcess().console)
    console->execute(dvrFormat("AddUser %s %s", dialog.login().utf8_string().c_str(),
                               checker.password().utf8_string().c_str()));
}

void dvrDeleteUserFlow(wxWindow* parent, const std::string& login) {
  dvrUserList* users = dvrUsers();
  dvrConsole* console = dvrProcess().console;
  if (!users || !console) return;
  dvrUser* user = users->find(login);
  if (users->count() > 0 && user && user->isAdministrator() && users->count() > 1) {
    wxMessageBox(tr("Administrator can't be removed if other users are present!"), kProduct, wxOK,
                 parent);
    return;
  }
  if (user && user == users->current()) console->execute("logout");
  console->execute(dvrFormat("deluser %s", login.c_str()));
}
