// The cameras of the recorder, in the order they were added, created from
// the camera type code that a board reports for an input.
//
// The camera kinds register a factory for their type code at start-up, as the
// board kinds do for their keyword; a code without a factory (and the codes
// of boards without cameras, 0 and 99) is not handled.
//
// The rule set's view of the cameras (motion state and signal by camera
// name) belongs to the rule library above this one; an adapter there can
// answer it from findCamera, statistics().motionRecording and the board's
// hasSignal for the camera's input.
//
// Threads: the command thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/camera.h"

class dvrCameraContainer {
 public:
  using Factory = std::function<std::unique_ptr<dvrCamera>(dvrBoard* board)>;

  dvrCameraContainer() = default;
  ~dvrCameraContainer();

  static void registerType(int code, Factory factory);
  static void unregisterType(int code);

  // Creates the camera of the type, claims the input, names and appends it.
  bool addCamera(int type, int input, std::string_view name, dvrBoard* board);
  // The first camera whose name contains the text (case-sensitive), or null.
  dvrCamera* findCamera(std::string_view text) const;
  dvrCamera* findCameraByDeviceInput(int device, int input) const;
  const std::vector<std::unique_ptr<dvrCamera>>& cameras() const { return cameras_; }
  std::vector<dvrCamera*> camerasOfBoard(const dvrBoard* board) const;
  // Deletes the first camera whose name equals the name exactly.
  bool deleteCamera(std::string_view name);
  // True if any was deleted.
  bool deleteAllCameras();
  // Deletes the cameras of a board; answers how many.
  int deleteCamerasOf(const dvrBoard* board);
  // reinit on each camera; false (logged) at the first failure.
  bool initAll();
  bool startAll();
  bool stopAll();
  // "addcamera <board> <input> <name> <type>", the camera's settings, three
  // empty lines, per camera with a board whose set is saved.
  std::string settingsText() const;

 private:
  std::vector<std::unique_ptr<dvrCamera>> cameras_;
};
