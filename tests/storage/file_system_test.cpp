#include "storage/file_system.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "storage/drive_file.h"
#include "storage/index_db.h"
#include "storage/index_queries.h"
#include "storage/page_file.h"
#include "storage/record.h"
#include "tests/support/fixture.h"

namespace {

constexpr std::uint32_t kPayload = 1000;
// Room for exactly three records of kPayload bytes before the roll-over margin.
constexpr std::uint32_t kPageSize = dvrROLLOVER_MARGIN + 2 * (252 + kPayload) + kPayload;

dvrFrameRecord frame(std::int32_t seconds, std::uint32_t size = kPayload, int input = 3) {
  dvrFrameRecord r;
  r.header.payloadSize = size;
  r.header.width = 352;
  r.header.height = 288;
  r.header.flags = dvrFRAME_FLAG_KEY;
  r.header.setFourcc("MPG4");
  r.seconds = seconds;
  r.milliseconds = 250;
  r.device = 1;
  r.input = input;
  return r;
}

struct Row {
  char drive;
  int page;
  int offset;
  int time;
  friend bool operator==(const Row&, const Row&) = default;
};

std::ostream& operator<<(std::ostream& out, const Row& r) {
  return out << r.drive << r.page << "@" << r.offset << " t" << r.time;
}

class FileSystemTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    payload.assign(262144, 0);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7 + 1);
  }
  std::unique_ptr<dvrFileSystem> makeStore(std::vector<dvrDrive> drives) {
    dvrFileSystem::Environment env;
    env.pageFileSize = kPageSize;
    env.now = [this] { return clock; };
    env.startWriter = false;
    return std::make_unique<dvrFileSystem>(std::move(drives), env);
  }
  // Queues and writes frames one by one at times first, first + 1, ...
  void writeFrames(dvrFileSystem& store, int count, int first) {
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(store.enqueueFrame(payload.data(), frame(first + i)));
      ASSERT_TRUE(store.writeNext());
    }
  }
  std::vector<Row> rows() {
    dvrDB_sqlite db;
    dvrColumnTable t;
    EXPECT_TRUE(db.queryColumns(
        dvrDBQuery_sql("SELECT phys_partition, phys_fn, phys_offset, time FROM Datum ORDER BY id"), t));
    std::vector<Row> out;
    for (std::size_t i = 0; i < t["time"].size(); ++i)
      out.push_back({t["phys_partition"][i][0], std::stoi(t["phys_fn"][i]), std::stoi(t["phys_offset"][i]),
                     std::stoi(t["time"][i])});
    return out;
  }
  void sql(const std::string& text) {
    dvrDB_sqlite db;
    ASSERT_TRUE(db.execute(text)) << text;
  }

  std::vector<std::uint8_t> payload;
  std::int64_t clock = 1170000000;
};

TEST_F(FileSystemTest, DriveFile) {
  struct Case {
    const char* label;
    const char* text;
    dvrDriveFileResult result;
    std::string drives;  // letter and count per drive
    bool invalidCount;
  };
  const Case cases[] = {
      {"one drive", "D\n2\n#\n", dvrDriveFileResult::ok, "D2 ", false},
      {"two drives", "D\n200\nE\n300\n#\n", dvrDriveFileResult::ok, "D200 E300 ", false},
      {"rest of a letter line ignored", "drive d\n3\n#\n", dvrDriveFileResult::ok, "d3 ", false},
      {"last count line without newline", "D\n200", dvrDriveFileResult::ok, "D200 ", false},
      {"ends after a count line's newline", "D\n200\n", dvrDriveFileResult::corrupted, "", false},
      {"letter line at the end", "D", dvrDriveFileResult::corrupted, "", false},
      {"count 0 kept", "D\n0\nE\n1\n#\n", dvrDriveFileResult::ok, "D0 E1 ", true},
      {"count not a number", "D\nmany\n#\n", dvrDriveFileResult::ok, "D0 ", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dir->write("tavel.drv", c.text);
    const std::size_t before = logLines().size();
    std::vector<dvrDrive> drives;
    EXPECT_EQ(dvrReadDriveFile(dir->file("tavel.drv"), drives), c.result);
    std::string seen;
    for (const dvrDrive& d : drives) seen += dvrFormat("%c%d ", d.letter, d.pageFiles);
    if (c.result == dvrDriveFileResult::ok) {
      EXPECT_EQ(seen, c.drives);
    }
    const auto lines = logLines();
    const bool logged = lines.size() > before && lines.back().find("Invalid page file count for drive") != std::string::npos;
    EXPECT_EQ(logged, c.invalidCount);
  }
  std::vector<dvrDrive> drives;
  EXPECT_EQ(dvrReadDriveFile(dir->file("none.drv"), drives), dvrDriveFileResult::missing);
}

TEST_F(FileSystemTest, RecordsLieBackToBackWithHeaderAndExtension) {
  auto store = makeStore({{'D', 2}});
  ASSERT_TRUE(store->start());
  dvrFrameRecord second = frame(1170000001, 500, 7);
  second.header.flags = 0;
  ASSERT_TRUE(store->enqueueFrame(payload.data(), frame(1170000000)));
  ASSERT_TRUE(store->enqueueFrame(payload.data(), second));
  ASSERT_TRUE(store->writeNext());
  ASSERT_TRUE(store->writeNext());
  EXPECT_EQ(store->position(), (dvrRecordPosition{0, 0, 252 + kPayload + 252 + 500}));

  const std::string file = dvrReadFile(dvrPageFilePath('D', 0));
  ASSERT_EQ(file.size(), std::size_t{252 + kPayload + 252 + 500});
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
  dvrStoredRecord first, next;
  ASSERT_TRUE(dvrDecodeStoredRecord({bytes, 252}, 0, kPageSize, first));
  EXPECT_EQ(first.header.flags, dvrFRAME_FLAG_EXTENSION | dvrFRAME_FLAG_KEY);
  EXPECT_EQ(first.header.extensionLength, 32);
  EXPECT_EQ(first.extension, (dvrHeaderExtension{1170000000, 250000, 1, 3}));
  EXPECT_EQ(std::memcmp(bytes + 252, payload.data(), kPayload), 0) << "payload at 252";
  ASSERT_TRUE(dvrDecodeStoredRecord({bytes + 252 + kPayload, 252}, 252 + kPayload, kPageSize, next));
  EXPECT_EQ(next.header.payloadSize, 500u);
  EXPECT_EQ(next.extension.input, 7);
  store->stop();

  dvrDB_sqlite db;
  dvrColumnTable t;
  ASSERT_TRUE(db.queryColumns(dvrDBQuery_sql("SELECT * FROM Datum ORDER BY id"), t));
  ASSERT_EQ(t["time"].size(), 2u);
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"time", "1170000000"}, {"milliseconds", "250"}, {"bytes", "1000"},     {"flags", "32769"},
      {"conditions", "0"},    {"codec", "MPG4"},       {"from_device", "1"}, {"from_input", "3"},
      {"phys_partition", "D"}, {"phys_fn", "0"},      {"phys_offset", "0"}};
  for (const auto& [column, value] : expected) EXPECT_EQ(t[column][0], value) << column;
  EXPECT_EQ(t["flags"][1], "32768");
  EXPECT_EQ(t["phys_offset"][1], "1252");
}

