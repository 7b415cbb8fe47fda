// tavel-index: checks the recording index of a recorder's base directory
// against its page files, or rebuilds the index from the page files alone.
//
//   tavel-index check   [DIR]                 exit 0: every row consistent
//   tavel-index rebuild [DIR] [--output FILE]
//
// DIR is the recorder's base directory (default: the working directory),
// holding "tavel.drv" and the drives under "drives/". rebuild writes FILE
// (default: the index itself, replaced only once the new one is complete).
// Both may run while the recorder runs; rebuild over the live index should
// not (the recorder keeps writing its own).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/paths.h"
#include "storage/drive_file.h"
#include "storage/index_check.h"
#include "storage/index_db.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: tavel-index check [DIR]\n"
               "       tavel-index rebuild [DIR] [--output FILE]\n"
               "DIR is the recorder's base directory (default: the working directory).\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  std::string base = ".";
  std::string output;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--output") == 0 && i + 1 < argc) output = argv[++i];
    else if (argv[i][0] != '-') base = argv[i];
    else return usage();
  }
  dvrSetBaseDirectory(base);
  std::vector<dvrDrive> drives;
  if (dvrReadDriveFile(base + "/tavel.drv", drives) != dvrDriveFileResult::ok) {
    std::fprintf(stderr, "tavel-index: no usable drive file %s/tavel.drv\n", base.c_str());
    return 2;
  }
  if (command == "check") {
    if (!dvrFileSize(dvrIndexDatabasePath())) {
      std::fprintf(stderr, "tavel-index: no index at %s\n", dvrIndexDatabasePath().c_str());
      return 2;
    }
    dvrDB_sqlite db(dvrIndexDatabasePath());
    const dvrIndexCheckReport report = dvrCheckIndex(db);
    for (const std::string& line : report.problems) std::printf("%s\n", line.c_str());
    std::printf("%lld rows, %lld consistent, %lld inconsistent\n", static_cast<long long>(report.rows),
                static_cast<long long>(report.consistent), static_cast<long long>(report.problemCount));
    return report.problemCount == 0 ? 0 : 1;
  }
  if (command == "rebuild") {
    if (output.empty()) output = dvrIndexDatabasePath();
    const std::int64_t rows = dvrRebuildIndex(drives, output);
    if (rows < 0) {
      std::fprintf(stderr, "tavel-index: could not write %s\n", output.c_str());
      return 1;
    }
    std::printf("%lld rows written to %s\n", static_cast<long long>(rows), output.c_str());
    return 0;
  }
  return usage();
}
