#include "rules/rule_cameras.h"

#include "pipeline/board.h"
#include "pipeline/camera.h"
#include "pipeline/camera_container.h"
#include "pipeline/capture_engine.h"

namespace {

class CaptureCameras : public dvrRuleCameras {
 public:
  int motion(std::string_view name) override {
    dvrCamera* camera = find(name);
    if (!camera) return -1;
    return camera->statistics().motionRecording != 0 ? 1 : 0;
  }
  int signalLost(std::string_view name) override {
    dvrCamera* camera = find(name);
    if (!camera || !camera->board()) return -1;
    return camera->board()->hasSignal(camera->input()) ? 0 : 1;
  }

 private:
  static dvrCamera* find(std::string_view name) {
    dvrCaptureEngine* capture = dvrCapture();
    return capture ? capture->cameras().findCamera(name) : nullptr;
  }
};

}  // namespace

dvrRuleCameras& dvrCaptureCameras() {
  static CaptureCameras cameras;
  return cameras;
}
