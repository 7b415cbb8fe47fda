#include "devices/board_brisa.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

#include "core/command.h"
#include "core/language.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "pipeline/camera.h"
#include "pipeline/camera_container.h"
#include "pipeline/capture_engine.h"
#include "pipeline/image.h"
#include "platform/cat3di/cat3di.h"
#include "platform/cat3di/charset.h"

using namespace dvrType;
using namespace dvrFlag;

namespace {

std::mutex& brisaLock() {
  static std::mutex lock;
  return lock;
}
std::mutex& numberLock() {
  static std::mutex lock;
  return lock;
}
int boardsMade = 0;  // under numberLock

constexpr int kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400};

// The next code point of UTF-8 text (a stray byte counts as itself).
int nextCodePoint(std::string_view text, std::size_t& at) {
  const auto b = static_cast<unsigned char>(text[at++]);
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
  int cp = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : extra == 1 ? b & 0x1F : b;
  for (; extra > 0 && at < text.size(); --extra) {
    const auto c = static_cast<unsigned char>(text[at]);
    if ((c & 0xC0) != 0x80) break;
    cp = (cp << 6) | (c & 0x3F);
    ++at;
  }
  return cp;
}

}  // namespace

std::vector<int> dvrBrisaSchedule(int slots, const std::vector<int>& rates) {
  std::vector<int> schedule(static_cast<std::size_t>(std::max(slots, 0)), dvrBoard_brisa::kEmptySlot);
  std::vector<int> order(rates.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return rates[a] > rates[b]; });
  for (int member : order) {
    int rate = rates[static_cast<std::size_t>(member)];
    if (rate <= 0) break;
    std::vector<int> empty;
    for (int s = 0; s < slots; ++s)
      if (schedule[static_cast<std::size_t>(s)] == dvrBoard_brisa::kEmptySlot) empty.push_back(s);
    const int free = static_cast<int>(empty.size());
    if (free == 0) break;
    rate = std::min(rate, free);
    const double step = static_cast<double>(free) / rate;
    for (int i = 1; i <= rate; ++i) {
      const int position = std::clamp(static_cast<int>(std::floor(i * step + 0.5)), 1, free);
      schedule[static_cast<std::size_t>(empty[static_cast<std::size_t>(position - 1)])] = member;
    }
  }
  return schedule;
}

std::vector<unsigned char> dvrBrisaEncodeText(std::string_view text) {
  const auto& set = cat3diCharacterSet();
  std::vector<unsigned char> codes;
  for (std::size_t at = 0; at < text.size();) {
    int cp = nextCodePoint(text, at);
    if (cp == 0xC4 || cp == 0xC5) cp = 'A';
    else if (cp == 0xE4 || cp == 0xE5) cp = 'a';
    else if (cp == 0xD6) cp = 'O';
    else if (cp == 0xF6) cp = 'o';
    const auto found = std::find(set.begin(), set.end(), cp);
    codes.push_back(found == set.end() ? 127 : static_cast<unsigned char>(found - set.begin()));
  }
  return codes;
}

dvrBrisaPictureSize dvrBrisaResolution(int index, bool pal) {
  static constexpr int kWidths[] = {0, 720, 704, 640, 720, 704, 640, 360, 352, 320, 180, 176, 160};
  if (index <= 0 || index > 12) return {};
  const int full = pal ? 576 : 480;
  return {kWidths[index], index <= 3 ? full : index <= 9 ? full / 2 : full / 4};
}

int dvrBrisaResolutionWeight(int index) {
  if (index <= 0) return 0;
  if (index <= 3) return 4;
  if (index <= 6) return 2;
  return 1;
}

