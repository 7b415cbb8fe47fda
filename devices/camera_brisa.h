// An analog camera on an input of a capture board (camera type 2): UYVY
// pictures in the board's resolutions, the frame rate granted by the board's
// budget, and the monitor's "noswitch" for its input.
//
// Threads: as every camera (settings on the command thread, grabs on the
// capture thread).
#pragma once

#include "pipeline/camera.h"

class dvrCamera_brisa : public dvrCamera {
 public:
  explicit dvrCamera_brisa(dvrBoard* board);
  ~dvrCamera_brisa() override;

  int applySetting(const dvrCommand& command, int flag) override;
  void onStart() override;
};
