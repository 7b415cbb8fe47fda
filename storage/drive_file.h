// The drive file "tavel.drv": which recording drives exist and how many page
// files each holds, as pairs of lines (a line whose first character is the
// drive letter, then a line with the count) ended by a line starting with
// "#". Example: D, 200, E, 300, # gives 200 page files on D and 300 on E.
//
// Reading logs "Invalid page file count for drive %c!" for a count of 0 (the
// drive stays in the list) and reports a letter line without its count line
// as corrupted. Main thread, at start-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct dvrDrive {
  char letter = 'D';
  std::int32_t pageFiles = 0;
};

inline constexpr int dvrMAX_DRIVES = 16;

enum class dvrDriveFileResult {
  ok,
  missing,    // no drive file: passive mode
  corrupted,  // fatal: "File system configuration file is corrupted!"
};

dvrDriveFileResult dvrReadDriveFile(const std::string& path, std::vector<dvrDrive>& drives);
