#include "core/engine.h"

#include "core/process.h"
#include "core/settings.h"
#include "core/users.h"

dvrCore::dvrCore() : users_(std::make_unique<dvrUserList>()) {}

dvrCore::~dvrCore() {
  if (started_) stop();
  if (capture_) capture_->shutdown();
  capture_.reset();
  users_.reset();
}

bool dvrCore::start() {
  if (capture_) {
    capture_->initCameras();
    if (!capture_->openAndStartBoards()) return false;
  }
  started_ = true;
  if (capture_) capture_->startCameras();
  return true;
}

bool dvrCore::stop() {
  if (capture_ && !capture_->stopCameras()) return false;
  started_ = false;
  if (capture_) capture_->stopBoards();
  return true;
}

bool dvrCore::deleteBoard(std::string_view name) {
  bool wasStarted = started_;
  if (wasStarted) stop();
  bool deleted = capture_ && capture_->deleteBoardAndCameras(name);
  if (wasStarted) start();
  return deleted;
}

bool dvrCore::deleteAllBoards() {
  if (!capture_) return true;
  capture_->deleteAllCameras();
  return capture_->deleteAllBoards();
}

void dvrCore::refresh() {
  if (capture_) capture_->tickBoards();
  if (dvrSettingSet* globals = dvrProcess().globals) {
    int tooltips = globals->getInt("tooltips_enabled");
    if (tooltips != lastTooltips_) {
      lastTooltips_ = tooltips;
      if (dvrProcess().onTooltips) dvrProcess().onTooltips(tooltips == 1);
    }
  }
  if (capture_) capture_->restartFlaggedCameras();
  if (rules_) rules_->evaluate(lastRuleValues_);
}
