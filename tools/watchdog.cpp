// The external watchdog program of the recorder.
//
// The recorder starts it at the end of its start-up, without arguments and in
// its own working directory (the base directory). The program watches the
// recorder that started it (its parent) and the poll file "__poll" in that
// directory, which the recorder's watchdog thread refreshes every 900 ms while
// all its modules are alive:
//
//   - the poll file holds "die": the recorder is ending in order; exit quietly;
//   - the recorder is gone, or the poll file has not changed for longer than
//     the stale limit (60 s; TAVEL_WATCHDOG_STALE_SECONDS overrides it): kill
//     what is left of the recorder, note it in "tavel.log", start the recorder
//     again exactly as it was started (same arguments, same directory), in a
//     session of its own with output appended to "watchdog.out", and exit; the
//     new recorder starts a watchdog of its own.
//
// Plain C++ and POSIX only: it must keep working when the recorder's
// libraries are what broke.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultStaleSeconds = 60;
// How long a killed or crashed recorder may take to disappear from the process
// table; a new one refuses to start while the old one still has its pid.
constexpr int kGoneWaitSeconds = 30;

struct Recorder {
  pid_t pid = 0;
  unsigned long long startTime = 0;  // tells the recorder from a later process with its pid
  std::vector<std::string> argv;
  std::string cwd;
  std::string executable;  // the program file, when argv[0] cannot be found again
};

double monotonicSeconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void sleepSeconds(double seconds) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

bool readWholeFile(const std::string& path, std::string& out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.clear();
  char buf[4096];
  ssize_t got;
  while ((got = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(got));
  close(fd);
  return got == 0;
}

std::string readLink(const std::string& path) {
  char buf[PATH_MAX];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// The state letter and start time of a process from /proc/<pid>/stat.
bool processState(pid_t pid, char& state, unsigned long long& startTime) {
  std::string stat;
  if (!readWholeFile("/proc/" + std::to_string(pid) + "/stat", stat)) return false;
  // The command name in parentheses may hold blanks: fields count from its end.
  std::size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return false;
  const char* p = stat.c_str() + close + 2;
  state = *p;
  // After the state come 18 fields, then the start time (field 22 of the line).
  for (int field = 0; field < 19; ++field) {
    p = std::strchr(p, ' ');
    if (!p) return false;
    ++p;
  }
  startTime = std::strtoull(p, nullptr, 10);
  return true;
}

// The recorder still runs (not ended, not a zombie).
bool recorderRuns(const Recorder& r) {
  if (getppid() != r.pid) return false;  // it ended and this process was handed on
  char state = 0;
  unsigned long long start = 0;
  if (!processState(r.pid, state, start) || start != r.startTime) return false;
  return state != 'Z' && state != 'X';
}

// The recorder's pid no longer names it: it ended and has been reaped.
bool recorderGone(const Recorder& r) {
  char state = 0;
  unsigned long long start = 0;
  return !processState(r.pid, state, start) || start != r.startTime;
}

bool recordParent(Recorder& r) {
  r.pid = getppid();
  if (r.pid <= 1) return false;
  const std::string dir = "/proc/" + std::to_string(r.pid);
  char state = 0;
  std::string cmdline;
  if (!processState(r.pid, state, r.startTime) || !readWholeFile(dir + "/cmdline", cmdline))
    return false;
  std::size_t from = 0;
  while (from < cmdline.size()) {
    std::size_t end = cmdline.find('\0', from);
    if (end == std::string::npos) end = cmdline.size();
    r.argv.push_back(cmdline.substr(from, end - from));
    from = end + 1;
  }
  r.cwd = readLink(dir + "/cwd");
  r.executable = readLink(dir + "/exe");
  return !r.argv.empty() && !r.cwd.empty() && getppid() == r.pid;
}

// Descriptors inherited from the recorder (its log, its lock file, sockets)
// must not stay open here after the recorder has gone.
void closeInheritedDescriptors() {
  std::vector<int> open;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d)) {
      int fd = std::atoi(e->d_name);
      if (fd > STDERR_FILENO && fd != dirfd(d)) open.push_back(fd);
    }
    closedir(d);
  }
  for (int fd : open) close(fd);
}

