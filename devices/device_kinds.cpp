#include "devices/device_kinds.h"

#include <memory>

#include "devices/board_brisa.h"
#include "devices/board_http.h"
#include "devices/camera_brisa.h"
#include "devices/camera_network.h"
#include "devices/http_fetch.h"
#include "devices/jpeg_picture.h"
#include "pipeline/board_container.h"
#include "pipeline/camera_container.h"
#include "platform/cat3di/cat3di.h"
#include "core/paths.h"

void dvrRegisterDeviceKinds() {
  // The simulated capture boards keep their control folders under "sim/".
  CAT3DI_SimSetControlRoot((dvrBaseDirectory() + "/sim").c_str());
  dvrHttpGlobalInit();
  dvrRegisterJpegDecoder();
  dvrBoardContainer::registerType("Network", [] { return std::make_unique<dvrBoard_http>(); });
  dvrBoardContainer::registerType("brisa", [] { return std::make_unique<dvrBoard_brisa>(); });
  dvrCameraContainer::registerType(dvrCAMERA_TYPE_BRISA,
                                   [](dvrBoard* board) { return std::make_unique<dvrCamera_brisa>(board); });
  dvrCameraContainer::registerType(dvrCAMERA_TYPE_NETWORK,
                                   [](dvrBoard* board) { return std::make_unique<dvrCamera_network>(board); });
}

void dvrUnregisterDeviceKinds() {
  dvrBoardContainer::unregisterType("Network");
  dvrBoardContainer::unregisterType("brisa");
  dvrCameraContainer::unregisterType(dvrCAMERA_TYPE_BRISA);
  dvrCameraContainer::unregisterType(dvrCAMERA_TYPE_NETWORK);
}
