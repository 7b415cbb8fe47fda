#include "ui/interface.h"

#include <wx/app.h>
#include <wx/utils.h>

#include "core/console.h"
#include "core/language.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/text.h"
#include "core/users.h"
#include "ui/console_window.h"
#include "ui/login_dialog.h"
#include "ui/main_window.h"

namespace {

dvrInterface* g_interface = nullptr;
bool g_recreating = false;

constexpr const char* kProduct = "Tavel DVR";

// Windows whose parts of the program are not built into this version.
void notAvailable(std::string_view name) {
  dvrLogMessage(dvrTr("[CORE] Window '%s' is not available in this version.").c_str(),
                std::string(name).c_str());
}

}  // namespace

dvrInterface* dvrInterface::instance() { return g_interface; }
bool dvrInterface::recreating() { return g_recreating; }

dvrInterface::dvrInterface() {
  g_interface = this;
  dvrConsole* console = dvrProcess().console;
  if (console) {
    console->bind("OpenWindow", [](const dvrCommand& c, int) {
      return g_interface ? g_interface->openWindow(c) : 0;
    });
    console->bind("CloseWindow", [](const dvrCommand& c, int) {
      return g_interface ? g_interface->closeWindow(c) : 0;
    });
    console->bind("ReOpenWindow", [](const dvrCommand& c, int) {
      return g_interface ? g_interface->reopenWindows(c) : 0;
    });
    console->bind("EnlargeWindow", [](const dvrCommand& c, int) {
      std::printf("suurennetaan %d...\n", dvrParseInt(c.param(1)));
      std::fflush(stdout);
      return 0;  // the live window does the enlarging
    });
    console->bind("DeEnlargeWindow", [](const dvrCommand&, int) { return 0; });
    console->bind("Beep", [](const dvrCommand&, int) {
      wxBell();
      return 1;
    });
  }
  dvrSetLoginPrompt([](void* parent, std::string_view key) {
    return dvrShowLoginPrompt(static_cast<wxWindow*>(parent), std::string(key));
  });
  dvrSetLoginChanged([] {
    if (g_interface && g_interface->main_) g_interface->main_->loginChanged();
  });
  main_ = new dvrMainWindow;
  dvrLogMessage(dvrTr("%s (%s) started.").c_str(), kProduct, TAVEL_VERSION_TEXT);
}

dvrInterface::~dvrInterface() {
  dvrLogMessage("%s", dvrTr("Exiting.").c_str());
  dvrSetLoginPrompt(nullptr);
  dvrSetLoginChanged(nullptr);
  // Remote list, viewer, main window, console, setup window, live window.
  if (main_) main_->Destroy();
  if (console_) console_->Destroy();
  // Any other top-level window (dialogs left open, help frames) goes too.
  for (wxWindow* w : wxTopLevelWindows) w->Destroy();
  main_ = nullptr;
  console_ = nullptr;
  g_interface = nullptr;
}

void dvrInterface::windowDestroyed(wxWindow* window) {
  if (window == main_) main_ = nullptr;
  if (window == console_) console_ = nullptr;
}

int dvrInterface::openWindow(const dvrCommand& c) {
  if (dvrProcess().quitting) return 0;
  std::string_view name = c.param(1);
  if (dvrEqualNoCase(name, "main")) {
    if (main_) {
      main_->Iconize(false);
      main_->Raise();
    }
    return 1;
  }
  if (dvrEqualNoCase(name, "console")) {
    openConsole();
    return 1;
  }
  if (dvrEqualNoCase(name, "gallery")) {
    openGallery();
    return 1;
  }
  if (dvrEqualNoCase(name, "setup") || dvrEqualNoCase(name, "live") ||
      dvrEqualNoCase(name, "viewer") || dvrEqualNoCase(name, "remotelist") ||
      dvrEqualNoCase(name, "camera") || dvrEqualNoCase(name, "viewercamera")) {
    notAvailable(name);
    return 0;
  }
  return 1;  // names outside the table do nothing and report success
}

int dvrInterface::closeWindow(const dvrCommand& c) {
  std::string_view name = c.param(1);
  if (dvrEqualNoCase(name, "camera") || dvrEqualNoCase(name, "live") ||
      dvrEqualNoCase(name, "viewer")) {
    notAvailable(name);
    return 0;
  }
  return 1;
}

int dvrInterface::reopenWindows(const dvrCommand& c) {
  if (c.param(1) != "*") return 0;
  g_recreating = true;
  if (main_) {
    main_->Destroy();
    main_ = new dvrMainWindow;
  }
  g_recreating = false;
  return 1;
}

void dvrInterface::openConsole() {
  if (!console_) console_ = new dvrConsoleWindow;
  console_->Iconize(false);
  console_->Raise();
  console_->SetFocus();
}

void dvrInterface::openGallery() {
  // The system's file browser on the gallery directory; not waited for.
  wxLaunchDefaultApplication(wxString::FromUTF8(dvrGetPath(dvrPATH_GALLERY)));
}

void dvrInterface::refreshWindows() {
  if (console_) console_->periodicUpdate();
  if (main_) main_->refreshStatus();
}

void dvrInterface::update(dvrNotifier* notifier, std::uint32_t codes) {
  dvrObserver::update(notifier, codes);
}

void dvrBindHeadlessWindowCommands() {
  dvrConsole* console = dvrProcess().console;
  if (!console) return;
  for (const char* word :
       {"OpenWindow", "CloseWindow", "ReOpenWindow", "EnlargeWindow", "DeEnlargeWindow", "Help"}) {
    console->bind(word, [word](const dvrCommand& c, int) {
      std::string what(c.param(1));
      for (int n = 2; n <= c.count; ++n) what += " " + std::string(c.param(n));
      dvrLogMessage(dvrTr("[CORE] No display available: %s %s ignored.").c_str(), word, what.c_str());
      return 0;
    });
  }
}
