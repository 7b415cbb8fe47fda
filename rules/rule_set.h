// The rule set: every rule of the recorder, in order of creation, with the
// evaluation of rules and nodes, the change actions of Refresh and the
// commands AddRule and AddRuleNode.
//
// One per process, created by the application at start-up on the main thread,
// which becomes "the main thread" for the actions. install() binds the two
// commands on the process's interpreter and registers the set as the core's
// rule side; the destructor undoes both.
//
// Threads: rules are evaluated by the main thread (Refresh) and at the same
// time by the capture threads; rules and nodes are changed by the main thread.
// One recursive lock guards the rule list, every node and the timing state:
// each public operation takes it, and the rule editor holds lock() while it
// changes a node's fields or keeps pointers returned by the lookups.
// Commands that evaluation runs (actions) are run after the lock is released:
// on the main thread at once, from any other thread through the interpreter's queue.
#pragma once

#include "pipeline/rule_lookup.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/engine.h"
#include "rules/rule.h"
#include "rules/rule_cameras.h"

class dvrRuleSet : public dvrRuleSide, public dvrRuleLookup {
 public:
  // Milliseconds since the epoch; the default reads the system clock. The
  // schedule takes the local hour and weekday from the same clock.
  using Clock = std::function<std::int64_t()>;

  // The depth Refresh and the capture threads start an evaluation with.
  static constexpr int kDepth = 256;

  dvrRuleSet();
  ~dvrRuleSet() override;
  dvrRuleSet(const dvrRuleSet&) = delete;
  dvrRuleSet& operator=(const dvrRuleSet&) = delete;

  // Binds AddRule and AddRuleNode on dvrProcess().console and registers with dvrProcess().core.
  void install();

  void setClock(Clock clock);
  std::int64_t now() const;
  // Not owned; null: every camera condition is false.
  void setCameras(dvrRuleCameras* cameras);

  std::unique_lock<std::recursive_mutex> lock() const { return std::unique_lock(lock_); }

  // Lookups; null when nothing matches. Names compare exactly; the first match wins.
  std::size_t count() const;
  dvrRule* at(std::size_t index) const;
  dvrRule* byId(int id) const;
  dvrRule* byName(std::string_view name) const;
  dvrRule* append(std::unique_ptr<dvrRule> rule);
  // Deletes the rule with that id and forgets its previous value; false when there is none.
  bool removeById(int id);

  // The commands: AddRule name; AddRuleNode rule type join value duration text.
  void addRule(std::string_view name);
  void addRuleNode(std::string_view rule, std::int32_t type, std::int32_t join,
                   std::int32_t value, std::int32_t duration, std::string_view text);

  // One evaluation chain of a rule of this set. Commands of action nodes met on
  // the way run once the chain is over.
  bool evaluate(dvrRule& rule, int depth);
  // The same for the first rule with that name; empty when there is none.
  std::optional<bool> evaluate(std::string_view name, int depth = kDepth);

  // dvrRuleSide. Refresh: evaluates every rule and performs the change action
  // of each rule whose value differs from the previous Refresh.
  void evaluate(std::vector<std::uint8_t>& lastValues) override;
  // dvrRuleLookup, for the capture threads: the named rule evaluated now.
  int ruleValue(std::string_view name) override;
  std::string ruleText() override;

  // The command a change of a rule to value runs: the part of the last node's
  // action text before the first "|" (true) or after it (false). Empty when
  // the rule has fewer than two nodes or does not end in an action.
  static std::string changeCommand(const dvrRule& rule, bool value);

 private:
  using Commands = std::vector<std::string>;

  bool evaluateChain(dvrRule& rule, int depth, Commands& run);
  bool evaluateRule(dvrRule& rule, int depth);
  bool evaluateNode(dvrRuleNode& node, int depth);
  bool holdCondition(dvrRuleNode& node, int depth);
  bool otherRuleHasValue(const dvrRuleNode& node, int depth, bool& found);
  void finishChain(Commands& run);
  void runCommands(const Commands& commands) const;

  mutable std::recursive_mutex lock_;
  // Everything below is guarded by lock_.
  std::vector<std::unique_ptr<dvrRule>> rules_;
  // The value of each rule at the previous Refresh, by rule id; a rule not in
  // the map counts as false.
  std::map<int, std::uint8_t> previous_;
  int chainDepth_ = 0;               // evaluation chains in progress (nested calls)
  std::vector<int> firstNodeDoomed_;  // ids of rules that lose their first node when the chain ends
  Commands actionNodeCommands_;      // met in the chain in progress
  Clock clock_;
  dvrRuleCameras* cameras_ = nullptr;
  bool installed_ = false;

  const std::thread::id mainThread_;
};
