#include "app/application.h"

#include <unistd.h>
#include <wx/image.h>
#include <wx/snglinst.h>
#include <wx/utils.h>

#include <cstdio>

#include "core/console.h"
#include "core/console_text.h"
#include "core/engine.h"
#include "core/global_settings.h"
#include "core/language.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/settings.h"
#include "core/sound.h"
#include "core/watchdog.h"
#include "devices/device_kinds.h"
#include "pipeline/capture_engine.h"
#include "pipeline/image.h"
#include "rules/rule_set.h"
#include "storage/drive_file.h"
#include "storage/file_system.h"
#include "storage/index_db.h"

#ifndef TAVEL_VERSION_TEXT
#define TAVEL_VERSION_TEXT "0.1"
#endif

const char* dvrVersionText() { return TAVEL_VERSION_TEXT; }

dvrApplication::dvrApplication() = default;

dvrApplication::~dvrApplication() = default;

bool dvrApplication::initialise(dvrStartupUi& ui, bool headless) {
  // 1. The base directory is the working directory; the console text starts empty.
  dvrLogClose();
  dvrConsoleTextClear();
  char cwd[4096];
  dvrSetBaseDirectory(getcwd(cwd, sizeof cwd) ? cwd : ".");

  // 2. The interface language, from the locale line of the settings file.
  dvrSwitchLanguage(dvrScanSettingsLanguage(dvrGetPath(dvrPATH_SETTINGS) + "/settings.tvl"));

  // 3. Directories.
  for (int key : {dvrPATH_LOG, dvrPATH_SETTINGS, dvrPATH_GALLERY, dvrPATH_LAYOUTS}) {
    std::string dir = dvrGetPath(key);
    if (!dvrMakeDirectory(dir))
      dvrLogMessage(dvrTr("Directory '%s' couldn't be created").c_str(), dir.c_str());
  }

  // 4. The log file.
  if (!dvrLogOpen(dvrGetPath(dvrPATH_LOG) + "/tavel.log"))
    dvrLogError("%s", dvrTr("Log file could not be opened!").c_str());
  dvrLogInstallToolkitTarget();

  // 5. One instance per user.
  instance_ = std::make_unique<wxSingleInstanceChecker>();
  if (instance_->Create("DVR-" + wxGetUserId()) && instance_->IsAnotherRunning()) {
    std::string text = dvrTr("Another program instance is already running, aborting.");
    ui.errorBox(text);
    dvrLogClose();
    instance_.reset();
    return false;
  }

  // 6. Image formats.
  wxInitAllImageHandlers();

  // 7. The joystick.
  ui.openInputDevices();

  // 8. The software watchdog thread, running until the shutdown.
  watchdog_ = std::make_unique<dvrOKThread>();
  watchdog_->start();
  dvrSetWatchdog(watchdog_.get());

  if (!startupSequence(ui, headless)) {
    // A fatal start-up error: shown to the user; the program ends.
    started_ = true;
    shutdown(ui);
    return false;
  }
  return true;
}

