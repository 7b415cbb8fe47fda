#include "platform/cat3di/sim_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace cat3disim {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool makeParent(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() || makeDirectory(parent.string());
}

}  // namespace

// Straight through the system calls into a buffer on the stack: some of
// these files are read with the pictures, where stdio would allocate a buffer
// per open.
std::optional<long long> readNumber(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char text[64];
  ssize_t got;
  do {
    got = ::read(fd, text, sizeof text);
  } while (got < 0 && errno == EINTR);
  ::close(fd);
  const std::size_t length = got > 0 ? static_cast<std::size_t>(got) : 0;
  std::size_t at = 0;
  while (at < length && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  bool negative = false;
  if (at < length && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
  long long value = 0;
  std::size_t digits = 0;
  for (; at < length && std::isdigit(static_cast<unsigned char>(text[at])); ++at, ++digits) {
    if (value > 1000000000000LL) return std::nullopt;  // far beyond any count the boards use
    value = value * 10 + (text[at] - '0');
  }
  if (digits == 0) return std::nullopt;
  return negative ? -value : value;
}

int clampNumber(std::optional<long long> value, int fallback, int low, int high) {
  if (!value) return fallback;
  if (*value < low) return low;
  if (*value > high) return high;
  return static_cast<int>(*value);
}

int readInt(const std::string& path, int fallback, int low, int high) {
  return clampNumber(readNumber(path), fallback, low, high);
}

std::optional<long long> CachedNumber::get() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (read_ && Clock::now() - readAt_ < maxAge_) return value_;
  }
  return refresh();
}

std::optional<long long> CachedNumber::refresh() {
  const Clock::time_point began = Clock::now();
  const std::optional<long long> value = readNumber(path_);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!read_ || began >= readAt_) {
    read_ = true;
    readAt_ = began;
    value_ = value;
  }
  return value;
}

bool writeText(const std::string& path, const std::string& text) {
  static std::atomic<unsigned long> counter{0};
  if (!makeParent(path)) return false;
  const std::string temporary = path + ".tmp" + std::to_string(counter.fetch_add(1));
  {
    File file(std::fopen(temporary.c_str(), "wb"));
    if (!file) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    if (std::fclose(file.release()) != 0 || !written) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) std::remove(temporary.c_str());
  return !error;
}

bool appendText(const std::string& path, const std::string& text) {
  if (!makeParent(path)) return false;
  File file(std::fopen(path.c_str(), "ab"));
  return file && std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
}

bool makeDirectory(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return !error;
}

}  // namespace cat3disim
