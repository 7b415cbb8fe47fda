#include "rules/rule_set.h"

#include <chrono>
#include <ctime>

#include "core/command.h"
#include "core/console.h"
#include "core/language.h"
#include "core/log.h"
#include "core/process.h"
#include "core/text.h"
#include "pipeline/capture_engine.h"
#include "rules/rule_actions.h"

namespace {

std::int64_t systemMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

dvrBoard* findBoard(std::string_view name) {
  dvrCaptureEngine* capture = dvrCapture();
  return capture ? capture->boards().findBoard(name) : nullptr;
}

}  // namespace

dvrRuleSet::dvrRuleSet() : clock_(systemMilliseconds), mainThread_(std::this_thread::get_id()) {}

dvrRuleSet::~dvrRuleSet() {
  if (installed_) {
    if (dvrRuleLookupInstance() == this) dvrSetRuleLookup(nullptr);
    dvrProcessObjects& p = dvrProcess();
    if (p.core && p.core->ruleSide() == this) p.core->setRuleSide(nullptr);
    if (p.console) {
      p.console->bind("AddRule", {});
      p.console->bind("AddRuleNode", {});
    }
  }
}

void dvrRuleSet::install() {
  dvrProcessObjects& p = dvrProcess();
  if (p.console) {
    p.console->bind("AddRule", [this](const dvrCommand& c, int) {
      addRule(c.param(1));
      return 1;
    });
    // The tokeniser keeps the rest of the line, blanks included, in the sixth parameter.
    p.console->bind("AddRuleNode", [this](const dvrCommand& c, int) {
      addRuleNode(c.param(1), dvrParseInt(c.param(2)), dvrParseInt(c.param(3)),
                  dvrParseInt(c.param(4)), dvrParseInt(c.param(5)), c.param(6));
      return 1;
    });
  }
  if (p.core) p.core->setRuleSide(this);
  if (!cameras_) setCameras(&dvrCaptureCameras());
  dvrSetRuleLookup(this);
  installed_ = true;
}

int dvrRuleSet::ruleValue(std::string_view name) {
  std::optional<bool> value = evaluate(name, kDepth);
  return value ? (*value ? 1 : 0) : -1;
}

void dvrRuleSet::setClock(Clock clock) {
  auto held = lock();
  clock_ = clock ? std::move(clock) : Clock(systemMilliseconds);
}

std::int64_t dvrRuleSet::now() const {
  auto held = lock();
  return clock_();
}

void dvrRuleSet::setCameras(dvrRuleCameras* cameras) {
  auto held = lock();
  cameras_ = cameras;
}

std::size_t dvrRuleSet::count() const {
  auto held = lock();
  return rules_.size();
}

dvrRule* dvrRuleSet::at(std::size_t index) const {
  auto held = lock();
  return index < rules_.size() ? rules_[index].get() : nullptr;
}

dvrRule* dvrRuleSet::byId(int id) const {
  auto held = lock();
  for (const auto& r : rules_)
    if (r->id() == id) return r.get();
  return nullptr;
}

dvrRule* dvrRuleSet::byName(std::string_view name) const {
  auto held = lock();
  for (const auto& r : rules_)
    if (r->name() == name) return r.get();
  return nullptr;
}

dvrRule* dvrRuleSet::append(std::unique_ptr<dvrRule> rule) {
  if (!rule) return nullptr;
  auto held = lock();
  rule->owner_ = this;
  rules_.push_back(std::move(rule));
  return rules_.back().get();
}

bool dvrRuleSet::removeById(int id) {
  auto held = lock();
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if ((*it)->id() != id) continue;
    rules_.erase(it);
    // The toolkit hands a freed id out again; a later rule with it must not
    // inherit this rule's previous value.
    previous_.erase(id);
    return true;
  }
  return false;
}

void dvrRuleSet::addRule(std::string_view name) {
  auto rule = std::make_unique<dvrRule>();
  auto held = lock();
  append(std::move(rule))->rename(name);
}

