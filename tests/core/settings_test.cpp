#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/command.h"
#include "core/console.h"
#include "core/engine.h"
#include "core/object.h"
#include "core/settings.h"
#include "tests/support/fixture.h"

using namespace dvrType;
using namespace dvrFlag;

namespace {

// Counts code 16 from one set and records the watched key's text at the
// moment of each notification (the change must already be stored).
class SettingWatcher : public dvrObserver {
 public:
  SettingWatcher(dvrSettingSet& set, std::string key) : set_(set), key_(std::move(key)) {
    set_.attach(this, dvrNOTIFY_SETTING);
  }
  void update(dvrNotifier* notifier, std::uint32_t codes) override {
    dvrObserver::update(notifier, codes);
    if (codes & dvrNOTIFY_SETTING) textsSeen.push_back(set_.getText(key_));
  }
  std::size_t count() const { return textsSeen.size(); }
  std::vector<std::string> textsSeen;

 private:
  dvrSettingSet& set_;
  std::string key_;
};

// One value operation on a set, by key.
struct Op {
  enum Kind { Int, Text, Float } kind;
  int i = 0;
  std::string t;
  float f = 0.0f;
  static Op integer(int v) { return {Int, v, {}, 0.0f}; }
  static Op text(std::string v) { return {Text, 0, std::move(v), 0.0f}; }
  static Op real(float v) { return {Float, 0, {}, v}; }
  int run(dvrSettingSet& s, std::string_view key) const {
    switch (kind) {
      case Int: return s.setInt(key, i);
      case Text: return s.setText(key, t);
      case Float: return s.setFloat(key, f);
    }
    return -1;
  }
};

// How the descriptor under test ("k") is declared.
struct Decl {
  std::int32_t type;
  std::uint32_t flags;
  std::vector<std::pair<const char*, int>> choices;
  void into(dvrSettingSet& s) const {
    s.declare("k", "Key", type, flags);
    for (const auto& [text, value] : choices) s.addChoice(text, value);
  }
};

const Decl kPlainInt{SPIN, INT, {}};
const Decl kPlainText{TEXT, STRING, {}};
const Decl kChoiceAB{CHOICE, 0, {{"A", 10}, {"B", 20}}};
const Decl kBaud{CHOICE, INT, {{"1200", 1200}, {"9600", 9600}, {"115200", 115200}}};
const Decl kFloatChoices{CHOICE, 0, {{"2.500000", 0}, {"0.500000", 1}}};
const Decl kFloatChoicesInt{CHOICE, INT, {{"2.500000", 0}, {"0.500000", 1}}};

// An object that records the parsed "set" lines it is handed.
class RecordingCamera : public dvrObject {
 public:
  RecordingCamera() {
    settings().setKind("camera");
    settings().declare("count", "Count", SPIN, INT, 0, 100);
    settings().declare("title", "Title", TEXT, STRING);
    settings().declare("gain", "Gain", SLIDER, FLOAT);
    setName("cam1");
  }
  int applySetting(const dvrCommand& command, int flag) override {
    commands.push_back(command);
    flags.push_back(flag);
    return dvrObject::applySetting(command, flag);
  }
  std::vector<dvrCommand> commands;
  std::vector<int> flags;
};

std::vector<std::string> paramsOf(const dvrCommand& c) {
  std::vector<std::string> out{c.word.str()};
  for (int n = 1; n <= c.count; ++n) out.emplace_back(c.param(n));
  return out;
}

}  // namespace

// ---- values --------------------------------------------------------------

