#include <gtest/gtest.h>
#include <wx/listctrl.h>
#include <wx/bmpbuttn.h>
#include <wx/menu.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <string>
#include <vector>

#include "core/console.h"
#include "core/console_text.h"
#include "core/log.h"
#include "core/process.h"
#include "core/settings.h"
#include "core/users.h"
#include "tests/support/fixture.h"
#include "ui/console_window.h"
#include "ui/interface.h"
#include "ui/login_dialog.h"
#include "ui/main_window.h"
#include "ui/list_dialog.h"
#include "ui/small_dialogs.h"

namespace {

// Lets pending toolkit events (deferred destruction among them) run.
void settle() {
  for (int i = 0; i < 5; ++i) wxTheApp->Yield(true);
  wxTheApp->ProcessIdle();
}

// An engine with the interface started and the background window off.
class WindowsTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    globals->setInt("bgwindow", 0);
    console->bind("Quit", [this](const dvrCommand&, int) {
      quitIssued = true;
      return 1;
    });
  }
  void TearDown() override {
    ui.reset();
    settle();
    dvrEngineTest::TearDown();
  }
  void startInterface() { ui = std::make_unique<dvrInterface>(); }

  std::unique_ptr<dvrInterface> ui;
  bool quitIssued = false;
};

TEST_F(WindowsTest, MainWindowShowsTitleAndButtons) {
  startInterface();
  dvrMainWindow* main = ui->mainWindow();
  ASSERT_NE(main, nullptr);
  main->tick();
  EXPECT_EQ(main->GetTitle().utf8_string(), "Tavel DVR - Unnamed - Not logged in");
  console->execute("set global global customer string North gate");
  main->tick();
  EXPECT_EQ(main->GetTitle().utf8_string(), "Tavel DVR - North gate - Not logged in");

  for (int index : {0, 1, 2, 3}) {
    ASSERT_NE(main->button(index), nullptr) << index;
    EXPECT_TRUE(main->button(index)->IsShown()) << index;
  }
  ASSERT_NE(main->button(5), nullptr);
  EXPECT_FALSE(main->button(5)->IsShown()) << "no remote-client board exists";
  EXPECT_EQ(main->button(0)->GetToolTipText().utf8_string(), "Live image");
  EXPECT_EQ(main->button(5)->GetToolTipText().utf8_string(), "Remote connections");
}

TEST_F(WindowsTest, TitleAndLogoutItemFollowTheLoggedInUser) {
  console->execute("adduser boss secret1");
  startInterface();
  dvrMainWindow* main = ui->mainWindow();
  EXPECT_EQ(main->logoutItem()->GetItemLabel().utf8_string(), "&Log out");
  dvrUsers()->setCurrent(dvrUsers()->find("boss"));
  dvrNotifyLoginChanged();
  main->tick();
  EXPECT_EQ(main->GetTitle().utf8_string(), "Tavel DVR - Unnamed - DVR Administrator");
  EXPECT_EQ(main->logoutItem()->GetItemLabel().utf8_string(),
            "&Log out `DVR Administrator'\tAlt-L");
  console->execute("logout");
  main->tick();
  EXPECT_EQ(main->GetTitle().utf8_string(), "Tavel DVR - Unnamed - Not logged in");
  EXPECT_EQ(main->logoutItem()->GetItemLabel().utf8_string(), "&Log out");
}

TEST(MainWindowTick, WindowsRefreshOnlyWhenThePreviousTickIsRecent) {
  struct Case {
    int elapsedMs;
    bool refreshes;
  };
  for (Case c : {Case{0, true}, Case{20, true}, Case{39, true}, Case{40, false}, Case{45, false}})
    EXPECT_EQ(dvrMainWindow::refreshesWindows(c.elapsedMs), c.refreshes) << c.elapsedMs;
}

TEST_F(WindowsTest, QuitWithAutomaticSavingWritesTheSettingsFirst) {
  startInterface();
  console->execute("set global global savemode int 2");
  console->execute("set global global customer string Saved on exit");
  ui->mainWindow()->quitProcedure();
  EXPECT_TRUE(quitIssued);
  std::string saved = dir->read("settings.tvl");
  EXPECT_NE(saved.find("set global global customer string Saved on exit\n"), std::string::npos);
}

TEST_F(WindowsTest, QuitNeedsTheQuitRight) {
  console->execute("adduser boss secret1");
  console->execute("adduser guard secret2");
  dvrUsers()->setCurrent(dvrUsers()->find("guard"));
  console->execute("set global global savemode int 2");
  startInterface();
  // Without a prompt answer the login is refused: no saving, no quitting.
  dvrSetLoginPrompt([](void*, std::string_view) { return false; });
  ui->mainWindow()->quitProcedure();
  EXPECT_FALSE(quitIssued);
  EXPECT_TRUE(dir->read("settings.tvl").empty());
}

