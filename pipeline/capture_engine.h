// The capture side of the core: the board container (and, with the camera
// kinds, the camera container) as the command interpreter reaches them.
// The core owns it; the application creates it at "Starting the core engine...".
//
// Threads: the command thread.
#pragma once

#include <string>
#include <string_view>

#include "core/engine.h"
#include "pipeline/board_container.h"
#include "pipeline/camera_container.h"

class dvrConsole;

class dvrCaptureEngine : public dvrCaptureSide {
 public:
  dvrCaptureEngine() = default;
  ~dvrCaptureEngine() override;

  dvrBoardContainer& boards() { return boards_; }
  dvrCameraContainer& cameras() { return cameras_; }

  dvrObject* findBoard(std::string_view name) override { return boards_.findBoard(name); }
  dvrObject* findCamera(std::string_view name) override;
  void initCameras() override { cameras_.initAll(); }
  bool openAndStartBoards() override { return boards_.openAndStartAll(); }
  void startCameras() override { cameras_.startAll(); }
  bool stopCameras() override { return cameras_.stopAll(); }
  void stopBoards() override { boards_.stopAll(); }
  bool deleteBoardAndCameras(std::string_view name) override;
  void deleteAllCameras() override { cameras_.deleteAllCameras(); }
  // The cameras go first: they hold their boards' inputs.
  bool deleteAllBoards() override;
  void tickBoards() override;
  // Stops, re-initialises and starts every camera whose "restartnow" is 1, then clears it.
  void restartFlaggedCameras() override;
  // "addcard <keyword> <name>", the board's settings, then three empty lines, per board.
  std::string boardSettingsText() override;
  std::string cameraSettingsText() override { return cameras_.settingsText(); }
  void shutdown() override;

 private:
  // Declared after the boards so that the cameras are destroyed first.
  dvrBoardContainer boards_;
  dvrCameraContainer cameras_;
};

// The capture engine of the process's core, or null.
dvrCaptureEngine* dvrCapture();

// Installs a capture engine in the process's core and binds AddCard,
// AddCamera, DelCamera, DelCameras and Dome.
void dvrStartCapturePipeline();
