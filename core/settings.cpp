#include "core/settings.h"

#include <cmath>
#include <cstring>

#include "core/command.h"
#include "core/console.h"
#include "core/process.h"

namespace {

const dvrSetting& emptySetting() {
  static const dvrSetting empty;
  return empty;
}

// Truncation toward zero without undefined behaviour for values out of range.
std::int32_t truncToInt(float x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0f) return 2147483647;
  if (x <= -2147483648.0f) return -2147483647 - 1;
  return static_cast<std::int32_t>(x);
}

bool sameFloat(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// A descriptor with empty values.
dvrSetting makeSetting(std::string_view key, std::string_view label, std::string_view help,
                       std::int32_t type, std::uint32_t flags, std::int32_t minimum,
                       std::int32_t maximum) {
  dvrSetting s;
  s.key = key;
  s.label = label;
  s.help = help;
  s.type = type;
  s.flags = flags;
  s.minimum = minimum;
  s.maximum = maximum;
  return s;
}

}  // namespace

dvrSettingSet::dvrSettingSet() : kind_("global"), objectName_("global") {}

dvrSettingSet::~dvrSettingSet() = default;

void dvrSettingSet::execute(const std::string& commandText) {
  if (dvrConsole* console = dvrProcess().console) console->execute(commandText, 0);
}

void dvrSettingSet::declare(std::string_view key, std::string_view label, std::string_view help,
                            std::int32_t type, std::uint32_t flags, std::int32_t minimum,
                            std::int32_t maximum) {
  settings_.push_back(makeSetting(key, label, help, type, flags, minimum, maximum));
}

void dvrSettingSet::declare(std::string_view key, std::string_view label, std::string_view help,
                            std::int32_t type, std::uint32_t flags) {
  declare(key, label, help, type, flags, 0, 0);
}

void dvrSettingSet::declare(std::string_view key, std::string_view label, std::int32_t type,
                            std::uint32_t flags, std::int32_t minimum, std::int32_t maximum) {
  declare(key, label, "", type, flags, minimum, maximum);
}

void dvrSettingSet::declare(std::string_view key, std::string_view label, std::int32_t type,
                            std::uint32_t flags) {
  declare(key, label, "", type, flags, 0, 0);
}

void dvrSettingSet::declareAfter(std::string_view existingKey, std::string_view key,
                                 std::string_view label, std::string_view help, std::int32_t type,
                                 std::uint32_t flags, std::int32_t minimum, std::int32_t maximum) {
  int at = find(existingKey);
  if (at < 0) return;
  settings_.insert(settings_.begin() + at + 1,
                   makeSetting(key, label, help, type, flags, minimum, maximum));
}

void dvrSettingSet::addChoice(std::string_view text, std::int32_t value) {
  if (settings_.empty()) return;
  dvrSettingChoice c;
  c.text = text;
  c.value = value;
  settings_.back().choices.push_back(c);
}

void dvrSettingSet::setRange(std::string_view key, std::int32_t minimum, std::int32_t maximum,
                             std::int32_t value) {
  int i = find(key);
  if (!valid(i)) return;
  settings_[i].minimum = minimum;
  settings_[i].maximum = maximum;
  setIntAt(i, value);
}

void dvrSettingSet::setFlags(std::string_view key, std::uint32_t mask, bool on) {
  int i = find(key);
  if (!valid(i)) return;
  std::uint32_t before = settings_[i].flags;
  settings_[i].flags = on ? (before | mask) : (before & ~mask);
  if (settings_[i].flags != before) notify(dvrNOTIFY_SETTING);
}

void dvrSettingSet::setLabel(std::string_view key, std::string_view text) {
  int i = find(key);
  if (valid(i)) settings_[i].label = text;
}

const dvrSetting& dvrSettingSet::at(int index) const {
  if (settings_.empty()) return emptySetting();
  if (index < 0) index = 0;
  if (index >= count()) index = count() - 1;
  return settings_[index];
}

int dvrSettingSet::find(std::string_view key) const {
  for (int i = 0; i < count(); ++i)
    if (dvrEqualNoCase(settings_[i].key.view(), key)) return i;
  return -1;
}

std::int32_t dvrSettingSet::getInt(std::string_view key) const { return getIntAt(find(key)); }

const char* dvrSettingSet::getText(std::string_view key) const { return getTextAt(find(key)); }

float dvrSettingSet::getFloat(std::string_view key) const {
  int i = find(key);
  return valid(i) ? settings_[i].floatValue : 0.0f;
}

const char* dvrSettingSet::getTextAt(int index) const {
  return valid(index) ? settings_[index].text.c_str() : "";
}

std::int32_t dvrSettingSet::getIntAt(int index) const {
  return valid(index) ? settings_[index].intValue : 0;
}

int dvrSettingSet::choiceCount(int index) const {
  return valid(index) ? static_cast<int>(settings_[index].choices.size()) : 0;
}

std::string dvrSettingSet::choiceText(int index, int i) const {
  if (i < 0 || i >= choiceCount(index)) return "";
  return settings_[index].choices[i].text.str();
}