dvrBoard_brisa::dvrBoard_brisa() {
  {
    std::lock_guard<std::mutex> lock(numberLock());
    number_ = boardsMade++;
  }
  declareWatchdogSettings();
  dvrSettingSet& s = settings();
  s.declare("switch", dvrTr("Enable switching"),
            dvrTr("Keep switching between the camera images that are shown through the analog output."), CHECK, INT);
  s.declare("switchtime", dvrTr("Switch time"), dvrTr("Switch to next camera image after this many seconds."),
            SLIDER, INT, 1, 30);
  s.setInt("switchtime", 5);
  s.declare("multicard", dvrTr("Multiple card system"),
            dvrTr("This must be enabled if multiple brisa boards are to be used in the system."), CHECK,
            ADVANCED | INT);
  s.declare("", dvrTr("Brisa settings"), GROUP, RUNTIME | NOSAVE);
  s.declare("rt_tvout1", dvrTr("Monitor 1"), BUTTONS, RUNTIME | INT, 1, 32);
  s.declare("rt_tvOSD", dvrTr("OSD type"), CHOICE, RUNTIME | INT);
  s.addChoice(dvrTr("Empty"), 0);
  s.addChoice(dvrTr("Camera number"), 1);
  s.addChoice(dvrTr("Camera name"), 2);
  s.declare("rt_tvOSDrec", dvrTr("OSD: Show REC"), CHECK, RUNTIME | INT);
  s.declare("rt_tvOSDclock", dvrTr("OSD: Show clock"), CHECK, RUNTIME | INT);
  s.declare("dio_enable", dvrTr("Enable DI/O extension"),
            dvrTr("If this is not selected, the digital input/output expansion boards will not work."), CHECK, INT);
  s.declare("rs_speed", dvrTr("RS-485 port speed"),
            dvrTr("Speed of the RS-485 controller on the USB-DIO device, normally 9600bps."), CHOICE,
            INT | SHOWTEXT);
  s.addChoice(dvrTr("Disabled"), -1);
  for (int code = 0; code < 6; ++code) s.addChoice(dvrFormat(dvrTr("%d bps").c_str(), kSpeeds[code]), code);
  s.setInt("rs_speed", -1);
  schedules_.assign(8, {});
}

dvrBoard_brisa::~dvrBoard_brisa() {
  if (open_) {
    std::unique_lock<std::mutex> lock(brisaLock(), std::defer_lock);
    if (capturing_) lock.lock();
    clearText();
    if (lock.owns_lock()) lock.unlock();
    CAT3DI_WDOGDisable(number_);
  }
  close();
  std::lock_guard<std::mutex> lock(numberLock());
  --boardsMade;
}

std::int64_t dvrBoard_brisa::milliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool dvrBoard_brisa::probe() {
  int count = 0;
  return CAT3DI_BDSearch(&count) == CAT3DI_SUCCESS && count > number_;
}

bool dvrBoard_brisa::open() {
  if (open_) return reopen();
  int count = 0;
  if (CAT3DI_BDSearch(&count) != CAT3DI_SUCCESS || count < 1) return false;
  int info[32] = {};
  CAT3DI_BDDetailInfo(number_, info);
  inputs_ = std::clamp(info[5], 0, kMaxInputs);
  const int model = 11 + number_ < 32 ? info[11 + number_] : 0;
  groups_ = model == 3 ? 2 : model == 5 ? 8 : 4;
  dvrSettingSet& s = settings();
  const bool pal = s.getInt("videostd") != 0;
  if (CAT3DI_BDOpen(number_, s.getInt("dio_enable") ? 19 : 3, pal ? 0 : 1) != CAT3DI_SUCCESS) {
    dvrLogMessage("%s", dvrTr("Brisa board not found.").c_str());
    return false;
  }
  dvrLogMessage(dvrTr("Brisa board (%d) added.").c_str(), number_);
  rsOpen_ = false;
  if (s.getInt("dio_enable")) openRS485();
  perGroup_ = inputs_ / groups_;
  slots_ = pal ? 25 : 30;
  for (auto& schedule : schedules_) schedule = dvrBrisaSchedule(slots_, std::vector<int>(perGroup_, 0));
  open_ = true;
  return true;
}

bool dvrBoard_brisa::reopen() {
  close();
  return open();
}

bool dvrBoard_brisa::close() {
  if (!open_) return true;
  CAT3DI_BDClose(number_);
  dvrLogMessage("%s", dvrTr("Brisa board closed.").c_str());
  open_ = false;
  return true;
}

void dvrBoard_brisa::rebuildSchedule(int group) {
  if (group < 0 || group >= groups_ || group >= static_cast<int>(schedules_.size())) return;
  std::lock_guard<std::mutex> lock(brisaLock());
  std::vector<int> rates(static_cast<std::size_t>(perGroup_), 0);
  for (int k = 0; k < perGroup_; ++k) {
    const int input = group + k * groups_;
    if (validInput(input) && inputInUse(input)) rates[static_cast<std::size_t>(k)] = requestedFrameRate(input);
  }
  std::vector<int> schedule = dvrBrisaSchedule(slots_, rates);
  for (int& entry : schedule)
    if (entry != kEmptySlot) entry = group + entry * groups_;
  schedules_[static_cast<std::size_t>(group)] = schedule;
  CAT3DI_VideoSliceCtrl(number_, group, schedule.data(), slots_, 0);
}

