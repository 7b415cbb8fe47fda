// A camera: one video source, normally an input of a board. The base class
// declares the common settings, keeps the board and input, owns the image
// buffer and the codec, and turns its settings into board calls. Camera
// kinds fill the resolution table and the format list, and the capture
// thread drives grab, detectMotion and the codec through the hooks below.
//
// Threads: the command thread changes settings, starts, stops and
// re-initialises; the capture thread grabs and compresses; panels read the
// image and statistics. Locks are re-entrant; where two are taken the codec
// lock comes before the image lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/object.h"

class dvrBoard;
class dvrCameraThread;
class dvrCodec;
class dvrImage;
struct dvrCommand;

class dvrCamera : public dvrObject {
 public:
  static constexpr int kMaxResolutions = 16;

  struct Size {
    int width = 0;
    int height = 0;
  };

  // What the capture thread and the panels write and read.
  struct Statistics {
    float framesPerSecond = 0.0f;
    std::int32_t framesProcessed = 0;
    std::int32_t framesRecorded = 0;
    std::int32_t lastCompressedSize = 0;
    std::int32_t averageCompressedSize = 0;
    std::int32_t lastMotion = 0;
    std::int32_t continuousRecording = 0;
    std::int32_t motionRecording = 0;
    // Set by stream cameras only: 1 pictures arriving, 3 waiting, 5 connecting, 9 no connection.
    std::int32_t connectionState = 0;
  };

  // The board may be null (cameras fed from elsewhere).
  explicit dvrCamera(dvrBoard* board);
  ~dvrCamera() override;

  int applySetting(const dvrCommand& command, int flag) override;

  virtual int maxFrameRate();
  virtual int minFrameRate() { return 1; }
  virtual void setReplay(bool on) { replay_ = on; }
  virtual bool isStreamSource() { return false; }
  virtual bool setResolution(int index);
  virtual bool setFormat(int format);
  virtual int setFrameRate(int fps);
  // Claims the board input; on success remembers it.
  virtual bool attachInput(int input);
  virtual bool start();
  virtual bool stop();
  virtual void onStart() {}
  // Work a grab needs before the camera's locks are taken, on the capture
  // thread: a network transfer that must not hold up the camera's windows.
  // False when no new picture came (the thread then waits a frame period).
  virtual bool prepareGrab() { return true; }
  virtual bool grab();
  virtual int detectMotion();
  virtual void setBrightness(int value);
  virtual void setContrast(int value);
  virtual void setSharpness(int value);
  virtual void setColor(int value);
  virtual void setHue(int value);
  // A key interval below 0 keeps the codec's own.
  virtual bool createCodec(std::string_view name, int mode, int keyInterval);
  virtual bool recreateCodec();
  virtual double frameAspect();
  virtual bool domeCommand(const dvrCommand& command);
  // Declare "resolution" and "format"; kinds call them and then add their choices.
  virtual void declareResolution();
  virtual void declareFormat();
  virtual int streamFrame() { return 0; }

  // Rebuilds the image buffer and the codec from the settings; restarts the
  // camera when it was running. False without a board.
  bool reinit();

  dvrBoard* board() const { return board_; }
  int input() const { return input_; }
  int deviceNumber() const { return device_; }
  bool isPal() const { return pal_ != 0; }
  bool isRunning() const { return running_; }
  bool isReinitialising() const { return reinitialising_; }
  bool isRemote() const { return remote_; }
  bool isReplay() const { return replay_; }

  // The type code the container created the camera for (-1 otherwise).
  int typeCode() const { return typeCode_; }
  void setTypeCode(int code) { typeCode_ = code; }

  const std::vector<Size>& resolutions() const { return resolutions_; }
  const std::vector<int>& formats() const { return formats_; }
  Size forcedSize() const { return forced_; }
  void setForcedSize(int width, int height) { forced_ = {width, height}; }

  // The image buffer and codec; hold imageLock() / codecLock() while using them.
  dvrImage* image() const { return image_.get(); }
  dvrCodec* codec() const { return codec_.get(); }
  const std::string& codecName() const { return codecName_; }
  int codecMode() const { return codecMode_; }
  std::recursive_mutex& codecLock() const { return codecLock_; }
  std::recursive_mutex& imageLock() const { return imageLock_; }
  std::recursive_mutex& domeLock() const { return domeLock_; }

  // Motion copies: sensitivity A, sensitivity B, noise filter, tolerance.
  int motionSensA() const { return motSensA_; }
  int motionSensB() const { return motSensB_; }
  int motionNoiseFilter() const { return motEdge_; }
  int motionTolerance() const { return motTol_; }

  std::int64_t frameSeconds() const { return frameSeconds_; }
  int frameMilliseconds() const { return frameMilliseconds_; }

  Statistics& statistics() { return stats_; }
  const Statistics& statistics() const { return stats_; }
  // Counts a grabbed frame; every 4995 ms or more of the millisecond clock
  // the frame rate of the window is measured (over 5 s) and the window restarts.
  void countFrame(std::uint32_t milliseconds);
  // Takes the compressed size of the image buffer into the size statistics.
  void countCompressedSize(int size);

  // Frame handshake with the camera window: the capture thread marks a new
  // frame; takeNewFrame answers true once per new frame.
  void markNewFrame();
  bool takeNewFrame();

 protected:
  // The capture thread: made and run by start, ended and joined by stop
  // (dvrCameraThread). Kinds without a capture loop of their own keep these.
  virtual void runCaptureThread();
  virtual void endCaptureThread();
  // Re-creates the dome controller from domecom, domeaddr and dometype.
  virtual void recreateDome() {}

  // Sets the frame time to the current system time (seconds and milliseconds).
  void stampFrameTime();
  void addResolution(int width, int height);
  void addFormat(int format);
  void setRemote(bool on) { remote_ = on; }

 private:
  void restart();
  void declareSettings();

  dvrBoard* board_;
  std::int32_t input_ = -1;
  std::int32_t device_ = -1;
  std::int32_t pal_ = 1;
  int typeCode_ = -1;
  std::vector<Size> resolutions_;
  std::vector<int> formats_;
  Size forced_;
  std::unique_ptr<dvrImage> image_;  // guarded by imageLock_
  std::unique_ptr<dvrCodec> codec_;  // guarded by codecLock_
  std::string codecName_ = "NULL";
  int codecMode_ = 1;
  std::unique_ptr<dvrCameraThread> thread_;  // command thread
  std::atomic<bool> running_{false};
  std::atomic<bool> reinitialising_{false};  // read by the capture thread
  bool remote_ = false;
  bool replay_ = false;
  bool frameSeen_ = false;  // guarded by frameFlagLock_
  std::int32_t motSensA_ = 4;
  std::int32_t motSensB_ = 8;
  std::int32_t motEdge_ = 5;
  std::int32_t motTol_ = 7;
  std::int64_t frameSeconds_ = 0;
  std::int32_t frameMilliseconds_ = 0;
  Statistics stats_;
  std::int32_t windowFrames_ = 0;
  std::uint32_t windowStart_ = 0;
  mutable std::recursive_mutex codecLock_;
  mutable std::recursive_mutex domeLock_;
  mutable std::recursive_mutex imageLock_;
  std::mutex frameFlagLock_;
};
