// Typed setting descriptors and the setting set of every configurable thing
// (the global settings, each board, camera and user).
//
// A descriptor keeps its value in three forms (text, integer, float) that the
// set operations keep consistent. A set announces value and flag changes to
// its observers with code 16, after the change is stored; declarations,
// choices and labels send nothing. "Apply" operations store the value and
// then deliver a "set" command line to the owner (or, without an owner, to
// the command interpreter) so that the same side effects run as when the
// line comes from the settings file or the console.
//
// Threads: values are written by the main thread (commands, panels) and, for
// run-time values, by the thread that owns the object; readers do not lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/object.h"
#include "core/text.h"

namespace dvrType {
constexpr std::int32_t TEXT = 1;
constexpr std::int32_t CHOICE = 2;
constexpr std::int32_t SLIDER = 3;
constexpr std::int32_t CHECK = 4;
constexpr std::int32_t BREAK = 5;
constexpr std::int32_t GROUP = 6;
constexpr std::int32_t HIDDEN = 7;
constexpr std::int32_t NOTE = 8;
constexpr std::int32_t FILE = 9;
constexpr std::int32_t BUTTON = 10;
constexpr std::int32_t BUTTONS = 11;
constexpr std::int32_t SPIN = 13;
constexpr std::int32_t RULE = 22;
constexpr std::int32_t PORT = 24;
constexpr std::int32_t LAYOUT = 25;
}  // namespace dvrType

namespace dvrFlag {
constexpr std::uint32_t SHOWTEXT = 0x0004;
constexpr std::uint32_t READONLY = 0x0008;
constexpr std::uint32_t INT = 0x0010;
constexpr std::uint32_t STRING = 0x0020;
constexpr std::uint32_t FLOAT = 0x0040;
constexpr std::uint32_t NOSAVE = 0x0080;
constexpr std::uint32_t PASSWORD = 0x0100;
constexpr std::uint32_t RUNTIME = 0x0200;
constexpr std::uint32_t ONEBASED = 0x0400;
constexpr std::uint32_t PREVIEW = 0x1000;
constexpr std::uint32_t ADVANCED = 0x2000;
constexpr std::uint32_t MENU = 0x4000;
}  // namespace dvrFlag

struct dvrSettingChoice {
  dvrText<511> text;
  std::int32_t value = 0;
};

struct dvrSetting {
  dvrText<31> key;
  dvrText<127> label;
  dvrText<4095> help;
  std::vector<dvrSettingChoice> choices;
  std::int32_t type = 0;
  std::uint32_t flags = 0;
  std::int32_t minimum = 0;
  std::int32_t maximum = 0;
  dvrText<511> text;
  std::int32_t intValue = 0;
  float floatValue = 0.0f;
};

class dvrSettingSet : public dvrNotifier {
 public:
  dvrSettingSet();
  ~dvrSettingSet() override;

  // Runs a command line at once on the calling thread through the process's
  // command interpreter (nothing happens when there is none).
  virtual void execute(const std::string& commandText);

  // ---- declarations (no notification) ----
  void declare(std::string_view key, std::string_view label, std::string_view help,
               std::int32_t type, std::uint32_t flags, std::int32_t minimum, std::int32_t maximum);
  void declare(std::string_view key, std::string_view label, std::string_view help,
               std::int32_t type, std::uint32_t flags);
  void declare(std::string_view key, std::string_view label, std::int32_t type,
               std::uint32_t flags, std::int32_t minimum, std::int32_t maximum);
  void declare(std::string_view key, std::string_view label, std::int32_t type, std::uint32_t flags);
  // Inserts directly after existingKey; nothing when that key is unknown.
  void declareAfter(std::string_view existingKey, std::string_view key, std::string_view label,
                    std::string_view help, std::int32_t type, std::uint32_t flags,
                    std::int32_t minimum, std::int32_t maximum);
  // Appends a choice to the most recently appended descriptor.
  void addChoice(std::string_view text, std::int32_t value);
  // Replaces the range and sets the integer value (notifying as setInt does).
  void setRange(std::string_view key, std::int32_t minimum, std::int32_t maximum, std::int32_t value);
  // Sets or clears flag bits; notifies 16 when the flags changed.
  void setFlags(std::string_view key, std::uint32_t mask, bool on);
  void setLabel(std::string_view key, std::string_view text);
  void setKind(std::string_view text) { kind_ = text; }
  void setObjectName(std::string_view text) { objectName_ = text; }
  void setOwner(dvrObject* owner) { owner_ = owner; }
  void setNoSave(bool on) { noSave_ = on; }
  void setLocked(bool on) { locked_ = on; }
  bool isLocked() const { return locked_; }
  bool isNoSave() const { return noSave_; }
  const char* kind() const { return kind_.c_str(); }
  const char* objectName() const { return objectName_.c_str(); }
  dvrObject* owner() const { return owner_; }

  // ---- lookup and reads ----
  int count() const { return static_cast<int>(settings_.size()); }
  // The descriptor at index; the last one for an index past the end (the set must not be empty).
  const dvrSetting& at(int index) const;
  // Index of the first descriptor whose key equals key (case-insensitive), or -1.
  int find(std::string_view key) const;
  std::int32_t getInt(std::string_view key) const;
  const char* getText(std::string_view key) const;
  float getFloat(std::string_view key) const;
  const char* getTextAt(int index) const;
  std::int32_t getIntAt(int index) const;
  int choiceCount(int index) const;
  std::string choiceText(int index, int i) const;
  std::int32_t choiceValue(int index, int i) const;
  bool hasRuntime() const;

  // ---- values without a command: 1 on success, 0 for a bad index or key ----
  int setIntAt(int index, std::int32_t v);
  int setTextAt(int index, std::string_view text);
  int setFloatAt(int index, float x);
  int setInt(std::string_view key, std::int32_t v) { return setIntAt(find(key), v); }
  int setText(std::string_view key, std::string_view text) { return setTextAt(find(key), text); }
  int setFloat(std::string_view key, float x) { return setFloatAt(find(key), x); }

  // ---- values with a command ("set <kind> <object> <key> <type> <value>") ----
  int applyIntAt(int index, std::int32_t v);
  int applyTextAt(int index, std::string_view text);
  int applyFloatAt(int index, float x);
  int applyInt(std::string_view key, std::int32_t v) { return applyIntAt(find(key), v); }
  int applyText(std::string_view key, std::string_view text) { return applyTextAt(find(key), text); }
  int applyFloat(std::string_view key, float x) { return applyFloatAt(find(key), x); }

  // ---- settings file text ----
  // One "set" line per saved form of each descriptor; empty with the no-save flag.
  std::string dump() const;
  // The same with another object name in every line.
  std::string dumpAs(std::string_view name) const;

 private:
  bool valid(int index) const { return index >= 0 && index < count(); }
  void deliver(const std::string& line);

  std::vector<dvrSetting> settings_;
  bool noSave_ = false;
  bool locked_ = false;
  dvrObject* owner_ = nullptr;
  dvrText<31> kind_;
  dvrText<31> objectName_;
};
