#include "rules/rule_set.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/console.h"
#include "core/process.h"
#include "pipeline/board_container.h"
#include "pipeline/capture_engine.h"
#include "tests/support/fixture.h"

namespace {

// What the test boards were told to do, in order.
std::vector<std::string>& outputs() {
  static std::vector<std::string> calls;
  return calls;
}

class InputBoard : public dvrBoard {
 public:
  const char* typeName() override { return "ruleboard"; }
  int digitalInputCount() override { return 8; }
  int getDigitalInput(int input) override { return input >= 0 && input < 8 ? inputs[input] : 0; }
  int setDigitalOutput(int output, int value) override {
    outputs().push_back("dout " + std::to_string(output) + "=" + std::to_string(value));
    return 1;
  }
  bool hasSignal(int input) override { return input == -1 ? allSignals : true; }

  int inputs[8] = {};
  bool allSignals = true;
};

class FakeCameras : public dvrRuleCameras {
 public:
  int motion(std::string_view camera) override { return lookup(moving, camera); }
  int signalLost(std::string_view camera) override { return lookup(lost, camera); }
  std::map<std::string, int, std::less<>> moving, lost;

 private:
  static int lookup(const std::map<std::string, int, std::less<>>& m, std::string_view camera) {
    auto it = m.find(camera);
    return it == m.end() ? -1 : it->second;
  }
};

// Milliseconds of a local time in the week of Monday 1 January 2024 (weekday 0 Monday).
std::int64_t localWeekTime(int weekday, int hour, int minute = 30) {
  std::tm t{};
  t.tm_year = 124;
  t.tm_mon = 0;
  t.tm_mday = 1 + weekday;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&t)) * 1000;
}

// A week schedule with exactly one hour on.
std::string oneHourOn(int weekday, int hour, std::size_t length = 168) {
  std::string week(length, 'a');
  std::size_t at = static_cast<std::size_t>(hour * 7 + weekday);
  if (at < length) week[at] = 'A';
  return week;
}

const std::string kAlwaysOn(168, 'A');
const std::string kAlwaysOff(168, 'a');

class RuleTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    outputs().clear();
    dvrBoardContainer::registerType("ruleboard", [] { return std::make_unique<InputBoard>(); });
    dvrStartCapturePipeline();
    console->execute("AddCard ruleboard Gate");
    makeRules();
  }
  void TearDown() override {
    rules.reset();
    dvrBoardContainer::unregisterType("ruleboard");
    dvrEngineTest::TearDown();
  }
  void makeRules() {
    rules = std::make_unique<dvrRuleSet>();
    rules->setClock([this] { return clock; });
    rules->install();
  }
  InputBoard& gate() {
    return *static_cast<InputBoard*>(dvrCapture()->boards().findBoard("Gate"));
  }
  // Runs the lines, then answers the rule of the first.
  dvrRule* rule(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) console->execute(line);
    std::string name = lines.front().substr(lines.front().find(' ') + 1);
    return rules->byName(name);
  }
  bool value(const char* name) { return rules->evaluate(name).value(); }

  std::unique_ptr<dvrRuleSet> rules;
  std::int64_t clock = 1'700'000'000'000;
};

