// Rule actions: the text of an action node and what it runs.
//
// An action text is one command line (run when the rule becomes true) or two
// joined by "|" (the second runs when the rule becomes false again). Only the
// first "|" separates: anything after it, further bars included, is the
// "off" line. The builders below produce the texts the action dialog stores.
//
// Threads: pure functions of their arguments; any thread.
#pragma once

#include <string>
#include <string_view>

class dvrRule;

// The separator between the "on" and the "off" command line.
inline constexpr char dvrACTION_SEPARATOR = '|';
// Action texts are cut at this many characters before they are split.
inline constexpr std::size_t dvrACTION_TEXT_LIMIT = 2047;

struct dvrActionParts {
  std::string on;   // run when the rule becomes true
  std::string off;  // run when it becomes false; empty: nothing
};

// Cuts the text at the limit, then splits it at the first separator.
dvrActionParts dvrSplitAction(std::string_view text);

// The command line a change of a rule to value runs: the "on" or the "off"
// part of its last node's action text. Empty (nothing runs) when the rule has
// fewer than two nodes or its last node is not an action.
std::string dvrChangeCommand(const dvrRule& rule, bool value);

// The kinds of action the action dialog offers.
enum class dvrActionKind { DigitalOutput, AnalogOutput, DomePreset, InternalCommand };

// The kind an existing action text is edited as: "DIO_" anywhere gives a
// digital output, else "TV" an analog output, else a dome preset.
dvrActionKind dvrActionKindOf(std::string_view text);

// How a digital-output action drives the output ("NC": on, "NO": off).
enum class dvrOutputBehavior {
  OnThenOff,  // NC when triggered, NO when released
  OffThenOn,  // NO when triggered, NC when released
  OnOnly,     // NC when triggered, no release
  OffOnly,    // NO when triggered, no release
};

// The text of a digital-output action on the device's output (counted from 0).
std::string dvrDigitalOutputAction(std::string_view device, int output, dvrOutputBehavior behavior);

// One line that switches the device's analog output (from 0) to a camera input.
std::string dvrAnalogOutputLine(std::string_view device, int output, int input);

// One line that calls a preset of the dome of the camera with that object name.
std::string dvrDomePresetLine(std::string_view camera, int preset);

// The "on" line, followed by the separator and the "off" line when there is one.
std::string dvrJoinAction(std::string_view on, std::string_view off);
