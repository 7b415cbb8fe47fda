// The login dialog, its checkers, and the add-user and delete-user flows that
// the setup window calls.
//
// Threads: main thread only.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

#include <string>

class wxButton;
class wxStaticText;
class wxTextCtrl;

// Decides whether what was typed is accepted. On refusal it may set the
// error text and ask for the focus to go back to the login field.
class dvrwxLoginChecker {
 public:
  virtual ~dvrwxLoginChecker() = default;
  virtual bool check(const wxString& login, const wxString& password, bool& focusLogin,
                     wxString& errorText) = 0;
};

// Accepts a user who holds a right, and makes that user the current user.
class LoginChecker : public dvrwxLoginChecker {
 public:
  explicit LoginChecker(std::string right) : right_(std::move(right)) {}
  bool check(const wxString& login, const wxString& password, bool& focusLogin,
             wxString& errorText) override;

 private:
  std::string right_;
};

// Accepts a new login name and password for the add-user dialog; the
// accepted password is handed to the caller.
class PasswdCheck : public dvrwxLoginChecker {
 public:
  bool check(const wxString& login, const wxString& password, bool& focusLogin,
             wxString& errorText) override;
  const wxString& password() const { return password_; }

 private:
  wxString password_;
};

// The wait after the n-th failed attempt of one dialog (n from 1): 2, 4, then 8 seconds.
int dvrLoginRetryDelayMs(int failures);

class dvrwxLoginDialog : public wxDialog {
 public:
  enum Style { LOGIN, CONFIRM };
  dvrwxLoginDialog(wxWindow* parent, const wxString& title, const wxString& message,
                   dvrwxLoginChecker& checker, Style style = LOGIN,
                   const wxString& login = wxString());
  ~dvrwxLoginDialog() override;

  const wxString& login() const { return login_; }

  // What OK does: checks, and either closes with OK or shows the error and
  // waits before the next try.
  void submit();
  wxTextCtrl* loginField() const { return loginField_; }
  wxTextCtrl* passwordField() const { return password_; }
  wxTextCtrl* confirmField() const { return confirm_; }
  wxStaticText* statusLine() const { return status_; }
  wxButton* okButton() const { return ok_; }
  int failures() const { return failures_; }
  // The wait now in progress, in milliseconds (0 when none).
  int pendingDelayMs() const { return pendingDelay_; }
  // Ends the wait at once (the retry timer's action).
  void retryNow();

 private:
  void enableInput(bool on);

  dvrwxLoginChecker& checker_;
  Style style_;
  wxTextCtrl* loginField_;
  wxTextCtrl* password_;
  wxTextCtrl* confirm_ = nullptr;
  wxStaticText* status_;
  wxButton* ok_;
  wxButton* cancel_;
  wxTimer retry_;
  wxString login_;
  int failures_ = 0;
  int pendingDelay_ = 0;
  bool focusLoginAfterRetry_ = false;
};

// The login prompt of guarded operations: "Login - Tavel DVR" with a
// LoginChecker for the right. Answers whether a user with the right logged in.
bool dvrShowLoginPrompt(wxWindow* parent, const std::string& right);

// Add-user flow: needs c_users, asks in confirm style, issues "AddUser %s %s".
void dvrAddUserFlow(wxWindow* parent);
// Delete-user flow: refuses to delete the administrator while others exist;
// logs out the current user first when it is the one deleted.
void dvrDeleteUserFlow(wxWindow* parent, const std::string& login);
