#include "storage/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "core/language.h"
#include "core/log.h"

namespace {

struct Entry {
  int fd = -1;
  std::int64_t readPosition = 0;
  std::int64_t writePosition = 0;
  int users = 0;        // references of all handles of the path
  int loggedError = 0;  // errno of the last logged open failure; 0 after a good open
};

std::mutex& tableLock() {
  static std::mutex lock;
  return lock;
}
std::mutex& ioLock() {
  static std::mutex lock;
  return lock;
}
std::mutex& referenceLock() {
  static std::mutex lock;
  return lock;
}
std::map<std::string, Entry>& table() {
  static std::map<std::string, Entry> entries;
  return entries;
}

// The entry of a path; table lock held by the caller. Entries are never erased,
// so the reference stays valid.
Entry& entryOf(const std::string& path) { return table()[path]; }

}  // namespace

dvrFile::dvrFile(std::string path) : path_(std::move(path)) {
  {
    // An already open path is shared: the handle takes a reference to it.
    std::lock_guard<std::mutex> lock(tableLock());
    Entry& e = entryOf(path_);
    if (e.fd != -1) {
      ++e.users;
      std::lock_guard<std::mutex> references(referenceLock());
      ++references_;
      return;
    }
  }
  openFile();
}

dvrFile::~dvrFile() {
  while (true) {
    {
      std::lock_guard<std::mutex> lock(referenceLock());
      if (references_ == 0) break;
    }
    closeFile();
  }
}

bool dvrFile::isOpen() const {
  std::lock_guard<std::mutex> lock(tableLock());
  return entryOf(path_).fd != -1;
}

bool dvrFile::openFile() {
  {
    std::lock_guard<std::mutex> lock(tableLock());
    Entry& e = entryOf(path_);
    if (e.fd == -1) e.fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (e.fd == -1) {
      const int error = errno;
      if (e.loggedError != error) {
        e.loggedError = error;
        dvrLogError(dvrTr("[FILESYSTEM] Could not open file %s: %s!").c_str(), path_.c_str(), std::strerror(error));
      }
      return false;
    }
    e.loggedError = 0;
    e.readPosition = 0;
    e.writePosition = 0;
    ++e.users;
  }
  std::lock_guard<std::mutex> lock(referenceLock());
  ++references_;
  return true;
}

void dvrFile::seek(std::int64_t offset, int origin) {
  std::lock_guard<std::mutex> io(ioLock());
  std::lock_guard<std::mutex> lock(tableLock());
  Entry& e = entryOf(path_);
  e.readPosition = e.writePosition = offset;
  if (e.fd != -1) ::lseek(e.fd, offset, origin);
}

std::int64_t dvrFile::tell() const {
  std::lock_guard<std::mutex> io(ioLock());
  std::lock_guard<std::mutex> lock(tableLock());
  return entryOf(path_).readPosition;
}

std::size_t dvrFile::read(void* buffer, std::size_t length, std::int64_t offset) {
  std::lock_guard<std::mutex> io(ioLock());
  int fd;
  std::int64_t start;
  {
    std::lock_guard<std::mutex> lock(tableLock());
    Entry& e = entryOf(path_);
    fd = e.fd;
    start = offset >= 0 ? offset : e.readPosition;
  }
  if (fd == -1) {
    // Closed meanwhile: reopen for this transfer (the handle's count is unchanged).
    std::lock_guard<std::mutex> lock(tableLock());
    Entry& e = entryOf(path_);
    if (e.fd == -1) e.fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    fd = e.fd;
    if (fd == -1) return 0;
  }
  std::size_t done = 0;
  for (int calls = 0; done < length && calls < 1000; ++calls) {
    const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, length - done,
                              static_cast<off_t>(start + static_cast<std::int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // end of file or an error
    done += static_cast<std::size_t>(n);
  }
  std::lock_guard<std::mutex> lock(tableLock());
  Entry& e = entryOf(path_);
  e.readPosition = e.writePosition = start + static_cast<std::int64_t>(done);
  return done;
}

std::size_t dvrFile::write(const void* buffer, std::size_t length, std::int64_t offset) {
  std::lock_guard<std::mutex> io(ioLock());
  int fd;
  std::int64_t start;
  {
    std::lock_guard<std::mutex> lock(tableLock());
    Entry& e = entryOf(path_);
    if (e.fd == -1) e.fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    fd = e.fd;
    start = offset >= 0 ? offset : e.writePosition;
  }
  if (fd == -1) return 0;
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pwrite(fd, static_cast<const char*>(buffer) + done, length - done,
                               static_cast<off_t>(start + static_cast<std::int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // a full disk or a failing device: the caller sees the short count
    done += static_cast<std::size_t>(n);
  }
  std::lock_guard<std::mutex> lock(tableLock());
  Entry& e = entryOf(path_);
  e.readPosition = e.writePosition = start + static_cast<std::int64_t>(done);
  return done;
}

void dvrFile::closeFile() {
  {
    std::lock_guard<std::mutex> lock(referenceLock());
    if (references_ == 0) return;
    --references_;
  }
  // Other handles of the path may still use the descriptor: it is closed
  // when no handle holds a reference any more.
  std::lock_guard<std::mutex> io(ioLock());
  std::lock_guard<std::mutex> lock(tableLock());
  Entry& e = entryOf(path_);
  if (e.users > 0) --e.users;
  if (e.users == 0 && e.fd != -1) {
    ::close(e.fd);
    e.fd = -1;
  }
}

bool dvrFile::syncPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd == -1) return false;
  const bool ok = ::fdatasync(fd) == 0;
  ::close(fd);
  return ok;
}
