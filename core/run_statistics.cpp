#include "core/run_statistics.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kEvents = static_cast<int>(dvrFrameEvent::storeLost) + 1;
constexpr const char* kEventNames[kEvents] = {"grabbed",      "handed_off", "grab_failed", "encoder_failed",
                                              "queue_retried", "queue_lost", "store_lost"};
// Lateness in steps of 0.1 ms up to 500 ms; later ticks share the last bucket
// and are seen exactly in the maximum.
constexpr int kBuckets = 5000;
constexpr std::int64_t kBucketMicroseconds = 100;

struct Counters {
  std::array<std::atomic<std::uint64_t>, kEvents> events{};
  std::array<std::atomic<std::uint32_t>, kBuckets> lateness{};
  std::atomic<std::int64_t> latestMicroseconds{0};
};

Counters& counters() {
  static Counters all;
  return all;
}

// The lateness below which `share` of the ticks lie, in milliseconds.
double percentile(const std::array<std::uint64_t, kBuckets>& buckets, std::uint64_t total, double share) {
  if (total == 0) return 0;
  const auto wanted = static_cast<std::uint64_t>(share * static_cast<double>(total) + 0.999999);
  std::uint64_t seen = 0;
  for (int b = 0; b < kBuckets; ++b) {
    seen += buckets[static_cast<std::size_t>(b)];
    if (seen >= wanted) return static_cast<double>((b + 1) * kBucketMicroseconds) / 1000.0;
  }
  return static_cast<double>(kBuckets * kBucketMicroseconds) / 1000.0;
}

}  // namespace

void dvrCountFrameEvent(dvrFrameEvent event) {
  counters().events[static_cast<std::size_t>(event)].fetch_add(1, std::memory_order_relaxed);
}

void dvrCountHeartbeat(std::chrono::steady_clock::duration lateness) {
  const std::int64_t us =
      std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(lateness).count());
  const auto bucket = static_cast<std::size_t>(std::min<std::int64_t>(us / kBucketMicroseconds, kBuckets - 1));
  Counters& c = counters();
  c.lateness[bucket].fetch_add(1, std::memory_order_relaxed);
  std::int64_t latest = c.latestMicroseconds.load(std::memory_order_relaxed);
  while (us > latest && !c.latestMicroseconds.compare_exchange_weak(latest, us, std::memory_order_relaxed)) {
  }
}

std::string dvrRunStatisticsText() {
  Counters& c = counters();
  std::string text;
  char line[96];
  for (int e = 0; e < kEvents; ++e) {
    std::snprintf(line, sizeof line, "%s %llu\n", kEventNames[e],
                  static_cast<unsigned long long>(c.events[static_cast<std::size_t>(e)].load()));
    text += line;
  }
  std::array<std::uint64_t, kBuckets> buckets{};
  std::uint64_t ticks = 0;
  for (int b = 0; b < kBuckets; ++b) ticks += buckets[static_cast<std::size_t>(b)] = c.lateness[static_cast<std::size_t>(b)].load();
  std::snprintf(line, sizeof line, "heartbeat_ticks %llu\n", static_cast<unsigned long long>(ticks));
  text += line;
  std::snprintf(line, sizeof line, "heartbeat_late_p50_ms %.1f\nheartbeat_late_p99_ms %.1f\nheartbeat_late_max_ms %.1f\n",
                percentile(buckets, ticks, 0.50), percentile(buckets, ticks, 0.99),
                static_cast<double>(c.latestMicroseconds.load()) / 1000.0);
  text += line;
  return text;
}

void dvrWriteRunStatistics() {
  const char* path = std::getenv("TAVEL_STATISTICS");
  if (!path || !*path) return;
  if (std::FILE* file = std::fopen(path, "w")) {
    const std::string text = dvrRunStatisticsText();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
}
