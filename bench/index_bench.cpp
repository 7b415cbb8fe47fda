// The recording index: insert rate and query latency.
//
//   insert/inserter   rows through dvrInserterThread as the store queues them
//                     (one text statement per frame), queue to last commit;
//   insert/text       the same text statements run with sqlite3_exec in one
//                     transaction on a bare connection: the parsing floor;
//   insert/prepared   one prepared statement, bound and stepped per row in one
//                     transaction: SQLite's own limit for these rows.
// All three write a fresh file with the index's tables and indexes, in WAL
// mode with synchronous=NORMAL, as the inserter does.
//
//   query/...         latency of the playback and calendar queries over an
//                     index of 10 million rows (64 cameras at 25 frames/s,
//                     rows in time order, about 1 h 44 min of recording),
//                     for every camera and for a filter of 4 cameras.
// The big index is built once with the prepared statement and kept in
// /tmp/tavel-index-bench (delete the folder to rebuild it).
//
//   build-h1-bench/bench/index_bench
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/text.h"
#include "storage/index_db.h"
#include "storage/index_queries.h"
#include "storage/inserter.h"

namespace {

constexpr const char* kInsertText =
    "INSERT INTO Datum (time, milliseconds, bytes, flags, conditions, codec, from_device, "
    "from_input, phys_partition,phys_fn, phys_offset) VALUES (%ld, %u, %u, %u, %u, "
    "\"%c%c%c%c\", %d, %d, \"%c\", %u, %u)";
constexpr const char* kInsertPrepared =
    "INSERT INTO Datum (time, milliseconds, bytes, flags, conditions, codec, from_device, "
    "from_input, phys_partition, phys_fn, phys_offset) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

constexpr int kCameras = 64;   // 16 devices with 4 inputs
constexpr int kFramesPerSecond = 25;
constexpr std::uint32_t kPageFileBytes = 64u << 20;
constexpr std::int64_t kBigRows = 10'000'000;
constexpr int kInsertRows = 100'000;

// One frame of the recording stream, in the order the store writes them.
struct Frame {
  long time;
  unsigned milliseconds, bytes, flags;
  int device, input;
  unsigned fn, offset;
};

class FrameStream {
 public:
  explicit FrameStream(long start) : time_(start) {}
  Frame next() {
    Frame f;
    f.time = time_;
    f.milliseconds = static_cast<unsigned>(frame_ * (1000 / kFramesPerSecond));
    seed_ = seed_ * 1103515245u + 12345u;
    f.bytes = 4000 + (seed_ >> 8) % 26000;
    f.flags = frame_ == 0 ? 32769 : 32768;
    f.device = camera_ / 4;
    f.input = camera_ % 4;
    if (offset_ + f.bytes > kPageFileBytes) {
      ++fn_;
      offset_ = 0;
    }
    f.fn = fn_;
    f.offset = offset_;
    offset_ += f.bytes;
    if (++camera_ == kCameras) {
      camera_ = 0;
      if (++frame_ == kFramesPerSecond) {
        frame_ = 0;
        ++time_;
      }
    }
    return f;
  }

 private:
  long time_;
  int frame_ = 0, camera_ = 0;
  unsigned fn_ = 0, offset_ = 0;
  std::uint32_t seed_ = 7;
};

std::string insertText(const Frame& f) {
  return dvrFormat(kInsertText, f.time, f.milliseconds, f.bytes, f.flags, 0u, 'M', 'J', 'P', 'G',
                   f.device, f.input, 'D', f.fn, f.offset);
}

long localSecond(int day, int month, int year, int hour) {
  std::tm t{};
  t.tm_hour = hour;
  t.tm_mday = day;
  t.tm_mon = month - 1;
  t.tm_year = year - 1900;
  t.tm_isdst = -1;
  return static_cast<long>(std::mktime(&t));
}

const long kStart = localSecond(6, 5, 2024, 8);  // the recording starts on 6 May 2024, 08:00 local

std::string freshDatabase(const char* name) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tavel-index-bench-insert";
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / name;
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + suffix);
  return file.string();
}

// A bare connection with the index's tables and the inserter's settings.
sqlite3* openBare(const std::string& path) {
  {
    dvrDB_sqlite db(path);
    dvrEnsureIndexSchema(db);
  }
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  return db;
}

void insertPrepared(sqlite3* db, FrameStream& stream, std::int64_t rows) {
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, kInsertPrepared, -1, &insert, nullptr);
  sqlite3_exec(db, "BEGIN TRANSACTION", nullptr, nullptr, nullptr);
  for (std::int64_t i = 0; i < rows; ++i) {
    const Frame f = stream.next();
    sqlite3_bind_int64(insert, 1, f.time);
    sqlite3_bind_int(insert, 2, static_cast<int>(f.milliseconds));
    sqlite3_bind_int(insert, 3, static_cast<int>(f.bytes));
    sqlite3_bind_int(insert, 4, static_cast<int>(f.flags));
    sqlite3_bind_int(insert, 5, 0);
    sqlite3_bind_text(insert, 6, "MJPG", 4, SQLITE_STATIC);
    sqlite3_bind_int(insert, 7, f.device);
    sqlite3_bind_int(insert, 8, f.input);
    sqlite3_bind_text(insert, 9, "D", 1, SQLITE_STATIC);
    sqlite3_bind_int(insert, 10, static_cast<int>(f.fn));
    sqlite3_bind_int(insert, 11, static_cast<int>(f.offset));
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_finalize(insert);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void insertThroughInserter(benchmark::State& state) {
  for (auto _ : state) {
    const std::string path = freshDatabase("inserter.db");
    FrameStream stream(kStart);
    std::vector<std::string> lines;
    for (int i = 0; i < kInsertRows; ++i) lines.push_back(insertText(stream.next()));
    dvrInserterThread inserter(path);
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& line : lines) inserter.queueStatement(line);
    inserter.start();
    inserter.stop();
    state.SetIterationTime(secondsSince(start));
  }
  state.SetItemsProcessed(state.iterations() * kInsertRows);
}

