// What the rules need of the cameras.
//
// dvrCaptureCameras() answers it from the cameras of the process's capture
// engine; the rule set takes that one when it is installed, and tests hand it
// fakes (dvrRuleSet::setCameras). Without one every camera condition is false.
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

// The cameras of the process's capture engine, found by name as commands find
// them: motion is the camera's motion-recording state, signal the answer of
// its board for its input.
dvrRuleCameras& dvrCaptureCameras();
