#include "storage/index_queries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/text.h"
#include "storage/index_db.h"
#include "tests/support/fixture.h"

namespace {

std::string rendered(const dvrDBQuery& query) {
  char buffer[kDvrQueryBufferSize];
  std::fill(buffer, buffer + sizeof buffer, 'x');
  EXPECT_TRUE(query.renderSql(buffer));
  return buffer;
}

// Sets TZ for the scope and puts the previous value back.
class TimeZoneScope {
 public:
  explicit TimeZoneScope(const char* zone) {
    const char* previous = std::getenv("TZ");
    had_ = previous != nullptr;
    if (had_) previous_ = previous;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZoneScope() {
    if (had_) {
      setenv("TZ", previous_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string previous_;
};

std::time_t localTime(int day, int month, int year, int hour, int minute, int second) {
  std::tm t{};
  t.tm_sec = second;
  t.tm_min = minute;
  t.tm_hour = hour;
  t.tm_mday = day;
  t.tm_mon = month - 1;
  t.tm_year = year - 1900;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

TEST(dvrIndexQueries, RenderedTexts) {
  struct Case {
    const char* label;
    std::function<std::unique_ptr<dvrDBQuery>()> make;
    std::string sql;
  } cases[] = {
      {"recordings, every camera", [] { return std::make_unique<dvrDBQuery_recordings>(100, 200); },
       "SELECT * FROM Datum WHERE time >= 100 AND time < 200"},
      {"new recordings query",
       [] { return std::make_unique<dvrDBQuery_recordings>(); },
       "SELECT * FROM Datum WHERE time >= 0 AND time < 0"},
      {"one camera",
       [] {
         auto q = std::make_unique<dvrDBQuery_recordings>();
         q->setRange(1700000000, 1700000060);
         q->addCameraFilter(3, 1);
         return q;
       },
       "SELECT * FROM Datum WHERE time >= 1700000000 AND time < 1700000060 AND ( (from_device=3 AND "
       "from_input=1))"},
      {"two cameras",
       [] { return dvrBuildRecordingsQuery(100, 200, false, {{1, 2}, {1, 0}}); },
       "SELECT * FROM Datum WHERE time >= 100 AND time < 200 AND ( (from_device=1 AND from_input=0) "
       "OR (from_device=1 AND from_input=2))"},
      {"duplicates collapse, device then input order",
       [] { return dvrBuildRecordingsQuery(100, 200, false, {{2, 1}, {1, 5}, {10, 0}, {1, 0}, {2, 1}}); },
       "SELECT * FROM Datum WHERE time >= 100 AND time < 200 AND ( (from_device=1 AND from_input=0) "
       "OR (from_device=1 AND from_input=5) OR (from_device=2 AND from_input=1) OR (from_device=10 AND "
       "from_input=0))"},
      {"every camera ignores the selection",
       [] { return dvrBuildRecordingsQuery(100, 200, true, {{1, 0}}); },
       "SELECT * FROM Datum WHERE time >= 100 AND time < 200"},
      {"minutes, every camera", [] { return dvrBuildMinutesQuery(100, 200, true, {{1, 0}}); },
       "SELECT time as minute FROM Datum WHERE time >= 100 AND time <= 200"},
      {"minutes, one camera", [] { return dvrBuildMinutesQuery(100, 200, false, {{4, 0}}); },
       "SELECT time as minute FROM Datum WHERE time >= 100 AND time <= 200 AND ( (from_device=4 AND "
       "from_input=0))"},
      {"literal text", [] { return std::make_unique<dvrDBQuery_sql>("SELECT 1"); }, "SELECT 1"},
  };
  for (const Case& c : cases) EXPECT_EQ(rendered(*c.make()), c.sql) << c.label;
}

TEST(dvrIndexQueries, TextsBeyond2047CharactersAreRefusedWhole) {
  const std::string fits = "SELECT 1" + std::string(2047 - 8, ' ');
  EXPECT_EQ(rendered(dvrDBQuery_sql(fits)), fits);

  char buffer[kDvrQueryBufferSize];
  buffer[0] = 'x';
  EXPECT_FALSE(dvrDBQuery_sql(fits + " ").renderSql(buffer));
  EXPECT_STREQ(buffer, "");

  // A camera filter grows until its text no longer fits; the first refused
  // text is exactly the one that would have passed 2047 characters.
  dvrDBQuery_recordings query(1700000000, 1700003600);
  std::size_t fitted = 0;
  int cameras = 0;
  for (;; ++cameras) {
    const int device = 100 + cameras / 4, input = cameras % 4;
    query.addCameraFilter(device, input);
    buffer[0] = 'x';
    if (!query.renderSql(buffer)) {
      EXPECT_STREQ(buffer, "");
      const std::string pair = dvrFormat(" OR (from_device=%d AND from_input=%d)", device, input);
      EXPECT_GT(fitted + pair.size(), kDvrQueryBufferSize - 1);
      break;
    }
    fitted = std::strlen(buffer);
    ASSERT_LE(fitted, kDvrQueryBufferSize - 1);
    ASSERT_EQ(buffer[fitted - 1], ')');
  }
  EXPECT_GT(cameras, 40);
  EXPECT_LT(cameras, 60);
  dvrDBQuery_minutes minutes(1700000000, 1700003600);
  for (const auto& [device, input] : query.cameras) minutes.addCameraFilter(device, input);
  EXPECT_FALSE(minutes.renderSql(buffer));
}

TEST(dvrIndexQueries, DayQuerySpansTheLocalDay) {
  TimeZoneScope zone("Europe/Berlin");
  struct Case {
    const char* label;
    int day, month, year;
    long first;
    long seconds;
  } cases[] = {
      {"summer day", 15, 6, 2024, 1718402400L, 24 * 3600},
      {"clocks go forward", 31, 3, 2024, 1711839600L, 23 * 3600},
      {"clocks go back", 27, 10, 2024, 1729980000L, 25 * 3600},
  };
  for (const Case& c : cases) {
    dvrDBQuery_day query(c.day, c.month, c.year);
    EXPECT_EQ(query.firstSecond(), localTime(c.day, c.month, c.year, 0, 0, 0)) << c.label;
    EXPECT_EQ(query.lastSecond(), localTime(c.day, c.month, c.year, 23, 59, 59)) << c.label;
    EXPECT_EQ(rendered(query),
              dvrFormat("SELECT time FROM Datum WHERE time >= %ld AND time <= %ld LIMIT 1", c.first,
                        c.first + c.seconds - 1))
        << c.label;
  }
  dvrDBQuery_day filtered(15, 6, 2024);
  filtered.addCameraFilter(2, 0);
  EXPECT_EQ(rendered(filtered),
            "SELECT time FROM Datum WHERE time >= 1718402400 AND time <= 1718488799 AND ( (from_device=2 "
            "AND from_input=0)) LIMIT 1");
}

TEST(dvrIndexQueries, DaysInMonth) {
  struct Case {
    int month, year, days;
  } cases[] = {{1, 2023, 31}, {2, 2023, 28}, {2, 1900, 28}, {2, 2000, 29}, {2, 2004, 29},
               {3, 2023, 31}, {4, 2023, 30}, {5, 2023, 31}, {6, 2023, 30}, {7, 2023, 31},
               {8, 2023, 31}, {9, 2023, 30}, {10, 2023, 31}, {11, 2023, 30}, {12, 2023, 31},
               {0, 2023, 0},  {13, 2023, 0}, {-1, 2023, 0}};
  for (const Case& c : cases) EXPECT_EQ(dvrDaysInMonth(c.month, c.year), c.days) << c.month << "/" << c.year;
}

class dvrIndexQueriesDbTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    db = std::make_unique<dvrDB_sqlite>(dir->file("index.db"));
    ASSERT_TRUE(dvrEnsureIndexSchema(*db));
  }
  void TearDown() override {
    db.reset();
    dvrEngineTest::TearDown();
  }
  void add(long long time, int device = 1, int input = 0) {
    ASSERT_TRUE(db->execute(dvrFormat(
        "INSERT INTO Datum (time, milliseconds, bytes, flags, conditions, codec, from_device, "
        "from_input, phys_partition, phys_fn, phys_offset) VALUES (%lld, 0, 100, 32768, 0, 'MJPG', %d, "
        "%d, 'D', 1, 0)",
        time, device, input)));
  }
  std::vector<std::int32_t> rowTimes(const dvrDBQuery& query) {
    std::vector<dvrDatumRow> rows;
    EXPECT_TRUE(db->queryRows(query, rows));
    std::vector<std::int32_t> times;
    for (const dvrDatumRow& row : rows) times.push_back(row.time);
    return times;
  }
  std::vector<std::string> logLinesWith(const std::string& part) const {
    std::vector<std::string> found;
    for (const std::string& line : logLines()) {
      if (line.find(part) != std::string::npos) found.push_back(line);
    }
    return found;
  }
  std::unique_ptr<dvrDB_sqlite> db;
};

TEST_F(dvrIndexQueriesDbTest, RecordingsExcludeTheEndSecondAndMinutesIncludeIt) {
  for (int time : {99, 100, 150, 199, 200, 201}) add(time);
  EXPECT_EQ(rowTimes(dvrDBQuery_recordings(100, 200)), (std::vector<std::int32_t>{100, 150, 199}));

  dvrResetQueryTimesMemory();
  std::vector<std::int32_t> times;
  ASSERT_TRUE(db->queryTimes(dvrDBQuery_minutes(100, 200), times));
  EXPECT_EQ(times, (std::vector<std::int32_t>{100, 150, 199, 200}));

  EXPECT_TRUE(rowTimes(dvrDBQuery_recordings(200, 100)).empty());
  EXPECT_TRUE(rowTimes(dvrDBQuery_recordings(150, 150)).empty());
  std::vector<std::int32_t> none;
  EXPECT_TRUE(db->queryTimes(dvrDBQuery_minutes(200, 100), none));
  EXPECT_TRUE(none.empty());
}

TEST_F(dvrIndexQueriesDbTest, CameraFilterSelectsTheCamerasRows) {
  add(100, 1, 0);
  add(101, 1, 1);
  add(102, 1, 2);
  add(103, 2, 0);
  add(104, 0, 2);
  EXPECT_EQ(rowTimes(*dvrBuildRecordingsQuery(100, 200, false, {{1, 0}, {1, 2}})),
            (std::vector<std::int32_t>{100, 102}));
  EXPECT_EQ(rowTimes(*dvrBuildRecordingsQuery(100, 200, true, {{1, 0}})).size(), 5u);
}

TEST_F(dvrIndexQueriesDbTest, TooLongFilterIsRefusedAndNothingRuns) {
  add(100, 0, 0);
  std::vector<std::pair<int, int>> cameras;
  for (int i = 0; i < 60; ++i) cameras.emplace_back(i / 4, i % 4);
  const auto recordings = dvrBuildRecordingsQuery(0, 1000, false, cameras);
  const auto minutes = dvrBuildMinutesQuery(0, 1000, false, cameras);

  std::vector<dvrDatumRow> rows;
  std::vector<std::int32_t> times;
  dvrColumnTable table;
  EXPECT_FALSE(db->queryRows(*recordings, rows));
  EXPECT_FALSE(db->queryTimes(*minutes, times));
  EXPECT_FALSE(db->queryColumns(*recordings, table));
  EXPECT_FALSE(db->hasRows(*recordings));
  EXPECT_TRUE(rows.empty());
  EXPECT_TRUE(times.empty());
  EXPECT_TRUE(table.empty());
  const std::string refused = "Warning: [DB] Query too long for the 2047-character buffer; not executed.";
  EXPECT_EQ(logLinesWith("[DB]"), std::vector<std::string>(4, refused));
}

TEST_F(dvrIndexQueriesDbTest, DayListFindsTheDaysOfTheMonth) {
  TimeZoneScope zone("Europe/Berlin");
  struct Case {
    const char* label;
    int month, year, lastDay;
  } cases[] = {
      {"31 days", 1, 2024, 31},        {"30 days", 4, 2024, 30},
      {"clocks go forward", 3, 2024, 31}, {"February 1900", 2, 1900, 28},
      {"February 2000", 2, 2000, 29},  {"February 2004", 2, 2004, 29},
      {"February 2023", 2, 2023, 28},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(db->execute("DELETE FROM Datum"));
    // The first second of the month, the last second of its last day, and
    // the first second after it, which belongs to the next month.
    add(localTime(1, c.month, c.year, 0, 0, 0));
    add(localTime(c.lastDay, c.month, c.year, 23, 59, 59));
    add(localTime(c.lastDay + 1, c.month, c.year, 0, 0, 0));
    std::vector<std::tm> days;
    ASSERT_TRUE(dvrDayList(c.month, c.year, *db, days)) << c.label;
    ASSERT_EQ(days.size(), 2u) << c.label;
    EXPECT_EQ(days[0].tm_mday, 1) << c.label;
    EXPECT_EQ(days[1].tm_mday, c.lastDay) << c.label;
    for (const std::tm& t : days) {
      EXPECT_EQ(t.tm_mon, c.month - 1) << c.label;
      EXPECT_EQ(t.tm_year, c.year - 1900) << c.label;
      EXPECT_EQ(t.tm_hour + t.tm_min + t.tm_sec, 0) << c.label;
      EXPECT_EQ(t.tm_wday, -1) << c.label;
      EXPECT_EQ(t.tm_yday, -1) << c.label;
      EXPECT_EQ(t.tm_isdst, -1) << c.label;
    }
  }
}

TEST_F(dvrIndexQueriesDbTest, DayListOfMonthsOutsideTheYearIsEmpty) {
  // Days that a month 0 or 13 would reach if its days were asked for.
  add(localTime(1, 12, 2023, 12, 0, 0));
  add(localTime(31, 12, 2023, 12, 0, 0));
  add(localTime(1, 1, 2025, 12, 0, 0));
  for (int month : {0, 13}) {
    std::vector<std::tm> days;
    EXPECT_TRUE(dvrDayList(month, 2024, *db, days)) << month;
    EXPECT_TRUE(days.empty()) << month;
  }
}

TEST_F(dvrIndexQueriesDbTest, DayListWithCamerasCountsOnlyTheirFrames) {
  add(localTime(3, 5, 2024, 12, 0, 0), 1, 0);
  add(localTime(9, 5, 2024, 12, 0, 0), 2, 1);
  std::vector<std::tm> days;
  ASSERT_TRUE(dvrDayList(5, 2024, *db, days, {{2, 1}}));
  ASSERT_EQ(days.size(), 1u);
  EXPECT_EQ(days[0].tm_mday, 9);
  days.clear();
  ASSERT_TRUE(dvrDayList(5, 2024, *db, days));
  EXPECT_EQ(days.size(), 2u);
}

}  // namespace
