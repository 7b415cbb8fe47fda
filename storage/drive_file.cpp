#include "storage/drive_file.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/language.h"
#include "core/log.h"

dvrDriveFileResult dvrReadDriveFile(const std::string& path, std::vector<dvrDrive>& drives) {
  drives.clear();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), std::fclose);
  if (!file) return dvrDriveFileResult::missing;
  // Lines are read 62 characters at a time. A read at the end of the file
  // leaves the previous line in the buffer: a file that ends right after a
  // count line's newline, without "#", takes that line's first character as
  // a drive letter without a count and is reported as corrupted.
  char line[63] = "";
  bool warnedTooMany = false;
  while (!std::feof(file.get())) {
    if (!std::fgets(line, sizeof line, file.get()) && !std::feof(file.get())) break;
    if (line[0] == '#') break;
    const char letter = line[0];
    if (std::feof(file.get()) || !std::isalpha(static_cast<unsigned char>(letter)))
      return dvrDriveFileResult::corrupted;
    if (!std::fgets(line, sizeof line, file.get())) line[0] = '\0';
    const int count = std::atoi(line);
    if (count == 0) dvrLogMessage(dvrTr("Invalid page file count for drive %c!").c_str(), letter);
    if (static_cast<int>(drives.size()) >= dvrMAX_DRIVES) {
      if (!warnedTooMany)
        dvrLogWarning(dvrTr("Only the first %d drives of the drive file are used.").c_str(), dvrMAX_DRIVES);
      warnedTooMany = true;
      continue;
    }
    drives.push_back({letter, count < 0 ? 0 : count});
  }
  return dvrDriveFileResult::ok;
}
