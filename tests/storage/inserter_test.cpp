#include "storage/inserter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/text.h"
#include "storage/index_db.h"
#include "tests/support/fixture.h"

namespace {

std::string insertSql(int time, int fn = 1) {
  return dvrFormat(
      "INSERT INTO Datum (time, milliseconds, bytes, flags, conditions, codec, from_device, "
      "from_input, phys_partition,phys_fn, phys_offset) VALUES (%d, 0, 100, 32768, 0, \"MJPG\", 1, 0, "
      "\"D\", %d, 0)",
      time, fn);
}

// Drives the thread step by step: readers() answers a script, then a fixed
// value; sleep() records every wait and holds the thread in its first pause
// between batches until released, so that the test can look at the database
// after exactly one batch.
class Driver {
 public:
  dvrInserterThread::Environment environment() {
    dvrInserterThread::Environment env;
    env.readers = [this] {
      std::lock_guard<std::mutex> lock(lock_);
      if (!script_.empty()) {
        const int value = script_.front();
        script_.pop_front();
        return value;
      }
      return readers_;
    };
    env.sleep = [this](int ms) {
      std::unique_lock<std::mutex> lock(lock_);
      sleeps_.push_back(ms);
      changed_.notify_all();
      if (ms == dvrInserterThread::kPauseMs) {
        changed_.wait(lock, [this] { return released_; });
      } else {
        lock.unlock();
        std::this_thread::yield();
      }
    };
    return env;
  }
  void setReaders(int value, std::deque<int> script = {}) {
    std::lock_guard<std::mutex> lock(lock_);
    readers_ = value;
    script_ = std::move(script);
  }
  // Waits until sleep(ms) has been called count times.
  bool waitForSleeps(int ms, int count) {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
      return std::count(sleeps_.begin(), sleeps_.end(), ms) >= count;
    });
  }
  int sleepsOf(int ms) {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(std::count(sleeps_.begin(), sleeps_.end(), ms));
  }
  void release() {
    std::lock_guard<std::mutex> lock(lock_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<int> script_;
  int readers_ = 0;
  std::vector<int> sleeps_;
  bool released_ = false;
};

// An inserter on the driver; releases the driver before stopping, whatever
// the test did.
struct Rig {
  Rig(const std::string& path, std::function<void()> beforeCommit = {})
      : inserter(path, [&] {
          dvrInserterThread::Environment env = driver.environment();
          env.beforeCommit = std::move(beforeCommit);
          return env;
        }()) {}
  ~Rig() { stop(); }
  void stop() {
    driver.release();
    inserter.stop();
  }
  Driver driver;
  dvrInserterThread inserter;
};

class dvrInserterTest : public dvrEngineTest {
 protected:
  std::string path() const { return dir->file("index.db"); }

  // Values of one column as a second connection sees them.
  std::vector<std::string> seen(const std::string& sql, const std::string& name) const {
    dvrDB_sqlite reader(path());
    dvrColumnTable table;
    EXPECT_TRUE(reader.queryColumns(dvrDBQuery_sql(sql), table)) << sql;
    return table[name];
  }
  int rowCount() const {
    std::vector<std::string> n = seen("SELECT count(*) AS n FROM Datum", "n");
    return n.empty() ? -1 : dvrParseInt(n[0]);
  }
  bool logged(const std::string& line) const {
    std::vector<std::string> lines = logLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

TEST_F(dvrInserterTest, StatementsRunInQueueOrderWithTheReuseDeleteFirst) {
  {
    dvrDB_sqlite db(path());
    ASSERT_TRUE(dvrEnsureIndexSchema(db));
    for (int time = 1000; time < 1005; ++time) ASSERT_TRUE(db.execute(insertSql(time, 7)));
  }
  Rig rig(path());
  // Page file 7 is reused: its old rows go, then the rows of its new use come.
  ASSERT_TRUE(rig.inserter.queueStatement("DELETE FROM Datum WHERE phys_fn = 7 AND phys_partition='D'"));
  for (int time = 1; time <= 5; ++time) ASSERT_TRUE(rig.inserter.queueStatement(insertSql(time, 7)));
  for (int time = 6; time <= 300; ++time) ASSERT_TRUE(rig.inserter.queueStatement(insertSql(time, 8)));
  rig.inserter.start();
  ASSERT_TRUE(rig.driver.waitForSleeps(dvrInserterThread::kPauseMs, 1));

  EXPECT_EQ(rig.inserter.queued(), 0u);
  EXPECT_EQ(seen("SELECT time FROM Datum WHERE phys_fn = 7 ORDER BY id", "time"),
            (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  std::vector<std::string> expected;
  for (int time = 1; time <= 300; ++time) expected.push_back(std::to_string(time));
  EXPECT_EQ(seen("SELECT time FROM Datum ORDER BY id", "time"), expected);
}

TEST_F(dvrInserterTest, FailingLineIsLoggedAndTheNextOnesRun) {
  Rig rig(path());
  rig.inserter.queueStatement(insertSql(1));
  rig.inserter.queueStatement("INSERT INTO Nowhere VALUES (1)");
  rig.inserter.queueStatement(insertSql(2));
  rig.inserter.start();
  ASSERT_TRUE(rig.driver.waitForSleeps(dvrInserterThread::kPauseMs, 1));
  EXPECT_EQ(seen("SELECT time FROM Datum ORDER BY id", "time"), (std::vector<std::string>{"1", "2"}));
  EXPECT_TRUE(logged("Warning: [DB] no such table: Nowhere (INSERT INTO Nowhere VALUES (1))"));
}

TEST_F(dvrInserterTest, PlaybackQueriesHoldBatchesAndStopStillCommitsEverything) {
  Rig rig(path());
  rig.driver.setReaders(1);
  for (int time = 1; time <= 10; ++time) rig.inserter.queueStatement(insertSql(time));
  rig.inserter.start();
  ASSERT_TRUE(rig.driver.waitForSleeps(dvrInserterThread::kReaderWaitMs, 3));
  EXPECT_EQ(rig.driver.sleepsOf(dvrInserterThread::kPauseMs), 0);
  EXPECT_EQ(rig.inserter.queued(), 10u);
  EXPECT_EQ(rowCount(), 0);

  rig.stop();
  EXPECT_EQ(rig.inserter.queued(), 0u);
  EXPECT_EQ(rowCount(), 10);
}

TEST_F(dvrInserterTest, PlaybackQueryStartingDuringABatchEndsItAfterTheCurrentLine) {
  Rig rig(path());
  // Before the batch, before line 1, before line 2: none; then one reader.
  rig.driver.setReaders(1, {0, 0, 0});
  for (int time = 1; time <= 5; ++time) rig.inserter.queueStatement(insertSql(time));
  rig.inserter.start();
  ASSERT_TRUE(rig.driver.waitForSleeps(dvrInserterThread::kPauseMs, 1));
  EXPECT_EQ(seen("SELECT time FROM Datum ORDER BY id", "time"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(rig.inserter.queued(), 3u);

  rig.stop();
  EXPECT_EQ(rowCount(), 5);
}

TEST_F(dvrInserterTest, StopCommitsEveryQueuedLine) {
  dvrInserterThread inserter(path());
  for (int time = 1; time <= 3000; ++time) ASSERT_TRUE(inserter.queueStatement(insertSql(time)));
  inserter.start();
  inserter.stop();
  EXPECT_FALSE(inserter.isRunning());
  EXPECT_EQ(inserter.queued(), 0u);
  EXPECT_EQ(rowCount(), 3000);
  inserter.stop();  // a second stop does nothing

  // Lines queued after a stop are committed by the next run.
  inserter.queueStatement(insertSql(3001));
  inserter.start();
  inserter.stop();
  EXPECT_EQ(rowCount(), 3001);
}

TEST_F(dvrInserterTest, StopInterruptsThePauseBetweenBatches) {
  std::mutex lock;
  std::condition_variable committed;
  bool hooked = false;
  dvrInserterThread::Environment env;
  env.beforeCommit = [&] {
    std::lock_guard<std::mutex> guard(lock);
    hooked = true;
    committed.notify_all();
  };
  dvrInserterThread inserter(path(), env);
  inserter.queueStatement(insertSql(1));
  inserter.start();
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(committed.wait_for(guard, std::chrono::seconds(20), [&] { return hooked; }));
  }
  // Once the row is committed the thread waits up to 10 s before its next
  // batch; stop cuts the wait short.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (rowCount() < 1 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_EQ(rowCount(), 1);
  const auto before = std::chrono::steady_clock::now();
  inserter.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
}

TEST_F(dvrInserterTest, BeforeCommitRunsBeforeTheRowsBecomeVisible) {
  std::vector<int> visibleInHook;
  Rig rig(path(), [&] { visibleInHook.push_back(rowCount()); });
  rig.inserter.start();
  // A batch without lines does not call the hook.
  ASSERT_TRUE(rig.driver.waitForSleeps(dvrInserterThread::kPauseMs, 1));
  EXPECT_TRUE(visibleInHook.empty());

  for (int time = 1; time <= 4; ++time) rig.inserter.queueStatement(insertSql(time));
  rig.stop();
  EXPECT_EQ(visibleInHook, std::vector<int>{0});
  EXPECT_EQ(rowCount(), 4);
}

TEST_F(dvrInserterTest, StatementsOver1023CharactersAreRefused) {
  dvrInserterThread inserter(path());
  std::string longest = insertSql(1);
  longest.resize(dvrInserterThread::kMaxStatement, ' ');
  EXPECT_FALSE(inserter.queueStatement(longest + " "));
  EXPECT_TRUE(logged("Warning: [DB] Statement too long; not queued."));
  EXPECT_EQ(inserter.queued(), 0u);
  EXPECT_TRUE(inserter.queueStatement(longest));
  inserter.start();
  inserter.stop();
  EXPECT_EQ(rowCount(), 1);
}

}  // namespace