const std::vector<int>& dvrBoard_brisa::schedule(int group) const {
  static const std::vector<int> none;
  return group >= 0 && group < static_cast<int>(schedules_.size()) ? schedules_[static_cast<std::size_t>(group)]
                                                                     : none;
}

int dvrBoard_brisa::setInputFrameRate(int input, int fps) {
  if (!validInput(input) || groups_ <= 0) return dvrBoard::setInputFrameRate(input, fps);
  const int group = input % groups_;
  const int previous = requestedFrameRate(input);
  dvrBoard::setInputFrameRate(input, 0);
  int sum = 0;
  for (int i = group; i < kMaxInputs; i += groups_)
    if (i != input && inputInUse(i)) sum += requestedFrameRate(i);
  int request = std::min(fps, slots_ - sum);
  if (request > previous) {
    const int capacity = 50 * groups_;
    int total = 0;
    for (int i = 0; i < kMaxInputs; ++i)
      if (i != input && inputInUse(i)) total += dvrBrisaResolutionWeight(requestedResolution(i)) * requestedFrameRate(i);
    if (total + request * dvrBrisaResolutionWeight(requestedResolution(input)) > capacity)
      request = std::max(previous, 1);
  }
  if (request <= 0) {
    // Nothing left in the group: every other camera of it gives up one frame.
    for (int i = group; i < kMaxInputs; i += groups_) {
      if (i == input || !inputInUse(i) || requestedFrameRate(i) <= 1) continue;
      dvrBoard::setInputFrameRate(i, requestedFrameRate(i) - 1);
      ++request;
    }
  }
  dvrBoard::setInputFrameRate(input, request);
  if (capturing_) rebuildSchedule(group);
  refreshFramesLeft();
  return request;
}

int dvrBoard_brisa::setInputResolution(int input, int index) {
  if (!validInput(input)) return dvrBoard::setInputResolution(input, index);
  const int capacity = std::min(50 * groups_, 200);
  int total = 0;
  for (int i = 0; i < kMaxInputs; ++i)
    if (i != input && requestedResolution(i) != 0)
      total += dvrBrisaResolutionWeight(requestedResolution(i)) * requestedFrameRate(i);
  const int granted = total + requestedFrameRate(input) * dvrBrisaResolutionWeight(index) > capacity ? 8 : index;
  return dvrBoard::setInputResolution(input, granted);
}

int dvrBoard_brisa::framesLeft(int input) {
  if (!validInput(input) || groups_ <= 0) return 0;
  int sum = 0;
  for (int i = input % groups_; i < kMaxInputs; i += groups_)
    if (inputInUse(i)) sum += requestedFrameRate(i);
  return slots_ - sum;
}

void dvrBoard_brisa::refreshFramesLeft() {
  dvrCaptureEngine* capture = dvrCapture();
  if (!capture) return;
  for (dvrCamera* camera : capture->cameras().camerasOfBoard(this))
    camera->settings().setText("framesleft", dvrFormat(dvrTr("%d frames").c_str(), framesLeft(camera->input())));
}

bool dvrBoard_brisa::startCapture() {
  for (int g = 0; g < groups_; ++g) rebuildSchedule(g);
  for (int i = 0; i < kMaxInputs; ++i)
    if (inputInUse(i)) startInput(i);
  capturing_ = true;
  grabEnabled_ = true;
  setCapturing(true);
  return true;
}

bool dvrBoard_brisa::stopCapture() {
  std::lock_guard<std::mutex> lock(brisaLock());
  clearText();
  capturing_ = false;
  grabEnabled_ = false;
  setCapturing(false);
  return true;
}

bool dvrBoard_brisa::startInput(int input) {
  if (!validInput(input)) return false;
  CAT3DI_CaptureVideoTransferON(number_, input, requestedResolution(input), 0);
  running_[input] = true;
  return true;
}

bool dvrBoard_brisa::stopInput(int input) {
  if (!validInput(input)) return false;
  if (running_[input]) {
    CAT3DI_CancelLockWait4GetImageAddress(number_, input);
    CAT3DI_CaptureVideoTransferOFF(number_, input);
    running_[input] = false;
  }
  return true;
}

