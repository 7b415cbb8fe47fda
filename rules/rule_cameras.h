// What the rules need of the cameras.
//
// The cameras live in a library above this one; the camera container
// implements this interface and hands it to the rule set at start-up
// (dvrRuleSet::setCameras). Without it every camera condition is false.
//
// Threads: called by whichever thread evaluates a rule (the main thread in
// Refresh, the capture threads for recording), with the rule set's lock held.
// Implementations only read state that their own threads keep current.
#pragma once

#include <string_view>

class dvrRuleCameras {
 public:
  virtual ~dvrRuleCameras() = default;
  // The motion-recording state of the camera with this object name:
  // 1 while it records by motion, 0 when not, -1 when there is no such camera.
  virtual int motion(std::string_view camera) = 0;
  // Whether the camera's device reports no signal on the camera's input:
  // 1 lost, 0 present, -1 when there is no such camera or it has no device.
  virtual int signalLost(std::string_view camera) = 0;
};
