#include "rules/rule_actions.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/console.h"
#include "rules/rule_describe.h"
#include "rules/rule_set.h"
#include "tests/support/fixture.h"

namespace {

class Cameras : public dvrRuleCameras {
 public:
  int motion(std::string_view camera) override {
    auto it = moving.find(camera);
    return it == moving.end() ? -1 : it->second;
  }
  int signalLost(std::string_view camera) override { return motion(camera) < 0 ? -1 : 0; }
  std::map<std::string, int, std::less<>> moving{{"Yard", 0}, {"Gate", 0}};
};

class RuleActionTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    // Two words without handlers in the bare engine record what reaches them.
    for (const char* word : {"Help", "Beep"})
      console->bind(word, [this](const dvrCommand& c, int flag) {
        std::string line(c.word.view());
        for (int i = 1; i <= c.count; ++i) line += " " + std::string(c.param(i));
        ran.push_back(line + " /" + std::to_string(flag));
        return 1;
      });
    rules = std::make_unique<dvrRuleSet>();
    rules->setCameras(&cameras);
    rules->install();
  }
  void TearDown() override {
    rules.reset();
    dvrEngineTest::TearDown();
  }
  dvrRule* make(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) console->execute(line);
    return rules->byName(lines.front().substr(lines.front().find(' ') + 1));
  }

  Cameras cameras;
  std::unique_ptr<dvrRuleSet> rules;
  std::vector<std::string> ran;
};

