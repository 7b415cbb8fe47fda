#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "app/application.h"

namespace {

volatile std::sig_atomic_t g_signalled = 0;
int g_pipe[2] = {-1, -1};

extern "C" void onQuitSignal(int) {
  g_signalled = 1;
  if (g_pipe[1] >= 0) {
    char byte = 'q';
    ssize_t ignored = write(g_pipe[1], &byte, 1);
    (void)ignored;
  }
}

}  // namespace

void dvrInstallSignalHandlers() {
  if (g_pipe[0] < 0 && pipe(g_pipe) == 0) {
    for (int fd : g_pipe) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  struct sigaction sa {};
  sa.sa_handler = onQuitSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool dvrTakeQuitSignal() {
  if (!g_signalled) return false;
  g_signalled = 0;
  char buf[64];
  while (g_pipe[0] >= 0 && read(g_pipe[0], buf, sizeof buf) > 0) {
  }
  return true;
}

int dvrSignalWakeDescriptor() { return g_pipe[0]; }
