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

class dvrConsole;

class dvrCaptureEngine : public dvrCaptureSide {
 public:
  dvrCaptureEngine() = default;
  ~dvrCaptureEngine() override;

  dvrBoardContainer& boards() { return boards_; }

  dvrObject* findBoard(std::string_view name) override { return boards_.findBoard(name); }
  dvrObject* findCamera(std::string_view name) override;
  void initCameras() override {}
  bool openAndStartBoards() override { return boards_.openAndStartAll(); }
  void startCameras() override {}
  bool stopCameras() override { return true; }
  void stopBoards() override { boards_.stopAll(); }
  bool deleteBoardAndCameras(std::string_view name) override;
  void deleteAllCameras() override {}
  bool deleteAllBoards() override { return boards_.deleteAllBoards(); }
  void tickBoards() override;
  void restartFlaggedCameras() override {}
  // "addcard <keyword> <name>", the board's settings, then three empty lines, per board.
  std::string boardSettingsText() override;
  std::string cameraSettingsText() override { return ""; }
  void shutdown() override;

 private:
  dvrBoardContainer boards_;
};

// The capture engine of the process's core, or null.
dvrCaptureEngine* dvrCapture();

// Installs a capture engine in the process's core and binds AddCard.
void dvrStartCapturePipeline();
