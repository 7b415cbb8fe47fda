#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "core/command.h"
#include "core/object.h"
#include "core/settings.h"

namespace {

// One update() as an observer saw it.
struct Seen {
  int who;
  const dvrNotifier* from;
  std::uint32_t codes;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{observer " << s.who << ", codes " << s.codes << "}";
}

// An observer that keeps the base bookkeeping, logs every update into a
// (possibly shared) journal and runs an optional reaction afterwards.
class Probe : public dvrObserver {
 public:
  using Reaction = std::function<void(Probe&, dvrNotifier*, std::uint32_t)>;

  void update(dvrNotifier* notifier, std::uint32_t codes) override {
    if (forwardAttach || !(codes & dvrNOTIFY_ATTACHED)) dvrObserver::update(notifier, codes);
    own.push_back({who, notifier, codes});
    if (journal) journal->push_back({who, notifier, codes});
    if (react) react(*this, notifier, codes);
  }

  // Updates of this observer carrying any of the given bits.
  std::vector<std::uint32_t> codesWith(std::uint32_t bits) const {
    std::vector<std::uint32_t> out;
    for (const Seen& s : own)
      if (s.codes & bits) out.push_back(s.codes);
    return out;
  }

  int who = 0;
  std::vector<Seen> own;
  std::vector<Seen>* journal = nullptr;
  Reaction react;
  bool forwardAttach = true;  // false: forgets code 4, so the notifier stays unknown
};

// Observers kept in one array so that their addresses (and the notifier's
// walk order) follow their indices.
template <std::size_t N>
struct Row {
  std::array<Probe, N> probes;
  std::vector<Seen> journal;
  Row() {
    for (std::size_t i = 0; i < N; ++i) {
      probes[i].who = static_cast<int>(i);
      probes[i].journal = &journal;
    }
  }
  // Journal entries carrying any of the given bits.
  std::vector<Seen> with(std::uint32_t bits) const {
    std::vector<Seen> out;
    for (const Seen& s : journal)
      if (s.codes & bits) out.push_back(s);
    return out;
  }
};

constexpr std::uint32_t kAnnounced = dvrNOTIFY_DESTROYED | dvrNOTIFY_ATTACHED;

}  // namespace

// ---- attach and detach ---------------------------------------------------