void insertTextStatements(benchmark::State& state) {
  for (auto _ : state) {
    const std::string path = freshDatabase("text.db");
    FrameStream stream(kStart);
    std::vector<std::string> lines;
    for (int i = 0; i < kInsertRows; ++i) lines.push_back(insertText(stream.next()));
    sqlite3* db = openBare(path);
    const auto start = std::chrono::steady_clock::now();
    sqlite3_exec(db, "BEGIN TRANSACTION", nullptr, nullptr, nullptr);
    for (const std::string& line : lines) sqlite3_exec(db, line.c_str(), nullptr, nullptr, nullptr);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    state.SetIterationTime(secondsSince(start));
    sqlite3_close(db);
  }
  state.SetItemsProcessed(state.iterations() * kInsertRows);
}

void insertPreparedStatement(benchmark::State& state) {
  for (auto _ : state) {
    const std::string path = freshDatabase("prepared.db");
    sqlite3* db = openBare(path);
    FrameStream stream(kStart);
    const auto start = std::chrono::steady_clock::now();
    insertPrepared(db, stream, kInsertRows);
    state.SetIterationTime(secondsSince(start));
    sqlite3_close(db);
  }
  state.SetItemsProcessed(state.iterations() * kInsertRows);
}

// The 10-million-row index, built on first use.
const std::string& bigIndex() {
  static const std::string path = [] {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tavel-index-bench";
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "index-10m.db").string();
    {
      dvrDB_sqlite db(file);
      dvrColumnTable table;
      if (db.hasRows(dvrDBQuery_sql("SELECT name FROM sqlite_master WHERE name = 'BenchBuilt'")) &&
          db.queryColumns(dvrDBQuery_sql("SELECT rows, start FROM BenchBuilt"), table) &&
          !table["rows"].empty() && dvrParseInt(table["rows"][0]) == kBigRows &&
          dvrParseInt(table["start"][0]) == kStart) {
        return file;
      }
    }
    std::filesystem::remove(file);
    std::fprintf(stderr, "building %lld rows in %s ...\n", static_cast<long long>(kBigRows), file.c_str());
    const auto start = std::chrono::steady_clock::now();
    {
      dvrDB_sqlite db(file);
      dvrEnsureIndexSchema(db);
    }
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    FrameStream stream(kStart);
    insertPrepared(db, stream, kBigRows);
    const std::string done = dvrFormat("CREATE TABLE BenchBuilt (rows INTEGER, start INTEGER); "
                                       "INSERT INTO BenchBuilt VALUES (%lld, %ld)",
                                       static_cast<long long>(kBigRows), kStart);
    sqlite3_exec(db, done.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::fprintf(stderr, "built in %.1f s\n", secondsSince(start));
    return file;
  }();
  return path;
}

const std::vector<std::pair<int, int>> kFourCameras = {{0, 0}, {3, 1}, {7, 2}, {12, 3}};

// state.range(0): 0 every camera, 1 the four cameras.
const std::vector<std::pair<int, int>>& cameras(const benchmark::State& state) {
  static const std::vector<std::pair<int, int>> none;
  return state.range(0) ? kFourCameras : none;
}

void queryOneMinute(benchmark::State& state) {
  dvrDB_sqlite db(bigIndex());
  const auto query = dvrBuildRecordingsQuery(static_cast<std::int32_t>(kStart + 3000),
                                             static_cast<std::int32_t>(kStart + 3060),
                                             state.range(0) == 0, cameras(state));
  std::size_t found = 0;
  for (auto _ : state) {
    std::vector<dvrDatumRow> rows;
    db.queryRows(*query, rows);
    found = rows.size();
    benchmark::DoNotOptimize(rows.data());
  }
  state.counters["rows"] = static_cast<double>(found);
}

void queryOneHourOfMinutes(benchmark::State& state) {
  dvrDB_sqlite db(bigIndex());
  const auto query = dvrBuildMinutesQuery(static_cast<std::int32_t>(kStart + 1800),
                                          static_cast<std::int32_t>(kStart + 5400),
                                          state.range(0) == 0, cameras(state));
  std::size_t found = 0;
  for (auto _ : state) {
    std::vector<std::int32_t> times;
    dvrResetQueryTimesMemory();
    db.queryTimes(*query, times);
    found = times.size();
    benchmark::DoNotOptimize(times.data());
  }
  state.counters["seconds"] = static_cast<double>(found);
}

void queryDayListOfMonth(benchmark::State& state) {
  dvrDB_sqlite db(bigIndex());
  std::size_t found = 0;
  for (auto _ : state) {
    std::vector<std::tm> days;
    dvrDayList(5, 2024, db, days, cameras(state));
    found = days.size();
    benchmark::DoNotOptimize(days.data());
  }
  state.counters["days"] = static_cast<double>(found);
}

BENCHMARK(insertThroughInserter)->Name("insert/inserter")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(insertTextStatements)->Name("insert/text")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(insertPreparedStatement)->Name("insert/prepared")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(queryOneMinute)->Name("query/recordings_1min")->ArgName("4cams")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(queryOneHourOfMinutes)->Name("query/minutes_1h")->ArgName("4cams")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(queryDayListOfMonth)->Name("query/daylist_month")->ArgName("4cams")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
