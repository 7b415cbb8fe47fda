#include "storage/index_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "storage/index_queries.h"
#include "tests/support/fixture.h"

namespace {

class dvrIndexDbTest : public dvrEngineTest {
 protected:
  std::string path() const { return dir->file("index.db"); }

  bool logged(const std::string& line) const {
    std::vector<std::string> lines = logLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  // A frame row of camera (device, input) at the given second.
  static std::string insert(int time, int device = 1, int input = 0, const char* codec = "MJPG",
                            const char* partition = "D", int fn = 3, int offset = 4096) {
    return dvrFormat(
        "INSERT INTO Datum (time, milliseconds, bytes, flags, conditions, codec, from_device, "
        "from_input, phys_partition, phys_fn, phys_offset) VALUES (%d, 120, 5000, 32769, 0, '%s', "
        "%d, %d, '%s', %d, %d)",
        time, codec, device, input, partition, fn, offset);
  }

  static std::vector<std::string> column(dvrDB_sqlite& db, const std::string& sql,
                                         const std::string& name) {
    dvrColumnTable table;
    EXPECT_TRUE(db.queryColumns(dvrDBQuery_sql(sql), table)) << sql;
    return table[name];
  }
};

TEST_F(dvrIndexDbTest, SchemaHasTheColumnsInOrderAndBothIndexes) {
  dvrDB_sqlite db(path());
  ASSERT_TRUE(db.isOpen());
  ASSERT_TRUE(dvrEnsureIndexSchema(db));

  EXPECT_EQ(column(db, "PRAGMA table_info(Datum)", "name"),
            (std::vector<std::string>{"id", "time", "milliseconds", "bytes", "flags", "conditions",
                                      "codec", "from_device", "from_input", "phys_partition",
                                      "phys_fn", "phys_offset"}));
  EXPECT_EQ(column(db, "PRAGMA table_info(Datum)", "pk")[0], "1");
  EXPECT_EQ(column(db, "PRAGMA table_info(Pointer)", "name"),
            (std::vector<std::string>{"id", "type", "phys_partition", "phys_fn", "phys_offset"}));

  std::set<std::vector<std::string>> indexed;
  for (const std::string& index :
       column(db, "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'Datum'", "name")) {
    indexed.insert(column(db, "PRAGMA index_info(" + index + ")", "name"));
  }
  EXPECT_EQ(indexed, (std::set<std::vector<std::string>>{{"time"}, {"phys_partition", "phys_fn"}}));

  // The database numbers the rows.
  ASSERT_TRUE(db.execute(insert(10)));
  ASSERT_TRUE(db.execute(insert(11)));
  EXPECT_EQ(column(db, "SELECT id FROM Datum ORDER BY time", "id"), (std::vector<std::string>{"1", "2"}));
}

TEST_F(dvrIndexDbTest, ReopenedDatabaseKeepsItsRows) {
  {
    dvrDB_sqlite db(path());
    ASSERT_TRUE(dvrEnsureIndexSchema(db));
    ASSERT_TRUE(db.execute(insert(10)));
  }
  dvrDB_sqlite db(path());
  ASSERT_TRUE(dvrEnsureIndexSchema(db));
  EXPECT_EQ(column(db, "SELECT time FROM Datum", "time"), std::vector<std::string>{"10"});
}

TEST_F(dvrIndexDbTest, DefaultPathIsTheIndexInTheCaptureDirectoryCreatedWhenMissing) {
  ASSERT_FALSE(std::filesystem::exists(dvrCaptureDirectory('d')));
  dvrLogSetVerbose(true);
  dvrDB_sqlite db;
  dvrLogSetVerbose(false);
  ASSERT_TRUE(db.isOpen());
  EXPECT_EQ(db.path(), dvrIndexDatabasePath());
  EXPECT_EQ(db.path().rfind(dir->path(), 0), 0u) << db.path();
  EXPECT_TRUE(std::filesystem::is_regular_file(dvrIndexDatabasePath()));
  EXPECT_TRUE(logged("DB " + dvrIndexDatabasePath() + " opened"));
}

TEST_F(dvrIndexDbTest, WithoutAConnectionEveryOperationFails) {
  dir->write("plain", "not a directory");
  const std::string bad = dir->file("plain/index.db");
  dvrDB_sqlite db(bad);
  EXPECT_FALSE(db.isOpen());
  EXPECT_TRUE(logged("Warning: [DB] Couldn't open " + bad + "."));

  const dvrDBQuery_sql query("SELECT 1");
  dvrColumnTable table;
  std::vector<dvrDatumRow> rows;
  std::vector<std::int32_t> times;
  EXPECT_FALSE(dvrEnsureIndexSchema(db));
  EXPECT_FALSE(db.execute("SELECT 1"));
  EXPECT_FALSE(db.hasRows(query));
  EXPECT_FALSE(db.reserved());
  EXPECT_FALSE(db.queryColumns(query, table));
  EXPECT_FALSE(db.queryRows(query, rows));
  EXPECT_FALSE(db.queryTimes(query, times));
  EXPECT_FALSE(db.hasTimes(query, times));
  EXPECT_TRUE(table.empty());
  EXPECT_TRUE(rows.empty());
  EXPECT_TRUE(times.empty());
}

class dvrIndexDbRowsTest : public dvrIndexDbTest {
 protected:
  void SetUp() override {
    dvrIndexDbTest::SetUp();
    db = std::make_unique<dvrDB_sqlite>(path());
    ASSERT_TRUE(dvrEnsureIndexSchema(*db));
  }
  void TearDown() override {
    db.reset();
    dvrIndexDbTest::TearDown();
  }
  std::unique_ptr<dvrDB_sqlite> db;
};

TEST_F(dvrIndexDbRowsTest, QueryColumnsAppendsValuesByColumnNameWithNullAsEmpty) {
  ASSERT_TRUE(db->execute(insert(5, 1, 0, "MJPG")));
  ASSERT_TRUE(db->execute(insert(6, 2, 3, "H264")));
  dvrColumnTable table{{"time", {"earlier"}}};
  ASSERT_TRUE(db->queryColumns(
      dvrDBQuery_sql("SELECT time, codec, NULL AS missing FROM Datum ORDER BY id"), table));
  EXPECT_EQ(table["time"], (std::vector<std::string>{"earlier", "5", "6"}));
  EXPECT_EQ(table["codec"], (std::vector<std::string>{"MJPG", "H264"}));
  EXPECT_EQ(table["missing"], (std::vector<std::string>{"", ""}));
}

TEST_F(dvrIndexDbRowsTest, HasRowsAnswersWhetherAValueCameBack) {
  ASSERT_TRUE(db->execute(insert(5)));
  struct Case {
    const char* label;
    const char* sql;
    bool rows;
  } cases[] = {
      {"a row", "SELECT * FROM Datum", true},
      {"a NULL value", "SELECT NULL", true},
      {"no row", "SELECT * FROM Datum WHERE time > 5", false},
      {"a statement without result", "UPDATE Datum SET conditions = 0", false},
      {"an error", "SELECT * FROM Nope", false},
  };
  for (const Case& c : cases) EXPECT_EQ(db->hasRows(dvrDBQuery_sql(c.sql)), c.rows) << c.label;
}

TEST_F(dvrIndexDbRowsTest, ExecuteAnswersWhetherTheStatementRan) {
  EXPECT_TRUE(db->execute("UPDATE Datum SET conditions = 0 WHERE time < 0"));
  EXPECT_FALSE(db->execute("UPDATE Nope SET x = 0"));
  EXPECT_TRUE(logged("Warning: [DB] no such table: Nope (UPDATE Nope SET x = 0)"));
}

TEST_F(dvrIndexDbRowsTest, FailingStatementLogsMessageAndText) {
  dvrColumnTable table;
  EXPECT_FALSE(db->queryColumns(dvrDBQuery_sql("SELECT * FROM Nope"), table));
  EXPECT_TRUE(logged("Warning: [DB] no such table: Nope (SELECT * FROM Nope)"));
  std::vector<dvrDatumRow> rows;
  EXPECT_FALSE(db->queryRows(dvrDBQuery_sql("SELECT * FROM Datum WHERE"), rows));
  EXPECT_TRUE(logged("Warning: [DB] incomplete input (SELECT * FROM Datum WHERE)"));
}

TEST_F(dvrIndexDbRowsTest, QueryRowsReadsColumnsByPosition) {
  ASSERT_TRUE(db->execute(
      "INSERT INTO Datum VALUES (7, 1700000000, 999, 123456, 32768, 0, 'MJPG', 12, 3, 'E', 42, 67108000)"));
  // Texts longer than their fields are cut.
  ASSERT_TRUE(db->execute(
      "INSERT INTO Datum VALUES (8, 1700000001, 0, 1, 32769, 0, 'ABCDEFGHIJ', 1, 0, 'XYZW', 1, 0)"));
  std::vector<dvrDatumRow> rows;
  ASSERT_TRUE(db->queryRows(dvrDBQuery_sql("SELECT * FROM Datum ORDER BY id"), rows));
  ASSERT_EQ(rows.size(), 2u);
  const dvrDatumRow& r = rows[0];
  EXPECT_EQ(r.id, 7);
  EXPECT_EQ(r.time, 1700000000);
  EXPECT_EQ(r.milliseconds, 999);
  EXPECT_EQ(r.bytes, 123456);
  EXPECT_EQ(r.flags, 32768);
  EXPECT_EQ(r.conditions, 0);
  EXPECT_STREQ(r.codec, "MJPG");
  EXPECT_EQ(r.from_device, 12);
  EXPECT_EQ(r.from_input, 3);
  EXPECT_STREQ(r.phys_partition, "E");
  EXPECT_EQ(r.phys_fn, 42);
  EXPECT_EQ(r.phys_offset, 67108000);
  EXPECT_STREQ(rows[1].codec, "ABCDEFG");
  EXPECT_STREQ(rows[1].phys_partition, "XYZ");
}

TEST_F(dvrIndexDbRowsTest, QueryRowsKeepsRowsReadBeforeAnError) {
  ASSERT_TRUE(db->execute(insert(5)));
  ASSERT_TRUE(db->execute(insert(6)));
  // The second row overflows the integer range while it is computed.
  const std::string sql =
      "SELECT *, CASE WHEN time >= 6 THEN abs(-9223372036854775808) END FROM Datum ORDER BY id";
  std::vector<dvrDatumRow> rows;
  EXPECT_FALSE(db->queryRows(dvrDBQuery_sql(sql), rows));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].time, 5);
  EXPECT_TRUE(logged("Warning: [DB] integer overflow (" + sql + ")"));
}

