#include "pipeline/camera_container.h"

#include <map>
#include <mutex>

#include "core/language.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "pipeline/board.h"

namespace {

std::mutex& registryLock() {
  static std::mutex lock;
  return lock;
}

std::map<int, dvrCameraContainer::Factory>& registry() {
  static std::map<int, dvrCameraContainer::Factory> factories;
  return factories;
}

}  // namespace

dvrCameraContainer::~dvrCameraContainer() { deleteAllCameras(); }

void dvrCameraContainer::registerType(int code, Factory factory) {
  std::lock_guard<std::mutex> lock(registryLock());
  registry()[code] = std::move(factory);
}

void dvrCameraContainer::unregisterType(int code) {
  std::lock_guard<std::mutex> lock(registryLock());
  registry().erase(code);
}

bool dvrCameraContainer::addCamera(int type, int input, std::string_view name, dvrBoard* board) {
  Factory factory;
  if (type != 0 && type != dvrCAMERA_TYPE_NONE) {
    std::lock_guard<std::mutex> lock(registryLock());
    auto it = registry().find(type);
    if (it != registry().end()) factory = it->second;
  }
  std::unique_ptr<dvrCamera> camera = factory ? factory(board) : nullptr;
  if (!camera) {
    dvrLogMessage(dvrTr("[CAMERA] Unhandled camera type %d in dvrCameraContainer::addCamera!").c_str(),
                  type);
    return false;
  }
  if (!camera->attachInput(input)) {
    // Not yet named: its window was never opened.
    camera->settings().setInt("noclosewindow", 1);
    return false;
  }
  camera->setTypeCode(type);
  camera->setName(name);
  cameras_.push_back(std::move(camera));
  return true;
}

dvrCamera* dvrCameraContainer::findCamera(std::string_view text) const {
  for (const auto& camera : cameras_)
    if (std::string_view(camera->name()).find(text) != std::string_view::npos) return camera.get();
  return nullptr;
}

dvrCamera* dvrCameraContainer::findCameraByDeviceInput(int device, int input) const {
  for (const auto& camera : cameras_)
    if (camera->deviceNumber() == device && camera->input() == input) return camera.get();
  return nullptr;
}

std::vector<dvrCamera*> dvrCameraContainer::camerasOfBoard(const dvrBoard* board) const {
  std::vector<dvrCamera*> out;
  for (const auto& camera : cameras_)
    if (camera->board() == board) out.push_back(camera.get());
  return out;
}

bool dvrCameraContainer::deleteCamera(std::string_view name) {
  for (auto it = cameras_.begin(); it != cameras_.end(); ++it) {
    if (std::string_view((*it)->name()) == name) {
      // Out of the list first, so that nothing finds it while it goes.
      std::unique_ptr<dvrCamera> camera = std::move(*it);
      cameras_.erase(it);
      camera.reset();
      return true;
    }
  }
  return false;
}

bool dvrCameraContainer::deleteAllCameras() {
  bool any = !cameras_.empty();
  while (!cameras_.empty()) {
    std::unique_ptr<dvrCamera> camera = std::move(cameras_.back());
    cameras_.pop_back();
  }
  return any;
}

int dvrCameraContainer::deleteCamerasOf(const dvrBoard* board) {
  int deleted = 0;
  for (auto it = cameras_.begin(); it != cameras_.end();) {
    if ((*it)->board() == board) {
      std::unique_ptr<dvrCamera> camera = std::move(*it);
      it = cameras_.erase(it);
      ++deleted;
    } else {
      ++it;
    }
  }
  return deleted;
}

bool dvrCameraContainer::initAll() {
  for (const auto& camera : cameras_) {
    if (!camera->reinit()) {
      dvrLogMessage(dvrTr("Camera %s init failed!").c_str(), camera->name());
      return false;
    }
  }
  return true;
}

bool dvrCameraContainer::startAll() {
  for (const auto& camera : cameras_)
    if (!camera->start()) return false;
  return true;
}

bool dvrCameraContainer::stopAll() {
  for (const auto& camera : cameras_)
    if (!camera->stop()) return false;
  return true;
}

std::string dvrCameraContainer::settingsText() const {
  std::string out;
  for (const auto& camera : cameras_) {
    if (camera->settings().isNoSave() || !camera->board()) continue;
    out += dvrFormat("addcamera %s %d %s %d\n", camera->board()->name(), camera->input(),
                     camera->name(), camera->settings().getInt("framerate"));
    out += camera->settings().dump();
    out += "\n\n\n\n";
  }
  return out;
}
