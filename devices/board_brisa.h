// Analog capture boards: up to 32 camera inputs digitised in capture groups
// that share a number of frame slots per second, 32 digital inputs and
// outputs on a DI/O extension, an RS-485 port, a monitor output with two
// display text planes, and a hardware watchdog, all through the board's
// capture library (platform/cat3di).
//
// The frame budget shares each group's slots among its inputs: a camera asks
// for a frame rate and gets what its group and the board's capacity leave;
// the schedule of a group then spreads its inputs' frames over the slots of a
// second.
//
// Threads: settings, budgets, schedules, the monitor and the display text on
// the command thread (tick runs on every "Refresh"); grabFrame on each
// camera's capture thread. The process-wide Brisa lock serialises schedule
// installation, capture stop and, with "multicard", frame fetches; the
// RS-485 lock serialises port writes.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/board.h"

inline constexpr int dvrCAMERA_TYPE_BRISA = 2;

// Places the members of a group into its slots: rates of the K members
// (0 for members not in use), S slots; answers S entries, each a member
// number or 99 for an empty slot. Largest rates first; a member of rate R
// takes R of the slots still empty, evenly spread.
std::vector<int> dvrBrisaSchedule(int slots, const std::vector<int>& rates);

// The display text codes of a UTF-8 text: each character's position in the
// board's 128-character set, accented capitals and small letters of A and O
// folded, anything else 127.
std::vector<unsigned char> dvrBrisaEncodeText(std::string_view text);

// The picture of a resolution index 0..12 (PAL lines, or NTSC lines when pal
// is false): full, half or quarter height; index 0 and unknown indexes 0 x 0.
struct dvrBrisaPictureSize {
  int width = 0;
  int height = 0;
};
dvrBrisaPictureSize dvrBrisaResolution(int index, bool pal);

// Resolution weight in the budget: 0 for index 0, 4 for full height, 2 for
// half height, 1 for the rest.
int dvrBrisaResolutionWeight(int index);

class dvrBoard_brisa : public dvrBoard {
 public:
  static constexpr int kMaxInputs = 32;
  static constexpr int kEmptySlot = 99;
  static constexpr int kTextCells = 24;

  dvrBoard_brisa();
  ~dvrBoard_brisa() override;

  int applySetting(const dvrCommand& command, int flag) override;

  bool probe() override;
  bool open() override;
  bool reopen() override;
  bool close() override;
  bool startCapture() override;
  bool stopCapture() override;
  int inputCount() override { return inputs_; }
  bool hasSignal(int input) override;
  int digitalInputCount() override { return kMaxInputs; }
  int digitalOutputCount() override { return kMaxInputs; }
  int setDigitalOutput(int output, int value) override;
  int getDigitalInput(int input) override;
  int refreshDigitalIO() override;
  bool setBrightness(int input, int value) override;
  bool setContrast(int input, int value) override;
  bool setSharpness(int input, int value) override;
  bool setColor(int input, int value) override;
  bool setHue(int input, int value) override;
  int cameraType(int) override { return dvrCAMERA_TYPE_BRISA; }
  bool grabFrame(int input, dvrImage& image) override;
  const char* typeName() override { return "Brisa"; }
  void tick() override;
  bool hasRS485() override { return true; }
  bool openRS485() override;
  int writeRS485(const std::uint8_t* bytes, int length) override;
  bool closeRS485() override;
  int analogOutputCount() override { return 1; }
  bool setAnalogOutput(int output, int input) override;
  int enableHardwareWatchdog(int seconds) override;
  int disableHardwareWatchdog() override;
  bool startInput(int input) override;
  bool stopInput(int input) override;
  int setInputResolution(int input, int resolution) override;
  int setInputFrameRate(int input, int fps) override;

  int boardNumber() const { return number_; }
  int groups() const { return groups_; }
  int slotsPerSecond() const { return slots_; }
  bool isOpen() const { return open_; }
  int shownInput() const { return shown_; }
  // The camera's "noswitch": the monitor's switching passes over the input.
  void setNoSwitch(int input, bool on);
  // Frames per second the group of the input has left: S less the rates of its inputs in use.
  int framesLeft(int input);
  // Shows every camera of the board its group's frames left ("framesleft").
  void refreshFramesLeft();
  // The group schedule installed last (tests and the statistics).
  const std::vector<int>& schedule(int group) const;

 protected:
  // Milliseconds of a steady clock, for the monitor's switching; tests replace it.
  virtual std::int64_t milliseconds();

 private:
  void rebuildSchedule(int group);
  void writeText(int position, std::string_view text, bool secondPlane = false);
  void writeCodes(int position, std::vector<unsigned char> codes, bool secondPlane);
  void clearText();
  bool validInput(int input) const { return input >= 0 && input < kMaxInputs; }

  int number_ = 0;
  bool open_ = false;
  bool capturing_ = false;
  bool grabEnabled_ = false;
  bool multicard_ = false;
  int inputs_ = 0;
  int groups_ = 4;
  int perGroup_ = 0;
  int slots_ = 25;
  bool running_[kMaxInputs] = {};
  bool noSwitch_[kMaxInputs] = {};
  std::vector<std::vector<int>> schedules_;
  int digitalIn_[kMaxInputs] = {};
  int digitalOut_[kMaxInputs] = {};
  int shown_ = 0;
  std::int64_t lastSwitch_ = 0;
  bool textDirty_ = false;
  bool rsOpen_ = false;
  int rsSpeed_ = -1;
  std::mutex rsLock_;
};