TEST_F(RuleActionTest, NodeDescriptionsOfEveryKind) {
  struct Case {
    const char* label;
    std::string node;  // type join value duration text
    bool withCameras;
    std::string shortText, longText;
  };
  const Case cases[] = {
      {"schedule", "4 0 0 0 " + std::string(168, 'A'), true, "(schedule)", "Calendar"},
      {"digital input: short from 1, long from 0", "5 0 3 10 Board1", true,
       "digital input 4 in Board1 is true", "Digital input Board1:3\n10 seconds"},
      {"another rule, true", "6 0 1 7 Night", true, "rule 'Night' is true",
       "Rule Night is True\n7 seconds"},
      {"another rule, false", "6 1 0 0 Night", true, "rule 'Night' is false",
       "Rule Night is False\n0 seconds"},
      {"wait for a rule, true", "8 0 1 5 Night", true, "rule 'Night' has been true for 5 seconds",
       "Wait until rule Night has been True\nfor 5 seconds"},
      {"wait for a rule, false", "8 0 0 30 Day", true, "rule 'Day' has been false for 30 seconds",
       "Wait until rule Day has been False\nfor 30 seconds"},
      {"signal of an existing camera", "7 0 0 0 Yard", true, "video signal on camera Yard is lost",
       "Video signal on camera Yard is lost"},
      {"signal of a missing camera", "7 0 0 0 Porch", true,
       "!!! video signal on camera Porch is lost",
       "Video signal on camera Porch is lost\nWarning: Camera Porch doesn't exist!"},
      {"any input of a device is never a missing camera", "7 0 0 0 \\any:Board1", true,
       "video signal on camera \\any:Board1 is lost", "Video signal on camera \\any:Board1 is lost"},
      {"without the camera side no camera is reported missing", "7 0 0 0 Porch", false,
       "video signal on camera Porch is lost", "Video signal on camera Porch is lost"},
      {"motion", "9 0 0 12 Gate", true, "camera Gate has motion", "Motion in camera Gate: 12 seconds"},
      {"action with both parts", "30 0 0 0 Help on|Help off", true,
       "execute command `Help on|Help off'", "Action: Help on|Help off"},
      {"the error kind", "42 0 0 0 x", true, "", ""},
      {"an unknown kind", "77 0 0 0 x", true, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    rules = std::make_unique<dvrRuleSet>();
    rules->install();
    const dvrRule* rule = make({"AddRule D", "AddRuleNode D " + c.node});
    ASSERT_EQ(rule->nodeCount(), 1u);
    dvrRuleCameras* side = c.withCameras ? &cameras : nullptr;
    EXPECT_EQ(dvrNodeShortDescription(*rule->node(0), side), c.shortText);
    EXPECT_EQ(dvrNodeLongDescription(*rule->node(0), side), c.longText);
  }
}

TEST_F(RuleActionTest, RuleSummaryStringsConditionsWithTheirJoins) {
  struct Case {
    const char* label;
    std::vector<std::string> nodes;
    std::string expected;
  };
  const Case cases[] = {
      {"motion or another rule, then an action",
       {"9 0 0 0 Gate", "6 1 1 0 Night", "30 0 0 0 start"},
       "if camera Gate has motion and/or rule 'Night' is true, then execute command `start'"},
      {"and, exclusive or, and the first node's join ignored",
       {"9 2 0 0 Gate", "9 0 0 0 Yard", "6 2 0 0 Day"},
       "camera Gate has motion and camera Yard has motion or rule 'Day' is false"},
      {"a single condition, no action", {"9 0 0 0 Gate"}, "camera Gate has motion"},
      {"an unknown join adds no word", {"9 0 0 0 Gate", "9 5 0 0 Yard", "30 0 0 0 go"},
       "if camera Gate has motioncamera Yard has motion, then execute command `go'"},
      {"a missing camera is flagged in the summary", {"7 0 0 0 Porch", "30 0 0 0 go"},
       "if !!! video signal on camera Porch is lost, then execute command `go'"},
      {"no nodes", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    rules = std::make_unique<dvrRuleSet>();
    rules->install();
    std::vector<std::string> lines{"AddRule S"};
    for (const std::string& n : c.nodes) lines.push_back("AddRuleNode S " + n);
    EXPECT_EQ(dvrDescribeRule(*make(lines), &cameras), c.expected);
  }
}

TEST(RuleActionTexts, TheDialogsTexts) {
  struct Case {
    const char* label;
    std::string made, expected;
  };
  const Case cases[] = {
      {"NC when triggered, NO when released",
       dvrDigitalOutputAction("Board1", 3, dvrOutputBehavior::OnThenOff),
       "set board Board1 DIO_on int 3|set board Board1 DIO_off int 3"},
      {"NO when triggered, NC when released",
       dvrDigitalOutputAction("Board1", 3, dvrOutputBehavior::OffThenOn),
       "set board Board1 DIO_off int 3|set board Board1 DIO_on int 3"},
      {"NC when triggered, no release", dvrDigitalOutputAction("B", 0, dvrOutputBehavior::OnOnly),
       "set board B DIO_on int 0"},
      {"NO when triggered, no release", dvrDigitalOutputAction("B", 11, dvrOutputBehavior::OffOnly),
       "set board B DIO_off int 11"},
      {"analog output", dvrAnalogOutputLine("Board1", 2, 5), "set board Board1 TV2 int 5"},
      {"analog output with release",
       dvrJoinAction(dvrAnalogOutputLine("B", 0, 1), dvrAnalogOutputLine("B", 0, 3)),
       "set board B TV0 int 1|set board B TV0 int 3"},
      {"dome preset", dvrDomePresetLine("cam2", 4), "dome cam2 preset goto 4"},
      {"dome preset with release",
       dvrJoinAction(dvrDomePresetLine("cam2", 4), dvrDomePresetLine("cam2", 0)),
       "dome cam2 preset goto 4|dome cam2 preset goto 0"},
      {"no release part, no separator", dvrJoinAction("Help x", ""), "Help x"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.made, c.expected) << c.label;
}

TEST(RuleActionTexts, KindOfAnExistingText) {
  struct Case {
    const char* label;
    const char* text;
    dvrActionKind expected;
  };
  const Case cases[] = {
      {"digital output", "set board B DIO_off int 1|set board B DIO_on int 1",
       dvrActionKind::DigitalOutput},
      {"DIO_ wins over TV", "set board TV DIO_on int 1", dvrActionKind::DigitalOutput},
      {"analog output", "set board B TV1 int 2", dvrActionKind::AnalogOutput},
      {"dome preset", "dome cam2 preset goto 4", dvrActionKind::DomePreset},
      {"anything else is edited as a dome preset", "Beep", dvrActionKind::DomePreset},
      {"case matters", "set board B dio_on int 1", dvrActionKind::DomePreset},
  };
  for (const Case& c : cases) EXPECT_EQ(dvrActionKindOf(c.text), c.expected) << c.label;
}

TEST(RuleActionTexts, SplitAtTheFirstSeparatorAfterTheCut) {
  const std::string longOn(dvrACTION_TEXT_LIMIT, 'x');
  struct Case {
    const char* label;
    std::string text, on, off;
  };
  const Case cases[] = {
      {"one command", "Help a", "Help a", ""},
      {"on and off", "Help a|Help b", "Help a", "Help b"},
      {"only the first bar separates", "Help a|Help b|Help c", "Help a", "Help b|Help c"},
      {"empty on part", "|Help b", "", "Help b"},
      {"empty off part", "Help a|", "Help a", ""},
      {"blanks are kept", " Help a | Help b", " Help a ", " Help b"},
      {"a bar beyond the limit is cut away", longOn + "|Help b", longOn, ""},
      {"a text beyond the limit is cut", longOn + "yyy", longOn, ""},
      {"a bar on the last kept character", longOn.substr(1) + "|Help b", longOn.substr(1), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrActionParts parts = dvrSplitAction(c.text);
    EXPECT_EQ(parts.on, c.on);
    EXPECT_EQ(parts.off, c.off);
  }
}

TEST_F(RuleActionTest, ChangeCommandNeedsConditionsAndAFinalAction) {
  struct Case {
    const char* label;
    std::vector<std::string> nodes;
    std::string on, off;
  };
  const Case cases[] = {
      {"condition and action", {"9 0 0 0 Gate", "30 0 0 0 Help a|Help b"}, "Help a", "Help b"},
      {"only an action", {"30 0 0 0 Help a|Help b"}, "", ""},
      {"the action is not the last node", {"9 0 0 0 Gate", "30 0 0 0 Help a", "9 1 0 0 Yard"}, "",
       ""},
      {"no action", {"9 0 0 0 Gate", "9 1 0 0 Yard"}, "", ""},
      {"the last of two actions counts", {"9 0 0 0 Gate", "30 0 0 0 Help a", "30 0 0 0 Beep|Help z"},
       "Beep", "Help z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    rules = std::make_unique<dvrRuleSet>();
    rules->install();
    std::vector<std::string> lines{"AddRule R"};
    for (const std::string& n : c.nodes) lines.push_back("AddRuleNode R " + n);
    const dvrRule* rule = make(lines);
    EXPECT_EQ(dvrRuleSet::changeCommand(*rule, true), c.on);
    EXPECT_EQ(dvrRuleSet::changeCommand(*rule, false), c.off);
  }
}

TEST_F(RuleActionTest, RefreshRunsEachChangeOnceOnTheMainThread) {
  make({"AddRule Door", "AddRuleNode Door 9 0 0 0 Gate",
        "AddRuleNode Door 30 0 0 0 Help open|Help shut|Beep"});
  make({"AddRule Lamp", "AddRuleNode Lamp 9 0 0 0 Yard", "AddRuleNode Lamp 30 0 0 0 Beep"});
  make({"AddRule Off", "AddRuleNode Off 9 0 0 0 Yard", "AddRuleNode Off 30 0 0 0 |Help dark"});
  struct Step {
    const char* label;
    int gate, yard;
    std::vector<std::string> ran;  // recorded as "word params /flag"
  };
  const Step steps[] = {
      {"everything false, as stored", 0, 0, {}},
      {"door opens", 1, 0, {"Help open /0"}},
      {"no change, nothing runs", 1, 0, {}},
      {"door shuts: the rest of the text after the first bar, lamp and off rule true", 0, 1,
       {"Help shut|Beep /0", "Beep /0"}},
      {"yard still", 0, 1, {}},
      {"lamp without an off part; the off rule's off part", 0, 0, {"Help dark /0"}},
      {"both at once, in rule order", 1, 1, {"Help open /0", "Beep /0"}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.label);
    ran.clear();
    cameras.moving["Gate"] = s.gate;
    cameras.moving["Yard"] = s.yard;
    console->execute("Refresh");
    EXPECT_EQ(ran, s.ran);
  }
}

TEST_F(RuleActionTest, AChangeSeenOnAnotherThreadIsOnlyEnqueued) {
  make({"AddRule Door", "AddRuleNode Door 9 0 0 0 Gate",
        "AddRuleNode Door 30 0 0 0 Help open|Help shut"});
  std::vector<std::uint8_t> unused;
  struct Step {
    const char* label;
    int gate;
    std::size_t queued;
    std::vector<std::string> drained;
  };
  const Step steps[] = {
      {"opens", 1, 1, {"Help open /0"}},
      {"no change", 1, 0, {}},
      {"shuts", 0, 1, {"Help shut /0"}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.label);
    ran.clear();
    cameras.moving["Gate"] = s.gate;
    std::thread other([&] { rules->evaluate(unused); });
    other.join();
    EXPECT_TRUE(ran.empty()) << ran.front();
    EXPECT_EQ(console->queued(), s.queued);
    console->drainQueue();
    EXPECT_EQ(ran, s.drained);
  }
}

}  // namespace