// One line in the recorder's log format.
void logLine(const std::string& logPath, bool warning, const std::string& text) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  if (std::FILE* f = std::fopen(logPath.c_str(), "a")) {
    std::fprintf(f, "%s: %s%s\n", stamp, warning ? "Warning: " : "", text.c_str());
    std::fflush(f);
    std::fclose(f);
  }
}

int staleLimitSeconds() {
  const char* text = std::getenv("TAVEL_WATCHDOG_STALE_SECONDS");
  if (!text || !*text) return kDefaultStaleSeconds;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v <= 0 || v > INT_MAX) return kDefaultStaleSeconds;
  return static_cast<int>(v);
}

bool pollSaysDie(const std::string& pollPath) {
  std::string content;
  if (!readWholeFile(pollPath, content)) return false;
  while (!content.empty() && (content.back() == '\n' || content.back() == '\r' ||
                              content.back() == ' '))
    content.pop_back();
  return content == "die";
}

// Starts the recorder again; answers the new pid, or -1 with errno set.
pid_t restart(const Recorder& r, const std::string& outputPath) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -1;
  std::vector<char*> argv;
  for (const std::string& a : r.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    int e = errno;
    close(report[0]);
    close(report[1]);
    errno = e;
    return -1;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    close(report[0]);
    setsid();
    signal(SIGHUP, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    int in = open("/dev/null", O_RDONLY);
    int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in >= 0) dup2(in, STDIN_FILENO);
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
    }
    if (in > STDERR_FILENO) close(in);
    if (out > STDERR_FILENO) close(out);
    int error = 0;
    if (chdir(r.cwd.c_str()) != 0) {
      error = errno;
    } else {
      execvp(argv[0], argv.data());
      error = errno;
      if (!r.executable.empty()) {
        execv(r.executable.c_str(), argv.data());
        error = errno;
      }
    }
    ssize_t ignored = write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int error = 0;
  ssize_t got;
  while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (got > 0) {
    errno = error;
    return -1;
  }
  return pid;
}

}  // namespace

int main() {
  signal(SIGHUP, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  closeInheritedDescriptors();

  Recorder recorder;
  if (!recordParent(recorder)) {
    std::fprintf(stderr, "watchdog: no recorder to watch\n");
    return 1;
  }
  char cwd[PATH_MAX];
  const std::string base = getcwd(cwd, sizeof cwd) ? cwd : ".";
  const std::string pollPath = base + "/__poll";
  const std::string logPath = base + "/tavel.log";
  const std::string outputPath = base + "/watchdog.out";
  const int staleLimit = staleLimitSeconds();

  // Changes of the poll file are timed on the monotonic clock, so setting the
  // system time neither hides a hung recorder nor restarts a healthy one.
  timespec lastModified{};
  double lastChange = monotonicSeconds();
  for (;;) {
    sleepSeconds(1.0);
    // The recorder writes "die" before it ends: once it is seen gone, a "die"
    // it wrote is already in the file.
    bool runs = recorderRuns(recorder);
    if (pollSaysDie(pollPath)) return 0;
    struct stat st {};
    if (stat(pollPath.c_str(), &st) == 0 && (st.st_mtim.tv_sec != lastModified.tv_sec ||
                                             st.st_mtim.tv_nsec != lastModified.tv_nsec)) {
      lastModified = st.st_mtim;
      lastChange = monotonicSeconds();
    }
    bool stale = monotonicSeconds() - lastChange > staleLimit;
    if (!runs || stale) break;
  }

  if (recorderRuns(recorder)) kill(recorder.pid, SIGKILL);
  double giveUp = monotonicSeconds() + kGoneWaitSeconds;
  while (!recorderGone(recorder) && monotonicSeconds() < giveUp) sleepSeconds(0.05);

  logLine(logPath, true, "[WATCHDOG] The recorder stopped responding; restarting it.");
  pid_t pid = restart(recorder, outputPath);
  if (pid < 0) {
    logLine(logPath, true,
            std::string("[WATCHDOG] The recorder could not be restarted: ") + std::strerror(errno));
    return 1;
  }
  char text[96];
  std::snprintf(text, sizeof text, "[WATCHDOG] Recorder restarted (process %d).", static_cast<int>(pid));
  logLine(logPath, false, text);
  return 0;
}
