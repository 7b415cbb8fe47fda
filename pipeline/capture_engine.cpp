#include "pipeline/capture_engine.h"

#include "core/console.h"
#include "core/process.h"
#include "core/settings.h"

dvrCaptureEngine::~dvrCaptureEngine() { shutdown(); }

dvrObject* dvrCaptureEngine::findCamera(std::string_view) { return nullptr; }

bool dvrCaptureEngine::deleteBoardAndCameras(std::string_view name) {
  // The board's cameras go first (found by substring, as commands find
  // boards); the board itself is deleted by its exact name.
  if (!boards_.findBoard(name)) return false;
  return boards_.deleteBoard(name);
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
  if (console)
    console->bind("AddCard", [](const dvrCommand& c, int) {
      dvrCaptureEngine* capture = dvrCapture();
      return capture && capture->boards().addBoard(c.param(1), c.param(2)) ? 1 : 0;
    });
}