TEST_F(WindowsTest, ConsoleWindowOpensOnceAndRunsTypedLines) {
  startInterface();
  console->execute("openwindow console");
  dvrConsoleWindow* first = ui->consoleWindow();
  ASSERT_NE(first, nullptr);
  console->execute("OPENWINDOW console");
  EXPECT_EQ(ui->consoleWindow(), first) << "a second open only raises it";
  EXPECT_EQ(first->GetTitle().utf8_string(), "Console");
  EXPECT_EQ(first->GetSize(), wxSize(610, 250));

  first->commandField()->ChangeValue("set global global customer string Typed here");
  wxCommandEvent enter(wxEVT_TEXT_ENTER, first->commandField()->GetId());
  enter.SetEventObject(first->commandField());
  first->commandField()->GetEventHandler()->ProcessEvent(enter);
  EXPECT_STREQ(globals->getText("customer"), "Typed here");
  EXPECT_TRUE(first->commandField()->GetValue().empty());
}

TEST_F(WindowsTest, ConsoleShowsOnlyTextAddedSinceItLastLooked) {
  startInterface();
  console->execute("openwindow console");
  dvrConsoleWindow* window = ui->consoleWindow();
  ASSERT_NE(window, nullptr);
  dvrLogMessage("first line");
  window->periodicUpdate();
  window->periodicUpdate();
  std::string shown = window->output()->GetValue().utf8_string();
  EXPECT_EQ(shown.find("first line"), shown.rfind("first line")) << "shown once";
  EXPECT_NE(shown.find("first line"), std::string::npos);

  window->Destroy();
  settle();
  EXPECT_EQ(ui->consoleWindow(), nullptr);
  dvrLogMessage("second line");
  console->execute("openwindow console");
  ASSERT_NE(ui->consoleWindow(), nullptr);
  ui->consoleWindow()->periodicUpdate();
  std::string reopened = ui->consoleWindow()->output()->GetValue().utf8_string();
  EXPECT_EQ(reopened.find("first line"), std::string::npos);
  EXPECT_NE(reopened.find("second line"), std::string::npos);
}

TEST_F(WindowsTest, WindowCommands) {
  startInterface();
  struct Case {
    const char* line;
    const char* logged;  // expected log text, or null for none
  };
  const Case cases[] = {
      {"openwindow live", "[CORE] Window 'live' is not available in this version."},
      {"openwindow setup", "[CORE] Window 'setup' is not available in this version."},
      {"openwindow nosuchwindow", nullptr},
      {"closewindow nosuchwindow", nullptr},
      {"openwindow", "openwindow: not enough parameters."},
      {"EnlargeWindow 1", "EnlargeWindow: not enough parameters."},
  };
  for (const Case& c : cases) {
    std::vector<std::string> expected;
    if (c.logged) expected.push_back(c.logged);
    EXPECT_EQ(linesLoggedBy(c.line), expected) << c.line;
  }
  dvrProcess().quitting = true;
  console->execute("openwindow console");
  EXPECT_EQ(ui->consoleWindow(), nullptr) << "no window opens while quitting";
  dvrProcess().quitting = false;
}

TEST_F(WindowsTest, InterfaceLogsStartAndExit) {
  startInterface();
  ui.reset();
  settle();
  std::vector<std::string> lines = logLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(lines[lines.size() - 2].find("Tavel DVR ("), std::string::npos);
  EXPECT_NE(lines[lines.size() - 2].find(") started."), std::string::npos);
  EXPECT_EQ(lines.back(), "Exiting.");
}

TEST(SliderDialog, ValueFieldFollowsTheSlider) {
  dvrSliderDialog dialog(nullptr, "Pick", "Title", 3, 30, 7);
  EXPECT_EQ(dialog.valueField()->GetValue().utf8_string(), "7");
  dialog.slider()->SetValue(12);
  wxCommandEvent moved(wxEVT_SLIDER, dialog.slider()->GetId());
  moved.SetInt(12);
  dialog.slider()->GetEventHandler()->ProcessEvent(moved);
  EXPECT_EQ(dialog.valueField()->GetValue().utf8_string(), "12");
  EXPECT_EQ(dialog.value(), 12);
}

TEST(ListDialog, ConfirmTakesTheSelectedValuesInListOrder) {
  dvrListDialog dialog(nullptr, "Select tasks to run", false);
  for (int n = 1; n <= 3; ++n) ASSERT_TRUE(dialog.addEntry(wxString::Format("entry %d", n), n * 10));
  EXPECT_EQ(dialog.GetTitle().utf8_string(), "Select tasks to run");
  dialog.list()->SetItemState(2, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  dialog.list()->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  dialog.confirm();
  EXPECT_EQ(dialog.values(), (std::vector<int>{10, 30}));

  dvrListDialog single(nullptr, "Event type", true);
  EXPECT_TRUE(single.list()->HasFlag(wxLC_SINGLE_SEL));
  for (int n = 0; n < dvrListDialog::kMaxEntries; ++n) ASSERT_TRUE(single.addEntry("x", n));
  EXPECT_FALSE(single.addEntry("one too many", 0));
  EXPECT_EQ(single.list()->GetItemCount(), dvrListDialog::kMaxEntries);
}

TEST(BufferedText, KeepsItsText) {
  wxFrame frame(nullptr, wxID_ANY, "host");
  dvrBufferedText label(&frame, wxID_ANY, "first", wxPoint(0, 0), wxSize(100, 20),
                        *wxNORMAL_FONT);
  label.setText("second");
  EXPECT_EQ(label.text().utf8_string(), "second");
}

}  // namespace
