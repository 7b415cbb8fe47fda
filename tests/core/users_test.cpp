#include "core/users.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/console.h"
#include "core/engine.h"
#include "core/object.h"
#include "core/process.h"
#include "core/settings.h"
#include "core/sound.h"
#include "tests/support/fixture.h"

namespace {

// ---- fakes -----------------------------------------------------------------

class RecordingPlayer : public dvrSoundPlayer {
 public:
  bool play(const std::string& wavePath) override {
    played.push_back(wavePath.substr(wavePath.rfind('/') + 1));
    return true;
  }
  std::vector<std::string> played;  // file names only
};

// A camera with the "group" setting that access checks read.
class GroupCamera : public dvrObject {
 public:
  GroupCamera(const char* name, int group) {
    settings().declare("name", "Name", dvrType::TEXT, dvrFlag::STRING);
    settings().declare("group", "Group", dvrType::CHOICE, dvrFlag::INT);
    settings().setInt("group", group);
    setName(name);
  }
};

// Two cameras: "Lobby" in group 0 (everybody) and "Vault" in group 3.
class GroupCapture : public dvrCaptureSide {
 public:
  GroupCamera lobby{"Lobby", 0};
  GroupCamera vault{"Vault", 3};

  dvrObject* findBoard(std::string_view) override { return nullptr; }
  dvrObject* findCamera(std::string_view name) override {
    if (name == "Lobby") return &lobby;
    if (name == "Vault") return &vault;
    return nullptr;
  }
  void initCameras() override {}
  bool openAndStartBoards() override { return true; }
  void startCameras() override {}
  bool stopCameras() override { return true; }
  void stopBoards() override {}
  bool deleteBoardAndCameras(std::string_view) override { return false; }
  void deleteAllCameras() override {}
  bool deleteAllBoards() override { return true; }
  void tickBoards() override {}
  void restartFlaggedCameras() override {}
  std::string boardSettingsText() override { return ""; }
  std::string cameraSettingsText() override { return ""; }
  void shutdown() override {}
};

// The engine with its real user list, a recording sound player (sound
// effects on) and counters for the interface hooks.
class UsersTest : public dvrEngineTest {
 public:
  void SetUp() override {
    dvrEngineTest::SetUp();
    dvrProcess().sound = &player;
    globals->setInt("sfx", 1);
    dvrSetLoginChanged([this] { ++loginChanges; });
    users = dvrUsers();
    ASSERT_NE(users, nullptr);
  }
  void TearDown() override {
    dvrSetLoginChanged(nullptr);
    dvrSetLoginPrompt(nullptr);
    dvrProcess().sound = nullptr;
    dvrEngineTest::TearDown();
  }

  std::vector<std::string> logins() const {
    std::vector<std::string> out;
    for (int i = 0; i < users->count(); ++i) out.push_back(users->at(i)->login());
    return out;
  }

  void run(const std::string& line) { console->execute(line); }

  // admin (every right), viewer (c_live only), guard (group3 only).
  void addStaff() {
    console->execute("adduser admin adminpw");
    console->execute("adduser viewer viewpass");
    console->execute("set user viewer c_live int 1");
    console->execute("adduser guard guardpw");
    console->execute("set user guard group3 int 1");
  }

  RecordingPlayer player;
  int loginChanges = 0;
  dvrUserList* users = nullptr;
};

using UserCommands = UsersTest;
using UserSettings = UsersTest;
using Rights = UsersTest;
using RequireRight = UsersTest;
using LoginCheck = UsersTest;
using Logout = UsersTest;

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

}  // namespace

// ---- scrambling --------------------------------------------------------------