void dvrRuleSet::addRuleNode(std::string_view ruleName, std::int32_t type, std::int32_t join,
                             std::int32_t value, std::int32_t duration, std::string_view text) {
  auto held = lock();
  dvrRule* rule = byName(ruleName);
  if (!rule) return;
  auto node = std::make_unique<dvrRuleNode>(type);
  node->setJoin(join);
  node->setDuration(duration);
  dvrRuleNode* added = rule->append(std::move(node));
  added->setValue(value);
  added->setText(text);
}

std::string dvrRuleSet::ruleText() {
  auto held = lock();
  std::string out;
  for (const auto& r : rules_) out += r->ruleText();
  return out;
}

std::string dvrRuleSet::changeCommand(const dvrRule& rule, bool value) {
  auto held = rule.owner_ ? rule.owner_->lock() : std::unique_lock<std::recursive_mutex>();
  return dvrChangeCommand(rule, value);
}

// ---- evaluation ------------------------------------------------------------

bool dvrRuleSet::evaluate(dvrRule& rule, int depth) {
  Commands run;
  bool result;
  {
    auto held = lock();
    result = evaluateChain(rule, depth, run);
  }
  runCommands(run);
  return result;
}

std::optional<bool> dvrRuleSet::evaluate(std::string_view name, int depth) {
  Commands run;
  std::optional<bool> result;
  {
    auto held = lock();
    if (dvrRule* rule = byName(name)) result = evaluateChain(*rule, depth, run);
  }
  runCommands(run);
  return result;
}

void dvrRuleSet::evaluate(std::vector<std::uint8_t>& /*lastValues*/) {
  // The previous values are kept here by rule id, not in the core's bytes by
  // index: by index, deleting a rule shifts the rules after it onto the
  // bytes of their predecessors, and their actions fire without any change.
  // Keying by id also covers rules beyond the core's first 256.
  Commands run;
  {
    auto held = lock();
    for (std::size_t i = 0; i < rules_.size(); ++i) {
      dvrRule& rule = *rules_[i];
      bool value = evaluateChain(rule, kDepth, run);
      std::uint8_t& before = previous_[rule.id()];
      if (value == (before != 0)) continue;
      before = value ? 1 : 0;
      std::string command = changeCommand(rule, value);
      if (!command.empty()) run.push_back(std::move(command));
    }
  }
  runCommands(run);
}

bool dvrRuleSet::evaluateChain(dvrRule& rule, int depth, Commands& run) {
  ++chainDepth_;
  bool result = evaluateRule(rule, depth);
  if (--chainDepth_ == 0) finishChain(run);
  return result;
}

void dvrRuleSet::finishChain(Commands& run) {
  // A rule that recursed into itself loses its first node only now: while the
  // chain ran, every level of the recursion still stood on that node, and
  // deleting it there freed the node under the callers' feet.
  for (int id : firstNodeDoomed_) {
    dvrRule* rule = byId(id);
    if (!rule) continue;
    rule->aborted_ = false;
    if (!rule->nodes_.empty()) rule->nodes_.erase(rule->nodes_.begin());
  }
  firstNodeDoomed_.clear();
  for (std::string& command : actionNodeCommands_) run.push_back(std::move(command));
  actionNodeCommands_.clear();
}

void dvrRuleSet::runCommands(const Commands& commands) const {
  if (commands.empty()) return;
  dvrConsole* console = dvrProcess().console;
  if (!console) return;
  // Commands may open windows or change the rules, so they run outside the
  // lock, and only the main thread runs them at once.
  const bool onMainThread = std::this_thread::get_id() == mainThread_;
  for (const std::string& command : commands) {
    if (onMainThread)
      console->execute(command, 0);
    else
      console->enqueue(command);
  }
}

