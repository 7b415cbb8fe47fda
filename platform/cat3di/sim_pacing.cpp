#include "platform/cat3di/sim_pacing.h"

namespace cat3disim {

std::int64_t windowStart(int slot, int slots) {
  return slots > 0 ? static_cast<std::int64_t>(slot) * kMicrosecondsPerSecond / slots : 0;
}

std::optional<std::int64_t> nextWindow(const std::vector<int>& schedule, int input,
                                       std::int64_t nowUs) {
  const int slots = static_cast<int>(schedule.size());
  if (slots == 0 || nowUs < 0) return std::nullopt;
  const std::int64_t second = nowUs / kMicrosecondsPerSecond * kMicrosecondsPerSecond;
  // A window of this second after now, else the first one of the next second.
  for (std::int64_t start : {second, second + kMicrosecondsPerSecond})
    for (int slot = 0; slot < slots; ++slot)
      if (schedule[static_cast<std::size_t>(slot)] == input &&
          start + windowStart(slot, slots) > nowUs)
        return start + windowStart(slot, slots);
  return std::nullopt;
}

std::optional<std::int64_t> previousWindow(const std::vector<int>& schedule, int input,
                                           std::int64_t nowUs) {
  const int slots = static_cast<int>(schedule.size());
  if (slots == 0 || nowUs < 0) return std::nullopt;
  const std::int64_t second = nowUs / kMicrosecondsPerSecond * kMicrosecondsPerSecond;
  for (std::int64_t start : {second, second - kMicrosecondsPerSecond})
    for (int slot = slots - 1; slot >= 0; --slot)
      if (schedule[static_cast<std::size_t>(slot)] == input && start + windowStart(slot, slots) <= nowUs)
        return start + windowStart(slot, slots);
  return std::nullopt;
}

}  // namespace cat3disim