TEST_F(RuleTest, ScheduleFollowsLocalHourAndWeekday) {
  struct Case {
    const char* label;
    std::string week;
    int weekday, hour;
    bool expected;
  };
  const Case cases[] = {
      {"Monday midnight, its own hour", oneHourOn(0, 0), 0, 0, true},
      {"Sunday 23:00 is the last character", oneHourOn(6, 23), 6, 23, true},
      {"Sunday counts as weekday 6, not 0", oneHourOn(0, 12), 6, 12, false},
      {"the next weekday of the same hour", oneHourOn(1, 10), 2, 10, false},
      {"hour-major layout: Monday 3:00 is not Monday 21:00", oneHourOn(0, 3), 0, 21, false},
      {"Wednesday 17:00 in a full week", kAlwaysOn, 2, 17, true},
      {"an hour off", kAlwaysOff, 4, 8, false},
      {"short schedule, inside", std::string(100, 'A'), 0, 14, true},
      {"short schedule, beyond its end", std::string(100, 'A'), 6, 23, false},
      {"empty schedule", "", 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    rules = nullptr;
    makeRules();
    console->execute("AddRule Week");
    console->execute("AddRuleNode Week 4 0 0 0 " + c.week);
    clock = localWeekTime(c.weekday, c.hour);
    EXPECT_EQ(value("Week"), c.expected);
  }
}

TEST_F(RuleTest, JoinsCombineStrictlyLeftToRight) {
  struct Node {
    bool on;
    int join;
  };
  struct Case {
    const char* label;
    std::vector<Node> nodes;
    bool expected;
  };
  const Case cases[] = {
      {"true or false and false, without precedence", {{true, 0}, {false, 1}, {false, 0}}, false},
      {"false or true", {{false, 0}, {true, 1}}, true},
      {"true and false", {{true, 0}, {false, 0}}, false},
      {"true xor true", {{true, 0}, {true, 2}}, false},
      {"true xor false", {{true, 0}, {false, 2}}, true},
      {"false and true or true", {{false, 0}, {true, 0}, {true, 1}}, true},
      {"the first node's join is ignored", {{true, 2}}, true},
      {"an unknown join leaves the result", {{true, 0}, {false, 7}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    rules = nullptr;
    makeRules();
    console->execute("AddRule J");
    for (const Node& n : c.nodes)
      console->execute("AddRuleNode J 4 " + std::to_string(n.join) + " 0 0 " +
                       (n.on ? kAlwaysOn : kAlwaysOff));
    EXPECT_EQ(value("J"), c.expected);
  }
}

TEST_F(RuleTest, EvaluationStopsAtTheActionNode) {
  console->execute("AddRule Door");
  console->execute("AddRuleNode Door 4 0 0 0 " + kAlwaysOff);
  console->execute("AddRuleNode Door 30 0 0 0 set board Gate DIO_on int 1");
  console->execute("AddRuleNode Door 4 1 0 0 " + kAlwaysOn);
  EXPECT_FALSE(value("Door")) << "the node after the action is not part of the expression";
  EXPECT_TRUE(outputs().empty()) << "an action after the first node does not run on evaluation";
}

TEST_F(RuleTest, ConditionsOfBoardsAndCameras) {
  FakeCameras cameras;
  cameras.moving = {{"Yard", 1}, {"Hall", 0}};
  cameras.lost = {{"Yard", 1}, {"Hall", 0}};
  gate().inputs[2] = 1;
  gate().allSignals = false;
  struct Case {
    const char* label;
    const char* node;
    bool withCameras;
    bool expected;
  };
  const Case cases[] = {
      {"digital input that is on", "5 0 2 0 Gate", true, true},
      {"digital input that is off", "5 0 3 0 Gate", true, false},
      {"digital input of a missing board", "5 0 2 0 Nowhere", true, false},
      {"any input of a board without signal", "7 0 0 0 \\any:Gate", true, true},
      {"any input of a missing board", "7 0 0 0 \\any:Nowhere", true, false},
      {"camera without signal", "7 0 0 0 Yard", true, true},
      {"camera with signal", "7 0 0 0 Hall", true, false},
      {"missing camera", "7 0 0 0 Porch", true, false},
      {"signal of a camera without the camera side", "7 0 0 0 Yard", false, false},
      {"motion", "9 0 0 0 Yard", true, true},
      {"no motion", "9 0 0 0 Hall", true, false},
      {"motion without the camera side", "9 0 0 0 Yard", false, false},
      {"the error kind", "42 0 0 0 x", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    rules = nullptr;
    makeRules();
    if (c.withCameras) rules->setCameras(&cameras);
    console->execute("AddRule C");
    console->execute(std::string("AddRuleNode C ") + c.node);
    EXPECT_EQ(value("C"), c.expected);
  }
  gate().allSignals = true;
  rules = nullptr;
  makeRules();
  console->execute("AddRule C");
  console->execute("AddRuleNode C 7 0 0 0 \\any:Gate");
  EXPECT_FALSE(value("C")) << "every input has its signal";
}

TEST_F(RuleTest, DigitalInputHoldsItsValueForTheHoldTime) {
  rule({"AddRule In", "AddRuleNode In 5 0 4 10 Gate"});
  const std::int64_t t0 = clock;
  struct Step {
    const char* label;
    std::int64_t at;
    int input;
    bool expected;
  };
  const Step steps[] = {
      {"off", t0, 0, false},
      {"pressed", t0 + 1000, 1, true},
      {"released, held", t0 + 2000, 0, true},
      {"last held millisecond", t0 + 10999, 0, true},
      {"hold over", t0 + 11000, 0, false},
      {"stays off", t0 + 30000, 0, false},
      {"pressed again", t0 + 31000, 1, true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.label);
    clock = s.at;
    gate().inputs[4] = s.input;
    EXPECT_EQ(value("In"), s.expected);
  }
}

TEST_F(RuleTest, AnotherRuleHoldsAndWaitNeedsAnUninterruptedValue) {
  rule({"AddRule Src", "AddRuleNode Src 5 0 0 0 Gate"});
  rule({"AddRule Held", "AddRuleNode Held 6 0 1 3 Src"});
  rule({"AddRule Not", "AddRuleNode Not 6 0 0 0 Src"});
  rule({"AddRule Wait", "AddRuleNode Wait 8 0 1 5 Src"});
  const std::int64_t t0 = clock;
  struct Step {
    const char* label;
    std::int64_t at;
    int input;
    bool held, negated, waited;
  };
  const Step steps[] = {
      {"source false", t0, 0, false, true, false},
      {"source becomes true", t0 + 1000, 1, true, false, false},
      {"just before the waiting time", t0 + 5999, 1, true, false, false},
      {"waiting time reached", t0 + 6000, 1, true, false, true},
      {"source false: wait drops at once, hold holds", t0 + 7000, 0, true, true, false},
      {"hold over", t0 + 9000, 0, false, true, false},
      {"true again: the wait starts anew", t0 + 9500, 1, true, false, false},
      {"interrupted briefly", t0 + 10000, 0, true, true, false},
      {"true again", t0 + 10500, 1, true, false, false},
      {"five seconds after the interruption", t0 + 15500, 1, true, false, true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.label);
    clock = s.at;
    gate().inputs[0] = s.input;
    EXPECT_EQ(value("Held"), s.held);
    EXPECT_EQ(value("Not"), s.negated);
    EXPECT_EQ(value("Wait"), s.waited);
  }
}

TEST_F(RuleTest, UnknownRuleInANodeIsLoggedAtEveryEvaluation) {
  rule({"AddRule A", "AddRuleNode A 6 0 1 0 Nope", "AddRuleNode A 8 1 1 0 Nope"});
  std::size_t before = logLines().size();
  EXPECT_FALSE(value("A"));
  EXPECT_FALSE(value("A"));
  std::vector<std::string> lines = logLines();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()),
            std::vector<std::string>(4, "[RULE] Erroneous rule Nope!"));
}

TEST_F(RuleTest, RecursionIsCutAndTheFirstNodeRemovedAfterTheChain) {
  const std::string ruleWarning =
      "Warning! Infinite rule recursion (for %s) aborted! Removing first rule node...";
  auto ruleLine = [&](const char* name) {
    return dvrFormat(ruleWarning.c_str(), name);
  };
  struct Case {
    const char* label;
    std::vector<std::string> lines;
    const char* evaluated;
    int depth;
    std::vector<std::string> logged;
    std::vector<std::pair<const char*, int>> nodesLeft;  // rule, node count after
  };
  const Case cases[] = {
      {"a rule naming itself",
       {"AddRule A", "AddRuleNode A 6 0 1 0 A"}, "A", 256, {ruleLine("A")}, {{"A", 0}}},
      {"a rule naming itself twice loses one node",
       {"AddRule A", "AddRuleNode A 6 0 1 0 A", "AddRuleNode A 8 1 1 0 A"}, "A", 256,
       {ruleLine("A")}, {{"A", 1}}},
      {"two rules naming each other: the one evaluated loses its node",
       {"AddRule B", "AddRuleNode B 6 0 1 0 C", "AddRule C", "AddRuleNode C 6 0 1 0 B"}, "B", 256,
       {ruleLine("B")}, {{"B", 0}, {"C", 1}}},
      {"an odd depth ends on a node, which removes nothing",
       {"AddRule A", "AddRuleNode A 6 0 1 0 A"}, "A", 255,
       {"Warning! Infinite rule recursion (for rule A) aborted!"}, {{"A", 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    rules = nullptr;
    makeRules();
    for (const std::string& line : c.lines) console->execute(line);
    std::size_t before = logLines().size();
    EXPECT_FALSE(rules->evaluate(c.evaluated, c.depth).value());
    std::vector<std::string> lines = logLines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()),
              c.logged);
    for (const auto& [name, left] : c.nodesLeft)
      EXPECT_EQ(rules->byName(name)->nodeCount(), static_cast<std::size_t>(left)) << name;
  }
  // The node that stays is the second one, and it names the rule itself.
  EXPECT_EQ(rules->byName("A")->node(0)->text(), "A");
}

TEST_F(RuleTest, CommandsBuildRulesAndTheSettingsFileRepeatsThem) {
  const std::string week = oneHourOn(3, 7);
  const std::vector<std::string> lines = {
      "AddRule Night",
      "AddRuleNode Night 4 0 0 0 " + week,
      "AddRuleNode Night 5 1 2 10 Gate",
      "AddRuleNode Night 30 0 0 0 set board Gate DIO_on int 1|set board Gate DIO_off int 1",
      "AddRuleNode Nobody 6 0 1 0 Night",
      "AddRule Later",
      "AddRuleNode Later 8 2 1 5 Night",
      "AddRuleNode Later 4 0 0 0 ",
      "AddRule Later",
  };
  for (const std::string& line : lines) console->execute(line);
  ASSERT_EQ(rules->count(), 3u);
  const std::string expected =
      "AddRule Night\n"
      "AddRuleNode Night 4 0 0 0 " + week + "\n"
      "AddRuleNode Night 5 1 2 10 Gate\n"
      "AddRuleNode Night 30 0 0 0 set board Gate DIO_on int 1|set board Gate DIO_off int 1\n"
      "AddRule Later\n"
      "AddRuleNode Later 8 2 1 5 Night\n"
      "AddRuleNode Later 4 0 0 0 \n"
      "AddRule Later\n";
  EXPECT_EQ(rules->ruleText(), expected);

  dvrRuleNode* input = rules->byName("Night")->node(1);
  EXPECT_EQ(input->caption(), "Digital input");
  EXPECT_EQ(input->join(), 1);
  EXPECT_EQ(input->value(), 2);
  EXPECT_EQ(input->duration(), 10);
  EXPECT_EQ(rules->byName("Night")->node(2)->caption(), "Action");
  EXPECT_EQ(rules->byName("Later")->node(0)->caption(), "Wait for another rule");

  ASSERT_TRUE(dvrSaveSettings(dir->file("first.tvl")));
  const std::string first = dir->read("first.tvl");
  EXPECT_NE(first.find("# Rules\n" + expected), std::string::npos) << first;

  // A fresh recorder reads the file: no rules and no boards yet.
  rules = nullptr;
  makeRules();
  console->execute("DelCards");
  ASSERT_TRUE(dvrRunFile(*console, dir->file("first.tvl")));
  EXPECT_EQ(rules->count(), 3u);
  ASSERT_TRUE(dvrSaveSettings(dir->file("second.tvl")));
  EXPECT_EQ(dir->read("second.tvl"), first);
}

TEST_F(RuleTest, NewNodesStartWithTheCaptionOfTheirKind) {
  struct Case {
    int type;
    const char* caption;
    const char* text;
  };
  const Case cases[] = {
      {4, "Schedule", ""},
      {7, "Loss of video signal", "(nothing)"},
      {9, "Motion", "(nothing)"},
      {42, "Error!", "(nothing)"},
      {77, "(undefined)", "(nothing)"},
  };
  for (const Case& c : cases) {
    dvrRuleNode node(c.type);
    EXPECT_EQ(node.caption(), c.caption) << c.type;
    EXPECT_EQ(node.text(), c.text) << c.type;
  }
}

TEST_F(RuleTest, RefreshRunsTheChangeActionOncePerChange) {
  rule({"AddRule Door", "AddRuleNode Door 5 0 0 0 Gate",
        "AddRuleNode Door 30 0 0 0 set board Gate DIO_on int 5|set board Gate DIO_off int 5"});
  rule({"AddRule Lamp", "AddRuleNode Lamp 5 0 1 0 Gate",
        "AddRuleNode Lamp 30 0 0 0 set board Gate DIO_on int 6"});
  struct Step {
    const char* label;
    int door, lamp;
    std::vector<std::string> ran;
  };
  const Step steps[] = {
      {"both false as the stored values", 0, 0, {}},
      {"door opens", 1, 0, {"dout 5=1"}},
      {"no change", 1, 0, {}},
      {"door closes, lamp on", 0, 1, {"dout 5=0", "dout 6=1"}},
      {"lamp off: no release part", 0, 0, {}},
      {"still off", 0, 0, {}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.label);
    outputs().clear();
    gate().inputs[0] = s.door;
    gate().inputs[1] = s.lamp;
    console->execute("Refresh");
    EXPECT_EQ(outputs(), s.ran);
  }
}

TEST_F(RuleTest, DeletingARuleDoesNotFireTheRulesAfterIt) {
  dvrRule* first = rule({"AddRule First", "AddRuleNode First 4 0 0 0 " + kAlwaysOff,
                         "AddRuleNode First 30 0 0 0 set board Gate DIO_on int 1"});
  rule({"AddRule Second", "AddRuleNode Second 4 0 0 0 " + kAlwaysOn,
        "AddRuleNode Second 30 0 0 0 set board Gate DIO_on int 2|set board Gate DIO_off int 2"});
  console->execute("Refresh");
  EXPECT_EQ(outputs(), std::vector<std::string>{"dout 2=1"});
  outputs().clear();
  const int firstId = first->id();
  ASSERT_TRUE(rules->removeById(firstId));
  EXPECT_FALSE(rules->removeById(firstId));
  console->execute("Refresh");
  EXPECT_TRUE(outputs().empty()) << outputs().front();
}

TEST_F(RuleTest, AnActionAsFirstNodeRunsAtEveryEvaluation) {
  rule({"AddRule Beat", "AddRuleNode Beat 30 0 0 0 set board Gate DIO_on int 3"});
  console->execute("Refresh");
  console->execute("Refresh");
  EXPECT_EQ(outputs(), (std::vector<std::string>{"dout 3=1", "dout 3=1"}))
      << "one node: no change action, but the node itself runs";

  outputs().clear();
  std::thread capture([&] { EXPECT_TRUE(rules->evaluate("Beat", dvrRuleSet::kDepth).value()); });
  capture.join();
  EXPECT_TRUE(outputs().empty()) << "another thread does not run commands itself";
  EXPECT_EQ(console->queued(), 1u);
  console->drainQueue();
  EXPECT_EQ(outputs(), std::vector<std::string>{"dout 3=1"});
}

TEST_F(RuleTest, RulesAreFoundByIndexIdAndName) {
  console->execute("AddRule Alpha");
  console->execute("AddRule Beta");
  console->execute("AddRule Alpha");
  ASSERT_EQ(rules->count(), 3u);
  dvrRule* second = rules->at(1);
  ASSERT_NE(second, nullptr);
  struct Case {
    const char* label;
    dvrRule* found;
    dvrRule* expected;
  };
  const Case cases[] = {
      {"by index", rules->at(0), rules->at(0)},
      {"index past the end", rules->at(3), nullptr},
      {"by id", rules->byId(second->id()), second},
      {"unknown id", rules->byId(second->id() + 100000), nullptr},
      {"by name, first match", rules->byName("Alpha"), rules->at(0)},
      {"by name", rules->byName("Beta"), second},
      {"names are case-sensitive", rules->byName("beta"), nullptr},
      {"no partial names", rules->byName("Alp"), nullptr},
  };
  for (const Case& c : cases) EXPECT_EQ(c.found, c.expected) << c.label;
  EXPECT_EQ(rules->at(0)->name(), "Alpha");
  EXPECT_NE(rules->at(0)->id(), rules->at(2)->id());
  EXPECT_FALSE(rules->evaluate("Gamma").has_value());
}

}  // namespace
