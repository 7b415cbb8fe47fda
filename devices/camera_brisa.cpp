#include "devices/camera_brisa.h"

#include "core/command.h"
#include "core/language.h"
#include "core/settings.h"
#include "core/text.h"
#include "devices/board_brisa.h"
#include "pipeline/image.h"

using namespace dvrType;
using namespace dvrFlag;

dvrCamera_brisa::dvrCamera_brisa(dvrBoard* board) : dvrCamera(board) {
  dvrSettingSet& s = settings();
  const bool pal = isPal();
  declareResolution();
  for (int index = 0; index <= 12; ++index) {
    const dvrBrisaPictureSize size = dvrBrisaResolution(index, pal);
    addResolution(size.width, size.height);
  }
  s.addChoice(pal ? "704 x 576 (4CIF)" : "704 x 480 (4CIF)", 2);
  s.addChoice(pal ? "704 x 288 (2CIF)" : "704 x 240 (2CIF)", 5);
  s.addChoice(pal ? "352 x 288 (CIF)" : "352 x 240 (CIF)", 8);
  s.setInt("resolution", 8);
  declareFormat();
  s.addChoice("UYVY", dvrFORMAT_UYVY);
  addFormat(dvrFORMAT_UYVY);
  s.setInt("format", dvrFORMAT_UYVY);
  s.declare("noswitch", dvrTr("No switching"), CHECK, INT);
  s.declare("framesleft", dvrTr("Frames left on Brisa"),
            dvrTr("This counter shows how many frames are still available for use in this camera group."), TEXT,
            NOSAVE | STRING | READONLY);
  for (const char* key : {"brightness", "contrast", "sharpness", "color", "hue"}) s.setInt(key, 128);
}

dvrCamera_brisa::~dvrCamera_brisa() { stop(); }

void dvrCamera_brisa::onStart() {
  dvrSettingSet& s = settings();
  setBrightness(s.getInt("brightness"));
  setContrast(s.getInt("contrast"));
  setSharpness(s.getInt("sharpness"));
  setColor(s.getInt("color"));
  setResolution(s.getInt("resolution"));
}

int dvrCamera_brisa::applySetting(const dvrCommand& command, int flag) {
  const std::string_view key = command.param(3);
  auto* brisa = dynamic_cast<dvrBoard_brisa*>(board());
  if (brisa && dvrEqualNoCase(key, "noswitch")) brisa->setNoSwitch(input(), dvrParseInt(command.param(5)) != 0);
  const int result = dvrCamera::applySetting(command, flag);
  if (brisa && dvrEqualNoCase(key, "framerate")) brisa->refreshFramesLeft();
  return result;
}
