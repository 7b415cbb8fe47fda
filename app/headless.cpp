#include "app/headless.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/application.h"
#include "app/line_reader.h"
#include "core/console.h"
#include "core/language.h"
#include "core/log.h"
#include "core/process.h"
#include "core/run_statistics.h"
#include "ui/interface.h"

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
  void startInterface() override {
    // No windows: the window commands only say that no display is available.
    dvrBindHeadlessWindowCommands();
    dvrLogMessage(dvrTr("%s (%s) started.").c_str(), dvrPRODUCT, dvrVersionText());
  }
  void firstRunWizard() override {}
};

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
  dvrLineReader input(STDIN_FILENO);
  auto execute = [&running](const std::string& line) {
    if (running) dvrProcess().console->execute(line);
  };

  while (running) {
    auto now = clock::now();
    int timeout = 0;
    if (nextTick > now)
      timeout = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now).count()) + 1;
    pollfd fds[2];
    int n = 0;
    fds[n++] = {dvrSignalWakeDescriptor(), POLLIN, 0};
    if (input.open()) fds[n++] = {input.fd(), POLLIN, 0};
    poll(fds, static_cast<nfds_t>(n), timeout);

    if (dvrTakeQuitSignal()) {
      dvrProcess().console->execute("quit");
      continue;
    }
    if (n > 1 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) input.readAvailable(execute);
    if (running && clock::now() >= nextTick) {
      dvrCountHeartbeat(clock::now() - nextTick);
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