TEST_F(dvrIndexDbRowsTest, QueryTimesSkipsTheValueAppendedLastInTheProcess) {
  dvrResetQueryTimesMemory();
  for (int time : {5, 5, 5, 6, 6, 9}) ASSERT_TRUE(db->execute(insert(time)));
  std::vector<std::int32_t> times;
  ASSERT_TRUE(db->queryTimes(dvrDBQuery_sql("SELECT time FROM Datum ORDER BY id"), times));
  EXPECT_EQ(times, (std::vector<std::int32_t>{5, 6, 9}));

  // The memory is shared by every connection and every call.
  dvrDB_sqlite other(path());
  std::vector<std::int32_t> more;
  ASSERT_TRUE(other.queryTimes(dvrDBQuery_sql("SELECT column1 FROM (VALUES (9), (10))"), more));
  EXPECT_EQ(more, std::vector<std::int32_t>{10});

  // Nothing new: hasTimes answers false for an empty result.
  std::vector<std::int32_t> none;
  EXPECT_FALSE(db->hasTimes(dvrDBQuery_sql("SELECT 10"), none));
  EXPECT_TRUE(none.empty());
  EXPECT_TRUE(db->hasTimes(dvrDBQuery_sql("SELECT 11"), none));
  EXPECT_EQ(none, std::vector<std::int32_t>{11});

  // A fresh process remembers 0.
  dvrResetQueryTimesMemory();
  std::vector<std::int32_t> fromZero;
  ASSERT_TRUE(db->queryTimes(dvrDBQuery_sql("SELECT column1 FROM (VALUES (0), (0), (1))"), fromZero));
  EXPECT_EQ(fromZero, std::vector<std::int32_t>{1});

  EXPECT_FALSE(db->queryTimes(dvrDBQuery_sql("SELECT time FROM Nope"), fromZero));
}

}  // namespace
