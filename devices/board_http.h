// The "Network" board: no hardware of its own, eight camera inputs, each a
// network camera that delivers JPEG snapshots over HTTP (camera type 11).
//
// Threads: fetchImage runs on the capture thread of the camera it is given;
// it keeps no state of its own, so cameras fetch at the same time.
#pragma once

#include <string>

#include "pipeline/board.h"

class dvrCamera_network;

inline constexpr int dvrCAMERA_TYPE_NETWORK = 11;

class dvrBoard_http : public dvrBoard {
 public:
  // The largest snapshot body accepted.
  static constexpr std::size_t kMaxBodyBytes = 16u << 20;

  const char* typeName() override { return "Network"; }
  int cameraType(int) override { return dvrCAMERA_TYPE_NETWORK; }
  int inputCount() override { return 8; }
  bool open() override {
    open_ = true;
    return true;
  }
  bool isOpen() const { return open_; }

  // Fetches the URL, decodes the body as JPEG and copies the picture into the
  // camera's image buffer, holding the camera's image lock only for the copy.
  // True when the buffer holds a new picture. A picture of another size than
  // the buffer records that size as the camera's forced size and asks for a
  // restart (force_size and restartnow), answering false.
  bool fetchImage(const std::string& url, dvrCamera_network& camera);

 private:
  bool open_ = false;
};
