#include "platform/cat3di/sim_files.h"

#include <atomic>
#include <cctype>
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

std::optional<long long> readNumber(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  char text[64];
  const std::size_t length = std::fread(text, 1, sizeof text, file.get());
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

int readInt(const std::string& path, int fallback, int low, int high) {
  const std::optional<long long> value = readNumber(path);
  if (!value) return fallback;
  if (*value < low) return low;
  if (*value > high) return high;
  return static_cast<int>(*value);
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