bool dvrBoard_brisa::grabFrame(int input, dvrImage& image) {
  if (!grabEnabled_) return false;
  watchdogTick();
  if (!capturing_ || !validInput(input) || !running_[input]) return false;
  unsigned char* address = nullptr;
  int result;
  if (multicard_) {
    std::lock_guard<std::mutex> lock(brisaLock());
    result = CAT3DI_LockWait4GetImageAddress(number_, input, &address, 0);
  } else {
    result = CAT3DI_LockWait4GetImageAddress(number_, input, &address, 0);
  }
  if (result != CAT3DI_SUCCESS || !address) return false;
  std::uint8_t* frame = image.buffer(dvrBUF_CURRENT);
  if (!frame) return false;
  // The library's picture has the size of the input's resolution; never copy more.
  const dvrBrisaPictureSize picture = dvrBrisaResolution(requestedResolution(input), settings().getInt("videostd") != 0);
  const std::size_t available = static_cast<std::size_t>(picture.width) * picture.height * 2;
  std::memcpy(frame, address, std::min(available, image.frameBytes()));
  return true;
}

bool dvrBoard_brisa::hasSignal(int input) {
  int flags[kMaxInputs] = {};
  if (CAT3DI_CAMERA_SIGNAL(number_, flags) != CAT3DI_SUCCESS) return false;
  if (input == -1) {
    for (int i = 0; i < kMaxInputs; ++i)
      if (inputInUse(i) && !flags[i]) return false;
    return true;
  }
  return validInput(input) && flags[input] != 0;
}

int dvrBoard_brisa::setDigitalOutput(int output, int value) {
  if (!validInput(output)) return 0;
  digitalOut_[output] = value;
  return 1;
}

int dvrBoard_brisa::getDigitalInput(int input) { return validInput(input) ? 1 - digitalIn_[input] : 0; }

int dvrBoard_brisa::refreshDigitalIO() {
  CAT3DI_DIGITALOUT_SIGNAL(number_, digitalOut_);
  CAT3DI_DIGITALIN_SIGNAL(number_, digitalIn_);
  return 1;
}

bool dvrBoard_brisa::setBrightness(int input, int value) {
  return CAT3DI_BRIGHTNESSControl(number_, input, value) == CAT3DI_SUCCESS;
}
bool dvrBoard_brisa::setContrast(int input, int value) {
  return CAT3DI_CONTRASTControl(number_, input, value) == CAT3DI_SUCCESS;
}
bool dvrBoard_brisa::setSharpness(int input, int value) {
  return CAT3DI_SHARPNESSControl(number_, input, value) == CAT3DI_SUCCESS;
}
bool dvrBoard_brisa::setColor(int input, int value) {
  CAT3DI_HUEControl(number_, input, 127);
  CAT3DI_SATURATIONUControl(number_, input, value);
  return CAT3DI_SATURATIONVControl(number_, input, value) == CAT3DI_SUCCESS;
}
bool dvrBoard_brisa::setHue(int input, int value) { return CAT3DI_HUEControl(number_, input, value) == CAT3DI_SUCCESS; }

bool dvrBoard_brisa::setAnalogOutput(int output, int input) {
  if (output == 0 && validInput(input)) {
    CAT3DI_TVOUT(number_, input);
    shown_ = input;
  }
  return true;
}

void dvrBoard_brisa::setNoSwitch(int input, bool on) {
  if (validInput(input)) noSwitch_[input] = on;
}

int dvrBoard_brisa::applySetting(const dvrCommand& command, int flag) {
  const int result = dvrBoard::applySetting(command, flag);
  const std::string_view key = command.param(3);
  const int value = dvrParseInt(command.param(5));
  if (dvrEqualNoCase(key, "videostd") && open_) {
    settings().execute("stop");
    settings().execute("start");
  } else if (dvrEqualNoCase(key, "multicard")) {
    multicard_ = value != 0;
  } else if (dvrEqualNoCase(key, "rt_tvout1") || dvrEqualNoCase(key, "rt_tvout2")) {
    // Monitor inputs are numbered from 1; 0 or less selects nothing.
    if (value >= 1) setAnalogOutput(dvrEqualNoCase(key, "rt_tvout1") ? 0 : 1, value - 1);
    textDirty_ = true;
  } else if (dvrEqualNoCase(key, "rt_tvOSD")) {
    textDirty_ = true;
  }
  return result;
}

