#include "rules/rule_describe.h"

#include "core/language.h"
#include "core/text.h"
#include "rules/rule.h"
#include "rules/rule_cameras.h"

namespace {

// A loss-of-signal node that names a camera (not a device) the recorder does not have.
bool namesMissingCamera(const dvrRuleNode& node, dvrRuleCameras* cameras) {
  if (node.type() != dvrRULE_SIGNAL_LOSS || !cameras) return false;
  if (std::string_view(node.text()).starts_with(dvrRULE_ANY_PREFIX)) return false;
  return cameras->motion(node.text()) < 0;
}

const char* text(const dvrRuleNode& node) { return node.text().c_str(); }

std::string truthWord(bool value) { return value ? dvrTr("true") : dvrTr("false"); }
std::string capitalTruthWord(bool value) { return value ? dvrTr("True") : dvrTr("False"); }

std::string joinWord(std::int32_t join) {
  switch (join) {
    case dvrJOIN_AND: return dvrTr(" and ");
    case dvrJOIN_OR: return dvrTr(" and/or ");
    case dvrJOIN_XOR: return dvrTr(" or ");
    default: return {};
  }
}

}  // namespace

std::string dvrNodeShortDescription(const dvrRuleNode& node, dvrRuleCameras* cameras) {
  switch (node.type()) {
    case dvrRULE_SCHEDULE: return dvrTr("(schedule)");
    case dvrRULE_DIGITAL_INPUT:
      // Counted from 1 here, as a person counts the inputs of a device.
      return dvrFormat(dvrTr("digital input %d in %s is %s").c_str(), node.value() + 1, text(node),
                       dvrTr("true").c_str());
    case dvrRULE_OTHER_RULE:
      return dvrFormat(dvrTr("rule '%s' is %s").c_str(), text(node),
                       truthWord(node.value() != 0).c_str());
    case dvrRULE_WAIT:
      // The wait has no phrase of its own otherwise, and an empty one would
      // leave a gap between two join words in the rule's summary.
      return dvrFormat(dvrTr("rule '%s' has been %s for %d seconds").c_str(), text(node),
                       truthWord(node.value() != 0).c_str(), node.duration());
    case dvrRULE_SIGNAL_LOSS: {
      std::string phrase = dvrFormat(dvrTr("video signal on camera %s is lost").c_str(), text(node));
      if (namesMissingCamera(node, cameras)) phrase = dvrFormat(dvrTr("!!! %s").c_str(), phrase.c_str());
      return phrase;
    }
    case dvrRULE_MOTION: return dvrFormat(dvrTr("camera %s has motion").c_str(), text(node));
    case dvrRULE_ACTION: return dvrFormat(dvrTr("execute command `%s'").c_str(), text(node));
    default: return {};
  }
}

std::string dvrNodeLongDescription(const dvrRuleNode& node, dvrRuleCameras* cameras) {
  switch (node.type()) {
    case dvrRULE_SCHEDULE: return dvrTr("Calendar");
    case dvrRULE_DIGITAL_INPUT:
      return dvrFormat(dvrTr("Digital input %s:%d\n%d seconds").c_str(), text(node), node.value(),
                       node.duration());
    case dvrRULE_OTHER_RULE:
      return dvrFormat(dvrTr("Rule %s is %s\n%d seconds").c_str(), text(node),
                       capitalTruthWord(node.value() != 0).c_str(), node.duration());
    case dvrRULE_SIGNAL_LOSS: {
      std::string line = dvrFormat(dvrTr("Video signal on camera %s is lost").c_str(), text(node));
      if (namesMissingCamera(node, cameras))
        line += dvrFormat(dvrTr("\nWarning: Camera %s doesn't exist!").c_str(), text(node));
      return line;
    }
    case dvrRULE_WAIT:
      return dvrFormat(dvrTr("Wait until rule %s has been %s\nfor %d seconds").c_str(), text(node),
                       capitalTruthWord(node.value() != 0).c_str(), node.duration());
    case dvrRULE_MOTION:
      return dvrFormat(dvrTr("Motion in camera %s: %d seconds").c_str(), text(node), node.duration());
    case dvrRULE_ACTION: return dvrFormat(dvrTr("Action: %s").c_str(), text(node));
    default: return {};
  }
}

std::string dvrDescribeRule(const dvrRule& rule, dvrRuleCameras* cameras) {
  const std::size_t count = rule.nodeCount();
  bool hasAction = false;
  std::size_t lastCondition = count;  // none
  for (std::size_t j = 0; j < count; ++j) {
    if (rule.node(j)->type() == dvrRULE_ACTION)
      hasAction = true;
    else
      lastCondition = j;
  }
  std::string out;
  if (hasAction) out = dvrTr("if") + " ";
  for (std::size_t j = 0; j < count; ++j) {
    if (hasAction && j + 1 == count) out += dvrTr(", then ");
    out += dvrNodeShortDescription(*rule.node(j), cameras);
    if (lastCondition != count && j < lastCondition) out += joinWord(rule.node(j + 1)->join());
  }
  return out;
}
