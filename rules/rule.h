// A rule: a named, ordered list of nodes that evaluates to true or false,
// optionally ending in one action node.
//
// A node is one condition (or the action) with the join that combines its
// value with the value of the nodes before it. Rules and nodes are created,
// changed and removed on the main thread; a rule that belongs to a rule set
// changes its node list under the set's lock, and whoever changes a node's
// fields of a rule in a set holds dvrRuleSet::lock(). Evaluation lives in the
// rule set (rule_set.h), which owns the lookups, the clock and the lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class dvrRuleSet;

// Node kinds; the numbers are those of the settings file.
enum dvrRuleNodeType : std::int32_t {
  dvrRULE_SCHEDULE = 4,
  dvrRULE_DIGITAL_INPUT = 5,
  dvrRULE_OTHER_RULE = 6,
  dvrRULE_SIGNAL_LOSS = 7,
  dvrRULE_WAIT = 8,
  dvrRULE_MOTION = 9,
  dvrRULE_ACTION = 30,
  dvrRULE_ERROR = 42,
};

// Joins: how a node's value combines with the value of the nodes before it.
enum dvrRuleJoin : std::int32_t { dvrJOIN_AND = 0, dvrJOIN_OR = 1, dvrJOIN_XOR = 2 };

// The text of a loss-of-signal node that names a device rather than a camera
// starts with this prefix, followed by the device name.
inline constexpr std::string_view dvrRULE_ANY_PREFIX = "\\any:";

// The (translated) display name of a node kind; "(undefined)" for an unknown kind.
std::string dvrRuleNodeCaption(std::int32_t type);

class dvrRuleNode {
 public:
  // Caption and text start as "(undefined)" and "(nothing)", then the caption
  // becomes that of the kind; a schedule starts with an empty text.
  explicit dvrRuleNode(std::int32_t type);
  ~dvrRuleNode();
  dvrRuleNode(const dvrRuleNode&) = delete;
  dvrRuleNode& operator=(const dvrRuleNode&) = delete;

  std::int32_t type() const { return type_; }
  std::int32_t join() const { return join_; }
  void setJoin(std::int32_t join) { join_ = join; }
  // Input number, or the expected value of another rule (1 true, 0 false).
  std::int32_t value() const { return value_; }
  void setValue(std::int32_t value) { value_ = value; }
  // Hold time or waiting time, in seconds.
  std::int32_t duration() const { return duration_; }
  void setDuration(std::int32_t seconds) { duration_ = seconds; }
  const std::string& text() const { return text_; }
  void setText(std::string_view text) { text_ = text; }
  int id() const { return id_; }
  const std::string& caption() const { return caption_; }

  // Timing state, never saved: the millisecond time the condition was last
  // seen true (0: not true); for a wait node the time the other rule reached
  // the expected value, and whether it had it at the previous evaluation.
  // Written by whichever thread evaluates the node, under the set's lock.
  std::int64_t since() const { return since_; }
  bool matched() const { return matched_; }

 private:
  friend class dvrRuleSet;

  std::int32_t type_;
  std::int32_t join_ = dvrJOIN_AND;
  std::int32_t value_ = 0;
  std::int32_t duration_ = 0;
  std::string text_;
  int id_;
  std::string caption_;
  std::int64_t since_ = 0;
  bool matched_ = false;
};

class dvrRule {
 public:
  dvrRule();
  ~dvrRule();
  dvrRule(const dvrRule&) = delete;
  dvrRule& operator=(const dvrRule&) = delete;

  const std::string& name() const { return name_; }
  void rename(std::string_view name);
  int id() const { return id_; }

  std::size_t nodeCount() const { return nodes_.size(); }
  // The node at a position, or null.
  dvrRuleNode* node(std::size_t index) const;
  dvrRuleNode* append(std::unique_ptr<dvrRuleNode> node);
  // Inserts before the node at index; at the end when index is past it.
  dvrRuleNode* insert(std::size_t index, std::unique_ptr<dvrRuleNode> node);
  // Deletes the node with that id; false when the rule has none.
  bool removeNode(int id);

  // The rule's lines of the settings file: "AddRule" and one "AddRuleNode" per node.
  std::string ruleText() const;

  // Evaluates through the owning set (its lock, clock and lookups); a rule
  // that belongs to no set is false.
  bool evaluate(int depth);

 private:
  friend class dvrRuleSet;

  dvrRuleSet* owner_ = nullptr;  // set when the rule joins a set
  std::string name_;
  int id_;
  std::vector<std::unique_ptr<dvrRuleNode>> nodes_;
  // Set when this rule hit the recursion limit in the evaluation chain in
  // progress; guarded by the owner's lock.
  bool aborted_ = false;
};
