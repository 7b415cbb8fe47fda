#include "core/watchdog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "core/process.h"
#include "tests/support/fixture.h"

namespace {

using namespace std::chrono_literals;

// The surroundings of a watchdog under test: a clock the test moves, and
// records of every sleep, kill and poll-file refresh. Safe to use from the
// watchdog's own thread.
class FakeWorld {
 public:
  std::atomic<std::int64_t> now{100000};
  std::atomic<bool> restart{false};
  // Runs inside the fake sleep, before it is recorded.
  std::function<void()> onSleep;

  dvrOKThread::Environment environment() {
    dvrOKThread::Environment env;
    env.now = [this] { return now.load(); };
    env.sleep = [this](int ms) {
      if (onSleep) onSleep();
      record("sleep " + std::to_string(ms));
    };
    env.killProcess = [this] { record("kill"); };
    env.restartOnFailure = [this] { return restart.load(); };
    env.touchPollFile = [this] {
      std::lock_guard<std::mutex> lock(m_);
      ++touches_;
      changed_.notify_all();
    };
    return env;
  }

  int touches() {
    std::lock_guard<std::mutex> lock(m_);
    return touches_;
  }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> lock(m_);
    return events_;
  }
  // Waits (at most a few seconds) until the poll file was refreshed n times.
  bool waitForTouches(int n) {
    std::unique_lock<std::mutex> lock(m_);
    return changed_.wait_for(lock, 5s, [&] { return touches_ >= n; });
  }

 private:
  void record(std::string e) {
    std::lock_guard<std::mutex> lock(m_);
    events_.push_back(std::move(e));
  }
  std::mutex m_;
  std::condition_variable changed_;
  int touches_ = 0;
  std::vector<std::string> events_;
};

// A watchdog with a fake world inside the engine fixture (base directory,
// log, interpreter and global settings), registered as the process's watchdog.
class OKThreadTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    watchdog = std::make_unique<dvrOKThread>(world.environment());
    dvrSetWatchdog(watchdog.get());
  }
  void TearDown() override {
    dvrSetWatchdog(nullptr);
    watchdog.reset();
    dvrEngineTest::TearDown();
  }
  void advance(std::int64_t seconds) { world.now += seconds; }

  // The module named by the last failure warning in the log, or "" without one.
  std::string lastFailureName() const {
    const std::string head = "Warning: Failure detected (module ";
    const std::string tail = ")! Waiting for restart...";
    std::string name;
    for (const std::string& line : logLines()) {
      if (line.rfind(head, 0) == 0 && line.size() >= head.size() + tail.size() &&
          line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
        name = line.substr(head.size(), line.size() - head.size() - tail.size());
    }
    return name;
  }

  FakeWorld world;
  std::unique_ptr<dvrOKThread> watchdog;
};

