#include "rules/rule.h"

#include <wx/defs.h>
#include <wx/windowid.h>

#include <mutex>

#include "core/language.h"
#include "core/text.h"
#include "rules/rule_set.h"

namespace {

// Holds the owning set's lock while a rule's node list changes, so capture
// threads never see a list half changed; a rule in no set needs none.
std::unique_lock<std::recursive_mutex> guard(dvrRuleSet* owner) {
  return owner ? owner->lock() : std::unique_lock<std::recursive_mutex>();
}

}  // namespace

std::string dvrRuleNodeCaption(std::int32_t type) {
  switch (type) {
    case dvrRULE_SCHEDULE: return dvrTr("Schedule");
    case dvrRULE_DIGITAL_INPUT: return dvrTr("Digital input");
    case dvrRULE_OTHER_RULE: return dvrTr("Another rule");
    case dvrRULE_SIGNAL_LOSS: return dvrTr("Loss of video signal");
    case dvrRULE_WAIT: return dvrTr("Wait for another rule");
    case dvrRULE_MOTION: return dvrTr("Motion");
    case dvrRULE_ACTION: return dvrTr("Action");
    case dvrRULE_ERROR: return dvrTr("Error!");
    default: return dvrTr("(undefined)");
  }
}

dvrRuleNode::dvrRuleNode(std::int32_t type)
    : type_(type),
      text_(dvrTr("(nothing)")),
      id_(wxIdManager::ReserveId(1)),
      caption_(dvrRuleNodeCaption(type)) {
  if (type == dvrRULE_SCHEDULE) text_.clear();
}

dvrRuleNode::~dvrRuleNode() { wxIdManager::UnreserveId(id_, 1); }

dvrRule::dvrRule() : name_(dvrTr("new")), id_(wxIdManager::ReserveId(1)) {}

dvrRule::~dvrRule() { wxIdManager::UnreserveId(id_, 1); }

void dvrRule::rename(std::string_view name) {
  auto held = guard(owner_);
  name_ = name;
}

dvrRuleNode* dvrRule::node(std::size_t index) const {
  auto held = guard(owner_);
  return index < nodes_.size() ? nodes_[index].get() : nullptr;
}

dvrRuleNode* dvrRule::append(std::unique_ptr<dvrRuleNode> node) {
  return insert(nodes_.size(), std::move(node));
}

dvrRuleNode* dvrRule::insert(std::size_t index, std::unique_ptr<dvrRuleNode> node) {
  if (!node) return nullptr;
  auto held = guard(owner_);
  if (index > nodes_.size()) index = nodes_.size();
  dvrRuleNode* added = node.get();
  nodes_.insert(nodes_.begin() + static_cast<std::ptrdiff_t>(index), std::move(node));
  return added;
}

bool dvrRule::removeNode(int id) {
  auto held = guard(owner_);
  for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
    if ((*it)->id() != id) continue;
    nodes_.erase(it);
    return true;
  }
  return false;
}

std::string dvrRule::ruleText() const {
  auto held = guard(owner_);
  std::string out = dvrFormat("AddRule %s\n", name_.c_str());
  for (const auto& n : nodes_)
    out += dvrFormat("AddRuleNode %s %d %d %d %d %s\n", name_.c_str(), n->type(), n->join(),
                     n->value(), n->duration(), n->text().c_str());
  return out;
}

bool dvrRule::evaluate(int depth) { return owner_ ? owner_->evaluate(*this, depth) : false; }