std::int32_t dvrSettingSet::choiceValue(int index, int i) const {
  if (i < 0 || i >= choiceCount(index)) return 0;
  return settings_[index].choices[i].value;
}

bool dvrSettingSet::hasRuntime() const {
  for (const dvrSetting& s : settings_)
    if (s.flags & dvrFlag::RUNTIME) return true;
  return false;
}

int dvrSettingSet::setIntAt(int index, std::int32_t v) {
  if (!valid(index)) return 0;
  dvrSetting& s = settings_[index];
  dvrText<511> text;
  if (!s.choices.empty() && v >= 0 && v < static_cast<std::int32_t>(s.choices.size()))
    text = s.choices[v].text.view();
  else
    text = dvrFormat("%d", v);
  float f = static_cast<float>(v);
  if (s.intValue == v && s.text == text.view() && sameFloat(s.floatValue, f)) return 1;
  s.intValue = v;
  s.text = text.view();
  s.floatValue = f;
  notify(dvrNOTIFY_SETTING);
  return 1;
}

int dvrSettingSet::setTextAt(int index, std::string_view text) {
  if (!valid(index)) return 0;
  dvrSetting& s = settings_[index];
  dvrText<511> stored(text);
  std::int32_t candidate = dvrParseInt(stored.view());
  if (!(s.flags & dvrFlag::INT)) {
    for (std::size_t i = 0; i < s.choices.size(); ++i) {
      if (s.choices[i].text == stored.view()) {
        candidate = static_cast<std::int32_t>(i);
        break;
      }
    }
  }
  float f = static_cast<float>(dvrParseDouble(stored.view()));
  if (s.text == stored.view() && s.intValue == candidate && sameFloat(s.floatValue, f)) return 1;
  s.text = stored.view();
  s.intValue = candidate;
  s.floatValue = f;
  notify(dvrNOTIFY_SETTING);
  return 1;
}

int dvrSettingSet::setFloatAt(int index, float x) {
  if (!valid(index)) return 0;
  dvrSetting& s = settings_[index];
  std::int32_t candidate = truncToInt(x);
  std::string text = dvrFormat("%f", static_cast<double>(x));
  if (!(s.flags & dvrFlag::INT)) {
    for (std::size_t i = 0; i < s.choices.size(); ++i) {
      if (s.choices[i].text == text) {
        candidate = static_cast<std::int32_t>(i);
        break;
      }
    }
  }
  if (sameFloat(s.floatValue, x) && s.intValue == candidate && s.text == dvrText<511>(text).view())
    return 1;
  s.floatValue = x;
  s.intValue = candidate;
  s.text = text;
  notify(dvrNOTIFY_SETTING);
  return 1;
}

void dvrSettingSet::deliver(const std::string& line) {
  if (owner_) {
    dvrCommand command;
    command.parse(line);
    owner_->applySetting(command, 0);
  } else {
    execute(line);
  }
}

int dvrSettingSet::applyIntAt(int index, std::int32_t v) {
  if (!setIntAt(index, v)) return 0;
  deliver(dvrFormat("set %s %s %s int %d", kind_.c_str(), objectName_.c_str(),
                    settings_[index].key.c_str(), v));
  return 1;
}

int dvrSettingSet::applyTextAt(int index, std::string_view text) {
  if (!setTextAt(index, text)) return 0;
  deliver(dvrFormat("set %s %s %s string %s", kind_.c_str(), objectName_.c_str(),
                    settings_[index].key.c_str(), settings_[index].text.c_str()));
  return 1;
}

int dvrSettingSet::applyFloatAt(int index, float x) {
  if (!setFloatAt(index, x)) return 0;
  deliver(dvrFormat("set %s %s %s float %f", kind_.c_str(), objectName_.c_str(),
                    settings_[index].key.c_str(), static_cast<double>(x)));
  return 1;
}

std::string dvrSettingSet::dump() const { return dumpAs(objectName_.view()); }

std::string dvrSettingSet::dumpAs(std::string_view name) const {
  std::string out;
  if (noSave_) return out;
  std::string object(name);
  for (const dvrSetting& s : settings_) {
    if (s.flags & dvrFlag::NOSAVE) continue;
    if (s.flags & dvrFlag::INT)
      out += dvrFormat("set %s %s %s int %d\n", kind_.c_str(), object.c_str(), s.key.c_str(),
                       s.intValue);
    if (s.flags & dvrFlag::STRING) {
      // A line break inside a value would end the line early and turn the
      // rest of the value into a command of its own when the file is read.
      std::string value = s.text.str();
      for (char& c : value)
        if (c == '\n' || c == '\r') c = ' ';
      out += dvrFormat("set %s %s %s string %s\n", kind_.c_str(), object.c_str(), s.key.c_str(),
                       value.c_str());
    }
    if (s.flags & dvrFlag::FLOAT)
      out += dvrFormat("set %s %s %s float %.4f\n", kind_.c_str(), object.c_str(), s.key.c_str(),
                       static_cast<double>(s.floatValue));
  }
  return out;
}
