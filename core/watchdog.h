// The software watchdog: a thread that watches a table of modules (capture
// threads, the page-file writer, the automatic-reboot timer). Each module
// reports that it is alive; one silent past its time-out counts as failed.
// While all are alive the thread refreshes the poll file ("$/__poll") every
// 900 ms for the external watchdog program; after a failure it stops
// refreshing it and, with the global "swwatchdog" on, logs "Failure detected
// (module %s)! Waiting for restart...", waits 5 s and ends the process at once.
//
// Threads: addModule/alive/removeModule from any thread (one lock); the loop
// runs on its own thread from initialisation until the shutdown step
// "Shutting down watchdog...".
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/text.h"

// The key of the automatic-reboot entry.
inline constexpr std::uint64_t dvrWATCHDOG_AUTOREBOOT = 31399;

class dvrOKThread {
 public:
  // What the thread takes from its surroundings; tests replace each of them.
  struct Environment {
    std::function<std::int64_t()> now;                 // seconds
    std::function<void(int milliseconds)> sleep;       // a plain wait
    std::function<void()> killProcess;                 // ends the process at once
    std::function<bool()> restartOnFailure;            // the global swwatchdog
    std::function<void()> touchPollFile;               // creates or empties the poll file
  };
  // The real clock (monotonic, so that setting the system time makes no module
  // fail), sleeping, SIGKILL of the own process, the global "swwatchdog" (off
  // while there are no global settings) and the poll file. Once the shutdown has
  // begun the poll file is no longer emptied: it holds "die" for the external
  // watchdog by then.
  static Environment systemEnvironment();

  explicit dvrOKThread(Environment env = systemEnvironment());
  // Stops the thread if it runs.
  ~dvrOKThread();

  // start() runs the loop on a new thread (nothing when it runs already);
  // stop() wakes it from its wait and joins it, so it returns at once unless a
  // failure is being handled.
  void start();
  void stop();

  void addModule(std::uint64_t key, int timeoutSeconds, std::string_view name);
  void alive(std::uint64_t key);
  void removeModule(std::uint64_t key);
  std::size_t moduleCount() const;

  // One pass of the loop without the 900 ms wait: find the failing modules,
  // then refresh the poll file or handle the failure. The thread calls it, and
  // tests call it directly. Answers whether all modules were alive.
  bool check();

  // The key of the calling thread, for modules that are threads; never
  // dvrWATCHDOG_AUTOREBOOT.
  static std::uint64_t threadKey();

 private:
  struct Module {
    std::uint64_t key;
    std::int64_t lastAlive;
    int timeout;
    dvrText<63> name;
  };
  void run();

  Environment env_;
  mutable std::mutex lock_;
  std::vector<Module> modules_;  // guarded by lock_
  std::mutex stopLock_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;  // guarded by stopLock_
  std::thread thread_;
};

// The process's watchdog thread, or null.
dvrOKThread* dvrWatchdog();
void dvrSetWatchdog(dvrOKThread* watchdog);

// The automatic-reboot entry as the global handlers of "autoreboot" and
// "autorebootdelay" drive it: removed, then added with days x 86400 seconds
// and the name "Automatic reboot!" when on.
void dvrArmAutomaticReboot(bool on, int days);

// Starts the external watchdog program (no arguments, standard input from
// /dev/null, the calling process's working directory and environment) without
// waiting for it; a thread of this process reaps it when it ends, so it never
// stays a zombie. Answers its process id, or -1 when it could not be started.
int dvrStartWatchdogProgram(const std::string& path);

// Replaces the content of the poll file with text, under the lock that the
// system environment's refresh takes: the shutdown writes "die" through it, so
// a refresh on the watchdog thread can never empty the file after that.
void dvrWritePollFile(std::string_view text);
