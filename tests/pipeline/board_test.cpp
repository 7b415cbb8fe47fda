#include "pipeline/board.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/command.h"
#include "core/console.h"
#include "core/settings.h"
#include "pipeline/board_container.h"
#include "pipeline/capture_engine.h"
#include "pipeline/image.h"
#include "tests/support/fixture.h"

namespace {

// What the test boards did, in order.
std::vector<std::string>& journal() {
  static std::vector<std::string> calls;
  return calls;
}

class TestBoard : public dvrBoard {
 public:
  explicit TestBoard(const char* type = "testcard", bool single = false, bool opens = true)
      : type_(type), single_(single), opens_(opens) {}
  ~TestBoard() override { journal().push_back(std::string("delete ") + name()); }
  const char* typeName() override { return type_; }
  bool isSingleInstance() override { return single_; }
  bool open() override {
    journal().push_back(std::string("open ") + name());
    return opens_;
  }
  bool close() override {
    journal().push_back(std::string("close ") + name());
    return true;
  }
  bool startCapture() override {
    journal().push_back(std::string("start ") + name());
    return startOk;
  }
  int setDigitalOutput(int output, int value) override {
    journal().push_back("dout " + std::to_string(output) + "=" + std::to_string(value));
    return 1;
  }
  bool setAnalogOutput(int output, int input) override {
    journal().push_back("tv " + std::to_string(output) + "=" + std::to_string(input));
    return true;
  }
  int enableHardwareWatchdog(int seconds) override {
    journal().push_back("watchdog on " + std::to_string(seconds));
    return 1;
  }
  int disableHardwareWatchdog() override {
    journal().push_back("watchdog off");
    return 1;
  }
  bool hasSignal(int) override { return signal; }
  int inputCount() override { return inputs; }
  std::time_t now() override { return clock; }

  bool startOk = true;
  bool signal = true;
  int inputs = 32;
  std::time_t clock = 1000;

 private:
  const char* type_;
  bool single_;
  bool opens_;
};

class BoardTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    journal().clear();
    dvrBoard::resetIdCounter();
    dvrBoardContainer::registerType("testcard", [] { return std::make_unique<TestBoard>(); });
    dvrBoardContainer::registerType(
        "server", [] { return std::make_unique<TestBoard>("server", true); });
    dvrBoardContainer::registerType(
        "broken", [] { return std::make_unique<TestBoard>("broken", false, false); });
    dvrStartCapturePipeline();
  }
  void TearDown() override {
    dvrBoardContainer::unregisterType("testcard");
    dvrBoardContainer::unregisterType("server");
    dvrBoardContainer::unregisterType("broken");
    dvrEngineTest::TearDown();
  }
  dvrBoardContainer& boards() { return dvrCapture()->boards(); }
  TestBoard* board(const char* name) { return static_cast<TestBoard*>(boards().findBoard(name)); }
};

TEST_F(BoardTest, AddCardRefusalsAreLogged) {
  struct Case {
    const char* line;
    const char* logged;
  };
  const Case cases[] = {
      {"AddCard brisa B1", "[BOARD] Board type `brisa' not handled in dvrBoardContainer::addBoard()."},
      {"AddCard server S1", nullptr},
      {"AddCard SERVER S2", "[BOARD] Cannot add 2 or more boards of type `SERVER'"},
      {"AddCard broken X1", "[BOARD] Board init failed for board of type `broken'."},
  };
  for (const Case& c : cases) {
    std::vector<std::string> expected;
    if (c.logged) expected.push_back(c.logged);
    EXPECT_EQ(linesLoggedBy(c.line), expected) << c.line;
  }
  EXPECT_EQ(boards().countBoards(""), 1);
  EXPECT_EQ(boards().countBoards("SERVER"), 1);
}

TEST_F(BoardTest, AddingOpensNamesAndClosesTheBoard) {
  console->execute("addcard testcard Gate");
  EXPECT_EQ(journal(), (std::vector<std::string>{"open ", "close Gate"}));
  TestBoard* gate = board("Gate");
  ASSERT_NE(gate, nullptr);
  EXPECT_STREQ(gate->settings().kind(), "board");
  EXPECT_STREQ(gate->settings().objectName(), "Gate");
}

