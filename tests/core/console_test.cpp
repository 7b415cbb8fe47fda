#include "core/console.h"

#include <gtest/gtest.h>
#include <wx/init.h>
#include <wx/translation.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/engine.h"
#include "core/global_settings.h"
#include "core/language.h"
#include "core/object.h"
#include "core/process.h"
#include "core/settings.h"
#include "tests/support/fixture.h"

namespace {

// ---- fakes of the sides the core talks to ------------------------------

// A board or camera that records the Set and Get lines it receives.
class RecordingObject : public dvrObject {
 public:
  RecordingObject(const char* name, std::vector<std::string>& calls) : calls_(calls) {
    settings().declare("name", "Name", dvrType::TEXT, dvrFlag::STRING);
    setName(name);
  }
  int applySetting(const dvrCommand& c, int flag) override {
    calls_.push_back(dvrFormat("%s %s=%s flag %d", name(), std::string(c.param(3)).c_str(),
                               std::string(c.param(5)).c_str(), flag));
    return dvrObject::applySetting(c, flag);
  }

 private:
  std::vector<std::string>& calls_;
};

// One board "B1" with one camera "Cam1"; every call is recorded in order.
class FakeCapture : public dvrCaptureSide {
 public:
  explicit FakeCapture(std::vector<std::string>& calls)
      : board("B1", calls), camera("Cam1", calls), calls_(calls) {}

  bool openOk = true;       // result of openAndStartBoards
  bool stopOk = true;       // result of stopCameras
  bool deleteAllOk = true;  // result of deleteAllBoards
  RecordingObject board;
  RecordingObject camera;

  dvrObject* findBoard(std::string_view name) override { return name == "B1" ? &board : nullptr; }
  dvrObject* findCamera(std::string_view name) override {
    return name == "Cam1" ? &camera : nullptr;
  }
  void initCameras() override { calls_.push_back("initCameras"); }
  bool openAndStartBoards() override {
    calls_.push_back("openAndStartBoards");
    return openOk;
  }
  void startCameras() override { calls_.push_back("startCameras"); }
  bool stopCameras() override {
    calls_.push_back("stopCameras");
    return stopOk;
  }
  void stopBoards() override { calls_.push_back("stopBoards"); }
  bool deleteBoardAndCameras(std::string_view name) override {
    calls_.push_back("deleteBoardAndCameras " + std::string(name));
    return name == "B1";
  }
  void deleteAllCameras() override { calls_.push_back("deleteAllCameras"); }
  bool deleteAllBoards() override {
    calls_.push_back("deleteAllBoards");
    return deleteAllOk;
  }
  void tickBoards() override { calls_.push_back("tickBoards"); }
  void restartFlaggedCameras() override { calls_.push_back("restartFlaggedCameras"); }
  std::string boardSettingsText() override {
    return "addcard fake B1\nset board B1 name string B1\n\n\n\n";
  }
  std::string cameraSettingsText() override {
    return "addcamera B1 0 Cam1 6\nset camera Cam1 name string Cam1\n\n\n\n";
  }
  void shutdown() override { calls_.push_back("shutdown"); }

 private:
  std::vector<std::string>& calls_;
};

class FakeUsers : public dvrUserSide {
 public:
  explicit FakeUsers(std::vector<std::string>& calls) : calls_(calls) {}
  void applyUserSetting(std::string_view login, const dvrCommand& c) override {
    calls_.push_back(dvrFormat("user %s %s=%s", std::string(login).c_str(),
                               std::string(c.param(3)).c_str(), std::string(c.param(5)).c_str()));
  }
  std::string userSettingsText() override { return "adduser ann secret\n\n"; }

 private:
  std::vector<std::string>& calls_;
};

class FakeRules : public dvrRuleSide {
 public:
  explicit FakeRules(std::vector<std::string>& calls) : calls_(calls) {}
  void evaluate(std::vector<std::uint8_t>&) override { calls_.push_back("rules"); }
  std::string ruleText() override { return "addrule R1\n"; }

 private:
  std::vector<std::string>& calls_;
};


// Changes the working directory for one test.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& dir) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~WorkingDirectory() { std::filesystem::current_path(saved_); }

 private:
  std::filesystem::path saved_;
};

