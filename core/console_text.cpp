#include "core/console_text.h"

#include <mutex>

namespace {

constexpr std::size_t kLimit = 256 * 1024;

std::mutex g_lock;
std::string g_text;          // the newest characters; guarded by g_lock
std::uint64_t g_total = 0;   // characters ever appended; guarded by g_lock

}  // namespace

void dvrConsoleTextAppend(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_text += text;
  g_total += text.size();
  if (g_text.size() > kLimit) g_text.erase(0, g_text.size() - kLimit / 2);
}

void dvrConsoleTextClear() {
  std::lock_guard<std::mutex> lock(g_lock);
  g_text.clear();
  g_total = 0;
}

std::string dvrConsoleTextSince(std::uint64_t from, std::uint64_t* next) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (next) *next = g_total;
  std::uint64_t kept = g_text.size();
  std::uint64_t firstKept = g_total - kept;
  if (from >= g_total) return "";
  if (from < firstKept) from = firstKept;
  return g_text.substr(static_cast<std::size_t>(from - firstKept));
}

std::uint64_t dvrConsoleTextLength() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_total;
}