TEST_F(FileSystemTest, TheRingRunsOverTheDrivesAndReusesPageFilesAfterDeletingTheirRows) {
  auto store = makeStore({{'D', 1}, {'E', 1}});
  ASSERT_TRUE(store->start());
  writeFrames(*store, 7, 100);  // three per page file: D0, E0, then D0 again
  store->stop();
  EXPECT_EQ(rows(), (std::vector<Row>{{'E', 0, 0, 103}, {'E', 0, 1252, 104}, {'E', 0, 2504, 105}, {'D', 0, 0, 106}}))
      << "the rows of D0's first use were deleted before its reuse";
}

TEST_F(FileSystemTest, ARecordThatWouldEndInsideTheMarginStartsTheNextPageFile) {
  auto store = makeStore({{'D', 2}});
  ASSERT_TRUE(store->start());
  writeFrames(*store, 3, 100);
  EXPECT_EQ(store->position().offset, 3 * (252 + kPayload));
  // One byte less fits where a full-size frame does not.
  ASSERT_TRUE(store->enqueueFrame(payload.data(), frame(103, 1)));
  ASSERT_TRUE(store->writeNext());
  EXPECT_EQ(store->position(), (dvrRecordPosition{0, 1, 253}));
  store->stop();
  EXPECT_EQ(rows().back(), (Row{'D', 1, 0, 103}));
}

TEST_F(FileSystemTest, QueueRefusesTheHundredthFrameAndDropsImpossibleSizes) {
  auto store = makeStore({{'D', 40}});
  for (int i = 0; i < dvrFileSystem::kMaxQueued; ++i) ASSERT_TRUE(store->enqueueFrame(payload.data(), frame(i)));
  EXPECT_FALSE(store->enqueueFrame(payload.data(), frame(99))) << "99 frames wait";
  ASSERT_TRUE(store->start());
  ASSERT_TRUE(store->writeNext());
  EXPECT_TRUE(store->enqueueFrame(payload.data(), frame(99))) << "accepted once the writer took one";
  while (store->writeNext()) {
  }
  for (std::uint32_t size : {0u, 262144u}) {
    EXPECT_TRUE(store->enqueueFrame(payload.data(), frame(200, size))) << size;
    EXPECT_EQ(store->queuedFrames(), 0) << size << " is dropped";
  }
  store->stop();
  EXPECT_EQ(rows().size(), 100u);
}

TEST_F(FileSystemTest, StopWritesWhatIsStillQueued) {
  auto store = makeStore({{'D', 4}});
  ASSERT_TRUE(store->start());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(store->enqueueFrame(payload.data(), frame(100 + i)));
  store->stop();
  EXPECT_EQ(rows().size(), 5u);
}

