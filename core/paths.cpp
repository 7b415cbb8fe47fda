#include "core/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "core/log.h"

namespace {

struct PathEntry {
  int key;
  const char* pathTemplate;
};

constexpr PathEntry kPaths[] = {
    {101, "$"},
    {102, "$/help"},
    {103, "$/Gallery"},
    {104, "$/Layouts"},
    {105, "$/languages"},
    {106, "$"},
    {107, ""},
    {108, "$/resources/images"},
    {109, "$/resources/icons"},
    {110, "$/resources/buttons"},
    {111, "$/resources/sounds"},
    {112, "$/__poll"},
    {114, "%s:/capture"},
    {115, "%s:/capture/tvl%s.tt"},
};

std::mutex g_pathMutex;
std::string g_baseDir;      // guarded by g_pathMutex
std::string g_programDir;   // guarded by g_pathMutex; empty: read from /proc/self/exe
std::map<int, std::string> g_cache;  // guarded by g_pathMutex

std::string slashes(std::string s) {
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

std::string programDirectoryLocked() {
  if (!g_programDir.empty()) return g_programDir;
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string exe = slashes(std::string(buf, static_cast<std::size_t>(n)));
  std::size_t cut = exe.rfind('/');
  return cut == std::string::npos ? exe : exe.substr(0, cut);
}

std::string expandLocked(const std::string& t) {
  if (t.empty()) return t;
  switch (t[0]) {
    case '$':
      return g_baseDir + t.substr(1);
    case '@':
      return programDirectoryLocked() + t.substr(1);
    case '~': {
      const char* home = std::getenv("HOME");
      return std::string(home ? home : "/") + t.substr(1);
    }
    default:
      return t;
  }
}

}  // namespace

void dvrSetBaseDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> lock(g_pathMutex);
  g_baseDir = slashes(dir);
  g_cache.clear();
}

std::string dvrBaseDirectory() {
  std::lock_guard<std::mutex> lock(g_pathMutex);
  return g_baseDir;
}

void dvrSetProgramDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> lock(g_pathMutex);
  g_programDir = slashes(dir);
  g_cache.clear();
}

std::string dvrExpandPath(const std::string& pathTemplate) {
  std::lock_guard<std::mutex> lock(g_pathMutex);
  return expandLocked(pathTemplate);
}

std::string dvrGetPath(int key) {
  std::lock_guard<std::mutex> lock(g_pathMutex);
  auto cached = g_cache.find(key);
  if (cached != g_cache.end() && !cached->second.empty()) return cached->second;
  for (const PathEntry& e : kPaths) {
    if (e.key != key) continue;
    std::string path = expandLocked(e.pathTemplate);
    g_cache[key] = path;
    return path;
  }
  return "";
}

std::string dvrDrivePath(const std::string& path) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) return path;
  std::string rest = path.substr(2);
  if (!rest.empty() && rest.front() != '/') rest.insert(rest.begin(), '/');
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  return dvrBaseDirectory() + "/drives/" + letter + rest;
}

namespace {
// A path template's "%s" places filled in order with the given texts.
std::string fillTemplate(const char* pathTemplate, const std::string& first, const std::string& second = "") {
  std::string out;
  int filled = 0;
  for (const char* p = pathTemplate; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out += filled++ == 0 ? first : second;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

const char* templateOf(int key) {
  for (const PathEntry& e : kPaths)
    if (e.key == key) return e.pathTemplate;
  return "";
}
}  // namespace

std::string dvrCaptureDirectory(char drive) {
  return dvrDrivePath(fillTemplate(templateOf(dvrPATH_CAPTURE), std::string(1, drive)));
}

std::string dvrPageFilePath(char drive, int number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d", number);
  return dvrDrivePath(fillTemplate(templateOf(dvrPATH_PAGEFILE), std::string(1, drive), digits));
}

std::string dvrIndexDatabasePath() { return dvrCaptureDirectory('d') + "/index.db"; }

void* dvrMustAlloc(const char* caller, std::size_t n) {
  if (n == 0) {
    dvrLogError("[MUSTMALLOC] Trying to allocate 0 bytes! No way! [%s]", caller ? caller : "");
    return nullptr;
  }
  for (;;) {
    if (void* p = std::malloc(n)) return p;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void* dvrMustAllocZeroed(const char* caller, std::size_t n) {
  if (n == 0) return dvrMustAlloc(caller, n);  // logs, null
  for (;;) {
    if (void* p = std::calloc(n, 1)) return p;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void dvrMustFree(const char*, void* block) { std::free(block); }

bool dvrFileSize(const std::string& path, std::int64_t* size) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  if (size) {
    struct stat st {};
    *size = fstat(fileno(f), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
  }
  std::fclose(f);
  return true;
}

bool dvrMakeDirectory(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::size_t cut = path.find_last_of('/');
  if (cut != std::string::npos && cut > 0) dvrMakeDirectory(path.substr(0, cut));
  if (mkdir(path.c_str(), 0777) == 0) return true;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