TEST_F(OKThreadTest, ModuleFailsWhenSilentForItsTimeOut) {
  struct Case {
    const char* label;
    int timeout;
    int reportAt;  // seconds after adding when the module reports, or -1
    int checkAt;   // seconds after adding
    bool healthy;
  };
  const Case cases[] = {
      {"one second short of the time-out", 200, -1, 199, true},
      {"exactly the time-out", 200, -1, 200, false},
      {"long past the time-out", 200, -1, 100000, false},
      {"a report restarts the count", 200, 150, 349, true},
      {"silent a time-out after the report", 200, 150, 350, false},
      {"a zero time-out fails at once", 0, -1, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    FakeWorld w;
    dvrOKThread t(w.environment());
    const std::int64_t start = w.now;
    t.addModule(1, c.timeout, "camera");
    if (c.reportAt >= 0) {
      w.now = start + c.reportAt;
      t.alive(1);
    }
    w.now = start + c.checkAt;
    EXPECT_EQ(t.check(), c.healthy);
    EXPECT_EQ(w.touches(), c.healthy ? 1 : 0);
    EXPECT_TRUE(w.events().empty());
  }
}

TEST_F(OKThreadTest, HealthyTableRefreshesOnEveryCheck) {
  EXPECT_TRUE(watchdog->check());  // an empty table is healthy
  watchdog->addModule(1, 200, "cam1");
  watchdog->addModule(2, 200, "file system");
  advance(100);
  EXPECT_TRUE(watchdog->check());
  advance(99);
  EXPECT_TRUE(watchdog->check());
  EXPECT_EQ(world.touches(), 3);
  EXPECT_TRUE(world.events().empty());
}

TEST_F(OKThreadTest, FailureWithRestartWarnsWaitsAndKills) {
  world.restart = true;
  bool warnedBeforeSleep = false;
  world.onSleep = [&] { warnedBeforeSleep = lastFailureName() == "cam1"; };
  watchdog->addModule(1, 200, "cam1");
  advance(200);
  EXPECT_FALSE(watchdog->check());
  EXPECT_EQ(world.events(), (std::vector<std::string>{"sleep 5000", "kill"}));
  EXPECT_TRUE(warnedBeforeSleep);
  EXPECT_EQ(world.touches(), 0);
}

TEST_F(OKThreadTest, FailureWithoutRestartOnlyStopsTheRefresh) {
  watchdog->addModule(1, 200, "cam1");
  EXPECT_TRUE(watchdog->check());
  advance(200);
  EXPECT_FALSE(watchdog->check());
  advance(1);
  EXPECT_FALSE(watchdog->check());
  EXPECT_EQ(world.touches(), 1);
  EXPECT_TRUE(world.events().empty());
  EXPECT_EQ(lastFailureName(), "");
  // The module comes back: the refresh resumes.
  watchdog->alive(1);
  EXPECT_TRUE(watchdog->check());
  EXPECT_EQ(world.touches(), 2);
}

TEST_F(OKThreadTest, LastFailingEntryNamesTheFailure) {
  struct Module {
    const char* name;
    int timeout;
  };
  struct Case {
    const char* label;
    std::vector<Module> modules;
    std::string expected;
  };
  const std::string longName(70, 'x');
  const std::vector<Case> cases = {
      {"only the first fails", {{"A", 50}, {"B", 500}}, "A"},
      {"first and last fail", {{"A", 50}, {"B", 500}, {"C", 50}}, "C"},
      {"only the middle fails", {{"A", 500}, {"B", 50}, {"C", 500}}, "B"},
      {"a long name is cut to 63 characters", {{longName.c_str(), 50}}, std::string(63, 'x')},
  };
  world.restart = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrOKThread t(world.environment());
    std::uint64_t key = 1;
    for (const Module& m : c.modules) t.addModule(key++, m.timeout, m.name);
    advance(100);
    EXPECT_FALSE(t.check());
    EXPECT_EQ(lastFailureName(), c.expected);
  }
}

TEST_F(OKThreadTest, ReportAndRemoveAffectTheFirstEntryOfAKey) {
  world.restart = true;
  watchdog->addModule(7, 100, "first");
  watchdog->addModule(7, 100, "second");
  watchdog->addModule(8, 1000, "other");
  EXPECT_EQ(watchdog->moduleCount(), 3u);

  advance(60);
  watchdog->alive(7);  // only "first" reports
  advance(40);
  EXPECT_FALSE(watchdog->check());
  EXPECT_EQ(lastFailureName(), "second");

  watchdog->removeModule(7);  // removes "first", "second" stays
  EXPECT_EQ(watchdog->moduleCount(), 2u);
  EXPECT_FALSE(watchdog->check());
  EXPECT_EQ(lastFailureName(), "second");

  // Unknown keys change nothing.
  watchdog->removeModule(99);
  watchdog->alive(99);
  EXPECT_EQ(watchdog->moduleCount(), 2u);
  EXPECT_FALSE(watchdog->check());

  watchdog->removeModule(7);
  EXPECT_EQ(watchdog->moduleCount(), 1u);
  const int touchesBefore = world.touches();
  EXPECT_TRUE(watchdog->check());
  EXPECT_EQ(world.touches(), touchesBefore + 1);
}