TEST(Notifier, AttachSubscribesAnnouncedCodesAndCallsUpdateWithAttached) {
  struct Case {
    const char* label;
    std::vector<std::uint32_t> masks;  // attach calls in order
    std::uint32_t expectedMask;
    std::size_t expectedAttachedCalls;
  };
  const Case cases[] = {
      {"one mask", {dvrNOTIFY_SETTING}, dvrNOTIFY_SETTING | kAnnounced, 1},
      {"second attach ORs into the entry",
       {dvrNOTIFY_SETTING, dvrNOTIFY_RECORDING},
       dvrNOTIFY_SETTING | dvrNOTIFY_RECORDING | kAnnounced,
       2},
      {"mask of only announced codes", {dvrNOTIFY_ATTACHED}, kAnnounced, 1},
      {"zero mask does nothing", {0}, 0, 0},
      {"zero mask after a real one changes nothing", {dvrNOTIFY_SETTING, 0},
       dvrNOTIFY_SETTING | kAnnounced, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrNotifier n;
    Probe o;
    for (std::uint32_t m : c.masks) n.attach(&o, m);
    EXPECT_EQ(n.maskOf(&o), c.expectedMask);
    EXPECT_EQ(n.observerCount(), c.expectedMask ? 1u : 0u);
    EXPECT_EQ(o.isAttachedTo(&n), c.expectedMask != 0);
    ASSERT_EQ(o.own.size(), c.expectedAttachedCalls);
    for (const Seen& s : o.own) {
      EXPECT_EQ(s.from, &n);
      EXPECT_EQ(s.codes, std::uint32_t{dvrNOTIFY_ATTACHED});
    }
  }
}

TEST(Notifier, AttachRefusesNullObserver) {
  dvrNotifier n;
  n.attach(nullptr, dvrNOTIFY_SETTING);
  EXPECT_EQ(n.observerCount(), 0u);
  n.notify(dvrNOTIFY_SETTING);  // an entry for null would crash here
}

TEST(Notifier, DetachClearsBitsAndDropsTheEntryWhenNothingIsLeft) {
  struct Case {
    const char* label;
    std::uint32_t attachMask;
    std::uint32_t detachMask;
    std::uint32_t expectedMask;  // 0: entry gone
  };
  const Case cases[] = {
      {"partial mask keeps the entry", dvrNOTIFY_SETTING | dvrNOTIFY_RECORDING, dvrNOTIFY_SETTING,
       dvrNOTIFY_RECORDING | kAnnounced},
      {"clearing only the announced codes keeps the rest", dvrNOTIFY_SETTING, kAnnounced,
       dvrNOTIFY_SETTING},
      {"bits never subscribed change nothing", dvrNOTIFY_SETTING, dvrNOTIFY_VIEW_CACHE,
       dvrNOTIFY_SETTING | kAnnounced},
      {"exactly the held bits remove it", dvrNOTIFY_SETTING, dvrNOTIFY_SETTING | kAnnounced, 0},
      {"all ones removes it", dvrNOTIFY_SETTING | dvrNOTIFY_RECORDING, 0xFFFFFFFFu, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrNotifier n;
    Probe o;
    n.attach(&o, c.attachMask);
    o.own.clear();
    n.detach(&o, c.detachMask);
    EXPECT_EQ(n.maskOf(&o), c.expectedMask);
    EXPECT_EQ(n.observerCount(), c.expectedMask ? 1u : 0u);
    EXPECT_EQ(o.isAttachedTo(&n), c.expectedMask != 0);
    if (c.expectedMask) {
      EXPECT_TRUE(o.own.empty());
    } else {
      ASSERT_EQ(o.own.size(), 1u);
      EXPECT_EQ(o.own[0].from, &n);
      EXPECT_EQ(o.own[0].codes, std::uint32_t{dvrNOTIFY_DETACHED});
    }
  }
}

TEST(Notifier, DetachDefaultMaskAndUnknownObserver) {
  dvrNotifier n;
  Probe attached, stranger;
  n.attach(&attached, dvrNOTIFY_SETTING | dvrNOTIFY_RECORDING);
  n.detach(&stranger);
  EXPECT_TRUE(stranger.own.empty());
  EXPECT_EQ(n.observerCount(), 1u);
  n.detach(&attached);
  EXPECT_EQ(n.observerCount(), 0u);
  EXPECT_EQ(attached.attachedCount(), 0u);
  EXPECT_EQ(attached.codesWith(dvrNOTIFY_DETACHED).size(), 1u);
}

TEST(Observer, NotificationFromUnknownNotifierDetachesCompletely) {
  dvrNotifier n;
  Probe forgetful;
  forgetful.forwardAttach = false;  // never records the attachment
  n.attach(&forgetful, dvrNOTIFY_SETTING | dvrNOTIFY_RECORDING);
  ASSERT_EQ(n.observerCount(), 1u);
  EXPECT_FALSE(forgetful.isAttachedTo(&n));
  // Only one of its bits is notified, yet the whole subscription goes.
  n.notify(dvrNOTIFY_SETTING);
  EXPECT_EQ(n.observerCount(), 0u);
  EXPECT_EQ(n.maskOf(&forgetful), 0u);
  EXPECT_EQ(forgetful.codesWith(dvrNOTIFY_DETACHED).size(), 1u);
}

// ---- notify --------------------------------------------------------------

TEST(Notifier, NotifyReachesSharingObserversWithTheirPartOfTheCodes) {
  const std::array<std::uint32_t, 3> masks = {
      dvrNOTIFY_SETTING, dvrNOTIFY_RECORDING, dvrNOTIFY_SETTING | dvrNOTIFY_VIEW_CACHE};
  struct Case {
    const char* label;
    std::uint32_t codes;
    std::array<std::uint32_t, 3> expected;  // codes each observer gets, 0: not called
  };
  const Case cases[] = {
      {"one code", dvrNOTIFY_SETTING, {dvrNOTIFY_SETTING, 0, dvrNOTIFY_SETTING}},
      {"several codes are masked per observer", dvrNOTIFY_SETTING | dvrNOTIFY_VIEW_CACHE |
                                                    dvrNOTIFY_VIEW_POSITION,
       {dvrNOTIFY_SETTING, 0, dvrNOTIFY_SETTING | dvrNOTIFY_VIEW_CACHE}},
      {"code nobody asked for", dvrNOTIFY_LIVE_REFRESHED, {0, 0, 0}},
      {"announced code reaches everyone", dvrNOTIFY_ATTACHED | dvrNOTIFY_RECORDING,
       {dvrNOTIFY_ATTACHED, dvrNOTIFY_ATTACHED | dvrNOTIFY_RECORDING, dvrNOTIFY_ATTACHED}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrNotifier n;
    Row<3> row;
    for (std::size_t i = 0; i < 3; ++i) n.attach(&row.probes[i], masks[i]);
    row.journal.clear();
    n.notify(c.codes);
    std::vector<Seen> expected;
    for (std::size_t i = 0; i < 3; ++i)
      if (c.expected[i]) expected.push_back({static_cast<int>(i), &n, c.expected[i]});
    EXPECT_EQ(row.journal, expected);
  }
}

TEST(Notifier, EnabledFlagsOfNotifierAndObserverGateDelivery) {
  struct Case {
    const char* label;
    bool notifierOn;
    bool firstOn;
    std::vector<int> reached;
  };
  const Case cases[] = {
      {"both enabled", true, true, {0, 1}},
      {"notifier disabled", false, true, {}},
      {"one observer disabled, the next still reached", true, false, {1}},
      {"both disabled", false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrNotifier n;
    Row<2> row;
    n.attach(&row.probes[0], dvrNOTIFY_SETTING);
    n.attach(&row.probes[1], dvrNOTIFY_SETTING);
    row.journal.clear();
    n.setEnabled(c.notifierOn);
    row.probes[0].setEnabled(c.firstOn);
    n.notify(dvrNOTIFY_SETTING);
    std::vector<int> reached;
    for (const Seen& s : row.journal) reached.push_back(s.who);
    EXPECT_EQ(reached, c.reached);
    // Disabling suspends delivery; it does not drop the subscription.
    EXPECT_EQ(n.observerCount(), 2u);
    n.setEnabled(true);
    row.probes[0].setEnabled(true);
    row.journal.clear();
    n.notify(dvrNOTIFY_SETTING);
    EXPECT_EQ(row.journal.size(), 2u);
  }
}

TEST(Notifier, DetachingInsideUpdateKeepsTheWalkGoing) {
  struct Case {
    const char* label;
    std::array<int, 4> detaches;  // whom observer i detaches on code 16, -1: nobody
    std::vector<int> reached;
    std::size_t remaining;
  };
  const Case cases[] = {
      {"every observer detaches itself", {0, 1, 2, 3}, {0, 1, 2, 3}, 0},
      {"the first detaches itself", {0, -1, -1, -1}, {0, 1, 2, 3}, 3},
      {"a middle one detaches itself", {-1, 1, -1, -1}, {0, 1, 2, 3}, 3},
      {"the first detaches the next, which is skipped", {1, -1, -1, -1}, {0, 2, 3}, 3},
      {"the last detaches the first, already reached", {-1, -1, -1, 0}, {0, 1, 2, 3}, 3},
      {"the second detaches the last", {-1, 3, -1, -1}, {0, 1, 2}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrNotifier n;
    Row<4> row;
    for (std::size_t i = 0; i < 4; ++i) {
      int target = c.detaches[i];
      Probe* victim = target >= 0 ? &row.probes[target] : nullptr;
      row.probes[i].react = [victim](Probe&, dvrNotifier* from, std::uint32_t codes) {
        if (victim && (codes & dvrNOTIFY_SETTING)) from->detach(victim);
      };
      n.attach(&row.probes[i], dvrNOTIFY_SETTING);
    }
    n.notify(dvrNOTIFY_SETTING);
    std::vector<int> reached;
    for (const Seen& s : row.with(dvrNOTIFY_SETTING)) reached.push_back(s.who);
    EXPECT_EQ(reached, c.reached);
    EXPECT_EQ(n.observerCount(), c.remaining);
    for (std::size_t i = 0; i < 4; ++i)
      EXPECT_EQ(row.probes[i].isAttachedTo(&n), n.maskOf(&row.probes[i]) != 0) << "observer " << i;
  }
}

TEST(Notifier, NestedNotifyFromInsideUpdateCompletesBothWalks) {
  dvrNotifier n;
  Row<3> row;
  const std::uint32_t both = dvrNOTIFY_SETTING | dvrNOTIFY_RECORDING;
  for (Probe& p : row.probes) n.attach(&p, both);
  row.probes[1].react = [](Probe&, dvrNotifier* from, std::uint32_t codes) {
    if (codes == dvrNOTIFY_SETTING) from->notify(dvrNOTIFY_RECORDING);
  };
  row.journal.clear();
  n.notify(dvrNOTIFY_SETTING);
  const std::vector<Seen> expected = {
      {0, &n, dvrNOTIFY_SETTING},   {1, &n, dvrNOTIFY_SETTING},   {0, &n, dvrNOTIFY_RECORDING},
      {1, &n, dvrNOTIFY_RECORDING}, {2, &n, dvrNOTIFY_RECORDING}, {2, &n, dvrNOTIFY_SETTING},
  };
  EXPECT_EQ(row.journal, expected);
  // The walks leave nothing behind: a later notification is an ordinary one.
  row.journal.clear();
  n.notify(dvrNOTIFY_RECORDING);
  EXPECT_EQ(row.journal.size(), 3u);
}

// Observer 1 starts a nested notification (code 32) from its update for code
// 16, so the outer walk's cursor stands on observer 1 while the inner walk
// runs. One observer then detaches observer 1 during the inner walk.
TEST(Notifier, DetachDuringNestedNotifyWhileOuterCursorStandsOnTheEntry) {
  struct Case {
    const char* label;
    int detacher;  // who detaches observer 1 on code 32
    std::vector<Seen> expected;  // codes 16 and 32, in order; `from` filled in below
  };
  const std::uint32_t S = dvrNOTIFY_SETTING, R = dvrNOTIFY_RECORDING;
  const Case cases[] = {
      {"observer 1 detaches itself (both cursors on it)",
       1,
       {{0, nullptr, S}, {1, nullptr, S}, {0, nullptr, R}, {1, nullptr, R}, {2, nullptr, R},
        {2, nullptr, S}}},
      {"an earlier observer detaches it (inner cursor elsewhere)",
       0,
       {{0, nullptr, S}, {1, nullptr, S}, {0, nullptr, R}, {2, nullptr, R}, {2, nullptr, S}}},
      {"a later observer detaches it after the inner walk passed it",
       2,
       {{0, nullptr, S}, {1, nullptr, S}, {0, nullptr, R}, {1, nullptr, R}, {2, nullptr, R},
        {2, nullptr, S}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrNotifier n;
    Row<3> row;
    Probe* target = &row.probes[1];
    for (Probe& p : row.probes) n.attach(&p, S | R);
    target->react = [](Probe&, dvrNotifier* from, std::uint32_t codes) {
      if (codes == dvrNOTIFY_SETTING) from->notify(dvrNOTIFY_RECORDING);
    };
    row.probes[c.detacher].react = [target, inner = row.probes[c.detacher].react](
                                       Probe& self, dvrNotifier* from, std::uint32_t codes) {
      if (inner) inner(self, from, codes);
      if (codes == dvrNOTIFY_RECORDING) from->detach(target);
    };
    row.journal.clear();
    n.notify(S);
    std::vector<Seen> expected = c.expected;
    for (Seen& s : expected) s.from = &n;
    EXPECT_EQ(row.with(S | R), expected);
    EXPECT_EQ(n.observerCount(), 2u);
    EXPECT_FALSE(target->isAttachedTo(&n));
    // Both cursors are gone: the next walk reaches exactly the two left.
    row.journal.clear();
    n.notify(S);
    ASSERT_EQ(row.journal.size(), 2u);
    EXPECT_EQ(row.journal[0].who, 0);
    EXPECT_EQ(row.journal[1].who, 2);
  }
}

// ---- lifetimes -----------------------------------------------------------

TEST(Notifier, DestructionSendsDestroyedAndObserversForgetIt) {
  Row<3> row;
  dvrNotifier keeper;
  auto n = std::make_unique<dvrNotifier>();
  const dvrNotifier* gone = n.get();
  n->attach(&row.probes[0], dvrNOTIFY_SETTING);
  n->attach(&row.probes[1], dvrNOTIFY_RECORDING);
  n->attach(&row.probes[2], dvrNOTIFY_ATTACHED);
  keeper.attach(&row.probes[1], dvrNOTIFY_SETTING);
  row.journal.clear();
  n.reset();
  const std::vector<Seen> expected = {
      {0, gone, dvrNOTIFY_DESTROYED}, {1, gone, dvrNOTIFY_DESTROYED}, {2, gone, dvrNOTIFY_DESTROYED}};
  EXPECT_EQ(row.journal, expected);
  EXPECT_EQ(row.probes[0].attachedCount(), 0u);
  EXPECT_EQ(row.probes[2].attachedCount(), 0u);
  EXPECT_EQ(row.probes[1].attachedCount(), 1u);
  EXPECT_TRUE(row.probes[1].isAttachedTo(&keeper));
  // The probes now go out of scope; detaching from the dead notifier would be a use after free.
}

// An observer that is not told keeps a pointer to the dead notifier and
// detaches through it when it is destroyed itself (a use after free).
TEST(Notifier, DestructionReachesDisabledAndPartlyDetachedObservers) {
  struct Case {
    const char* label;
    bool notifierOn;
    bool observerOn;
    std::uint32_t detachFirst;  // bits cleared before the notifier goes
  };
  const Case cases[] = {
      {"notifier disabled", false, true, 0},
      {"observer disabled", true, false, 0},
      {"announced codes detached, rest kept", true, true, kAnnounced},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto observer = std::make_unique<Probe>();
    auto n = std::make_unique<dvrNotifier>();
    const dvrNotifier* gone = n.get();
    n->attach(observer.get(), dvrNOTIFY_SETTING);
    if (c.detachFirst) n->detach(observer.get(), c.detachFirst);
    ASSERT_EQ(n->observerCount(), 1u);
    n->setEnabled(c.notifierOn);
    observer->setEnabled(c.observerOn);
    observer->own.clear();
    n.reset();
    EXPECT_EQ(observer->own, (std::vector<Seen>{{0, gone, dvrNOTIFY_DESTROYED}}));
    EXPECT_EQ(observer->attachedCount(), 0u);
    observer.reset();  // must not reach the freed notifier
  }
}

TEST(Notifier, ObserverDestroyedFirstIsGoneFromEveryMap) {
  dvrNotifier a, b;
  Probe stays;
  a.attach(&stays, dvrNOTIFY_SETTING);
  auto leaving = std::make_unique<Probe>();
  const dvrObserver* gone = leaving.get();
  a.attach(leaving.get(), dvrNOTIFY_SETTING);
  b.attach(leaving.get(), dvrNOTIFY_RECORDING);
  ASSERT_EQ(leaving->attachedCount(), 2u);
  leaving.reset();
  EXPECT_EQ(a.maskOf(gone), 0u);
  EXPECT_EQ(b.maskOf(gone), 0u);
  EXPECT_EQ(a.observerCount(), 1u);
  EXPECT_EQ(b.observerCount(), 0u);
  stays.own.clear();
  a.notify(dvrNOTIFY_SETTING);  // would reach freed memory if the entry stayed
  b.notify(dvrNOTIFY_RECORDING);
  EXPECT_EQ(stays.codesWith(dvrNOTIFY_SETTING).size(), 1u);
}

// ---- dvrObject -----------------------------------------------------------

namespace {

class Camera : public dvrObject {
 public:
  Camera() {
    settings().setKind("camera");
    settings().declare("count", "Count", dvrType::SPIN, dvrFlag::INT, 0, 100);
    settings().declare("title", "Title", dvrType::TEXT, dvrFlag::STRING);
    settings().declare("gain", "Gain", dvrType::SLIDER, dvrFlag::FLOAT);
  }
};

}  // namespace

TEST(Object, IdsAreDistinct) {
  dvrObject a, b;
  EXPECT_NE(a.id(), b.id());
}

TEST(Object, SetNameNamesTheSetAndFillsAnEmptyDisplayName) {
  struct Case {
    const char* label;
    bool declareName;
    const char* displayBefore;
    const char* displayAfter;
  };
  const Case cases[] = {
      {"no name descriptor", false, "", ""},
      {"empty name descriptor is filled", true, "", "cam1"},
      {"a given display name stays", true, "Front door", "Front door"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrObject o;
    if (c.declareName) {
      o.settings().declare("name", "Name", dvrType::TEXT, dvrFlag::STRING);
      o.settings().setText("name", c.displayBefore);
    }
    const int before = o.settings().count();
    o.setName("cam1");
    EXPECT_STREQ(o.name(), "cam1");
    EXPECT_STREQ(o.settings().objectName(), "cam1");
    EXPECT_EQ(o.settings().count(), before);  // nothing is declared on the way
    EXPECT_STREQ(o.settings().getText("name"), c.displayAfter);
  }
}

TEST(Object, RenamingKeepsTheDisplayNameOnceFilled) {
  dvrObject o;
  o.settings().declare("name", "Name", dvrType::TEXT, dvrFlag::STRING);
  o.setName("cam1");
  o.setName("cam2");
  EXPECT_STREQ(o.name(), "cam2");
  EXPECT_STREQ(o.settings().objectName(), "cam2");
  EXPECT_STREQ(o.settings().getText("name"), "cam1");
  EXPECT_EQ(o.settings().dump(), "set global cam2 name string cam1\n");
}

TEST(Object, ApplySettingStoresByTypeWord) {
  struct Case {
    const char* label;
    const char* line;
    const char* key;  // nullptr: nothing may change
    const char* text;
    int intValue;
    float floatValue;
  };
  const Case cases[] = {
      {"int", "set camera cam1 count int 42", "count", "42", 42, 42.0f},
      {"INT upper case", "set camera cam1 count INT -7", "count", "-7", -7, -7.0f},
      {"key in other case", "set camera cam1 COUNT int 5", "count", "5", 5, 5.0f},
      {"String mixed case keeps blanks", "set camera cam1 title String Front  door", "title",
       "Front  door", 0, 0.0f},
      {"float", "set camera cam1 gain float 1.500000", "gain", "1.500000", 1, 1.5f},
      {"Float reads a short number", "set camera cam1 gain Float 2.25", "gain", "2.250000", 2,
       2.25f},
      {"unknown type word", "set camera cam1 count bool 9", nullptr, "", 0, 0.0f},
      {"type word only starts like int", "set camera cam1 count integer 9", nullptr, "", 0, 0.0f},
      {"unknown key", "set camera cam1 missing int 9", nullptr, "", 0, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Camera cam;
    cam.setName("cam1");
    Probe watcher;
    cam.settings().attach(&watcher, dvrNOTIFY_SETTING);
    const std::string before = cam.settings().dump();
    const int count = cam.settings().count();
    dvrCommand command;
    command.parse(c.line);
    EXPECT_EQ(cam.applySetting(command, 0), 1);
    EXPECT_EQ(cam.settings().count(), count);
    if (!c.key) {
      EXPECT_EQ(cam.settings().dump(), before);
      EXPECT_TRUE(watcher.codesWith(dvrNOTIFY_SETTING).empty());
      continue;
    }
    EXPECT_STREQ(cam.settings().getText(c.key), c.text);
    EXPECT_EQ(cam.settings().getInt(c.key), c.intValue);
    EXPECT_FLOAT_EQ(cam.settings().getFloat(c.key), c.floatValue);
    EXPECT_EQ(watcher.codesWith(dvrNOTIFY_SETTING).size(), 1u);
  }
}

TEST(Object, DestructionTellsObserversOfTheSetThenOfTheObject) {
  dvrNotifier watched;
  Probe watcher;
  auto cam = std::make_unique<Camera>();
  const dvrNotifier* asNotifier = cam.get();
  const dvrNotifier* set = &cam->settings();
  cam->attach(&watcher, dvrNOTIFY_RECORDING);
  cam->settings().attach(&watcher, dvrNOTIFY_SETTING);
  watched.attach(cam.get(), dvrNOTIFY_SETTING);
  ASSERT_EQ(watcher.attachedCount(), 2u);
  watcher.own.clear();
  cam.reset();
  const std::vector<Seen> expected = {{0, set, dvrNOTIFY_DESTROYED},
                                      {0, asNotifier, dvrNOTIFY_DESTROYED}};
  EXPECT_EQ(watcher.own, expected);
  EXPECT_EQ(watcher.attachedCount(), 0u);
  // The observer part detached from what it watched.
  EXPECT_EQ(watched.observerCount(), 0u);
}
