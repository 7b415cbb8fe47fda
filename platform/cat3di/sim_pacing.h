// The timing of a capture group's schedule: `slots` windows a second, window
// j starting j * 1000000 / slots microseconds into every second of the
// steady clock. An input gets a picture at the start of each window whose
// entry names it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace cat3disim {

inline constexpr std::int64_t kMicrosecondsPerSecond = 1000000;

// Microseconds from the start of a second to the start of window `slot`.
std::int64_t windowStart(int slot, int slots);
// The start of the first window after `nowUs` whose entry is `input`, in the
// clock's microseconds; nullopt when no entry of the schedule names it.
std::optional<std::int64_t> nextWindow(const std::vector<int>& schedule, int input,
                                       std::int64_t nowUs);

// The start of the last window at or before `nowUs` whose entry is `input`
// (this second or the one before); nullopt when no entry names it.
std::optional<std::int64_t> previousWindow(const std::vector<int>& schedule, int input,
                                           std::int64_t nowUs);

}  // namespace cat3disim
