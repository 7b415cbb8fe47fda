// Checking the recording index against the page files, and rebuilding it
// from the page files alone (the tavel-index tool; the functions are here so
// that tests can run them).
//
// A page file holds the records of its current use from offset 0, back to
// back, with times that never go back; what follows (left from an earlier
// use, or never written) fails the record checks or goes back in time, and
// ends the scan.
//
// Threads: the caller's; the recorder need not be stopped (the index is read
// through its own connection, page files through their own handles).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "storage/drive_file.h"
#include "storage/record.h"

class dvrDB_sqlite;

struct dvrIndexCheckReport {
  std::int64_t rows = 0;
  std::int64_t consistent = 0;
  std::vector<std::string> problems;  // one line per inconsistent row (the first 100)
  std::int64_t problemCount = 0;
};

// Every Datum row must point at a record whose header and extension agree
// with it: time, milliseconds, device and input (low 8 bits, as stored),
// payload size, flags and codec.
dvrIndexCheckReport dvrCheckIndex(dvrDB_sqlite& db, std::uint32_t pageFileSize = dvrPAGE_FILE_SIZE);

// Calls found for every record of every page file of the drives, in ring
// order (drive by drive, page file by page file, offset by offset).
void dvrScanPageFiles(const std::vector<dvrDrive>& drives, std::uint32_t pageFileSize,
                      const std::function<void(const dvrIndexRow&)>& found);

// Writes a new index at path (replacing the file) with a row for every record
// the page files hold, and the Pointer row at the end of the newest record.
// Answers the number of rows, or -1 when the database could not be written.
std::int64_t dvrRebuildIndex(const std::vector<dvrDrive>& drives, const std::string& path,
                             std::uint32_t pageFileSize = dvrPAGE_FILE_SIZE);