const char kHeader[] =
    "###### Configuration file for Tavel DVR\n"
    "# Written automatically by the program, please do not\n"
    "# alter unless you really know what you're doing.\n"
    "# In emergencies, contact your nearest support.\n"
    "\n";

// Every global setting in declaration order with its default.
const char kDefaultGlobals[] =
    "set global global customer string Unnamed\n"
    "set global global stmode int 16\n"
    "set global global lastmode int 0\n"
    "set global global drawmode int 0\n"
    "set global global showcamnum int 1\n"
    "set global global showcamrec int 1\n"
    "set global global showstatus int 0\n"
    "set global global showcamptz int 0\n"
    "set global global showicons int 0\n"
    "set global global lockaspect int 0\n"
    "set global global tooltips_enabled int 1\n"
    "set global global bgwindow int 1\n"
    "set global global quickcammenu int 0\n"
    "set global global savemode int 0\n"
    "set global global firstrun int 1\n"
    "set global global sfx int 0\n"
    "set global global keyinterval int 5\n"
    "set global global startmode int 1\n"
    "set global global mainmode int 0\n"
    "set global global mpgres int 0\n"
    "set global global globalrecordrule string \n"
    "set global global videostandard int 1\n"
    "set global global swwatchdog int 0\n"
    "set global global autoreboot int 0\n"
    "set global global autorebootdelay int 7\n"
    "set global global recordwd int 1\n"
    "set global global recordwddelay int 30\n"
    "set global global advanced int 0\n"
    "set global global view_buffer int 0\n"
    "set global global view_snap int 1\n"
    "set global global view_timestamp int 1\n"
    "set global global eyecandy int 0\n"
    "set global global sundayfirst int 0\n"
    "set global global com1 int 0\n"
    "set global global com2 int 0\n"
    "set global global com3 int 0\n"
    "set global global com4 int 0\n";

using Dispatch = dvrEngineTest;
using CommandQueue = dvrEngineTest;
using RunFile = dvrEngineTest;
using SaveSettingsFile = dvrEngineTest;
using SetGlobal = dvrEngineTest;

// The engine with a fake capture side, user list and rule set registered.
class CoreCommands : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    auto side = std::make_unique<FakeCapture>(calls);
    capture = side.get();
    core->setCaptureSide(std::move(side));
    core->setUserSide(std::make_unique<FakeUsers>(calls));
    core->setRuleSide(&rules);
  }

  std::vector<std::string> calls;
  FakeRules rules{calls};
  FakeCapture* capture = nullptr;
};

}  // namespace

// ---- dispatch -----------------------------------------------------------

TEST_F(Dispatch, CommandWordsMatchInAnyCaseAndHandlersGetTheFlag) {
  std::vector<int> flags;
  ASSERT_TRUE(console->bind("beep", [&](const dvrCommand&, int flag) {
    flags.push_back(flag);
    return 1;
  }));
  EXPECT_FALSE(console->bind("Frobnicate", [](const dvrCommand&, int) { return 1; }));

  console->execute("Beep");
  console->execute("BEEP", 3);
  console->execute("bEeP extra words", -2);
  EXPECT_EQ(flags, (std::vector<int>{0, 3, -2}));
  EXPECT_TRUE(logLines().empty());
}

TEST_F(Dispatch, UnknownWordsAndEmptyWordsDoNothingSilently) {
  int starts = 0;
  console->bind("Start", [&](const dvrCommand&, int) { return ++starts; });
  const char* lines[] = {
      "frobnicate a b c",  // unknown word
      "  start",           // two blanks: the word is empty
      " start",            // one blank: the word is empty
      "starts",            // a word that only begins like a command
      "openwindow live",   // known word whose handler is not bound
      "",
  };
  for (const char* line : lines) console->execute(line);
  EXPECT_EQ(starts, 0);
  EXPECT_TRUE(logLines().empty());
  EXPECT_EQ(globals->dump(), kDefaultGlobals);
}