TEST_F(BoardTest, LookupIsBySubstringAndDeletionByExactName) {
  console->execute("addcard testcard webcam1");
  console->execute("addcard testcard webcam1");
  console->execute("addcard testcard yard");
  ASSERT_EQ(boards().countBoards(""), 3);
  EXPECT_EQ(boards().findBoard("cam"), boards().boards()[0].get()) << "first match wins";
  EXPECT_EQ(boards().findBoard("Cam"), nullptr) << "lookups are case-sensitive";
  EXPECT_FALSE(boards().deleteBoard("web")) << "deletion needs the whole name";
  EXPECT_TRUE(boards().deleteBoard("WEBCAM1"));
  EXPECT_EQ(boards().countBoards(""), 2);
}

TEST_F(BoardTest, DeleteAllDeletesSingleInstanceBoardsFirst) {
  console->execute("addcard testcard A");
  console->execute("addcard server S");
  console->execute("addcard testcard B");
  journal().clear();
  console->execute("DelCards");
  EXPECT_EQ(journal(), (std::vector<std::string>{"delete S", "delete A", "delete B"}));
  EXPECT_EQ(logLines().back(), "All boards deleted.");
  console->execute("DelCards");
  EXPECT_EQ(logLines().back(), "Board delete failed!");
}

TEST_F(BoardTest, StartStopsAtTheFirstBoardThatFails) {
  console->execute("addcard testcard A");
  console->execute("addcard testcard B");
  console->execute("addcard testcard C");
  board("B")->startOk = false;
  journal().clear();
  console->execute("start");
  EXPECT_EQ(journal(), (std::vector<std::string>{"open A", "start A", "open B", "start B"}));
  EXPECT_FALSE(core->isStarted());
  board("B")->startOk = true;
  console->execute("start");
  EXPECT_TRUE(core->isStarted());
}

TEST_F(BoardTest, DelCardOfAnUnknownNameKeepsCaptureRunning) {
  console->execute("addcard testcard A");
  console->execute("start");
  ASSERT_TRUE(core->isStarted());
  console->execute("DelCard nosuchboard");
  EXPECT_TRUE(core->isStarted());
  EXPECT_EQ(boards().countBoards(""), 1);
  console->execute("DelCard A");
  EXPECT_TRUE(core->isStarted());
  EXPECT_EQ(boards().countBoards(""), 0);
}

TEST_F(BoardTest, SetBoardLinesActOnTheirKeys) {
  console->execute("addcard testcard B1");
  journal().clear();
  struct Case {
    const char* line;
    const char* effect;  // journal entry, or null for none
  };
  const Case cases[] = {
      {"set board B1 enable int 0", "close B1"},
      {"set board B1 enable int 1", "open B1"},
      {"set board B1 TV2 int 5", "tv 2=5"},
      {"set board B1 tv0 int 7", "tv 0=7"},
      {"set board B1 DIO_on int 3", "dout 3=1"},
      {"set board B1 DIO_off int 3", "dout 3=0"},
      {"set board B1 TV4 int 1", nullptr},
      {"set board B1 videostd int 0", nullptr},
  };
  for (const Case& c : cases) {
    journal().clear();
    console->execute(c.line);
    if (c.effect)
      EXPECT_EQ(journal(), std::vector<std::string>{c.effect}) << c.line;
    else
      EXPECT_TRUE(journal().empty()) << c.line;
  }
  EXPECT_EQ(board("B1")->settings().getInt("videostd"), 0);
  console->execute("set board B1 ID int 42");
  EXPECT_EQ(board("B1")->boardId(), 42);
  EXPECT_EQ(board("B1")->settings().getInt("ID"), 42);
  console->execute("set board B1 nosuchkey int 9");
  EXPECT_EQ(board("B1")->settings().find("nosuchkey"), -1);
}

