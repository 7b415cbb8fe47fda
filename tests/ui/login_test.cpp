#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/users.h"
#include "tests/support/fixture.h"
#include "ui/login_dialog.h"

namespace {

TEST(LoginRetry, WaitsGrowToEightSeconds) {
  const int expected[] = {2000, 4000, 8000, 8000, 8000};
  for (int failures = 1; failures <= 5; ++failures)
    EXPECT_EQ(dvrLoginRetryDelayMs(failures), expected[failures - 1]) << failures;
}

// Runs steps inside the dialog's modal loop, then the dialog's answer.
int runModal(dvrwxLoginDialog& dialog, std::function<void()> steps) {
  dialog.CallAfter([&dialog, steps] {
    steps();
    if (dialog.IsModal()) dialog.EndModal(wxID_CANCEL);
  });
  return dialog.ShowModal();
}

class LoginDialogTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    console->execute("adduser boss secret1");   // administrator
    console->execute("adduser guard secret2");  // no rights
    console->execute("set user guard c_setup int 1");
  }
};

TEST_F(LoginDialogTest, WrongPasswordsWaitLongerEachTime) {
  LoginChecker checker("c_live");
  dvrwxLoginDialog dialog(nullptr, "Login - Tavel DVR", "Please log in", checker);
  std::vector<int> waits;
  std::string status;
  int answer = runModal(dialog, [&] {
    dialog.loginField()->SetValue("boss");
    for (int attempt = 0; attempt < 4; ++attempt) {
      dialog.passwordField()->SetValue("wrong");
      dialog.submit();
      waits.push_back(dialog.pendingDelayMs());
      status = dialog.statusLine()->GetLabel().utf8_string();
      EXPECT_FALSE(dialog.okButton()->IsEnabled()) << "no retry during the wait";
      dialog.retryNow();
      EXPECT_TRUE(dialog.passwordField()->GetValue().empty());
    }
  });
  EXPECT_EQ(answer, wxID_CANCEL);
  EXPECT_EQ(waits, (std::vector<int>{2000, 4000, 8000, 8000}));
  EXPECT_EQ(status, "Error: Login failed! Please check your username and password.");
  EXPECT_EQ(dvrUsers()->current(), nullptr);
}

TEST_F(LoginDialogTest, UserWithoutTheRightIsRefusedAndTheAdministratorAccepted) {
  LoginChecker checker("c_live");
  dvrwxLoginDialog dialog(nullptr, "Login - Tavel DVR", "Please log in", checker);
  std::string refusal;
  int answer = runModal(dialog, [&] {
    dialog.loginField()->SetValue("guard");
    dialog.passwordField()->SetValue("secret2");
    dialog.submit();
    refusal = dialog.statusLine()->GetLabel().utf8_string();
    dialog.retryNow();
    dialog.loginField()->SetValue("boss");
    dialog.passwordField()->SetValue("secret1");
    dialog.submit();  // accepted: ends the modal loop with OK
  });
  EXPECT_EQ(refusal, "Error: The user has no rights for this command.");
  EXPECT_EQ(answer, wxID_OK);
  EXPECT_EQ(dialog.login().utf8_string(), "boss");
  ASSERT_NE(dvrUsers()->current(), nullptr);
  EXPECT_STREQ(dvrUsers()->current()->login(), "boss");
}

TEST_F(LoginDialogTest, OkNeedsALoginName) {
  LoginChecker checker("c_live");
  dvrwxLoginDialog dialog(nullptr, "t", "m", checker);
  EXPECT_FALSE(dialog.okButton()->IsEnabled());
  dialog.loginField()->SetValue("x");
  EXPECT_TRUE(dialog.okButton()->IsEnabled());
}

TEST_F(LoginDialogTest, ConfirmStyleNeedsMatchingPasswordsAndANewLogin) {
  PasswdCheck checker;
  dvrwxLoginDialog dialog(nullptr, "Add user", "Enter", checker, dvrwxLoginDialog::CONFIRM);
  std::vector<std::string> statuses;
  int answer = runModal(dialog, [&] {
    auto attempt = [&](const char* login, const char* password, const char* confirm) {
      dialog.loginField()->SetValue(login);
      dialog.passwordField()->SetValue(password);
      dialog.confirmField()->SetValue(confirm);
      dialog.submit();
      if (dialog.IsModal()) statuses.push_back(dialog.statusLine()->GetLabel().utf8_string());
    };
    attempt("newbie", "abcd", "abce");
    attempt("guard", "abcd", "abcd");
    attempt("n", "abcd", "abcd");
    attempt("newbie", "abc", "abc");
    attempt("newbie", "abcd", "abcd");
  });
  EXPECT_EQ(statuses, (std::vector<std::string>{"Passwords do not match.",
                                                "Error: User `guard' already exists.",
                                                "Error: Login name is too short.",
                                                "Error: Password is too short."}));
  EXPECT_EQ(answer, wxID_OK);
  EXPECT_EQ(checker.password().utf8_string(), "abcd");
  EXPECT_EQ(dialog.pendingDelayMs(), 0) << "confirm style does not wait";
}

}  // namespace