bool dvrApplication::startupSequence(dvrStartupUi& ui, bool headless) {
  dvrProcessObjects& p = dvrProcess();
  ui.beginProgress(dvrTr("Starting up..."));
  sound_ = dvrMakeAudioPlayer();
  p.sound = sound_.get();
  dvrInstallSignalHandlers();
  p.quitting = false;
  rules_ = std::make_unique<dvrRuleSet>();

  ui.progress(5, dvrTr("Starting console services..."));
  console_ = std::make_unique<dvrConsole>();
  p.console = console_.get();

  ui.progress(5, dvrTr("Starting the core engine..."));
  core_ = std::make_unique<dvrCore>();
  p.core = core_.get();
  dvrRegisterDeviceKinds();
  dvrStartCapturePipeline();
  rules_->install();

  ui.progress(5, dvrTr("Initializing default objects..."));
  globals_ = std::make_unique<dvrSettingSet>();
  p.globals = globals_.get();

  ui.progress(20, dvrTr("Initializing settings..."));
  dvrDeclareGlobalSettings(*globals_);

  // Without a drive file nothing is recorded, and no index is made either.
  const std::string driveFile = dvrGetPath(dvrPATH_SETTINGS) + "/tavel.drv";
  ui.progress(40, dvrTr("Starting database..."));
  if (dvrFileSize(driveFile)) {
    database_ = std::make_unique<dvrDB_sqlite>();
    dvrEnsureIndexSchema(*database_);
  }

  ui.progress(50, dvrTr("Starting filesystem..."));
  std::vector<dvrDrive> drives;
  switch (dvrReadDriveFile(driveFile, drives)) {
    case dvrDriveFileResult::missing:
      dvrLogMessage("%s", dvrTr("No filesystem found, working in passive mode.").c_str());
      ui.errorBox(dvrTr("No recordings space has been properly set up!Nothing will be recorded!"));
      break;
    case dvrDriveFileResult::corrupted: {
      const std::string text = dvrTr("File system configuration file is corrupted!");
      dvrLogError("%s", text.c_str());
      ui.errorBox(text);
      return false;
    }
    case dvrDriveFileResult::ok:
      store_ = std::make_unique<dvrFileSystem>(std::move(drives));
      store_->start();
      dvrSetFileSystem(store_.get());
      break;
  }
  dvrBuildColourTables();

  ui.progress(60, dvrTr("Starting capture..."));
  console_->execute("run settings.tvl");
  console_->execute("start");

  ui.progress(70, dvrTr("Starting user interface..."));
  ui.startInterface();
  int startmode = globals_->getInt("startmode");
  if (startmode == 0) console_->execute("openwindow live");
  if (startmode == 2) console_->execute("openwindow setup");

  ui.progress(90, dvrTr("Starting watchdog..."));
  const std::string watchdogProgram = dvrGetPath(dvrPATH_LOG) + "/watchdog";
  if (dvrStartWatchdogProgram(watchdogProgram) < 0)
    dvrLogMessage(dvrTr("[CORE] Watchdog program %s could not be started.").c_str(),
                  watchdogProgram.c_str());

  ui.progress(100, dvrTr("Ready."));
  ui.endProgress();

  if (globals_->getInt("firstrun") != 0 && !headless) ui.firstRunWizard();
  globals_->setInt("firstrun", 0);
  started_ = true;
  return true;
}

void dvrApplication::writePollDie() { dvrWritePollFile("die"); }

void dvrApplication::shutdown(dvrStartupUi& ui) {
  dvrProcessObjects& p = dvrProcess();
  if (started_) {
    p.quitting = true;
    p.shuttingDown = true;
    writePollDie();

    ui.beginProgress(dvrTr("Shutting down..."));
    ui.progress(10, dvrTr("Shutting down user interface..."));
    ui.progress(30, dvrTr("Shutting down capture..."));
    console_->execute("stop");
    ui.progress(40, dvrTr("Shutting down program core..."));
    p.core = nullptr;
    core_.reset();
    ui.progress(50, dvrTr("Shutting down file system..."));
    dvrSetFileSystem(nullptr);
    if (store_) store_->stop();
    store_.reset();
    database_.reset();
    ui.progress(60, dvrTr("Shutting console services..."));
    p.console = nullptr;
    console_.reset();
    ui.progress(65, dvrTr("Shutting down watchdog..."));
    dvrSetWatchdog(nullptr);
    if (watchdog_) watchdog_->stop();
    watchdog_.reset();
    ui.progress(70, dvrTr("Cleaning up..."));
    p.globals = nullptr;
    ui.progress(80, "");
    rules_.reset();
    ui.progress(90, "");
    globals_.reset();
    ui.endProgress();
    p.sound = nullptr;
    sound_.reset();
    started_ = false;
  }
  instance_.reset();
  dvrLogClose();
}