TEST_F(FileSystemTest, PositionRestore) {
  {
    SCOPED_TRACE("an empty index starts at the first drive and saves a Pointer row");
    auto store = makeStore({{'E', 3}, {'D', 3}});
    ASSERT_TRUE(store->start());
    EXPECT_EQ(store->position(), (dvrRecordPosition{0, 0, 0}));
    store->stop();
    dvrDB_sqlite db;
    dvrColumnTable t;
    ASSERT_TRUE(db.queryColumns(dvrDBQuery_sql("SELECT * FROM Pointer"), t));
    EXPECT_EQ(t["type"], std::vector<std::string>{"record_store"});
    EXPECT_EQ(t["phys_partition"], std::vector<std::string>{"E"});
  }
  {
    SCOPED_TRACE("a saved position with nothing written after it is where writing goes on");
    sql("UPDATE Pointer SET phys_partition = 'D', phys_fn = 2, phys_offset = 5000 WHERE type LIKE 'record_store'");
    auto store = makeStore({{'E', 3}, {'D', 3}});
    ASSERT_TRUE(store->start());
    EXPECT_EQ(store->position(), (dvrRecordPosition{1, 2, 5000}));
  }
}

TEST_F(FileSystemTest, ACrashLosesNoWrittenFrameAndLeavesNoStaleRow) {
  {
    auto store = makeStore({{'D', 1}, {'E', 1}});
    ASSERT_TRUE(store->start());
    writeFrames(*store, 5, 100);  // D0: 100..102, E0: 103..104
    store->stop();
  }
  const std::vector<Row> written = rows();
  ASSERT_EQ(written.size(), 5u);
  // What a crash leaves: the last commit had the rows of D0 and the saved
  // position at its start; the writer had rolled over into E0, whose rows of
  // an earlier round (a reuse delete not yet committed) are still there.
  sql("DELETE FROM Datum WHERE time >= 102");
  sql("UPDATE Pointer SET phys_partition = 'D', phys_fn = 0, phys_offset = 0 WHERE type LIKE 'record_store'");
  sql("INSERT INTO Datum (id, time, milliseconds, bytes, flags, conditions, codec, from_device, from_input, "
      "phys_partition,phys_fn, phys_offset) VALUES (0, 50, 0, 900, 32769, 0, \"MPG4\", 1, 3, \"E\", 0, 0)");
  {
    auto store = makeStore({{'D', 1}, {'E', 1}});
    ASSERT_TRUE(store->start());
    EXPECT_EQ(store->recoveredFrames(), 3);
    EXPECT_EQ(store->position(), (dvrRecordPosition{1, 0, 2 * (252 + kPayload)})) << "after the last record";
    writeFrames(*store, 1, 105);
    store->stop();
  }
  std::vector<Row> expected = written;
  expected.push_back({'E', 0, 2 * (252 + kPayload), 105});
  std::vector<Row> now = rows();
  std::sort(now.begin(), now.end(), [](const Row& a, const Row& b) { return a.time < b.time; });
  EXPECT_EQ(now, expected);
}

TEST_F(FileSystemTest, AnUnwritableDriveDropsFramesQuietlyUntilItComesBack) {
  auto store = makeStore({{'E', 2}});  // the index stays on drive D
  ASSERT_TRUE(store->start());
  // The capture directory replaced by a file: page files cannot be created.
  const std::string capture = dvrCaptureDirectory('E');
  std::filesystem::remove_all(capture);
  dir->write("drives/E/capture", "not a directory");
  const std::size_t before = logLines().size();
  writeFrames(*store, 20, 100);
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), before + 1) << "one line for twenty lost frames";
  EXPECT_NE(lines.back().find("[FILESYSTEM] Could not open file"), std::string::npos) << lines.back();
  EXPECT_EQ(store->position(), (dvrRecordPosition{0, 0, 0}));
  std::filesystem::remove(capture);
  std::filesystem::create_directories(capture);
  writeFrames(*store, 2, 200);
  store->stop();
  EXPECT_EQ(rows(), (std::vector<Row>{{'E', 0, 0, 200}, {'E', 0, 1252, 201}}));
}

TEST_F(FileSystemTest, InsertsPauseForReadersWithoutGoingBelowZero) {
  auto store = makeStore({{'D', 1}});
  store->resumeInserts();
  EXPECT_EQ(store->readers(), 0);
  store->pauseInserts();
  store->pauseInserts();
  EXPECT_EQ(store->readers(), 2);
  store->resumeInserts();
  store->resumeInserts();
  store->resumeInserts();
  EXPECT_EQ(store->readers(), 0);
  EXPECT_EQ(store->driveIndex('d'), 0);
}

TEST_F(FileSystemTest, TheWriterThreadTakesFramesAsTheyCome) {
  dvrFileSystem::Environment env;
  env.pageFileSize = kPageSize;
  auto store = std::make_unique<dvrFileSystem>(std::vector<dvrDrive>{{'D', 3}}, env);
  ASSERT_TRUE(store->start());
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(store->put(frame(100 + i), payload.data(), kPayload));
  store->stop();
  EXPECT_EQ(rows().size(), 6u);
  EXPECT_EQ(rows().back(), (Row{'D', 1, 2 * (252 + static_cast<int>(kPayload)), 105}));
}

}  // namespace
