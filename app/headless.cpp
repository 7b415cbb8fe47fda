#include "app/headless.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/application.h"
#include "core/console.h"
#include "core/language.h"
#include "core/log.h"
#include "core/process.h"

namespace {

// Message boxes become log lines and lines on standard error; progress is
// written to the log in verbose mode only.
class HeadlessUi : public dvrStartupUi {
 public:
  void beginProgress(const std::string& message) override { dvrLogVerbose("%s", message.c_str()); }
  void progress(int, const std::string& message) override {
    if (!message.empty()) dvrLogVerbose("%s", message.c_str());
  }
  void endProgress() override {}
  void errorBox(const std::string& text) override {
    dvrLogError("%s", text.c_str());
    if (dvrLogIsOpen()) std::fprintf(stderr, "%s: %s\n", dvrPRODUCT, text.c_str());
  }
  void firstRunWizard() override {}
};

// Longest line kept from standard input; the interpreter cuts further anyway.
constexpr std::size_t kMaxInputLine = 4096;

}  // namespace

int dvrRunHeadless() {
  HeadlessUi ui;
  dvrApplication app;
  if (!app.initialise(ui, true)) return 1;

  bool running = true;
  dvrProcess().onQuit = [&running] { running = false; };
  dvrLogMessage("%s", dvrTr("Running without display; commands are read from standard input.").c_str());

  using clock = std::chrono::steady_clock;
  constexpr auto kTick = std::chrono::milliseconds(20);
  auto nextTick = clock::now() + kTick;
  bool inputOpen = true;
  std::string pending;
  bool discarding = false;  // the rest of an over-long line is being skipped

  while (running) {
    auto now = clock::now();
    int timeout = 0;
    if (nextTick > now)
      timeout = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now).count()) + 1;
    pollfd fds[2];
    int n = 0;
    fds[n++] = {dvrSignalWakeDescriptor(), POLLIN, 0};
    if (inputOpen) fds[n++] = {STDIN_FILENO, POLLIN, 0};
    poll(fds, static_cast<nfds_t>(n), timeout);

    if (dvrTakeQuitSignal()) {
      dvrProcess().console->execute("quit");
      continue;
    }
    if (inputOpen && n > 1 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      char buf[4096];
      ssize_t got = read(STDIN_FILENO, buf, sizeof buf);
      if (got <= 0) {
        inputOpen = false;
      } else {
        for (ssize_t i = 0; i < got && running; ++i) {
          char c = buf[i];
          if (c == '\n') {
            if (!pending.empty() && pending.back() == '\r') pending.pop_back();
            dvrProcess().console->execute(pending);
            pending.clear();
            discarding = false;
          } else if (!discarding) {
            pending += c;
            if (pending.size() >= kMaxInputLine) discarding = true;
          }
        }
      }
    }
    if (running && clock::now() >= nextTick) {
      dvrProcess().console->execute("refresh");
      nextTick += kTick;
      if (nextTick < clock::now()) nextTick = clock::now() + kTick;
    }
  }
  dvrLogMessage("%s", dvrTr("Exiting.").c_str());
  dvrProcess().onQuit = nullptr;
  app.shutdown(ui);
  return 0;
}