TEST_F(Dispatch, TooFewParametersLogsTheWordAsTyped) {
  struct Case {
    const char* label;
    const char* word;  // table word whose handler is replaced by a counter
    const char* line;
    const char* message;  // empty: the handler runs and nothing is logged
  };
  const Case cases[] = {
      {"set without its value", "Set", "set camera Cam1 name string",
       "set: not enough parameters."},
      {"word in capitals", "AddCard", "ADDCARD brisa", "ADDCARD: not enough parameters."},
      {"no parameter at all", "SaveSettings", "SaveSettings",
       "SaveSettings: not enough parameters."},
      {"get needs three", "Get", "Get board B1", "Get: not enough parameters."},
      {"exactly the minimum runs", "EnlargeWindow", "enlargewindow 1 2", ""},
      {"an empty token counts as a parameter", "Set", "set camera Cam1 name string ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    int runs = 0;
    console->bind(c.word, [&](const dvrCommand&, int) { return ++runs; });
    std::size_t before = logLines().size();
    console->execute(c.line);
    std::vector<std::string> lines = logLines();
    if (c.message[0]) {
      EXPECT_EQ(runs, 0);
      ASSERT_EQ(lines.size(), before + 1);
      EXPECT_EQ(lines.back(), c.message);
    } else {
      EXPECT_EQ(runs, 1);
      EXPECT_EQ(lines.size(), before);
    }
  }
}

TEST_F(Dispatch, TooFewParametersForSetChangesNoSetting) {
  console->execute("set global global customer string");
  EXPECT_STREQ(globals->getText("customer"), "Unnamed");
  EXPECT_EQ(logLines(), (std::vector<std::string>{"set: not enough parameters."}));
}

TEST_F(Dispatch, QuitSetsTheQuittingFlagAndCallsTheApplication) {
  int quits = 0;
  dvrProcess().onQuit = [&] { ++quits; };
  console->execute("QUIT");
  EXPECT_TRUE(dvrProcess().quitting);
  EXPECT_EQ(quits, 1);
}

TEST_F(Dispatch, ExecuteTextDropsTheLastCharacterAndSkipsEmptyPieces) {
  console->executeText(
      "set global global customer string Front door\n\n\nset global global stmode int 45");
  EXPECT_STREQ(globals->getText("customer"), "Front door");
  EXPECT_EQ(globals->getInt("stmode"), 4);  // the last character is the closing line break
  EXPECT_TRUE(logLines().empty());
}

// ---- queue --------------------------------------------------------------

TEST_F(CommandQueue, EnqueueFromSeveralThreadsKeepsEveryLineInOrderPerThread) {
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([this, t] {
      for (int i = 0; i < kLines; ++i) console->enqueue(dvrFormat("beep %d %d", t, i));
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(console->queued(), static_cast<std::size_t>(kThreads * kLines));

  std::vector<int> next(kThreads, 0);
  int total = 0;
  console->bind("Beep", [&](const dvrCommand& c, int flag) {
    EXPECT_EQ(flag, 0);
    int t = dvrParseInt(c.param(1));
    int i = dvrParseInt(c.param(2));
    EXPECT_EQ(i, next[static_cast<std::size_t>(t)]) << "thread " << t;
    next[static_cast<std::size_t>(t)] = i + 1;
    ++total;
    return 1;
  });
  console->drainQueue();
  EXPECT_EQ(total, kThreads * kLines);
  EXPECT_EQ(console->queued(), 0u);
}

TEST_F(CommandQueue, LinesQueuedDuringADrainWaitForTheNextDrain) {
  std::vector<std::string> ran;
  console->bind("Beep", [&](const dvrCommand& c, int) {
    ran.push_back("beep " + std::string(c.param(1)));
    console->enqueue("help " + std::string(c.param(1)));  // runs with the queue unlocked
    return 1;
  });
  console->bind("Help", [&](const dvrCommand& c, int) {
    ran.push_back("help " + std::string(c.param(1)));
    return 1;
  });
  for (const char* n : {"1", "2", "3"}) console->enqueue(std::string("beep ") + n);

  console->drainQueue();
  EXPECT_EQ(ran, (std::vector<std::string>{"beep 1", "beep 2", "beep 3"}));
  EXPECT_EQ(console->queued(), 3u);

  console->drainQueue();
  EXPECT_EQ(ran,
            (std::vector<std::string>{"beep 1", "beep 2", "beep 3", "help 1", "help 2", "help 3"}));
  EXPECT_EQ(console->queued(), 0u);
}

TEST_F(CommandQueue, QueueGrowsPastItsFirstSizeInFifoOrder) {
  std::vector<int> ran;
  console->bind("Beep", [&](const dvrCommand& c, int) {
    ran.push_back(dvrParseInt(c.param(1)));
    return 1;
  });
  // Move the front of the ring away from its start, then queue enough to wrap
  // around and make the ring grow more than once while it is wrapped.
  for (int i = 0; i < 10; ++i) console->enqueue(dvrFormat("beep %d", i));
  console->drainQueue();
  std::vector<int> expected;
  for (int i = 0; i < 10; ++i) expected.push_back(i);
  EXPECT_EQ(ran, expected);

  for (int i = 10; i < 100; ++i) console->enqueue(dvrFormat("beep %d", i));
  EXPECT_EQ(console->queued(), 90u);
  console->drainQueue();
  for (int i = 10; i < 100; ++i) expected.push_back(i);
  EXPECT_EQ(ran, expected);

  // The grown ring is reused.
  console->enqueue("set global global customer string Front door");
  console->drainQueue();
  EXPECT_STREQ(globals->getText("customer"), "Front door");
}

// ---- Run ----------------------------------------------------------------

TEST_F(RunFile, RunTriesTheNameThenTvlThenTheSettingsDirectory) {
  dvrTempDir work;
  WorkingDirectory cwd(work.path());
  auto line = [](const char* who) {
    return std::string("set global global customer string ") + who + "\n";
  };
  work.write("conf", line("as given"));
  work.write("conf.tvl", line("with tvl"));
  dir->write("conf", line("settings dir"));
  dir->write("conf.tvl", line("settings dir with tvl"));

  struct Step {
    const char* expected;
    std::string removeAfterwards;
  };
  const Step steps[] = {
      {"as given", work.file("conf")},
      {"with tvl", work.file("conf.tvl")},
      {"settings dir", dir->file("conf")},
      {"settings dir with tvl", dir->file("conf.tvl")},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.expected);
    globals->setText("customer", "none");
    console->execute("run conf");
    EXPECT_STREQ(globals->getText("customer"), s.expected);
    ASSERT_EQ(std::remove(s.removeAfterwards.c_str()), 0);
  }

  globals->setText("customer", "none");
  console->execute("run conf");
  EXPECT_FALSE(dvrRunFile(*console, "conf"));
  EXPECT_STREQ(globals->getText("customer"), "none");
  EXPECT_TRUE(logLines().empty());
}

TEST_F(RunFile, RunSkipsCommentsAndStripsLineEnds) {
  dir->write("other.tvl", "set global global sfx int 1\n");
  dir->write("lines.tvl",
             "# set global global customer string Commented\n"
             "#set global global stmode int 9\n"
             "#run other\n"
             "\n"
             "\r\n"
             "set global global customer string Front door\r\n"
             "set global global lastmode int 1\n"
             "set global global globalrecordrule string R1\r\r\n"
             " # a blank first: not a comment, but an empty word\n"
             "set global global mainmode int 1\r");
  EXPECT_TRUE(dvrRunFile(*console, "lines"));
  EXPECT_EQ(globals->getInt("stmode"), 16);
  EXPECT_EQ(globals->getInt("sfx"), 0);
  EXPECT_STREQ(globals->getText("customer"), "Front door");
  EXPECT_EQ(globals->getInt("lastmode"), 1);
  // Only one carriage return is removed.
  EXPECT_STREQ(globals->getText("globalrecordrule"), "R1\r");
  // The last line has no line feed, only a carriage return.
  EXPECT_EQ(globals->getInt("mainmode"), 1);
  EXPECT_TRUE(logLines().empty());

  // A line holding only a carriage return, at the end of a file too.
  dir->write("cr.tvl", "\r\nset global global view_snap int 0\n\r");
  EXPECT_TRUE(dvrRunFile(*console, "cr"));
  EXPECT_EQ(globals->getInt("view_snap"), 0);
  EXPECT_TRUE(logLines().empty());
}

TEST_F(RunFile, OverlongLinesRunTheirFirst1022CharactersOnly) {
  const std::string prefix = "set global global customer string ";
  // Commands placed where the second and third 1022-character pieces of a
  // long line begin: they are part of that line and must not run.
  const std::string second = "set global global sfx int 1 ";
  const std::string third = "set global global stmode int 9";
  const std::string longLine = prefix + std::string(1022 - prefix.size(), 'x') + second +
                               std::string(1022 - second.size(), 'x') + third + "\n";
  // Exactly 1022 characters before the line feed.
  const std::string fullLine = prefix + std::string(1022 - prefix.size(), 'y') + "\n";
  dir->write("long.tvl", longLine + "set global global lastmode int 1\n" + fullLine +
                             "set global global mainmode int 1\n" + prefix +
                             std::string(2000, 'z'));  // long and without a line feed at the end
  EXPECT_TRUE(dvrRunFile(*console, "long"));
  EXPECT_EQ(globals->getInt("sfx"), 0);
  EXPECT_EQ(globals->getInt("stmode"), 16);
  // The lines after each long one are still read and executed.
  EXPECT_EQ(globals->getInt("lastmode"), 1);
  EXPECT_EQ(globals->getInt("mainmode"), 1);
  EXPECT_EQ(std::string(globals->getText("customer")), std::string(511, 'z'));
  EXPECT_TRUE(logLines().empty());

  dir->write("full.tvl", fullLine + "set global global lastmode int 0\n");
  EXPECT_TRUE(dvrRunFile(*console, "full"));
  EXPECT_EQ(std::string(globals->getText("customer")), std::string(511, 'y'));
  EXPECT_EQ(globals->getInt("lastmode"), 0);
}

// ---- SaveSettings -------------------------------------------------------

TEST_F(SaveSettingsFile, SaveSettingsWritesHeaderGlobalsAndLocaleLast) {
  int french = dvrFindLanguage("fr_FR");
  ASSERT_GT(french, 0);
  dvrLanguageScope language(french);

  const std::string file = dir->file("settings.tvl");
  console->execute("savesettings " + file);
  const std::string expected = std::string(kHeader) + "# Global settings\n" + kDefaultGlobals +
                               "\n\n\n"
                               "# Capturing board settings\n"
                               "# Camera settings\n"
                               "# User settings\n"
                               "# Rules\n"
                               "\n\n"
                               "# Locale setting (defines eg. what language to use)\n"
                               "set locale fr_FR a b c\n";
  const std::string written = dvrReadFile(file);
  EXPECT_EQ(written, expected);
  EXPECT_EQ(dvrSettingsText(), expected);

  // Nothing changed: a second file is identical, and no temporary is left.
  console->execute("savesettings " + file);
  EXPECT_EQ(dvrReadFile(file), written);
  EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
  EXPECT_TRUE(logLines().empty());

  // The locale line passes through the interpreter without effect.
  EXPECT_TRUE(dvrRunFile(*console, file));
  EXPECT_EQ(dvrSettingsText(), expected);
  EXPECT_TRUE(logLines().empty());
}

TEST_F(SaveSettingsFile, SaveSettingsLocaleLineNamesTheCurrentLanguage) {
  std::string name = dvrLanguageCanonicalName(dvrCurrentLanguage());
  std::string text = dvrSettingsText();
  std::string tail = "\n# Locale setting (defines eg. what language to use)\nset locale " +
                     (name.empty() ? std::string("default") : name) + " a b c\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(SaveSettingsFile, SavedSettingsRunBackToTheSameFile) {
  console->execute("set global global customer string Front  door ");
  console->execute("set global global stmode int 4");
  console->execute("set global global firstrun int 0");
  console->execute("set global global globalrecordrule string Rule one");
  const std::string first = dir->file("first.tvl");
  const std::string second = dir->file("second.tvl");
  console->execute("savesettings " + first);
  const std::string saved = dvrReadFile(first);
  EXPECT_NE(saved.find("\nset global global customer string Front  door \n"), std::string::npos);

  // A freshly declared set, as at start-up, takes the file back.
  globals = std::make_unique<dvrSettingSet>();
  dvrDeclareGlobalSettings(*globals);
  dvrProcess().globals = globals.get();
  ASSERT_STREQ(globals->getText("customer"), "Unnamed");
  console->execute("run " + first);
  EXPECT_STREQ(globals->getText("customer"), "Front  door ");
  EXPECT_EQ(globals->getInt("stmode"), 4);
  EXPECT_STREQ(globals->getText("globalrecordrule"), "Rule one");

  console->execute("savesettings " + second);
  EXPECT_EQ(dvrReadFile(second), saved);
  EXPECT_TRUE(logLines().empty());
}

TEST_F(SaveSettingsFile, SaveSettingsToAnUnwritablePathLogsAnError) {
  const std::string paths[] = {
      dir->file("no-such-directory/settings.tvl"),
      dir->path(),  // a directory cannot be replaced by the file
  };
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    std::size_t before = logLines().size();
    EXPECT_FALSE(dvrSaveSettings(path));
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back(), "[CORE] Error!!! Cannot save settings to " + path + "!");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir->path()));

  std::size_t before = logLines().size();
  console->execute("savesettings " + dir->file("missing/x.tvl"));
  std::vector<std::string> lines = logLines();
  ASSERT_EQ(lines.size(), before + 1);
  EXPECT_EQ(lines.back(),
            "[CORE] Error!!! Cannot save settings to " + dir->file("missing/x.tvl") + "!");
}