TEST_F(OKThreadTest, AutomaticRebootFollowsTheGlobalSettings) {
  constexpr std::int64_t kDay = 86400;
  world.restart = true;
  watchdog->addModule(dvrOKThread::threadKey(), INT_MAX, "camera");

  console->execute("set global global autorebootdelay int 3");
  EXPECT_EQ(watchdog->moduleCount(), 1u) << "delay alone arms nothing while autoreboot is off";

  console->execute("set global global autoreboot int 1");
  EXPECT_EQ(watchdog->moduleCount(), 2u);
  advance(3 * kDay - 1);
  EXPECT_TRUE(watchdog->check());
  advance(1);  // 259200 s after arming
  EXPECT_FALSE(watchdog->check());
  EXPECT_EQ(lastFailureName(), "Automatic reboot!");

  // A new delay re-arms the entry from now.
  console->execute("set global global autorebootdelay int 10");
  EXPECT_EQ(watchdog->moduleCount(), 2u);
  EXPECT_TRUE(watchdog->check());
  advance(10 * kDay - 1);
  EXPECT_TRUE(watchdog->check());
  advance(1);
  EXPECT_FALSE(watchdog->check());

  // Switching it on again replaces the entry instead of adding a second one.
  console->execute("set global global autoreboot int 1");
  EXPECT_EQ(watchdog->moduleCount(), 2u);
  EXPECT_TRUE(watchdog->check());

  // Off removes only the automatic-reboot entry.
  console->execute("set global global autoreboot int 0");
  EXPECT_EQ(watchdog->moduleCount(), 1u);
  advance(100 * kDay);
  EXPECT_TRUE(watchdog->check());
  console->execute("set global global autorebootdelay int 5");
  EXPECT_EQ(watchdog->moduleCount(), 1u);
}

TEST_F(OKThreadTest, AutomaticRebootDelayFarOutOfRangeDoesNotWrap) {
  console->execute("set global global autorebootdelay int 100000");
  console->execute("set global global autoreboot int 1");
  ASSERT_EQ(watchdog->moduleCount(), 1u);
  // 100000 days do not fit the time-out: it becomes the longest one there is.
  advance(INT_MAX - 1);
  EXPECT_TRUE(watchdog->check());
  advance(1);
  EXPECT_FALSE(watchdog->check());
}

TEST_F(OKThreadTest, AutomaticRebootWithoutAWatchdogIsHarmless) {
  dvrSetWatchdog(nullptr);
  console->execute("set global global autoreboot int 1");
  EXPECT_EQ(globals->getInt("autoreboot"), 1);
  EXPECT_EQ(watchdog->moduleCount(), 0u);
}

TEST(OKThreadKey, DiffersBetweenThreadsAndFromTheRebootKey) {
  const std::uint64_t here = dvrOKThread::threadKey();
  std::uint64_t there = 0;
  std::thread([&] { there = dvrOKThread::threadKey(); }).join();
  EXPECT_EQ(dvrOKThread::threadKey(), here);
  EXPECT_NE(here, there);
  EXPECT_NE(here, dvrWATCHDOG_AUTOREBOOT);
  EXPECT_NE(there, dvrWATCHDOG_AUTOREBOOT);
}

TEST(OKThreadLoop, RepeatsAndStopsWithoutWaitingOutItsPause) {
  FakeWorld world;
  dvrOKThread watchdog(world.environment());
  watchdog.start();
  watchdog.start();  // a second start keeps the one thread
  ASSERT_TRUE(world.waitForTouches(2)) << "the loop did not repeat";
  const auto before = std::chrono::steady_clock::now();
  watchdog.stop();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_LT(took, 500ms) << "stop() waited for the 900 ms pause";
  const int touches = world.touches();
  EXPECT_LE(touches, 3);

  // It can run again, and the destructor stops it.
  watchdog.start();
  EXPECT_TRUE(world.waitForTouches(touches + 1));
}