bool dvrRuleSet::evaluateRule(dvrRule& rule, int depth) {
  // Once a rule has hit the limit in this chain it stays false for the rest
  // of the chain: a rule with several self-references would otherwise branch
  // at every level and log the warning for every branch.
  if (rule.aborted_) return false;
  if (depth <= 0) {
    dvrLogMessage(
        dvrTr("Warning! Infinite rule recursion (for %s) aborted! Removing first rule node...\n")
            .c_str(),
        rule.name().c_str());
    rule.aborted_ = true;
    firstNodeDoomed_.push_back(rule.id());
    return false;
  }
  if (rule.nodes_.empty()) return false;
  bool result = evaluateNode(*rule.nodes_[0], depth - 1);
  for (std::size_t i = 1; i < rule.nodes_.size(); ++i) {
    dvrRuleNode& node = *rule.nodes_[i];
    if (node.type() == dvrRULE_ACTION) break;
    // Every node is evaluated, without a short cut: hold and wait nodes keep
    // their timing state only when they are looked at.
    bool value = evaluateNode(node, depth - 1);
    switch (node.join()) {
      case dvrJOIN_AND: result = result && value; break;
      case dvrJOIN_OR: result = result || value; break;
      case dvrJOIN_XOR: result = result != value; break;
      default: break;
    }
  }
  return result;
}

bool dvrRuleSet::evaluateNode(dvrRuleNode& node, int depth) {
  if (depth <= 0) {
    dvrLogMessage(dvrTr("Warning! Infinite rule recursion (for rule %s) aborted!\n").c_str(),
                  node.text().c_str());
    return false;
  }
  switch (node.type()) {
    case dvrRULE_SCHEDULE: {
      std::time_t seconds = static_cast<std::time_t>(clock_() / 1000);
      std::tm local{};
      if (!localtime_r(&seconds, &local)) return false;
      const int weekday = (local.tm_wday + 6) % 7;  // Monday 0 .. Sunday 6
      const std::size_t index = static_cast<std::size_t>(local.tm_hour * 7 + weekday);
      return index < node.text().size() && node.text()[index] == 'A';
    }
    case dvrRULE_DIGITAL_INPUT:
    case dvrRULE_OTHER_RULE:
    case dvrRULE_SIGNAL_LOSS:
    case dvrRULE_MOTION: {
      const std::int64_t now = clock_();
      if (node.since_ != 0 && now < node.since_ + std::int64_t{node.duration()} * 1000) return true;
      if (holdCondition(node, depth)) {
        node.since_ = now;
        return true;
      }
      node.since_ = 0;
      return false;
    }
    case dvrRULE_WAIT: {
      bool found = false;
      const bool m = otherRuleHasValue(node, depth, found);
      if (!found) return false;
      const std::int64_t now = clock_();
      if (m && !node.matched_) node.since_ = now;
      node.matched_ = m;
      return m && now >= node.since_ + std::int64_t{node.duration()} * 1000;
    }
    case dvrRULE_ACTION:
      actionNodeCommands_.push_back(node.text());
      return true;
    default:
      return false;
  }
}

bool dvrRuleSet::otherRuleHasValue(const dvrRuleNode& node, int depth, bool& found) {
  dvrRule* other = byName(node.text());
  found = other != nullptr;
  if (!other) {
    dvrLogMessage(dvrTr("[RULE] Erroneous rule %s!\n").c_str(), node.text().c_str());
    return false;
  }
  return (evaluateRule(*other, depth - 1) ? 1 : 0) == node.value();
}

bool dvrRuleSet::holdCondition(dvrRuleNode& node, int depth) {
  std::string_view text = node.text();
  switch (node.type()) {
    case dvrRULE_OTHER_RULE: {
      bool found = false;
      return otherRuleHasValue(node, depth, found);
    }
    case dvrRULE_DIGITAL_INPUT: {
      dvrBoard* board = findBoard(text);
      return board && board->getDigitalInput(node.value()) != 0;
    }
    case dvrRULE_SIGNAL_LOSS: {
      if (text.starts_with(dvrRULE_ANY_PREFIX)) {
        dvrBoard* board = findBoard(text.substr(dvrRULE_ANY_PREFIX.size()));
        // Input -1 asks whether every input in use has a signal.
        return board && !board->hasSignal(-1);
      }
      return cameras_ && cameras_->signalLost(text) > 0;
    }
    case dvrRULE_MOTION:
      return cameras_ && cameras_->motion(text) > 0;
    default:
      return false;
  }
}
