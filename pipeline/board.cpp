#include "pipeline/board.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "core/command.h"
#include "core/language.h"
#include "core/paths.h"
#include "core/settings.h"
#include "pipeline/image.h"

using namespace dvrFlag;
using namespace dvrType;

namespace {

std::atomic<int> g_nextBoardId{0};


}  // namespace

void dvrBoard::resetIdCounter() { g_nextBoardId = 0; }

dvrBoard::dvrBoard() {
  dvrSettingSet& s = settings();
  s.setKind("board");
  s.setObjectName("temporary");
  id_ = g_nextBoardId++;
  s.declare("", dvrTr("Identification"), GROUP, ADVANCED);
  s.declare("ID", dvrTr("ID"),
            dvrTr("This number identifies the card. In case you have to redo these settings, make "
               "sure you give the same identifier."),
            SPIN, INT | ADVANCED, 0, 255);
  s.setInt("ID", id_);
  s.declare("", dvrTr("Common settings"), GROUP, ADVANCED);
  s.declare("videostd", dvrTr("Video standard"),
            dvrTr("In Europe, this is usually PAL.\nIn Northern America, and Japan, NTSC."), CHOICE,
            INT | SHOWTEXT | ADVANCED);
  s.addChoice(dvrTr("NTSC"), 0);
  s.addChoice(dvrTr("PAL"), 1);
  s.setInt("videostd", 1);
  s.declare("icon", dvrTr("Device icon"),
            dvrTr("You can choose a custom icon for this device to be shown in the toolbar."), dvrType::FILE,
            STRING | PREVIEW | ADVANCED);
  s.setText("icon", dvrGetPath(dvrPATH_BUTTONS) + "/card_icon_small.png");
  s.declare("", dvrTr("Device settings"), GROUP, 0);
}

dvrBoard::~dvrBoard() = default;

int dvrBoard::applySetting(const dvrCommand& command, int) {
  std::string_view key = command.param(3);
  std::string_view type = command.param(4);
  std::string_view value = command.param(5);
  dvrSettingSet& s = settings();
  if (dvrEqualNoCase(type, "int")) {
    int v = dvrParseInt(value);
    s.setInt(key, v);
    if (dvrEqualNoCase(key, "ID")) {
      id_ = v;
    } else if (dvrEqualNoCase(key, "enable")) {
      if (v != 0)
        open();
      else
        close();
    } else if (dvrEqualNoCase(key, "DIO_on")) {
      setDigitalOutput(v, 1);
    } else if (dvrEqualNoCase(key, "DIO_off")) {
      setDigitalOutput(v, 0);
    } else if (key.size() == 3 && dvrEqualNoCase(key.substr(0, 2), "TV") && key[2] >= '0' &&
               key[2] <= '3') {
      setAnalogOutput(key[2] - '0', v);
    }
  } else if (dvrEqualNoCase(type, "string")) {
    s.setText(key, value);
  } else if (dvrEqualNoCase(type, "float")) {
    s.setFloat(key, static_cast<float>(dvrParseDouble(value)));
  }
  return 1;
}

int dvrBoard::setInputResolution(int input, int resolution) {
  if (validInput(input)) resolution_[input] = resolution;
  return resolution;
}

bool dvrBoard::setInputFormat(int input, int format) {
  if (validInput(input)) format_[input] = format;
  return true;
}

int dvrBoard::setInputFrameRate(int input, int fps) {
  if (validInput(input)) frameRate_[input] = fps;
  return fps;
}

int dvrBoard::listFreeInputs(dvrInputList& list) {
  list.count = 0;
  int inputs = inputCount();
  if (inputs <= 0) return 0;
  if (inputs > kInputs) inputs = kInputs;
  // The list has room for 64 entries; inputs beyond that are not offered.
  for (int i = 0; i < inputs && list.count < dvrInputList::kMax; ++i) {
    if (inUse_[i]) continue;
    std::snprintf(list.names[list.count], sizeof list.names[0], "%s [%d]", typeName(), i + 1);
    list.numbers[list.count] = i;
    ++list.count;
  }
  return list.count;
}

bool dvrBoard::grabFrame(int, dvrImage& image) {
  // A test pattern over the first 40 rows of 704 bytes, cut to the frame
  // actually allocated (a small picture has fewer bytes than that).
  static thread_local std::minstd_rand random(12345);
  std::uint8_t* frame = image.buffer(dvrBUF_CURRENT);
  if (!frame) return true;
  const std::size_t bytes = image.frameBytes();
  const int r = static_cast<int>(random() % 100);
  for (std::size_t row = 0; row < 40; ++row) {
    for (std::size_t x = 0; x < 704; ++x) {
      std::size_t at = row * 704 + x;
      if (at >= bytes) return true;
      frame[at] = static_cast<std::uint8_t>(r + static_cast<int>(x));
    }
  }
  return true;
}

int dvrBoard::watchdogTick() {
  std::int32_t second = static_cast<std::int32_t>(now());
  if (second > watchdogTime_) {
    if (settings().getInt("watchdog") == 1)
      enableHardwareWatchdog(settings().getInt("watchdogtime"));
    else
      disableHardwareWatchdog();
    watchdogTime_ = second;
  }
  return 1;
}

void dvrBoard::declareWatchdogSettings() {
  dvrSettingSet& s = settings();
  s.declare("watchdog", dvrTr("Enable watchdog"),
            dvrTr("The watchdog feature monitors the recorder. The recorder constantly tells "
               "watchdog that the recorder is still alive. If the recorder doesn't respond within "
               "the number of seconds specified in `Watchdog timer', the watchdog will reboot the "
               "computer."),
            CHECK, INT | 0x0001);
  s.declare("watchdogtime", dvrTr("Watchdog timer"), dvrTr("The value is in seconds."), SLIDER, INT, 30,
            180);
  s.setInt("watchdogtime", 60);
}

int dvrBoard::signalChange(int input) {
  if (input < 0 || input > 63) return 0;
  const std::uint64_t bit = 1ull << input;
  const bool now = hasSignal(input);
  const bool stored = (signal_ & bit) != 0;
  if (now)
    signal_ |= bit;
  else
    signal_ &= ~bit;
  if (!now && stored) return -1;
  if (now && !stored) return 1;
  return 0;
}

bool dvrBoard::claimInput(int input) {
  if (input < 0 || input >= inputCount() || !validInput(input) || inUse_[input]) return false;
  inUse_[input] = 1;
  return true;
}

bool dvrBoard::releaseInput(int input) {
  if (input < 0 || input >= inputCount() || !validInput(input) || !inUse_[input]) return false;
  inUse_[input] = 0;
  return true;
}

bool dvrBoard::inputInUse(int input) const { return validInput(input) && inUse_[input] != 0; }
int dvrBoard::requestedResolution(int input) const {
  return validInput(input) ? resolution_[input] : 0;
}
int dvrBoard::requestedFrameRate(int input) const {
  return validInput(input) ? frameRate_[input] : 0;
}
int dvrBoard::requestedFormat(int input) const { return validInput(input) ? format_[input] : 0; }