// ---- the real surroundings ----------------------------------------------

std::int64_t ageSeconds(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(std::time(nullptr) - st.st_mtime);
}

void makeOld(const std::string& path) {
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = std::time(nullptr) - 3600;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

bool waitUntil(const std::function<bool()>& condition) {
  const auto limit = std::chrono::steady_clock::now() + 5s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

TEST_F(OKThreadTest, SystemRefreshEmptiesThePollFileUntilTheShutdown) {
  const std::string poll = dvrGetPath(dvrPATH_POLL);
  ASSERT_EQ(poll, dir->file("__poll"));
  dvrOKThread::Environment env = dvrOKThread::systemEnvironment();

  env.touchPollFile();
  EXPECT_TRUE(std::filesystem::exists(poll));
  dir->write("__poll", "die");
  makeOld(poll);
  env.touchPollFile();
  EXPECT_EQ(dir->read("__poll"), "");
  EXPECT_LT(ageSeconds(poll), 60);

  // Once the shutdown has begun, "die" stays for the external watchdog.
  dvrProcess().shuttingDown = true;
  dvrWritePollFile("die");
  env.touchPollFile();
  dvrProcess().shuttingDown = false;
  EXPECT_EQ(dir->read("__poll"), "die");
}

TEST_F(OKThreadTest, SystemRestartFollowsTheGlobalSetting) {
  dvrOKThread::Environment env = dvrOKThread::systemEnvironment();
  EXPECT_FALSE(env.restartOnFailure());
  console->execute("set global global swwatchdog int 1");
  EXPECT_TRUE(env.restartOnFailure());
  dvrProcess().globals = nullptr;
  EXPECT_FALSE(env.restartOnFailure());
  dvrProcess().globals = globals.get();
}

TEST_F(OKThreadTest, RealThreadKeepsThePollFileFresh) {
  const std::string poll = dvrGetPath(dvrPATH_POLL);
  std::filesystem::remove(poll);
  dvrOKThread real;
  real.start();
  EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(poll); }));
  makeOld(poll);
  EXPECT_TRUE(waitUntil([&] {
    std::int64_t age = ageSeconds(poll);
    return age >= 0 && age < 60;
  })) << "the poll file was not refreshed again";
  real.stop();
}

// ---- starting the external program ------------------------------------

bool processExists(int pid) { return std::filesystem::exists("/proc/" + std::to_string(pid)); }

TEST_F(OKThreadTest, ExternalProgramStartsDetachedAndIsReaped) {
  const std::string report = dir->file("report");
  dir->write("fake-watchdog", "#!/bin/sh\n"
                              "echo \"$# $PPID $(readlink /proc/self/fd/0)\" >'" + report +
                                  ".tmp'\n"
                              "mv '" + report + ".tmp' '" + report + "'\n");
  ASSERT_EQ(chmod(dir->file("fake-watchdog").c_str(), 0755), 0);

  const int pid = dvrStartWatchdogProgram(dir->file("fake-watchdog"));
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(report); }));
  EXPECT_EQ(dir->read("report"), "0 " + std::to_string(getpid()) + " /dev/null\n");
  // A child nobody waits for would stay in the process table as a zombie.
  EXPECT_TRUE(waitUntil([&] { return !processExists(pid); }));
}

TEST_F(OKThreadTest, ExternalProgramMissingOrNotRunnable) {
  EXPECT_EQ(dvrStartWatchdogProgram(dir->file("no-such-program")), -1);
  dir->write("not-executable", "#!/bin/sh\nexit 0\n");
  ASSERT_EQ(chmod(dir->file("not-executable").c_str(), 0644), 0);
  EXPECT_EQ(dvrStartWatchdogProgram(dir->file("not-executable")), -1);
}

}  // namespace
