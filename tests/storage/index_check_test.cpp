#include "storage/index_check.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/paths.h"
#include "storage/file_system.h"
#include "storage/index_db.h"
#include "storage/index_queries.h"
#include "tests/support/fixture.h"

namespace {

constexpr std::uint32_t kPageSize = dvrROLLOVER_MARGIN + 8000;

class IndexCheckTest : public dvrEngineTest {
 protected:
  // Records frames of varying sizes at times 100, 101, ... over the drives.
  void record(const std::vector<dvrDrive>& drives, int frames, int firstTime = 100) {
    dvrFileSystem::Environment env;
    env.pageFileSize = kPageSize;
    env.startWriter = false;
    dvrFileSystem store(drives, env);
    ASSERT_TRUE(store.start());
    std::vector<std::uint8_t> payload(3000, 0x5a);
    for (int i = 0; i < frames; ++i) {
      dvrFrameRecord r;
      r.header.payloadSize = 500 + 97 * static_cast<std::uint32_t>(i % 7);
      r.header.flags = i % 4 == 0 ? dvrFRAME_FLAG_KEY : 0;
      r.header.setFourcc("MPG4");
      r.seconds = firstTime + i;
      r.milliseconds = static_cast<std::uint16_t>(i * 40 % 1000);
      r.device = 2;
      r.input = i % 3;
      ASSERT_TRUE(store.enqueueFrame(payload.data(), r));
      ASSERT_TRUE(store.writeNext());
    }
    store.stop();
  }
  std::string rowsOf(const std::string& path) {
    dvrDB_sqlite db(path);
    dvrColumnTable t;
    EXPECT_TRUE(db.queryColumns(dvrDBQuery_sql("SELECT time, milliseconds, bytes, flags, codec, from_device, "
                                               "from_input, phys_partition, phys_fn, phys_offset FROM Datum "
                                               "ORDER BY phys_partition, phys_fn, phys_offset"),
                                t));
    std::string out;
    for (std::size_t i = 0; i < t["time"].size(); ++i)
      for (const char* c : {"time", "milliseconds", "bytes", "flags", "codec", "from_device", "from_input",
                            "phys_partition", "phys_fn", "phys_offset"})
        out += t[c][i] + (std::string(c) == "phys_offset" ? "\n" : " ");
    return out;
  }
};

TEST_F(IndexCheckTest, ARecordedIndexIsConsistentAndRebuildsToTheSameRows) {
  const std::vector<dvrDrive> drives = {{'D', 2}, {'E', 2}};
  record(drives, 60);  // more than one round of the ring: page files reused, stale bytes after their records
  dvrDB_sqlite db;
  const dvrIndexCheckReport report = dvrCheckIndex(db, kPageSize);
  EXPECT_GT(report.rows, 10);
  EXPECT_EQ(report.consistent, report.rows);
  EXPECT_TRUE(report.problems.empty()) << report.problems.front();

  ASSERT_GT(dvrRebuildIndex(drives, dir->file("rebuilt.db"), kPageSize), 10);
  EXPECT_EQ(rowsOf(dir->file("rebuilt.db")), rowsOf(dvrIndexDatabasePath()));
}

TEST_F(IndexCheckTest, RowsThatDisagreeWithTheirRecordAreReported) {
  record({{'D', 3}}, 8);
  struct Case {
    const char* label;
    const char* change;
    const char* problem;
  };
  const Case cases[] = {
      {"time", "UPDATE Datum SET time = time + 1 WHERE id = 2", "differs: time"},
      {"size", "UPDATE Datum SET bytes = 1 WHERE id = 3", "differs: bytes"},
      {"camera", "UPDATE Datum SET from_input = 9 WHERE id = 4", "differs: input"},
      {"codec", "UPDATE Datum SET codec = 'MJPG' WHERE id = 5", "differs: codec"},
      {"position off a record", "UPDATE Datum SET phys_offset = phys_offset + 10 WHERE id = 6", "no record there"},
      {"page file never written", "UPDATE Datum SET phys_fn = 2 WHERE id = 7", "no record there"},
  };
  dvrDB_sqlite db;
  for (const Case& c : cases) ASSERT_TRUE(db.execute(c.change)) << c.label;
  const dvrIndexCheckReport report = dvrCheckIndex(db, kPageSize);
  EXPECT_EQ(report.rows, 8);
  EXPECT_EQ(report.consistent, 2);
  ASSERT_EQ(report.problems.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_NE(report.problems[i].find(cases[i].problem), std::string::npos)
        << cases[i].label << ": " << report.problems[i];
}

}  // namespace