TEST(CommentForm, TurnsTextIntoCommentLines) {
  struct Case {
    const char* label;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"comment lines stay", "# Global settings\n", "# Global settings\n"},
      {"a first character that is not # becomes #", "Globale Einstellungen\n",
       "#lobale Einstellungen\n"},
      {"every line after a line feed", "# one\ntwo\n# three\nfour", "# one\n#wo\n# three\n#our\n"},
      {"empty lines are kept", "# a\n\n\n# b\n\n", "# a\n\n\n# b\n\n"},
      {"form feed and carriage return are kept", "\fx\n\ry\n", "\fx\n\ry\n"},
      {"a line break is added at the end", "# Rules", "# Rules\n"},
      {"an empty text becomes a line break", "", "\n"},
      {"a command is defused", "set global global sfx int 1\n", "#et global global sfx int 1\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(dvrCommentForm(c.text), c.expected) << c.label;
}

// ---- the global handler of Set ------------------------------------------

TEST_F(SetGlobal, SetGlobalStoresIntStringAndFloatValues) {
  globals->declare("gain", "Gain", dvrType::SLIDER, dvrFlag::FLOAT);
  struct Case {
    const char* label;
    const char* line;
    const char* key;
    const char* text;
    int integer;  // checked for int lines
    float real;   // checked for float lines
  };
  const Case cases[] = {
      {"string in capitals keeps its blanks", "SET GLOBAL global customer string Front door",
       "customer", "Front door", 0, 0},
      {"int keeps the number and its text", "set global global stmode int 4", "stmode", "4", 4, 0},
      {"int text is the number as read", "set global global keyinterval int 07abc", "keyinterval",
       "7", 7, 0},
      {"negative int", "set global global keyinterval int -3", "keyinterval", "-3", -3, 0},
      {"int of no digits is 0", "set global global stmode int many", "stmode", "0", 0, 0},
      {"type word in capitals, object word unused", "set global anything STMODE INT 9", "stmode",
       "9", 9, 0},
      {"get with type and value acts as set", "get global global customer string Back", "customer",
       "Back", 0, 0},
      {"float text has four decimals", "set global global gain float 1.5", "gain", "1.5000", 0,
       1.5f},
      // The text is stored last, and the float follows the stored text.
      {"float is rounded in its text", "set global global gain float 0.123456", "gain", "0.1235", 0,
       0.1235f},
      {"float of an integer", "set global global gain Float 2", "gain", "2.0000", 0, 2.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    console->execute(c.line);
    EXPECT_STREQ(globals->getText(c.key), c.text);
    const dvrSetting& s = globals->at(globals->find(c.key));
    if (s.flags & dvrFlag::INT) {
      EXPECT_EQ(globals->getInt(c.key), c.integer);
    }
    if (s.flags & dvrFlag::FLOAT) {
      EXPECT_FLOAT_EQ(globals->getFloat(c.key), c.real);
    }
  }
  EXPECT_TRUE(logLines().empty());
}

TEST_F(SetGlobal, SetLinesWithoutATargetChangeNothingAndLogNothing) {
  const char* lines[] = {
      "set global global nosuchkey int 5",        // unknown key
      "set global global stmode double 4",        // unknown type word
      "set global global customer text Changed",  // unknown type word
      "get global global customer",               // Get without type and value
      "set locale en_US a b c",                   // the locale line of the settings file
      "set vcamera V1 customer string Changed",   // virtual cameras have no settings here
      "set board B1 customer string Changed",     // no capture side registered
      "set camera Cam1 customer string Changed",
      "set user admin customer string Changed",  // no user side registered
      "set somethingelse global customer string Changed",
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    console->execute(line, 1);
    EXPECT_EQ(globals->dump(), kDefaultGlobals);
    EXPECT_TRUE(logLines().empty());
  }
}

// ---- board, camera and user targets --------------------------------------

TEST_F(CoreCommands, SetAndGetReachBoardsCamerasAndUsers) {
  struct Case {
    const char* label;
    const char* line;
    int flag;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"set passes 0 to the board whatever the caller's flag",
       "set board B1 name string Front door",
       7,
       {"B1 name=Front door flag 0"}},
      {"get passes the caller's flag", "get board B1 name", 7, {"B1 name= flag 7"}},
      {"get with a value and target in capitals",
       "GET BOARD B1 name string Back",
       3,
       {"B1 name=Back flag 3"}},
      {"set camera", "set camera Cam1 name string Gate", 5, {"Cam1 name=Gate flag 0"}},
      {"get camera", "get camera Cam1 name", 9, {"Cam1 name= flag 9"}},
      {"unknown board", "set board Nope name string X", 0, {}},
      {"a board name is no camera name", "set camera B1 name string X", 0, {}},
      {"user by login name", "set user ann name string Ann Smith", 4, {"user ann name=Ann Smith"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    calls.clear();
    console->execute(c.line, c.flag);
    EXPECT_EQ(calls, c.calls);
  }
  EXPECT_STREQ(capture->board.settings().getText("name"), "Back");
  EXPECT_STREQ(capture->camera.settings().getText("name"), "Gate");
  EXPECT_EQ(globals->dump(), kDefaultGlobals);
  EXPECT_TRUE(logLines().empty());
}

TEST_F(CoreCommands, SaveSettingsPutsTheSidesInTheirSections) {
  std::string text = dvrSettingsText();
  std::size_t globalsEnd = text.find("\n\n\n# Capturing board settings\n");
  ASSERT_NE(globalsEnd, std::string::npos);
  std::string name = dvrLanguageCanonicalName(dvrCurrentLanguage());
  EXPECT_EQ(text.substr(globalsEnd + 1),
            "\n\n"
            "# Capturing board settings\n"
            "addcard fake B1\nset board B1 name string B1\n\n\n\n"
            "# Camera settings\n"
            "addcamera B1 0 Cam1 6\nset camera Cam1 name string Cam1\n\n\n\n"
            "# User settings\n"
            "adduser ann secret\n\n"
            "# Rules\n"
            "addrule R1\n"
            "\n\n"
            "# Locale setting (defines eg. what language to use)\n"
            "set locale " +
                (name.empty() ? std::string("default") : name) + " a b c\n");
  EXPECT_EQ(text.substr(0, sizeof kHeader - 1), kHeader);
}

// ---- Start, Stop, DelCard, DelCards, Refresh ------------------------------

TEST_F(CoreCommands, StartKeepsTheStartedFlagWhenABoardFails) {
  struct Case {
    const char* label;
    bool startedBefore;
    bool openOk;
    bool startedAfter;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"boards fail while stopped", false, false, false, {"initCameras", "openAndStartBoards"}},
      {"boards fail while running", true, false, true, {"initCameras", "openAndStartBoards"}},
      {"boards start", false, true, true, {"initCameras", "openAndStartBoards", "startCameras"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    capture->openOk = true;
    if (c.startedBefore != core->isStarted()) {
      ASSERT_TRUE(c.startedBefore ? core->start() : core->stop());
    }
    calls.clear();
    capture->openOk = c.openOk;
    console->execute("start");
    EXPECT_EQ(core->isStarted(), c.startedAfter);
    EXPECT_EQ(calls, c.calls);
  }
}

TEST_F(CoreCommands, StopKeepsCaptureRunningWhenCamerasDoNotStop) {
  ASSERT_TRUE(core->start());
  calls.clear();
  capture->stopOk = false;
  console->execute("STOP");
  EXPECT_TRUE(core->isStarted());
  EXPECT_EQ(calls, (std::vector<std::string>{"stopCameras"}));

  calls.clear();
  capture->stopOk = true;
  console->execute("stop");
  EXPECT_FALSE(core->isStarted());
  EXPECT_EQ(calls, (std::vector<std::string>{"stopCameras", "stopBoards"}));
}

TEST_F(CoreCommands, DelCardStopsAndRestartsRunningCapture) {
  struct Case {
    const char* label;
    bool running;
    const char* line;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"unknown name while running",
       true,
       "delcard Nope",
       {"stopCameras", "stopBoards", "deleteBoardAndCameras Nope", "initCameras",
        "openAndStartBoards", "startCameras"}},
      {"known name while running",
       true,
       "DelCard B1",
       {"stopCameras", "stopBoards", "deleteBoardAndCameras B1", "initCameras",
        "openAndStartBoards", "startCameras"}},
      {"known name while stopped", false, "delcard B1", {"deleteBoardAndCameras B1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.running != core->isStarted()) {
      ASSERT_TRUE(c.running ? core->start() : core->stop());
    }
    calls.clear();
    console->execute(c.line);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(core->isStarted(), c.running);
  }
  EXPECT_TRUE(logLines().empty());
}

TEST_F(CoreCommands, DelCardsDeletesCamerasThenBoardsAndReports) {
  struct Case {
    bool deleteAllOk;
    const char* message;
  };
  const Case cases[] = {{true, "All boards deleted."}, {false, "Board delete failed!"}};
  ASSERT_TRUE(core->start());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    calls.clear();
    capture->deleteAllOk = c.deleteAllOk;
    std::size_t before = logLines().size();
    console->execute("delcards");
    // Capture is not stopped first; the containers stop what they delete.
    EXPECT_EQ(calls, (std::vector<std::string>{"deleteAllCameras", "deleteAllBoards"}));
    EXPECT_TRUE(core->isStarted());
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back(), c.message);
  }
}

TEST_F(CoreCommands, RefreshTicksTogglesTooltipsRestartsEvaluatesAndDrains) {
  dvrProcess().onTooltips = [&](bool on) { calls.push_back(on ? "tooltips on" : "tooltips off"); };
  console->bind("Beep", [&](const dvrCommand&, int) {
    calls.push_back("beep");
    return 1;
  });
  console->execute("refresh");  // the first look at tooltips_enabled

  calls.clear();
  console->execute("refresh");
  EXPECT_EQ(calls, (std::vector<std::string>{"tickBoards", "restartFlaggedCameras", "rules"}));

  calls.clear();
  console->execute("set global global tooltips_enabled int 0");
  console->enqueue("beep");
  console->execute("Refresh");
  EXPECT_EQ(calls, (std::vector<std::string>{"tickBoards", "tooltips off", "restartFlaggedCameras",
                                             "rules", "beep"}));
  EXPECT_EQ(console->queued(), 0u);

  calls.clear();
  console->execute("set global global tooltips_enabled int 0");
  console->execute("refresh");
  EXPECT_EQ(calls, (std::vector<std::string>{"tickBoards", "restartFlaggedCameras", "rules"}));

  calls.clear();
  console->execute("set global global tooltips_enabled int 1");
  console->execute("refresh");
  EXPECT_EQ(calls, (std::vector<std::string>{"tickBoards", "tooltips on", "restartFlaggedCameras",
                                             "rules"}));
}

TEST_F(CoreCommands, DeletingTheCoreStopsRunningCaptureThenShutsDown) {
  ASSERT_TRUE(core->start());
  calls.clear();
  dvrProcess().core = nullptr;
  core.reset();
  EXPECT_EQ(calls, (std::vector<std::string>{"stopCameras", "stopBoards", "shutdown"}));
}
