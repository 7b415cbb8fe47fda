// A board: anything the recorder talks to that can carry camera inputs,
// digital inputs and outputs, serial (RS-485) lines, analog monitor outputs
// or a hardware watchdog. The base class holds the common settings, the
// input table and the default behaviour of every operation; board kinds
// override what their device does.
//
// Threads: container operations and setting changes run on the command
// thread; grabFrame and the picture adjustments run on capture threads at
// the same time as tick() on the command thread. The base class holds no
// lock: board kinds guard their devices themselves.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "core/object.h"

class dvrImage;
class dvrCamera;

// The free inputs of a board, as offered when a camera is added.
struct dvrInputList {
  static constexpr int kMax = 64;
  char names[kMax][256];
  std::int32_t numbers[kMax];
  std::int32_t count;
};

// Camera type code of a board without a camera kind: AddCamera fails on it.
inline constexpr int dvrCAMERA_TYPE_NONE = 99;

class dvrBoard : public dvrObject {
 public:
  static constexpr int kInputs = 256;

  // Declares the common settings; the ID defaults to the next value of the
  // process-wide board counter.
  dvrBoard();
  ~dvrBoard() override;

  // The keyword this board was created from ("addcard <keyword> <name>").
  const std::string& keyword() const { return keyword_; }
  void setKeyword(std::string keyword) { keyword_ = std::move(keyword); }
  // The device number: a copy of the setting "ID".
  int boardId() const { return id_; }

  // "set board" lines: stores the value, then acts on "ID", "enable",
  // "DIO_on", "DIO_off" and "TV0".."TV3" (declared or not).
  int applySetting(const dvrCommand& command, int flag) override;

  virtual bool isSingleInstance() { return false; }
  virtual bool camerasStartManually() { return false; }
  virtual bool isCapturing() { return capturing_ != 0; }
  virtual bool probe() { return true; }
  virtual bool open() { return true; }
  virtual int setInputResolution(int input, int resolution);
  virtual bool setInputFormat(int input, int format);
  virtual int setInputFrameRate(int input, int fps);
  virtual bool reopen() { return true; }
  virtual bool close() { return true; }
  virtual bool startCapture() { return true; }
  virtual bool stopCapture() { return true; }
  virtual int inputCount() { return 32; }
  virtual bool hasSignal(int /*input*/) { return true; }
  virtual int digitalInputCount() { return 0; }
  virtual int digitalOutputCount() { return 0; }
  virtual int setDigitalOutput(int /*output*/, int /*value*/) { return 1; }
  virtual int getDigitalInput(int /*input*/) { return 0; }
  virtual int refreshDigitalIO() { return 1; }
  virtual int integerQueryA() { return 0; }
  virtual int integerQueryB() { return 0; }
  virtual void* pointerQuery() { return nullptr; }
  virtual bool setBrightness(int /*input*/, int /*value*/) { return true; }
  virtual bool setContrast(int /*input*/, int /*value*/) { return true; }
  virtual bool setSharpness(int /*input*/, int /*value*/) { return true; }
  virtual bool setColor(int /*input*/, int /*value*/) { return true; }
  virtual bool setHue(int /*input*/, int /*value*/) { return true; }
  virtual int cameraType(int /*input*/) { return dvrCAMERA_TYPE_NONE; }
  virtual int listFreeInputs(dvrInputList& list);
  // Base: a test pattern in the first rows of the current frame.
  virtual bool grabFrame(int input, dvrImage& image);
  virtual const char* typeName() { return "Null"; }
  virtual void tick() {}
  virtual bool hasRS485() { return false; }
  virtual bool openRS485() { return false; }
  virtual int writeRS485(const std::uint8_t* /*bytes*/, int /*length*/) { return 0; }
  virtual bool closeRS485() { return false; }
  virtual int analogOutputCount() { return 0; }
  virtual bool setAnalogOutput(int /*output*/, int /*input*/) { return false; }
  virtual bool booleanQuery() { return false; }
  virtual int enableHardwareWatchdog(int /*seconds*/) { return 1; }
  virtual int disableHardwareWatchdog() { return 1; }
  // Re-arms (or disables) the hardware watchdog at most once per wall-clock second.
  virtual int watchdogTick();
  virtual void declareWatchdogSettings();
  // -1 signal lost, 1 signal back, 0 no change (input -1 or beyond 63: 0).
  virtual int signalChange(int input);
  virtual bool startInput(int /*input*/) { return true; }
  virtual bool stopInput(int /*input*/) { return true; }

  // Input table: claim succeeds for a free input below inputCount(), release for a claimed one.
  bool claimInput(int input);
  bool releaseInput(int input);
  bool inputInUse(int input) const;
  int requestedResolution(int input) const;
  int requestedFrameRate(int input) const;
  int requestedFormat(int input) const;

  // Resets the process-wide default ID counter (tests).
  static void resetIdCounter();

 protected:
  void setCapturing(bool on) { capturing_ = on ? 1 : 0; }
  // The clock of watchdogTick (seconds); tests replace it.
  virtual std::time_t now() { return std::time(nullptr); }

 private:
  bool validInput(int input) const { return input >= 0 && input < kInputs; }

  std::string keyword_;
  int id_ = 0;
  std::int32_t inUse_[kInputs] = {};
  std::int32_t resolution_[kInputs] = {};
  std::int32_t frameRate_[kInputs] = {};
  std::int32_t format_[kInputs] = {};
  std::uint64_t signal_ = ~0ull;  // last state seen by signalChange, one bit per input 0..63
  std::uint8_t capturing_ = 0;
  std::int32_t watchdogTime_ = 0;
};