void dvrBoard_brisa::writeText(int position, std::string_view text, bool secondPlane) {
  writeCodes(position, dvrBrisaEncodeText(text), secondPlane);
}

void dvrBoard_brisa::writeCodes(int position, std::vector<unsigned char> codes, bool secondPlane) {
  const int length = static_cast<int>(codes.size());
  codes.push_back(0);
  if (secondPlane) CAT3DI_OSD2(number_, position, length, codes.data());
  else CAT3DI_OSD(number_, position, length, codes.data());
}

void dvrBoard_brisa::clearText() {
  const std::string blank(kTextCells, ' ');
  for (int line = 0; line < 10; ++line) {
    writeText(line * kTextCells, blank, false);
    writeText(line * kTextCells, blank, true);
  }
}

void dvrBoard_brisa::tick() {
  dvrSettingSet& s = settings();
  if (s.getInt("dio_enable")) refreshDigitalIO();
  dvrCaptureEngine* capture = dvrCapture();
  dvrCamera* shownCamera = capture ? capture->cameras().findCameraByDeviceInput(boardId(), shown_) : nullptr;
  if (textDirty_) {
    textDirty_ = false;
    const int osd = s.getInt("rt_tvOSD");
    if (osd == 0) {
      clearText();
    } else if (osd == 1) {
      writeText(0, (std::to_string(s.getInt("rt_tvout1")) + std::string(kTextCells, ' ')).substr(0, kTextCells));
    } else if (osd == 2) {
      // Exactly 24 cells: a longer name is cut, a shorter one padded with blanks.
      std::vector<unsigned char> codes =
          dvrBrisaEncodeText(shownCamera ? shownCamera->settings().getText("name") : "");
      codes.resize(kTextCells, dvrBrisaEncodeText(" ").front());
      writeCodes(0, std::move(codes), false);
    }
  }
  if (s.getInt("rt_tvOSDrec"))
    writeText(22, shownCamera && shownCamera->statistics().motionRecording == 1 ? "{}" : "  ");
  if (s.getInt("rt_tvOSDclock")) {
    char clock[16];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    writeText(40, clock);
  }
  if (s.getInt("switch")) {
    const std::int64_t now = milliseconds();
    if (now - lastSwitch_ >= static_cast<std::int64_t>(s.getInt("switchtime")) * 1000) {
      for (int step = 1; step <= kMaxInputs; ++step) {
        const int candidate = (shown_ + step) % kMaxInputs;
        if (inputInUse(candidate) && !noSwitch_[candidate]) {
          setAnalogOutput(0, candidate);
          break;
        }
      }
      lastSwitch_ = now;
    }
  }
}

bool dvrBoard_brisa::openRS485() {
  dvrSettingSet& s = settings();
  if (!s.getInt("dio_enable")) {
    dvrLogWarning("%s", dvrTr("BR_RS485 is not available! The DI/O extension has not been enabled.").c_str());
    return false;
  }
  const int code = s.getInt("rs_speed");
  if (code < 0 || code > 5) return false;
  if (rsOpen_ && rsSpeed_ != code) closeRS485();
  if (rsOpen_) return true;
  CAT3DI_RUART_CONFIG(number_, code, 0);
  rsOpen_ = true;
  rsSpeed_ = code;
  dvrLogMessage(dvrTr("BR_RS485 inited with %d bps [%d]").c_str(), kSpeeds[code], code);
  return true;
}

int dvrBoard_brisa::writeRS485(const std::uint8_t* bytes, int length) {
  if (!rsOpen_ && !openRS485()) return 0;
  std::lock_guard<std::mutex> lock(rsLock_);
  if (!bytes || length < 0 || length > 1024) return 0;
  CAT3DI_RUART_WRITE(number_, bytes, length, 100);
  return length;
}

bool dvrBoard_brisa::closeRS485() {
  CAT3DI_RUART_ESCAPE(number_);
  rsOpen_ = false;
  return true;
}

int dvrBoard_brisa::enableHardwareWatchdog(int seconds) { return CAT3DI_WDOGEnable(number_, seconds) == CAT3DI_SUCCESS; }
int dvrBoard_brisa::disableHardwareWatchdog() { return CAT3DI_WDOGDisable(number_) == CAT3DI_SUCCESS; }
