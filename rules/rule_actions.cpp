#include "rules/rule_actions.h"

#include "core/text.h"
#include "rules/rule.h"

dvrActionParts dvrSplitAction(std::string_view text) {
  if (text.size() > dvrACTION_TEXT_LIMIT) text = text.substr(0, dvrACTION_TEXT_LIMIT);
  const std::size_t bar = text.find(dvrACTION_SEPARATOR);
  if (bar == std::string_view::npos) return {std::string(text), {}};
  return {std::string(text.substr(0, bar)), std::string(text.substr(bar + 1))};
}

std::string dvrChangeCommand(const dvrRule& rule, bool value) {
  const std::size_t count = rule.nodeCount();
  if (count < 2) return {};
  const dvrRuleNode* last = rule.node(count - 1);
  if (!last || last->type() != dvrRULE_ACTION) return {};
  dvrActionParts parts = dvrSplitAction(last->text());
  return value ? std::move(parts.on) : std::move(parts.off);
}

dvrActionKind dvrActionKindOf(std::string_view text) {
  if (text.find("DIO_") != std::string_view::npos) return dvrActionKind::DigitalOutput;
  if (text.find("TV") != std::string_view::npos) return dvrActionKind::AnalogOutput;
  return dvrActionKind::DomePreset;
}

namespace {

std::string outputLine(std::string_view device, bool on, int output) {
  return "set board " + std::string(device) + (on ? " DIO_on int " : " DIO_off int ") +
         std::to_string(output);
}

}  // namespace

std::string dvrDigitalOutputAction(std::string_view device, int output,
                                   dvrOutputBehavior behavior) {
  switch (behavior) {
    case dvrOutputBehavior::OnThenOff:
      return dvrJoinAction(outputLine(device, true, output), outputLine(device, false, output));
    case dvrOutputBehavior::OffThenOn:
      return dvrJoinAction(outputLine(device, false, output), outputLine(device, true, output));
    case dvrOutputBehavior::OnOnly: return outputLine(device, true, output);
    case dvrOutputBehavior::OffOnly: return outputLine(device, false, output);
  }
  return {};
}

std::string dvrAnalogOutputLine(std::string_view device, int output, int input) {
  return dvrFormat("set board %s TV%d int %d", std::string(device).c_str(), output, input);
}

std::string dvrDomePresetLine(std::string_view camera, int preset) {
  return "dome " + std::string(camera) + " preset goto " + std::to_string(preset);
}

std::string dvrJoinAction(std::string_view on, std::string_view off) {
  std::string text(on);
  if (!off.empty()) {
    text += dvrACTION_SEPARATOR;
    text += off;
  }
  return text;
}
