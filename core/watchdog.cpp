#include "core/watchdog.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <limits>

#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/settings.h"

namespace {

constexpr int kLoopMilliseconds = 900;
constexpr int kGraceMilliseconds = 5000;
constexpr std::int64_t kSecondsPerDay = 86400;

std::atomic<dvrOKThread*> g_watchdog{nullptr};

// Serialises every write of the poll file within the process.
std::mutex g_pollFileLock;

void writePollFileLocked(std::string_view text) {
  if (std::FILE* f = std::fopen(dvrGetPath(dvrPATH_POLL).c_str(), "w")) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

}  // namespace

dvrOKThread::Environment dvrOKThread::systemEnvironment() {
  Environment env;
  env.now = [] {
    return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
  };
  env.sleep = [](int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  };
  env.killProcess = [] { kill(getpid(), SIGKILL); };
  env.restartOnFailure = [] {
    dvrSettingSet* g = dvrProcess().globals;
    return g && g->getInt("swwatchdog") != 0;
  };
  env.touchPollFile = [] {
    std::lock_guard<std::mutex> lock(g_pollFileLock);
    if (dvrProcess().shuttingDown) return;
    writePollFileLocked("");
  };
  return env;
}

dvrOKThread::dvrOKThread(Environment env) : env_(std::move(env)) {}

dvrOKThread::~dvrOKThread() { stop(); }

void dvrOKThread::start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(stopLock_);
    stopping_ = false;
  }
  thread_ = std::thread([this] { run(); });
}

void dvrOKThread::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(stopLock_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  thread_.join();
}

void dvrOKThread::run() {
  for (;;) {
    check();
    std::unique_lock<std::mutex> lock(stopLock_);
    if (stopSignal_.wait_for(lock, std::chrono::milliseconds(kLoopMilliseconds),
                             [this] { return stopping_; }))
      return;
  }
}

void dvrOKThread::addModule(std::uint64_t key, int timeoutSeconds, std::string_view name) {
  std::int64_t now = env_.now();
  std::lock_guard<std::mutex> lock(lock_);
  modules_.push_back(Module{key, now, timeoutSeconds, dvrText<63>(name)});
}

void dvrOKThread::alive(std::uint64_t key) {
  std::int64_t now = env_.now();
  std::lock_guard<std::mutex> lock(lock_);
  for (Module& m : modules_) {
    if (m.key == key) {
      m.lastAlive = now;
      return;
    }
  }
}

void dvrOKThread::removeModule(std::uint64_t key) {
  std::lock_guard<std::mutex> lock(lock_);
  for (auto it = modules_.begin(); it != modules_.end(); ++it) {
    if (it->key == key) {
      modules_.erase(it);
      return;
    }
  }
}

std::size_t dvrOKThread::moduleCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return modules_.size();
}

bool dvrOKThread::check() {
  std::int64_t now = env_.now();
  dvrText<63> failing("unknown!");
  bool failed = false;
  {
    std::lock_guard<std::mutex> lock(lock_);
    for (const Module& m : modules_) {
      if (now - m.lastAlive >= m.timeout) {
        failing = m.name.view();
        failed = true;
      }
    }
  }
  if (!failed) {
    env_.touchPollFile();
    return true;
  }
  if (env_.restartOnFailure()) {
    dvrLogWarning("Failure detected (module %s)! Waiting for restart...", failing.c_str());
    env_.sleep(kGraceMilliseconds);
    env_.killProcess();
  }
  return false;
}

std::uint64_t dvrOKThread::threadKey() {
  // The thread's handle is the address of its control block, so it can never
  // be the small constant of the automatic-reboot entry.
  return static_cast<std::uint64_t>(pthread_self());
}

dvrOKThread* dvrWatchdog() { return g_watchdog.load(); }

void dvrSetWatchdog(dvrOKThread* watchdog) { g_watchdog.store(watchdog); }

void dvrArmAutomaticReboot(bool on, int days) {
  dvrOKThread* w = dvrWatchdog();
  if (!w) return;
  w->removeModule(dvrWATCHDOG_AUTOREBOOT);
  if (!on) return;
  // A delay typed far past the slider's range must not overflow the time-out.
  std::int64_t seconds = static_cast<std::int64_t>(days) * kSecondsPerDay;
  if (seconds > std::numeric_limits<int>::max()) seconds = std::numeric_limits<int>::max();
  if (seconds < std::numeric_limits<int>::min()) seconds = std::numeric_limits<int>::min();
  w->addModule(dvrWATCHDOG_AUTOREBOOT, static_cast<int>(seconds), "Automatic reboot!");
}

int dvrStartWatchdogProgram(const std::string& path) {
  posix_spawn_file_actions_t files;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_init(&attributes);
  // The program starts with no signal blocked, whatever this thread blocks.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::string program = path;
  char* argv[] = {program.data(), nullptr};
  pid_t pid = -1;
  int error = posix_spawn(&pid, program.c_str(), &files, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&files);
  if (error != 0) return -1;
  // The program records this process as the one it watches, so it must stay
  // a direct child; waiting on its own pid leaves every other child alone.
  std::thread([pid] {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return static_cast<int>(pid);
}

void dvrWritePollFile(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_pollFileLock);
  writePollFileLocked(text);
}