TEST(Setting, ValueFormsAfterEachSetter) {
  struct Case {
    const char* label;
    Decl decl;
    Op op;
    std::string text;
    int intValue;
    float floatValue;
  };
  const Case cases[] = {
      {"int on a plain setting", kPlainInt, Op::integer(5), "5", 5, 5.0f},
      {"negative int", kPlainInt, Op::integer(-3), "-3", -3, -3.0f},
      {"text with trailing letters on INT", kPlainInt, Op::text("12abc"), "12abc", 12, 12.0f},
      {"text without digits", kPlainInt, Op::text("abc"), "abc", 0, 0.0f},
      {"text with a fraction", kPlainText, Op::text("2.5"), "2.5", 2, 2.5f},
      {"float", kPlainInt, Op::real(2.75f), "2.750000", 2, 2.75f},
      {"negative float truncates toward zero", kPlainInt, Op::real(-2.75f), "-2.750000", -2,
       -2.75f},
      {"choice text gives its index", kChoiceAB, Op::text("B"), "B", 1, 0.0f},
      {"choice text matches with case", kChoiceAB, Op::text("b"), "b", 0, 0.0f},
      {"index gives the choice text", kChoiceAB, Op::integer(0), "A", 0, 0.0f},
      {"index past the choices is written as a number", kChoiceAB, Op::integer(7), "7", 7, 7.0f},
      {"negative index is written as a number", kChoiceAB, Op::integer(-1), "-1", -1, -1.0f},
      {"INT choice keeps the chosen value, not its index", kBaud, Op::text("9600"), "9600", 9600,
       9600.0f},
      {"INT choice set by value", kBaud, Op::integer(115200), "115200", 115200, 115200.0f},
      {"a small value of an INT choice still takes the choice text", kBaud, Op::integer(1),
       "9600", 1, 1.0f},
      {"float matching a choice text gives its index", kFloatChoices, Op::real(0.5f), "0.500000",
       1, 0.5f},
      {"float on an INT choice is truncated", kFloatChoicesInt, Op::real(0.5f), "0.500000", 0,
       0.5f},
      {"long text is cut to 511", kPlainText, Op::text(std::string(600, 'x')),
       std::string(511, 'x'), 0, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrSettingSet s;
    c.decl.into(s);
    SettingWatcher w(s, "k");
    EXPECT_EQ(c.op.run(s, "k"), 1);
    const dvrSetting& d = s.at(0);
    EXPECT_EQ(d.text.str(), c.text);
    EXPECT_EQ(d.intValue, c.intValue);
    EXPECT_FLOAT_EQ(d.floatValue, c.floatValue);
    EXPECT_EQ(s.getText("K"), c.text);
    EXPECT_EQ(s.getInt("K"), c.intValue);
    EXPECT_EQ(s.getTextAt(0), c.text);
    EXPECT_EQ(s.getIntAt(0), c.intValue);
    // One notification, sent once the new text was stored.
    EXPECT_EQ(w.textsSeen, std::vector<std::string>{c.text});
  }
}

TEST(Setting, NotifiesOnlyWhenAFormChanges) {
  struct Case {
    const char* label;
    Decl decl;
    Op first;
    Op second;
    std::size_t secondNotifications;
  };
  const Case cases[] = {
      {"same int again", kPlainInt, Op::integer(5), Op::integer(5), 0},
      {"same text again", kPlainText, Op::text("hello"), Op::text("hello"), 0},
      {"same float again", kPlainInt, Op::real(1.25f), Op::real(1.25f), 0},
      {"int then its text", kPlainInt, Op::integer(5), Op::text("5"), 0},
      {"int then the same number as float rewrites the text", kPlainInt, Op::integer(5),
       Op::real(5.0f), 1},
      {"text 12abc then int 12 rewrites the text", kPlainInt, Op::text("12abc"), Op::integer(12),
       1},
      {"choice text then its index still changes the float form", kChoiceAB, Op::text("B"),
       Op::integer(1), 1},
      {"same overlong text again", kPlainText, Op::text(std::string(600, 'y')),
       Op::text(std::string(600, 'y')), 0},
      {"overlong text then another ending", kPlainText, Op::text(std::string(600, 'y')),
       Op::text(std::string(511, 'y') + "z"), 0},
      {"different int", kPlainInt, Op::integer(5), Op::integer(6), 1},
      {"different text", kPlainText, Op::text("a"), Op::text("b"), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrSettingSet s;
    c.decl.into(s);
    SettingWatcher w(s, "k");
    c.first.run(s, "k");
    ASSERT_EQ(w.count(), 1u);
    EXPECT_EQ(c.second.run(s, "k"), 1);
    EXPECT_EQ(w.count() - 1, c.secondNotifications);
  }
}

TEST(Setting, UnknownKeyOrIndexChangesNothing) {
  RecordingCamera cam;
  dvrSettingSet& s = cam.settings();
  s.setInt("count", 3);
  SettingWatcher w(s, "count");
  const std::string before = s.dump();
  EXPECT_EQ(s.getInt("missing"), 0);
  EXPECT_STREQ(s.getText("missing"), "");
  EXPECT_EQ(s.getFloat("missing"), 0.0f);
  EXPECT_STREQ(s.getTextAt(-1), "");
  EXPECT_EQ(s.getIntAt(s.count()), 0);

  const std::vector<std::pair<const char*, std::function<int()>>> writes = {
      {"setInt", [&] { return s.setInt("missing", 1); }},
      {"setText", [&] { return s.setText("missing", "x"); }},
      {"setFloat", [&] { return s.setFloat("missing", 1.0f); }},
      {"setIntAt negative", [&] { return s.setIntAt(-1, 1); }},
      {"setTextAt past the end", [&] { return s.setTextAt(s.count(), "x"); }},
      {"setFloatAt past the end", [&] { return s.setFloatAt(s.count(), 1.0f); }},
      {"applyInt", [&] { return s.applyInt("missing", 1); }},
      {"applyText", [&] { return s.applyText("missing", "x"); }},
      {"applyFloat", [&] { return s.applyFloat("missing", 1.0f); }},
      {"applyIntAt past the end", [&] { return s.applyIntAt(s.count(), 1); }},
  };
  for (const auto& [label, write] : writes) EXPECT_EQ(write(), 0) << label;
  EXPECT_EQ(s.dump(), before);
  EXPECT_EQ(w.count(), 0u);
  EXPECT_TRUE(cam.commands.empty());
  // setFlags and setRange of an unknown key are silent too.
  s.setFlags("missing", READONLY, true);
  s.setRange("missing", 1, 9, 5);
  EXPECT_EQ(w.count(), 0u);
  EXPECT_EQ(s.getInt("count"), 3);
}

// ---- metadata ------------------------------------------------------------

TEST(Setting, SetFlagsNotifiesOnlyWhenTheFlagsChange) {
  struct Case {
    const char* label;
    std::uint32_t initial;
    std::uint32_t mask;
    bool on;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"set a new bit", INT, READONLY, true, INT | READONLY},
      {"set a bit already set", INT | READONLY, READONLY, true, INT | READONLY},
      {"clear a set bit", INT | ADVANCED, ADVANCED, false, INT},
      {"clear a bit not set", INT, ADVANCED, false, INT},
      {"mask with one new bit among set ones", INT | READONLY, INT | READONLY | RUNTIME, true,
       INT | READONLY | RUNTIME},
      {"clear a mask of which one bit is set", INT | RUNTIME, RUNTIME | MENU, false, INT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrSettingSet s;
    s.declare("k", "Key", SPIN, c.initial);
    s.setInt("k", 4);
    SettingWatcher w(s, "k");
    s.setFlags("K", c.mask, c.on);
    EXPECT_EQ(s.at(0).flags, c.expected);
    EXPECT_EQ(w.count(), c.expected != c.initial ? 1u : 0u);
    EXPECT_EQ(s.getInt("k"), 4);
  }
}

TEST(Setting, DeclarationsAndLabelsSendNothing) {
  dvrSettingSet s;
  s.declare("a", "A", SPIN, INT);
  SettingWatcher w(s, "a");
  s.declare("b", "B", "help", CHOICE, INT, 1, 9);
  s.addChoice("one", 1);
  s.declareAfter("a", "c", "C", "", TEXT, STRING, 0, 0);
  s.setLabel("b", "Bee");
  s.setKind("camera");
  s.setObjectName("cam1");
  EXPECT_EQ(w.count(), 0u);
  EXPECT_EQ(s.at(s.find("b")).label.str(), "Bee");
}

TEST(Setting, DeclareAfterInsertsBehindTheKey) {
  struct Case {
    const char* label;
    const char* after;
    std::vector<std::string> order;
  };
  const Case cases[] = {
      {"in the middle", "a", {"a", "x", "b", "c"}},
      {"key matched without case", "B", {"a", "b", "x", "c"}},
      {"after the last", "c", {"a", "b", "c", "x"}},
      {"unknown key does nothing", "zz", {"a", "b", "c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrSettingSet s;
    s.declare("a", "A", SPIN, INT);
    s.declare("b", "B", SPIN, INT);
    s.declare("c", "C", SPIN, INT);
    s.setInt("a", 1);
    s.setInt("b", 2);
    s.setInt("c", 3);
    s.declareAfter(c.after, "x", "Ex", "Help of x", SLIDER, INT | ADVANCED, -5, 5);
    std::vector<std::string> order;
    for (int i = 0; i < s.count(); ++i) order.push_back(s.at(i).key.str());
    EXPECT_EQ(order, c.order);
    // The neighbours keep their values; the new entry is empty with its metadata.
    EXPECT_EQ(s.getInt("a"), 1);
    EXPECT_EQ(s.getInt("b"), 2);
    EXPECT_EQ(s.getInt("c"), 3);
    int x = s.find("x");
    if (c.order.size() == 3) {
      EXPECT_EQ(x, -1);
      continue;
    }
    ASSERT_GE(x, 0);
    const dvrSetting& d = s.at(x);
    EXPECT_EQ(d.label.str(), "Ex");
    EXPECT_EQ(d.help.str(), "Help of x");
    EXPECT_EQ(d.type, SLIDER);
    EXPECT_EQ(d.flags, INT | ADVANCED);
    EXPECT_EQ(d.minimum, -5);
    EXPECT_EQ(d.maximum, 5);
    EXPECT_EQ(d.text.str(), "");
    EXPECT_EQ(d.intValue, 0);
    EXPECT_EQ(d.floatValue, 0.0f);
  }
}

TEST(Setting, LookupByIndexKeyAndChoice) {
  dvrSettingSet s;
  s.declare("first", "First", SPIN, INT);
  s.declare("Mode", "Mode", CHOICE, INT | RUNTIME);
  s.addChoice("Day", 1);
  s.addChoice("Night", 2);
  s.declare("last", "Last", TEXT, STRING);
  EXPECT_EQ(s.count(), 3);
  struct Case {
    const char* label;
    int index;
    const char* key;
  };
  const Case atCases[] = {
      {"first", 0, "first"}, {"last", 2, "last"}, {"one past the end", 3, "last"},
      {"far past the end", 100, "last"}};
  for (const Case& c : atCases) EXPECT_EQ(s.at(c.index).key.str(), c.key) << c.label;
  EXPECT_EQ(s.find("mode"), 1);
  EXPECT_EQ(s.find("MODE"), 1);
  EXPECT_EQ(s.find("mod"), -1);
  EXPECT_EQ(s.find(""), -1);
  EXPECT_EQ(s.choiceCount(1), 2);
  EXPECT_EQ(s.choiceText(1, 1), "Night");
  EXPECT_EQ(s.choiceValue(1, 1), 2);
  EXPECT_EQ(s.choiceText(1, 2), "");
  EXPECT_EQ(s.choiceValue(1, -1), 0);
  EXPECT_EQ(s.choiceCount(0), 0);
  EXPECT_EQ(s.choiceCount(7), 0);
  EXPECT_EQ(s.choiceText(7, 0), "");
  EXPECT_TRUE(s.hasRuntime());
  s.setFlags("mode", RUNTIME, false);
  EXPECT_FALSE(s.hasRuntime());
}

TEST(Setting, AddChoiceGoesToTheLastDescriptorAndIsIgnoredOnAnEmptySet) {
  dvrSettingSet s;
  s.addChoice("orphan", 1);
  EXPECT_EQ(s.count(), 0);
  s.declare("a", "A", CHOICE, 0);
  s.declare("b", "B", CHOICE, 0);
  s.addChoice(std::string(600, 'c'), 3);
  EXPECT_EQ(s.choiceCount(0), 0);
  ASSERT_EQ(s.choiceCount(1), 1);
  EXPECT_EQ(s.choiceText(1, 0), std::string(511, 'c'));
  EXPECT_EQ(s.choiceValue(1, 0), 3);
}

TEST(Setting, SetRangeReplacesTheRangeAndSetsTheValue) {
  dvrSettingSet s;
  s.declare("k", "Key", SLIDER, INT, 0, 10);
  s.setInt("k", 4);
  SettingWatcher w(s, "k");
  s.setRange("k", 1, 50, 25);
  EXPECT_EQ(s.at(0).minimum, 1);
  EXPECT_EQ(s.at(0).maximum, 50);
  EXPECT_EQ(s.getInt("k"), 25);
  EXPECT_STREQ(s.getText("k"), "25");
  EXPECT_EQ(w.count(), 1u);
  s.setRange("k", 0, 100, 25);  // the value is unchanged
  EXPECT_EQ(s.at(0).maximum, 100);
  EXPECT_EQ(w.count(), 1u);
}

// ---- apply ---------------------------------------------------------------

TEST(SettingApply, OwnerReceivesTheParsedSetLine) {
  struct Case {
    const char* label;
    std::function<int(dvrSettingSet&)> apply;
    std::vector<std::string> line;  // word and parameters
    const char* key;
    const char* text;
  };
  const Case cases[] = {
      {"int", [](dvrSettingSet& s) { return s.applyInt("count", 42); },
       {"set", "camera", "cam1", "count", "int", "42"}, "count", "42"},
      {"negative int", [](dvrSettingSet& s) { return s.applyInt("count", -5); },
       {"set", "camera", "cam1", "count", "int", "-5"}, "count", "-5"},
      {"key in other case gives the declared key",
       [](dvrSettingSet& s) { return s.applyInt("COUNT", 7); },
       {"set", "camera", "cam1", "count", "int", "7"}, "count", "7"},
      {"by index", [](dvrSettingSet& s) { return s.applyIntAt(0, 8); },
       {"set", "camera", "cam1", "count", "int", "8"}, "count", "8"},
      {"text with blanks stays one parameter",
       [](dvrSettingSet& s) { return s.applyText("title", "Front  door"); },
       {"set", "camera", "cam1", "title", "string", "Front  door"}, "title", "Front  door"},
      {"float", [](dvrSettingSet& s) { return s.applyFloat("gain", 1.5f); },
       {"set", "camera", "cam1", "gain", "float", "1.500000"}, "gain", "1.500000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingCamera cam;
    SettingWatcher w(cam.settings(), c.key);
    EXPECT_EQ(c.apply(cam.settings()), 1);
    ASSERT_EQ(cam.commands.size(), 1u);
    EXPECT_EQ(paramsOf(cam.commands[0]), c.line);
    EXPECT_EQ(cam.flags[0], 0);
    EXPECT_STREQ(cam.settings().getText(c.key), c.text);
    // The set stored and announced the value once; the repeated set in
    // the object's handler finds nothing to change.
    EXPECT_EQ(w.textsSeen, std::vector<std::string>{c.text});
  }
}

TEST(SettingApply, ValueAlreadyHeldIsDeliveredWithoutNotification) {
  struct Case {
    const char* label;
    std::function<void(dvrSettingSet&)> preset;
    std::function<int(dvrSettingSet&)> apply;
    const char* key;
  };
  const Case cases[] = {
      {"int", [](dvrSettingSet& s) { s.setInt("count", 42); },
       [](dvrSettingSet& s) { return s.applyInt("count", 42); }, "count"},
      {"text", [](dvrSettingSet& s) { s.setText("title", "Lobby"); },
       [](dvrSettingSet& s) { return s.applyText("title", "Lobby"); }, "title"},
      {"float", [](dvrSettingSet& s) { s.setFloat("gain", 0.25f); },
       [](dvrSettingSet& s) { return s.applyFloat("gain", 0.25f); }, "gain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingCamera cam;
    c.preset(cam.settings());
    SettingWatcher w(cam.settings(), c.key);
    EXPECT_EQ(c.apply(cam.settings()), 1);
    EXPECT_EQ(w.count(), 0u);
    // The side effects of the command still run.
    EXPECT_EQ(cam.commands.size(), 1u);
  }
}

namespace {

// The engine with the interpreter's Set word wrapped, so the lines that reach
// the interpreter are seen before its own handler runs them.
class GlobalSettingApply : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    dvrConsole::Handler original;
    for (const dvrConsole::Entry& e : console->table())
      if (dvrEqualNoCase(e.word, "Set")) original = e.handler;
    ASSERT_TRUE(static_cast<bool>(original));
    ASSERT_TRUE(console->bind("Set", [this, original](const dvrCommand& c, int flag) {
      lines.push_back(paramsOf(c));
      return original(c, flag);
    }));
  }
  std::vector<std::vector<std::string>> lines;
};

}  // namespace

TEST_F(GlobalSettingApply, LineRunsThroughTheInterpreterWithoutASecondNotification) {
  struct Case {
    const char* label;
    const char* key;
    std::function<int(dvrSettingSet&)> apply;
    std::vector<std::string> line;
    const char* text;
    int intValue;
    std::size_t notifications;
  };
  const Case cases[] = {
      {"int", "showcamnum", [](dvrSettingSet& s) { return s.applyInt("showcamnum", 0); },
       {"set", "global", "global", "showcamnum", "int", "0"}, "0", 0, 1},
      {"string", "customer",
       [](dvrSettingSet& s) { return s.applyText("customer", "Front office"); },
       {"set", "global", "global", "customer", "string", "Front office"}, "Front office", 0, 1},
      {"value already held", "showcamnum",
       [](dvrSettingSet& s) { return s.applyInt("showcamnum", 1); },
       {"set", "global", "global", "showcamnum", "int", "1"}, "1", 1, 0},
  };
  ASSERT_EQ(globals->getInt("showcamnum"), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    lines.clear();
    ASSERT_GE(globals->find(c.key), 0);
    SettingWatcher w(*globals, c.key);
    EXPECT_EQ(c.apply(*globals), 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], c.line);
    EXPECT_STREQ(globals->getText(c.key), c.text);
    EXPECT_EQ(globals->getInt(c.key), c.intValue);
    EXPECT_EQ(w.count(), c.notifications);
    // Put the default back for the next row.
    globals->setInt("showcamnum", 1);
  }
}

TEST(SettingApply, WithoutOwnerOrInterpreterTheValueIsStillStored) {
  dvrSettingSet s;
  s.declare("k", "Key", SPIN, INT);
  SettingWatcher w(s, "k");
  EXPECT_EQ(s.applyInt("k", 9), 1);
  EXPECT_EQ(s.getInt("k"), 9);
  EXPECT_EQ(w.count(), 1u);
}

// ---- settings file text --------------------------------------------------

TEST(SettingDump, OneLinePerSavedForm) {
  struct Case {
    const char* label;
    std::uint32_t flags;
    Op value;
    std::string expected;
  };
  const Case cases[] = {
      {"int", INT, Op::integer(42), "set camera cam1 k int 42\n"},
      {"negative int", INT, Op::integer(-42), "set camera cam1 k int -42\n"},
      {"string", STRING, Op::text("hello"), "set camera cam1 k string hello\n"},
      {"string with blanks is whole", STRING, Op::text("a b  c "),
       "set camera cam1 k string a b  c \n"},
      {"empty string", STRING, Op::text(""), "set camera cam1 k string \n"},
      {"line breaks become blanks", STRING, Op::text("one\r\ntwo\nthree\r"),
       "set camera cam1 k string one  two three \n"},
      {"float with four places", FLOAT, Op::real(1.5f), "set camera cam1 k float 1.5000\n"},
      {"float rounded", FLOAT, Op::real(2.0f / 3.0f), "set camera cam1 k float 0.6667\n"},
      {"all three forms in order", FLOAT | STRING | INT, Op::text("12abc"),
       "set camera cam1 k int 12\nset camera cam1 k string 12abc\nset camera cam1 k float "
       "12.0000\n"},
      {"NOSAVE writes nothing", INT | STRING | NOSAVE, Op::integer(3), ""},
      {"no saved form writes nothing", READONLY | RUNTIME, Op::integer(3), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrSettingSet s;
    s.setKind("camera");
    s.setObjectName("cam1");
    s.declare("k", "Key", TEXT, c.flags);
    c.value.run(s, "k");
    EXPECT_EQ(s.dump(), c.expected);
  }
}

TEST(SettingDump, WholeSetInOrderAndUnderAnotherName) {
  dvrSettingSet s;
  s.setKind("board");
  s.setObjectName("card0");
  s.declare("", "Group", GROUP, 0);
  s.declare("port", "Port", PORT, INT);
  s.declare("secret", "Secret", TEXT, STRING | NOSAVE);
  s.declare("label", "Label", TEXT, STRING);
  s.declare("ratio", "Ratio", SLIDER, FLOAT | INT);
  s.setInt("port", 3);
  s.setText("secret", "hidden");
  s.setText("label", "Main hall");
  s.setFloat("ratio", 0.75f);
  EXPECT_EQ(s.dump(),
            "set board card0 port int 3\n"
            "set board card0 label string Main hall\n"
            "set board card0 ratio int 0\n"
            "set board card0 ratio float 0.7500\n");
  EXPECT_EQ(s.dumpAs("card1"),
            "set board card1 port int 3\n"
            "set board card1 label string Main hall\n"
            "set board card1 ratio int 0\n"
            "set board card1 ratio float 0.7500\n");
  EXPECT_STREQ(s.objectName(), "card0");
  s.setNoSave(true);
  EXPECT_EQ(s.dump(), "");
  EXPECT_EQ(s.dumpAs("card1"), "");
  EXPECT_TRUE(s.isNoSave());
}

TEST(SettingDump, DefaultsToTheGlobalKindAndName) {
  dvrSettingSet s;
  EXPECT_EQ(s.dump(), "");
  s.declare("sfx", "Sound", CHECK, INT);
  s.setInt("sfx", 1);
  EXPECT_EQ(s.dump(), "set global global sfx int 1\n");
}

TEST(SettingDump, DumpReadsBackThroughApplySetting) {
  RecordingCamera source;
  source.settings().setInt("count", 17);
  source.settings().setText("title", "Gate  2");
  source.settings().setFloat("gain", 0.125f);
  RecordingCamera copy;
  const std::string text = source.settings().dumpAs("cam1");
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    dvrCommand c;
    c.parse(text.substr(start, end - start));
    copy.applySetting(c, 0);
  }
  EXPECT_EQ(copy.commands.size(), 3u);
  EXPECT_EQ(copy.settings().getInt("count"), 17);
  EXPECT_STREQ(copy.settings().getText("title"), "Gate  2");
  EXPECT_FLOAT_EQ(copy.settings().getFloat("gain"), 0.125f);
  EXPECT_EQ(copy.settings().dump(), source.settings().dump());
}