TEST(ScramblePassword, ScrambledFormsAreFixed) {
  struct Row {
    const char* label;
    std::string password;
    std::string scrambled;
  };
  const Row rows[] = {
      {"empty password", "", "]"},
      {"ASCII", "secret", "]2f393f2e3928"},
      {"the key itself gives 00, padded", "\\", "]00"},
      {"0x7f is still two digits", "\x7f", "]23"},
      {"0x80 is widened as a negative byte", "\x80", "]ffffffdc"},
      {"Latin-1 letter among ASCII", "a\xe9z", "]3dffffffb526"},
      {"already scrambled is kept", "]2f39", "]2f39"},
      {"a lone bracket is kept", "]", "]"},
      {"bracket later in the text is scrambled", "a]", "]3d01"},
      {"127 ASCII characters fill 255 exactly", std::string(127, 'a'), "]" + repeat("3d", 127)},
      {"128 ASCII characters are cut to 255", std::string(128, 'a'), "]" + repeat("3d", 127)},
      {"wide bytes are cut mid-number", std::string(64, '\x80'),
       ("]" + repeat("ffffffdc", 64)).substr(0, 255)},
      {"an over-long scrambled text is cut", "]" + std::string(300, '0'),
       "]" + std::string(254, '0')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::string got = dvrScramblePassword(row.password);
    EXPECT_EQ(got, row.scrambled);
    EXPECT_LE(got.size(), 255u);
    // Scrambling is idempotent: stored values can be scrambled again safely.
    EXPECT_EQ(dvrScramblePassword(got), got);
  }
}

// ---- the user's settings -------------------------------------------------------

TEST(UserDescriptors, DeclaredInOrderWithTypesFlagsAndTexts) {
  using namespace dvrType;
  using namespace dvrFlag;
  struct Row {
    const char* key;
    std::int32_t type;
    std::uint32_t flags;
    const char* label;
    const char* help;
  };
  const char* groupHelp =
      "If a user is a member of the specified access group, he has rights to access cameras and "
      "devices restricted with that group definition.";
  const Row rows[] = {
      {"name", TEXT, STRING, "User name",
       "User's name which is shown on titlebars. Usually the full name of the user, eg. John "
       "Smith."},
      {"pass", TEXT, STRING | PASSWORD, "Password", "Password for this user."},
      {"", GROUP, 0, "Program parts", ""},
      {"c_live", CHECK, INT, "Live view", "The user may view live image."},
      {"c_rec", CHECK, INT, "Record viewing", "The user may view recordings."},
      {"c_setup", CHECK, INT, "Settings", "The user may change (some) settings; see below also."},
      {"c_gallery", CHECK, INT, "Gallery", "The usermay browse the gallery."},
      {"c_remote", CHECK, INT, "Remote access",
       "The user may connect to this computer through network."},
      {"", GROUP, 0, "Settings", ""},
      {"c_brdsetup", CHECK, INT, "Add/Remove hardware  *",
       "The user may add or remove devices (boards, etc.)"},
      {"c_brdadjust", CHECK, INT, "Adjust hardware",
       "The user may adjust hardware settings (eg. video standard)."},
      {"c_camsetup", CHECK, INT, "Add/Remove cameras  *", "The user may add or remove cameras."},
      {"c_camadjust", CHECK, INT, "Adjust cameras",
       "The user may adjust camera settings (contrast, brightness, etc.)"},
      {"c_rules", CHECK, INT, "Rule settings", "The user may adjust rule settings."},
      {"c_users", CHECK, INT, "User control  *",
       "The user may add or remove users, or modify existing ones."},
      {"", GROUP, 0, "Tasks", ""},
      {"c_img", CHECK, INT, "Save image",
       "The user may save still images from the live view, or the recordings."},
      {"c_mpg", CHECK, INT, "Export video", "The user may save video clips to an external file."},
      {"c_quit", CHECK, INT, "Quit program  *",
       "The user may quit the program, and thus stop recording."},
      {"c_preset", CHECK, INT, "Camera preset control",
       "The user may control PTZ cameras with by calling presets"},
      {"c_ptz", CHECK, INT, "Camera PTZ control", "The user may control PTZ cameras fully"},
      {"", GROUP, 0, "Group access", ""},
      {"", NOTE, NOSAVE,
       "Note! The user rights marked with a * should be granted to only the system "
       "administrators.",
       ""},
      {"group1", CHECK, INT, "Access group 1", groupHelp},
      {"group2", CHECK, INT, "Access group 2", groupHelp},
      {"group3", CHECK, INT, "Access group 3", groupHelp},
      {"group4", CHECK, INT, "Access group 4", groupHelp},
      {"admin", HIDDEN, INT, "", ""},
      {"", GROUP, 0, "User settings", ""},
      {"deflayout", LAYOUT, STRING, "Default layout",
       "Default camera window layout in record viewer and live image."},
  };
  dvrUser user("Operator");
  const dvrSettingSet& s = user.settings();
  EXPECT_STREQ(user.login(), "Operator");
  EXPECT_STREQ(s.kind(), "user");
  EXPECT_STREQ(s.objectName(), "Operator");
  EXPECT_EQ(s.owner(), nullptr);
  EXPECT_FALSE(s.isLocked());
  EXPECT_FALSE(user.isAdministrator());
  ASSERT_EQ(s.count(), static_cast<int>(std::size(rows)));
  for (int i = 0; i < s.count(); ++i) {
    const Row& row = rows[i];
    const dvrSetting& d = s.at(i);
    SCOPED_TRACE(std::to_string(i) + " " + row.label);
    EXPECT_EQ(d.key.view(), row.key);
    EXPECT_EQ(d.type, row.type);
    EXPECT_EQ(d.flags, row.flags);
    EXPECT_EQ(d.label.view(), row.label);
    EXPECT_EQ(d.help.view(), row.help);
    EXPECT_EQ(d.intValue, 0);
    EXPECT_EQ(d.text.view(), "");
  }
}

TEST(UserDescriptors, LongLoginIsCutTo31Characters) {
  const std::string login(40, 'L');
  dvrUser user(login);
  EXPECT_EQ(std::string(user.login()), login.substr(0, 31));
  EXPECT_EQ(std::string(user.settings().objectName()), login.substr(0, 31));
}

// ---- AddUser, DelUser, DelUsers ------------------------------------------------

TEST_F(UserCommands, AddAndDeleteFollowTheCaseRules) {
  const std::string longLogin(40, 'x');
  struct Row {
    const char* label;
    std::vector<std::string> lines;
    std::vector<std::string> logins;
    std::string firstPassword;  // the scrambled password of the first user
  };
  const Row rows[] = {
      {"an exact duplicate is ignored",
       {"adduser ann first", "adduser ann second"},
       {"ann"},
       dvrScramblePassword("first")},
      {"a login differing in case is another user",
       {"adduser ann pw", "adduser Ann pw", "adduser ANN pw"},
       {"ann", "Ann", "ANN"},
       dvrScramblePassword("pw")},
      {"the command words take any case",
       {"ADDUSER ann pw", "AddUser bob pw", "DELUSER BOB"},
       {"ann"},
       dvrScramblePassword("pw")},
      {"DelUser removes the first match without regard to case",
       {"adduser ann a", "adduser Ann b", "adduser bob c", "deluser aNN"},
       {"Ann", "bob"},
       dvrScramblePassword("b")},
      {"DelUser closes the gap",
       {"adduser u1 pw", "adduser u2 pw", "adduser u3 pw", "deluser u2"},
       {"u1", "u3"},
       dvrScramblePassword("pw")},
      {"DelUser of an unknown login changes nothing",
       {"adduser u1 pw", "deluser u", "deluser u11"},
       {"u1"},
       dvrScramblePassword("pw")},
      {"DelUsers deletes everybody",
       {"adduser u1 pw", "adduser u2 pw", "delusers"},
       {},
       ""},
      {"the password ends at its first blank",
       {"adduser ann pass word"},
       {"ann"},
       dvrScramblePassword("pass")},
      {"a scrambled password is stored as given",
       {"adduser ann ]2f39"},
       {"ann"},
       "]2f39"},
      {"a long login is cut and still recognised",
       {"adduser " + longLogin + " one", "adduser " + longLogin + " two"},
       {longLogin.substr(0, 31)},
       dvrScramblePassword("one")},
      {"AddUser without a password adds nobody", {"adduser ann"}, {}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    console->execute("delusers");
    for (const std::string& line : row.lines) console->execute(line);
    EXPECT_EQ(logins(), row.logins);
    if (users->count() > 0) {
      EXPECT_EQ(std::string(users->at(0)->settings().getText("pass")), row.firstPassword);
    }
  }
}

TEST_F(UserCommands, TheListHoldsAtMost128Users) {
  for (int i = 0; i < 130; ++i) console->execute(dvrFormat("adduser u%d pw", i));
  ASSERT_EQ(users->count(), dvrUserList::kMaxUsers);
  EXPECT_STREQ(users->at(127)->login(), "u127");
  EXPECT_EQ(users->find("u128"), nullptr);
  EXPECT_EQ(users->at(128), nullptr);
  EXPECT_EQ(users->add("extra", "pw"), nullptr);

  // A freed slot takes the next user at the end.
  console->execute("deluser u5");
  console->execute("adduser late pw");
  ASSERT_EQ(users->count(), dvrUserList::kMaxUsers);
  EXPECT_STREQ(users->at(5)->login(), "u6");
  EXPECT_STREQ(users->at(127)->login(), "late");
}

TEST_F(UserCommands, TheFirstUserIsTheLockedAdministratorAndLaterUsersHaveNoRights) {
  const char* rights[] = {"c_live",  "c_rec",   "c_setup",   "c_gallery",   "c_remote",
                          "c_brdsetup", "c_brdadjust", "c_camsetup", "c_camadjust", "c_rules",
                          "c_users", "c_img",   "c_mpg",     "c_quit",      "group1",
                          "group2",  "group3",  "group4",    "c_ptz",       "c_preset",
                          "admin"};
  console->execute("adduser boss pw");
  console->execute("adduser clerk pw");
  dvrUser* boss = users->find("boss");
  dvrUser* clerk = users->find("clerk");
  ASSERT_TRUE(boss && clerk);

  EXPECT_STREQ(boss->settings().getText("name"), "DVR Administrator");
  EXPECT_TRUE(boss->isAdministrator());
  EXPECT_TRUE(boss->settings().isLocked());
  EXPECT_STREQ(clerk->settings().getText("name"), "");
  EXPECT_FALSE(clerk->isAdministrator());
  EXPECT_FALSE(clerk->settings().isLocked());
  for (const char* right : rights) {
    SCOPED_TRACE(right);
    EXPECT_EQ(boss->settings().getInt(right), 1);
    EXPECT_EQ(clerk->settings().getInt(right), 0);
  }

  // Deleting the administrator does not make the next user one: the list is not empty.
  console->execute("deluser boss");
  console->execute("adduser next pw");
  EXPECT_FALSE(users->find("next")->isAdministrator());
  // After DelUsers the next user is the administrator again.
  console->execute("delusers");
  console->execute("adduser again pw");
  EXPECT_TRUE(users->find("again")->isAdministrator());
  EXPECT_TRUE(logLines().empty());
}

// ---- Set with the target "user" ------------------------------------------------

TEST_F(UserSettings, TheUserHandlerStoresValuesByType) {
  struct Row {
    const char* label;
    const char* line;
    const char* key;
    std::string text;  // expected text of the key afterwards
    int value;         // expected integer of the key afterwards
    bool madeAdministrator;  // every right granted and the set locked
  };
  const Row rows[] = {
      {"int sets the integer", "set user bob c_live int 1", "c_live", "1", 1, false},
      {"type words take any case", "set user bob c_rec INT 7", "c_rec", "7", 7, false},
      {"admin 1 makes an administrator", "set user bob admin int 1", "c_users", "1", 1, true},
      {"admin in any case", "set user bob ADMIN int 1", "group4", "1", 1, true},
      {"admin 2 is only a value", "set user bob admin int 2", "c_users", "", 0, false},
      {"a plain password is scrambled", "set user bob pass string hello", "pass",
       dvrScramblePassword("hello"), 0, false},
      {"the pass key in any case", "set user bob PASS string hello", "pass",
       dvrScramblePassword("hello"), 0, false},
      {"a scrambled password is kept", "set user bob pass string ]3d3d", "pass", "]3d3d", 0,
       false},
      {"an empty password is scrambled", "set user bob pass string ", "pass", "]", 0, false},
      {"other texts are stored as they are", "set user bob name string Bob ]Smith", "name",
       "Bob ]Smith", 0, false},
      {"float", "set user bob c_live float 1.5", "c_live", "1.500000", 1, false},
      {"the login is matched exactly", "set user BOB c_live int 1", "c_live", "", 0, false},
      {"an unknown type word changes nothing", "set user bob c_live double 1", "c_live", "", 0,
       false},
      {"an unknown key changes nothing", "set user bob c_nothing int 1", "c_live", "", 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    console->execute("delusers");
    console->execute("adduser admin adminpw");
    console->execute("adduser bob bobpw");
    console->execute(row.line);
    dvrUser* bob = users->find("bob");
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(std::string(bob->settings().getText(row.key)), row.text);
    EXPECT_EQ(bob->settings().getInt(row.key), row.value);
    EXPECT_EQ(bob->settings().isLocked(), row.madeAdministrator);
    if (row.madeAdministrator) {
      EXPECT_TRUE(bob->isAdministrator());
      EXPECT_EQ(bob->settings().getInt("c_live"), 1);
    }
  }
}

TEST_F(UserSettings, UsersSurviveTheSettingsFileWithScrambledPasswordsOnly) {
  console->execute("adduser admin Adm1nPw");
  console->execute("adduser bob b0bSecret");
  console->execute("set user bob name string Bob Smith");
  console->execute("set user bob c_live int 1");
  console->execute("set user bob group3 int 1");
  console->execute("set user bob deflayout string Front door");

  const std::string first = dir->file("first.tvl");
  console->execute("savesettings " + first);
  const std::string written = dvrReadFile(first);
  const std::string bobSection =
      "adduser bob " + dvrScramblePassword("b0bSecret") +
      "\n"
      "set user bob name string Bob Smith\n"
      "set user bob pass string " +
      dvrScramblePassword("b0bSecret") +
      "\n"
      "set user bob c_live int 1\n"
      "set user bob c_rec int 0\n"
      "set user bob c_setup int 0\n"
      "set user bob c_gallery int 0\n"
      "set user bob c_remote int 0\n"
      "set user bob c_brdsetup int 0\n"
      "set user bob c_brdadjust int 0\n"
      "set user bob c_camsetup int 0\n"
      "set user bob c_camadjust int 0\n"
      "set user bob c_rules int 0\n"
      "set user bob c_users int 0\n"
      "set user bob c_img int 0\n"
      "set user bob c_mpg int 0\n"
      "set user bob c_quit int 0\n"
      "set user bob c_preset int 0\n"
      "set user bob c_ptz int 0\n"
      "set user bob group1 int 0\n"
      "set user bob group2 int 0\n"
      "set user bob group3 int 1\n"
      "set user bob group4 int 0\n"
      "set user bob admin int 0\n"
      "set user bob deflayout string Front door\n"
      "\n\n"
      "# Rules\n";
  EXPECT_NE(written.find("# User settings\nadduser admin " + dvrScramblePassword("Adm1nPw") +
                         "\nset user admin name string DVR Administrator\n"),
            std::string::npos)
      << written;
  EXPECT_NE(written.find("set user admin admin int 1\n"), std::string::npos);
  EXPECT_NE(written.find("\n\n" + bobSection), std::string::npos) << written;
  EXPECT_EQ(written.find("Adm1nPw"), std::string::npos);
  EXPECT_EQ(written.find("b0bSecret"), std::string::npos);

  // Read the file into a fresh engine and write it again.
  auto freshCore = std::make_unique<dvrCore>();
  auto freshConsole = std::make_unique<dvrConsole>();
  dvrProcess().core = freshCore.get();
  dvrProcess().console = freshConsole.get();
  ASSERT_TRUE(dvrRunFile(*freshConsole, first));
  const std::string second = dir->file("second.tvl");
  freshConsole->execute("savesettings " + second);
  EXPECT_EQ(dvrReadFile(second), written);

  dvrUserList* restored = dvrUsers();
  ASSERT_NE(restored, users);
  ASSERT_EQ(restored->count(), 2);
  EXPECT_TRUE(restored->at(0)->isAdministrator());
  EXPECT_TRUE(restored->at(0)->settings().isLocked());
  EXPECT_FALSE(restored->at(1)->isAdministrator());
  // The plain password still logs in against the restored scrambled one.
  EXPECT_TRUE(dvrCheckLogin("c_live", "bob", "b0bSecret").accepted);
  EXPECT_EQ(restored->current(), restored->at(1));

  dvrProcess().core = core.get();
  dvrProcess().console = console.get();
  EXPECT_EQ(dir->read("tavel.log").find("b0bSecret"), std::string::npos);
}

// ---- rights -------------------------------------------------------------------

TEST_F(Rights, RightsAndCameraGroupsFollowTheLoginState) {
  core->setCaptureSide(std::make_unique<GroupCapture>());
  struct Row {
    const char* label;
    std::function<void(UsersTest&)> arrange;
    bool live;     // hasRight("c_live")
    bool lobby;    // hasGroupAccess("Lobby"), group 0
    bool vault;    // hasGroupAccess("Vault"), group 3
  };
  auto login = [](const char* name) {
    return [name](UsersTest& t) {
      t.addStaff();
      t.users->setCurrent(t.users->find(name));
    };
  };
  const std::thread::id self = std::this_thread::get_id();
  const Row rows[] = {
      {"no users: everything is open", [](UsersTest&) {}, true, true, true},
      {"users exist, nobody logged in", [](UsersTest& t) { t.addStaff(); }, false, false, false},
      {"viewer: live, not group 3", login("viewer"), true, true, false},
      {"guard: group 3, not live", login("guard"), false, true, true},
      {"administrator", login("admin"), true, true, true},
      {"this thread acts for the viewer while the guard is logged in",
       [&](UsersTest& t) {
         login("guard")(t);
         t.users->setThreadUser(self, t.users->find("viewer"));
       },
       true, true, true},
      {"this thread acts for the guard while the viewer is logged in",
       [&](UsersTest& t) {
         login("viewer")(t);
         t.users->setThreadUser(self, t.users->find("guard"));
       },
       false, true, false},
      {"a thread entry answers even when nobody is logged in",
       [&](UsersTest& t) {
         t.addStaff();
         t.users->setThreadUser(self, t.users->find("viewer"));
       },
       true, false, false},
      {"an entry without a user falls back to the current user",
       [&](UsersTest& t) {
         login("viewer")(t);
         t.users->setThreadUser(self, nullptr);
       },
       true, true, false},
      {"a cleared entry falls back to the current user",
       [&](UsersTest& t) {
         login("viewer")(t);
         t.users->setThreadUser(self, t.users->find("guard"));
         t.users->clearThreadUser(self);
       },
       true, true, false},
      {"another thread's entry does not count here",
       [&](UsersTest& t) {
         login("viewer")(t);
         std::thread([&t] {
           t.users->setThreadUser(std::this_thread::get_id(), t.users->find("guard"));
         }).join();
       },
       true, true, false},
      {"a deleted user leaves the thread map",
       [&](UsersTest& t) {
         login("viewer")(t);
         t.users->setThreadUser(self, t.users->find("guard"));
         t.run("deluser guard");
       },
       true, true, false},
      {"deleting the current user logs it out",
       [&](UsersTest& t) {
         login("viewer")(t);
         t.run("deluser viewer");
       },
       false, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    console->execute("delusers");
    EXPECT_EQ(users->current(), nullptr);
    EXPECT_EQ(users->threadUser(self), nullptr);
    row.arrange(*this);
    EXPECT_EQ(hasRight("c_live"), row.live);
    EXPECT_EQ(hasGroupAccess("Lobby"), row.lobby);
    EXPECT_EQ(hasGroupAccess("Vault"), row.vault);
    EXPECT_FALSE(hasGroupAccess("Attic")) << "unknown camera";
    EXPECT_EQ(hasRight("c_nosuchright"), users->count() == 0) << "unknown right";
    users->clearThreadUser(self);
  }
}

TEST_F(Rights, ConnectionThreadsAnswerForTheirOwnUser) {
  addStaff();
  users->setCurrent(users->find("viewer"));
  bool remoteLive = true;
  bool remoteVault = false;
  std::thread connection([&] {
    users->setThreadUser(std::this_thread::get_id(), users->find("guard"));
    remoteLive = hasRight("c_live");
    remoteVault = hasRight("group3");
    users->clearThreadUser(std::this_thread::get_id());
  });
  connection.join();
  EXPECT_FALSE(remoteLive);
  EXPECT_TRUE(remoteVault);
  EXPECT_TRUE(hasRight("c_live"));
  EXPECT_FALSE(hasRight("group3"));
}

TEST(RightsWithoutCore, NoCoreMeansNoUsersAndNoCameras) {
  ASSERT_EQ(dvrProcess().core, nullptr);
  EXPECT_EQ(dvrUsers(), nullptr);
  EXPECT_TRUE(hasRight("c_live"));
  EXPECT_TRUE(requireRight(nullptr, "c_live"));
  EXPECT_FALSE(hasGroupAccess("Lobby"));
  EXPECT_FALSE(dvrCheckLogin("c_live", "anyone", "whatever").accepted);
}

TEST_F(RequireRight, PromptsOnlyWhenTheRightIsMissing) {
  struct Row {
    const char* label;
    std::function<void(UsersTest&)> arrange;
    bool promptInstalled;
    bool promptAnswer;  // whether the fake dialog logs the viewer in
    bool granted;
    int prompts;
    std::vector<std::string> sounds;
    int loginChanges;
  };
  const Row rows[] = {
      {"no users", [](UsersTest&) {}, true, false, true, 0, {}, 0},
      {"the current user holds the right",
       [](UsersTest& t) {
         t.addStaff();
         t.users->setCurrent(t.users->find("viewer"));
       },
       true, false, true, 0, {}, 0},
      {"a thread entry without the right, the current user holds it",
       [](UsersTest& t) {
         t.addStaff();
         t.users->setCurrent(t.users->find("viewer"));
         t.users->setThreadUser(std::this_thread::get_id(), t.users->find("guard"));
       },
       true, false, true, 0, {}, 0},
      {"nobody logged in, the dialog logs in",
       [](UsersTest& t) { t.addStaff(); }, true, true, true, 1, {"logon.wav"}, 1},
      {"wrong user logged in, the dialog logs in",
       [](UsersTest& t) {
         t.addStaff();
         t.users->setCurrent(t.users->find("guard"));
       },
       true, true, true, 1, {"logon.wav"}, 1},
      {"nobody logged in, the dialog is cancelled",
       [](UsersTest& t) { t.addStaff(); }, true, false, false, 1, {}, 1},
      {"headless: no dialog to ask",
       [](UsersTest& t) { t.addStaff(); }, false, true, false, 0, {}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    console->execute("delusers");
    users->clearThreadUser(std::this_thread::get_id());
    player.played.clear();
    loginChanges = 0;
    row.arrange(*this);

    int prompts = 0;
    int parentTag = 0;
    if (row.promptInstalled)
      dvrSetLoginPrompt([&](void* parent, std::string_view key) {
        ++prompts;
        EXPECT_EQ(parent, &parentTag);
        EXPECT_EQ(key, "c_live");
        return row.promptAnswer && dvrCheckLogin(key, "viewer", "viewpass").accepted;
      });
    else
      dvrSetLoginPrompt(nullptr);

    EXPECT_EQ(requireRight(&parentTag, "c_live"), row.granted);
    EXPECT_EQ(prompts, row.prompts);
    EXPECT_EQ(player.played, row.sounds);
    EXPECT_EQ(loginChanges, row.loginChanges);
    if (row.prompts && row.promptAnswer) {
      EXPECT_EQ(users->current(), users->find("viewer"));
    }
  }
  users->clearThreadUser(std::this_thread::get_id());
}

// ---- login checks ---------------------------------------------------------------

TEST_F(LoginCheck, LoginCheckerOutcomesAndTheirLogLines) {
  const std::string longLogin(40, 'k');
  struct Row {
    const char* label;
    std::string right, login, password;
    bool accepted;
    bool focusLogin;
    std::string errorText;
    std::string logLine;
    std::string currentAfter;  // login of the current user afterwards, "" for nobody
  };
  const std::string noRights = "Error: The user has no rights for this command.";
  const std::string failed = "Error: Login failed! Please check your username and password.";
  const Row rows[] = {
      {"right held", "c_live", "viewer", "viewpass", true, false, "", "User viewer logged in.",
       "viewer"},
      {"right missing", "c_live", "guard", "guardpw", false, true, noRights,
       "The user guard tried to access 'c_live' with no rights.", ""},
      {"unknown right key", "c_nosuch", "admin", "adminpw", false, true, noRights,
       "The user admin tried to access 'c_nosuch' with no rights.", ""},
      {"wrong password", "c_live", "viewer", "viewpasS", false, false, failed,
       "Incorrect login (user viewer)", ""},
      {"empty password", "c_live", "viewer", "", false, false, failed,
       "Incorrect login (user viewer)", ""},
      {"unknown login", "c_live", "nobody", "viewpass", false, false, failed,
       "Incorrect login (user nobody)", ""},
      {"login in another case", "c_live", "Viewer", "viewpass", false, false, failed,
       "Incorrect login (user Viewer)", ""},
      {"a typed text beginning with ] is compared as it is", "c_live", "viewer",
       dvrScramblePassword("viewpass"), true, false, "", "User viewer logged in.", "viewer"},
      {"a stored password set in scrambled form", "c_live", "raw", "]abc", true, false, "",
       "User raw logged in.", "raw"},
      {"a long login is cut like the stored one", "c_live", longLogin, "longpw", true, false, "",
       "User " + longLogin.substr(0, 31) + " logged in.", longLogin.substr(0, 31)},
      {"a long unknown login is cut in the log", "c_live", std::string(40, 'z'), "x", false,
       false, failed, "Incorrect login (user " + std::string(31, 'z') + ")", ""},
  };
  addStaff();
  console->execute("adduser raw rawpw");
  console->execute("set user raw pass string ]abc");
  console->execute("set user raw c_live int 1");
  console->execute("adduser " + longLogin + " longpw");
  console->execute("set user " + longLogin + " c_live int 1");

  testing::internal::CaptureStdout();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    users->setCurrent(nullptr);
    std::size_t before = logLines().size();
    dvrLoginCheck check = dvrCheckLogin(row.right, row.login, row.password);
    EXPECT_EQ(check.accepted, row.accepted);
    EXPECT_EQ(check.focusLogin, row.focusLogin);
    EXPECT_EQ(check.errorText, row.errorText);
    std::vector<std::string> lines = logLines();
    EXPECT_EQ(lines.size(), before + 1);
    if (lines.size() > before) {
      EXPECT_EQ(lines.back(), row.logLine);
    }
    EXPECT_EQ(users->current() ? std::string(users->current()->login()) : "", row.currentAfter);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string log = dir->read("tavel.log");
  for (const char* secret : {"viewpass", "viewpasS", "guardpw", "adminpw", "longpw"}) {
    SCOPED_TRACE(secret);
    EXPECT_EQ(log.find(secret), std::string::npos);
    EXPECT_EQ(out.find(secret), std::string::npos);
  }
}

TEST_F(LoginCheck, NewUserCheckOutcomes) {
  struct Row {
    const char* label;
    std::string login, password;
    bool accepted;
    bool focusLogin;
    std::string errorText;
  };
  const Row rows[] = {
      {"new login, long enough", "clerk", "1234", true, false, ""},
      {"shortest login", "ab", "abcd", true, false, ""},
      {"an existing login", "viewer", "12345", false, true, "Error: User `viewer' already exists."},
      {"an existing login is checked first", "viewer", "1", false, true,
       "Error: User `viewer' already exists."},
      {"another case is a new login", "Viewer", "12345", true, false, ""},
      {"one character", "a", "12345", false, true, "Error: Login name is too short."},
      {"empty login", "", "12345", false, true, "Error: Login name is too short."},
      {"the login is checked before the password", "a", "1", false, true,
       "Error: Login name is too short."},
      {"three characters of password", "clerk", "123", false, false,
       "Error: Password is too short."},
      {"empty password", "clerk", "", false, false, "Error: Password is too short."},
  };
  addStaff();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    dvrLoginCheck check = dvrCheckNewUser(row.login, row.password);
    EXPECT_EQ(check.accepted, row.accepted);
    EXPECT_EQ(check.focusLogin, row.focusLogin);
    EXPECT_EQ(check.errorText, row.errorText);
  }
  EXPECT_EQ(users->count(), 3) << "checking adds nobody";
}

// ---- Logout -------------------------------------------------------------------

TEST_F(Logout, LogoutLogsPlaysAndTellsTheInterface) {
  addStaff();
  ASSERT_TRUE(dvrCheckLogin("c_live", "viewer", "viewpass").accepted);
  std::size_t before = logLines().size();

  console->execute("logout");
  EXPECT_EQ(users->current(), nullptr);
  std::vector<std::string> lines = logLines();
  ASSERT_EQ(lines.size(), before + 1);
  EXPECT_EQ(lines.back(), "User viewer logged out.");
  EXPECT_EQ(player.played, std::vector<std::string>{"logoff.wav"});
  EXPECT_EQ(loginChanges, 1);
  EXPECT_FALSE(hasRight("c_live"));

  // Nobody logged in: nothing to log, play or tell.
  console->execute("Logout");
  EXPECT_EQ(users->current(), nullptr);
  EXPECT_EQ(logLines().size(), before + 1);
  EXPECT_EQ(player.played.size(), 1u);
  EXPECT_EQ(loginChanges, 1);
  EXPECT_EQ(dir->read("tavel.log").find("viewpass"), std::string::npos);
}
