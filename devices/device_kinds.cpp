#include "devices/device_kinds.h"

#include <memory>

#include "devices/board_http.h"
#include "devices/camera_network.h"
#include "devices/http_fetch.h"
#include "devices/jpeg_picture.h"
#include "pipeline/board_container.h"
#include "pipeline/camera_container.h"

void dvrRegisterDeviceKinds() {
  dvrHttpGlobalInit();
  dvrRegisterJpegDecoder();
  dvrBoardContainer::registerType("Network", [] { return std::make_unique<dvrBoard_http>(); });
  dvrCameraContainer::registerType(dvrCAMERA_TYPE_NETWORK,
                                   [](dvrBoard* board) { return std::make_unique<dvrCamera_network>(board); });
}

void dvrUnregisterDeviceKinds() {
  dvrBoardContainer::unregisterType("Network");
  dvrCameraContainer::unregisterType(dvrCAMERA_TYPE_NETWORK);
}
