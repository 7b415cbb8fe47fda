#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/run_statistics.h"
#include "tests/support/fixture.h"

namespace {

using namespace std::chrono_literals;

std::map<std::string, std::string> parse(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream in(text);
  std::string name, value;
  while (in >> name >> value) values[name] = value;
  return values;
}

// Every test runs in a process of its own, so the counters start at zero.
TEST(RunStatistics, FrameEventsCountedFromSeveralThreads) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 1000; ++i) dvrCountFrameEvent(dvrFrameEvent::grabbed);
      dvrCountFrameEvent(dvrFrameEvent::queueLost);
    });
  for (auto& t : threads) t.join();
  dvrCountFrameEvent(dvrFrameEvent::storeLost);
  const auto values = parse(dvrRunStatisticsText());
  EXPECT_EQ(values.at("grabbed"), "4000");
  EXPECT_EQ(values.at("queue_lost"), "4");
  EXPECT_EQ(values.at("store_lost"), "1");
  EXPECT_EQ(values.at("handed_off"), "0");
  EXPECT_EQ(values.at("heartbeat_ticks"), "0");
  EXPECT_EQ(values.at("heartbeat_late_p99_ms"), "0.0");
}

TEST(RunStatistics, HeartbeatPercentilesAndMaximum) {
  // 98 ticks on time (0.05 ms late), one 7.3 ms late, one 900 ms late (beyond
  // the histogram: only the maximum shows it exactly). Early ticks count as 0.
  for (int i = 0; i < 97; ++i) dvrCountHeartbeat(50us);
  dvrCountHeartbeat(-3ms);
  dvrCountHeartbeat(7300us);
  dvrCountHeartbeat(900ms);
  const auto values = parse(dvrRunStatisticsText());
  EXPECT_EQ(values.at("heartbeat_ticks"), "100");
  EXPECT_EQ(values.at("heartbeat_late_p50_ms"), "0.1");
  EXPECT_EQ(values.at("heartbeat_late_p99_ms"), "7.4");
  EXPECT_EQ(values.at("heartbeat_late_max_ms"), "900.0");
}

TEST(RunStatistics, WrittenToTheFileNamedByTheEnvironment) {
  dvrTempDir dir;
  dvrCountFrameEvent(dvrFrameEvent::encoderFailed);
  unsetenv("TAVEL_STATISTICS");
  dvrWriteRunStatistics();  // not asked for: nothing written anywhere
  setenv("TAVEL_STATISTICS", dir.file("stats").c_str(), 1);
  dvrWriteRunStatistics();
  unsetenv("TAVEL_STATISTICS");
  EXPECT_EQ(parse(dvrReadFile(dir.file("stats"))).at("encoder_failed"), "1");
  EXPECT_EQ(dvrReadFile(dir.file("stats")), dvrRunStatisticsText());
}

}  // namespace