TEST_F(BoardTest, BoardSectionRoundTripsThroughTheSettingsFile) {
  console->execute("addcard testcard Yard");
  console->execute("set board Yard videostd int 0");
  console->execute("set board Yard ID int 7");
  console->execute("SaveSettings " + dir->file("first.tvl"));
  std::string first = dir->read("first.tvl");
  const std::string section =
      "# Capturing board settings\naddcard testcard Yard\nset board Yard ID int 7\n"
      "set board Yard videostd int 0\nset board Yard icon string ";
  EXPECT_NE(first.find(section), std::string::npos) << first;
  EXPECT_NE(first.find("card_icon_small.png\n\n\n\n\n# Camera settings\n"), std::string::npos);

  console->execute("DelCards");
  console->execute("Run " + dir->file("first.tvl"));
  ASSERT_NE(board("Yard"), nullptr);
  EXPECT_EQ(board("Yard")->boardId(), 7);
  console->execute("SaveSettings " + dir->file("second.tvl"));
  EXPECT_EQ(dir->read("second.tvl"), first);
}

TEST_F(BoardTest, DefaultIdsCountUp) {
  console->execute("addcard testcard A");
  console->execute("addcard testcard B");
  EXPECT_EQ(board("A")->settings().getInt("ID"), 0);
  EXPECT_EQ(board("B")->settings().getInt("ID"), 1);
  EXPECT_EQ(board("B")->boardId(), 1);
}

TEST(Board, SignalChangeReportsEachTransitionOnce) {
  TestBoard b;
  struct Step {
    bool signal;
    int expected;
  };
  const Step steps[] = {{true, 0}, {false, -1}, {false, 0}, {true, 1}, {true, 0}};
  for (const Step& s : steps) {
    b.signal = s.signal;
    EXPECT_EQ(b.signalChange(3), s.expected) << s.signal;
  }
  EXPECT_EQ(b.signalChange(-1), 0);
  EXPECT_EQ(b.signalChange(64), 0) << "inputs beyond 63 have no stored state";
}

TEST(Board, WatchdogTickActsAtMostOncePerSecond) {
  journal().clear();
  TestBoard b;
  b.declareWatchdogSettings();
  EXPECT_EQ(b.settings().getInt("watchdogtime"), 60);
  b.watchdogTick();
  b.watchdogTick();
  EXPECT_EQ(journal(), std::vector<std::string>{"watchdog off"});
  b.settings().setInt("watchdog", 1);
  b.clock = 1001;
  b.watchdogTick();
  b.watchdogTick();
  EXPECT_EQ(journal(), (std::vector<std::string>{"watchdog off", "watchdog on 60"}));
}

TEST(Board, InputsAreClaimedOnceAndListedWhenFree) {
  TestBoard b;
  EXPECT_TRUE(b.claimInput(1));
  EXPECT_FALSE(b.claimInput(1)) << "already claimed";
  EXPECT_FALSE(b.claimInput(32)) << "beyond the input count";
  EXPECT_FALSE(b.claimInput(-1));
  EXPECT_FALSE(b.releaseInput(2)) << "never claimed";
  auto list = std::make_unique<dvrInputList>();
  EXPECT_EQ(b.listFreeInputs(*list), 31);
  EXPECT_STREQ(list->names[0], "testcard [1]");
  EXPECT_EQ(list->numbers[1], 2) << "input 1 is taken";
  EXPECT_STREQ(list->names[1], "testcard [3]");
  EXPECT_TRUE(b.releaseInput(1));
  EXPECT_EQ(b.listFreeInputs(*list), 32);

  b.inputs = 200;  // more free inputs than the list has room for
  EXPECT_EQ(b.listFreeInputs(*list), dvrInputList::kMax);
  b.inputs = 0;
  EXPECT_EQ(b.listFreeInputs(*list), 0);
}

TEST(Board, TestPatternStaysInsideSmallFrames) {
  TestBoard b;
  dvrImage small(16, 8, dvrFORMAT_UYVY);
  EXPECT_TRUE(b.grabFrame(0, small));  // 256 bytes: far less than 40 rows of 704
  dvrImage full(352, 288, dvrFORMAT_UYVY);
  EXPECT_TRUE(b.grabFrame(0, full));
  const std::uint8_t* frame = full.buffer(dvrBUF_CURRENT);
  EXPECT_EQ(static_cast<std::uint8_t>(frame[1] - frame[0]), 1) << "the pattern rises by column";
}

}  // namespace
