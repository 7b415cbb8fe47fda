#include "pipeline/capture_engine.h"

#include "core/console.h"
#include "core/process.h"
#include "core/settings.h"
#include "core/text.h"

dvrCaptureEngine::~dvrCaptureEngine() { shutdown(); }

dvrObject* dvrCaptureEngine::findCamera(std::string_view name) { return cameras_.findCamera(name); }

bool dvrCaptureEngine::deleteBoardAndCameras(std::string_view name) {
  // The board that deleteBoard removes (the first whose name equals the name
  // without regard to case) loses its cameras first.
  for (const auto& board : boards_.boards()) {
    if (dvrEqualNoCase(board->name(), name)) {
      cameras_.deleteCamerasOf(board.get());
      return boards_.deleteBoard(name);
    }
  }
  return false;
}

bool dvrCaptureEngine::deleteAllBoards() {
  cameras_.deleteAllCameras();
  return boards_.deleteAllBoards();
}

void dvrCaptureEngine::restartFlaggedCameras() {
  for (const auto& camera : cameras_.cameras()) {
    if (camera->settings().getInt("restartnow") != 1) continue;
    camera->stop();
    camera->reinit();
    camera->start();
    camera->settings().setInt("restartnow", 0);
  }
}

void dvrCaptureEngine::tickBoards() {
  for (const auto& board : boards_.boards()) board->tick();
}

std::string dvrCaptureEngine::boardSettingsText() {
  std::string out;
  for (const auto& board : boards_.boards()) {
    out += "addcard " + board->keyword() + " " + board->name() + "\n";
    out += board->settings().dump();
    out += "\n\n\n\n";
  }
  return out;
}

void dvrCaptureEngine::shutdown() {
  cameras_.deleteAllCameras();
  boards_.deleteSingleInstanceBoards();
  boards_.deleteAllBoards();
}

dvrCaptureEngine* dvrCapture() {
  dvrCore* core = dvrProcess().core;
  return core ? dynamic_cast<dvrCaptureEngine*>(core->captureSide()) : nullptr;
}

void dvrStartCapturePipeline() {
  dvrCore* core = dvrProcess().core;
  dvrConsole* console = dvrProcess().console;
  if (!core) return;
  core->setCaptureSide(std::make_unique<dvrCaptureEngine>());
  if (!console) return;
  console->bind("AddCard", [](const dvrCommand& c, int) {
      dvrCaptureEngine* capture = dvrCapture();
      return capture && capture->boards().addBoard(c.param(1), c.param(2)) ? 1 : 0;
    });
    console->bind("AddCamera", [](const dvrCommand& c, int) {
      dvrCaptureEngine* capture = dvrCapture();
      dvrBoard* board = capture ? capture->boards().findBoard(c.param(1)) : nullptr;
      if (!board) return 0;
      // An optional fourth parameter (the type code of a saved camera) is not used:
      // the board decides the camera type of its input.
      int input = dvrParseInt(c.param(2));
      if (!capture->cameras().addCamera(board->cameraType(input), input, c.param(3), board)) return 0;
      dvrCore* core = dvrProcess().core;
      if (core && core->isStarted() && !board->camerasStartManually()) {
        dvrCamera* camera = capture->cameras().cameras().back().get();
        camera->reinit();
        camera->start();
      }
      return 1;
    });
    console->bind("DelCamera", [](const dvrCommand& c, int) {
      dvrCaptureEngine* capture = dvrCapture();
      return capture && capture->cameras().deleteCamera(c.param(1)) ? 1 : 0;
    });
    console->bind("DelCameras", [](const dvrCommand&, int) {
      dvrCaptureEngine* capture = dvrCapture();
      return capture && capture->cameras().deleteAllCameras() ? 1 : 0;
    });
    console->bind("Dome", [](const dvrCommand& c, int) {
      dvrCaptureEngine* capture = dvrCapture();
      dvrCamera* camera = capture ? capture->cameras().findCamera(c.param(1)) : nullptr;
      return camera && camera->domeCommand(c) ? 1 : 0;
    });
}
