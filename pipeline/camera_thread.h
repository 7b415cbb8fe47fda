// The capture thread of a started camera: grabs at the camera's frame rate,
// detects motion, decides frame by frame whether to record (motion,
// post-motion frames and continuous recording, each under the global
// recording rule and the camera's rule names, each with its own reduced
// rate), compresses under the process-wide encoder lock and hands recorded
// frames to the frame sink. Keeps the camera's statistics and notifies 32
// when its motion-recording state changes.
//
// Owned by its camera: made and started by the camera's start, stopped and
// joined by its stop. Per frame the thread holds the camera's codec lock,
// then its image lock, from the grab to the end of the hand-off; whoever
// stops it must not hold either (the thread may be waiting for them).
//
// Threads: start and stop on the command thread; everything else on the
// capture thread itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "pipeline/frame.h"

class dvrCamera;
class dvrImage;

// Held around every compression of every camera: at most one frame in the
// recorder is being compressed at any time.
std::mutex& dvrEncoderLock();

class dvrCameraThread {
 public:
  // What the thread takes from its surroundings; tests replace them.
  struct Environment {
    // A monotonic millisecond clock (frame period and statistics window).
    std::function<std::int64_t()> milliseconds;
    // When set, replaces the thread's own wait: called with the milliseconds
    // to wait and expected to return when done. Without it the thread waits
    // on its condition variable, which stop wakes at once.
    std::function<void(int milliseconds)> sleep;
  };
  static Environment systemEnvironment();

  // Grab failures, re-initialisation and the frame period all wait here.
  static constexpr int kPausedMs = 50;
  static constexpr int kGrabFailedMs = 10;
  static constexpr int kRemoteMs = 40;
  static constexpr int kNoFrameRateMs = 10;
  static constexpr int kRetryMs = 5;
  static constexpr int kRetries = 100;
  static constexpr int kWatchdogSeconds = 200;

  explicit dvrCameraThread(dvrCamera& camera, Environment env = systemEnvironment());
  // Stops the thread if it runs.
  ~dvrCameraThread();
  dvrCameraThread(const dvrCameraThread&) = delete;
  dvrCameraThread& operator=(const dvrCameraThread&) = delete;

  // Runs the loop on a new thread (nothing when it runs already).
  void start();
  // Asks the loop to end, wakes it from its wait and joins it.
  void stop();
  bool isRunning() const { return thread_.joinable(); }
  // True while the camera re-initialises and the loop idles.
  bool isPaused() const { return paused_; }
  // True once the loop has ended by itself or been asked to.
  bool stopRequested() const { return stopping_; }

 private:
  // Loop state: frame number N, frames since the last recorded one C, and
  // the post-motion countdown P.
  struct Counters {
    std::int32_t frameNumber = 0;
    std::int32_t sinceRecorded = 0;
    std::int32_t postMotion = 0;
  };
  void run();
  // Numbers, decides, compresses and hands off the frame just grabbed, with
  // both camera locks held; false when asked to end meanwhile.
  bool processFrame(dvrImage& image, bool streaming, bool remote, Counters& counters);
  // The recording decision for the grabbed frame; called with both camera locks held.
  bool decide(int sinceRecorded, int& postMotion);
  // Builds the record and gives the compressed frame to the sink, retrying while refused.
  void handOff();
  void pause(int milliseconds);
  // The wait that ends the frame period begun at since: 1000 / framerate
  // milliseconds less the time taken, within 0..1000 (framerate 0: a short wait).
  int framePeriodWait(std::int64_t since, std::int64_t now) const;

  dvrCamera& camera_;
  Environment env_;
  std::thread thread_;                 // started and joined on the command thread
  std::atomic<bool> stopping_{false};
  std::atomic<bool> paused_{false};
  std::mutex waitLock_;
  std::condition_variable wake_;
  dvrFrameRecord record_;              // capture thread only; reused for every frame
};
