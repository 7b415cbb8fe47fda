#include "storage/index_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/paths.h"
#include "core/text.h"
#include "storage/index_db.h"
#include "storage/index_queries.h"
#include "storage/page_file.h"


dvrIndexCheckReport dvrCheckIndex(dvrDB_sqlite& db, std::uint32_t pageFileSize) {
  dvrIndexCheckReport report;
  std::vector<dvrDatumRow> rows;
  if (!db.queryRows(dvrDBQuery_sql("SELECT * FROM Datum ORDER BY phys_partition, phys_fn, phys_offset"), rows)) {
    static const std::string unreadable = "the index could not be read";
    report.problems.push_back(unreadable);
    report.problemCount = 1;
    return report;
  }
  auto problem = [&report](const dvrDatumRow& row, const std::string& what) {
    ++report.problemCount;
    if (report.problems.size() < 100)
      report.problems.push_back(dvrFormat("row %d (%c page %d offset %d, time %d): ", row.id, row.phys_partition[0],
                                          row.phys_fn, row.phys_offset, row.time) +
                                what);
  };
  for (const dvrDatumRow& row : rows) {
    ++report.rows;
    dvrFile file(dvrPageFilePath(row.phys_partition[0], row.phys_fn));
    dvrStoredRecord record;
    const bool read = file.isOpen() && row.phys_offset >= 0 &&
                      dvrReadStoredRecord(file, static_cast<std::uint32_t>(row.phys_offset), pageFileSize, record);
    file.closeFile();
    if (!read) {
      problem(row, "no record there");
      continue;
    }
    std::string differs;
    auto compare = [&differs](const char* field, long long a, long long b) {
      if (a != b) differs += dvrFormat(" %s %lld in the record", field, b) + dvrFormat(" (row %lld)", a);
    };
    compare("time", row.time, record.extension.seconds);
    compare("milliseconds", row.milliseconds, record.extension.microseconds / 1000);
    compare("device", row.from_device & 0xff, record.extension.device);
    compare("input", row.from_input & 0xff, record.extension.input);
    compare("bytes", row.bytes, record.header.payloadSize);
    compare("flags", row.flags, record.header.flags);
    if (std::strncmp(row.codec, record.header.fourcc.data(), 4) != 0)
      differs += " codec " + std::string(record.header.fourcc.data(), 4) + " in the record";
    if (differs.empty()) ++report.consistent;
    else problem(row, "differs:" + differs);
  }
  return report;
}

void dvrScanPageFiles(const std::vector<dvrDrive>& drives, std::uint32_t pageFileSize,
                      const std::function<void(const dvrIndexRow&)>& found) {
  for (const dvrDrive& drive : drives) {
    for (int page = 0; page < drive.pageFiles; ++page) {
      const std::string path = dvrPageFilePath(drive.letter, page);
      if (!dvrFileSize(path)) continue;
      dvrFile file(path);
      std::uint32_t offset = 0;
      std::int64_t lastTime = INT64_MIN;
      dvrStoredRecord record;
      while (file.isOpen() && dvrReadStoredRecord(file, offset, pageFileSize, record) &&
             record.extension.seconds >= lastTime) {
        found(dvrIndexRowOf(record, drive.letter, static_cast<std::uint32_t>(page), offset));
        lastTime = record.extension.seconds;
        offset += static_cast<std::uint32_t>(dvrRECORD_PREFIX_SIZE + record.header.payloadSize);
      }
      file.closeFile();
    }
  }
}

std::int64_t dvrRebuildIndex(const std::vector<dvrDrive>& drives, const std::string& path,
                             std::uint32_t pageFileSize) {
  const std::string building = path + ".building";
  std::error_code ignored;
  std::filesystem::remove(building, ignored);
  std::int64_t count = 0;
  {
    dvrDB_sqlite db(building);
    if (!db.isOpen() || !dvrEnsureIndexSchema(db) || !db.execute("BEGIN TRANSACTION")) return -1;
    dvrIndexRow newest;
    bool any = false;
    bool failed = false;
    dvrScanPageFiles(drives, pageFileSize, [&](const dvrIndexRow& row) {
      if (!db.execute(dvrDatumInsertSql(row))) failed = true;
      if (!any || row.time >= newest.time) newest = row;
      any = true;
      ++count;
    });
    const std::uint32_t end = any ? newest.offset + static_cast<std::uint32_t>(dvrRECORD_PREFIX_SIZE) + newest.bytes : 0;
    failed |= !db.execute(dvrFormat("INSERT INTO Pointer (id, type, phys_partition, phys_fn, phys_offset) VALUES "
                                    "(0, 'record_store', '%c', %d, %u)",
                                    any ? newest.drive : (drives.empty() ? 'D' : drives[0].letter),
                                    any ? newest.page : 0u, end));
    if (failed || !db.execute("COMMIT")) return -1;
  }
  std::filesystem::rename(building, path, ignored);
  if (ignored) return -1;
  return count;
}
