// A handle on a page file. All handles of a path share one operating-system
// descriptor through a process-wide table (path -> descriptor, read and
// write position), so the writer and every playback reader of a page file
// use one descriptor, and one I/O lock keeps each seek-and-transfer whole.
//
// Constructing a handle opens the file (creating it, mode 0644) unless it is
// open already; each successful open raises the handle's reference count
// and closeFile lowers it, closing the shared descriptor at zero.
//
// Failures never loop: read stops at the end of the file or at an error,
// write stops at an error and answers the bytes written. An open failure is
// logged once per path until that path opens again, so a missing drive does
// not flood the log with one line per frame.
//
// Threads: any; the table, the I/O and the reference counts have a lock each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class dvrFile {
 public:
  explicit dvrFile(std::string path);
  virtual ~dvrFile();
  dvrFile(const dvrFile&) = delete;
  dvrFile& operator=(const dvrFile&) = delete;

  virtual bool isOpen() const;
  virtual bool openFile();
  // Sets both positions; origin as for lseek.
  virtual void seek(std::int64_t offset, int origin);
  virtual std::int64_t tell() const;
  // At the offset, or at the read position for -1; answers the bytes read.
  virtual std::size_t read(void* buffer, std::size_t length, std::int64_t offset = -1);
  // At the offset, or at the write position for -1; answers the bytes written.
  virtual std::size_t write(const void* buffer, std::size_t length, std::int64_t offset = -1);
  virtual void flush() {}
  virtual void closeFile();

  // Forces what was written to the path onto the disk (fdatasync).
  static bool syncPath(const std::string& path);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int references_ = 0;
};
