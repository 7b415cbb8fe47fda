// Counters of the recording path, for measuring a running recorder: how many
// frames were grabbed and stored, where the others were lost, and how late
// the 20 ms "refresh" heartbeat ran. Nothing in the recorder acts on them.
//
// Threads: every function may be called from any thread; counting is a
// relaxed atomic increment, cheap enough for every frame.
#pragma once

#include <chrono>
#include <string>

enum class dvrFrameEvent {
  grabbed,        // a picture came from the source and went through the camera thread
  handedOff,      // a compressed frame was taken by the store's queue
  grabFailed,     // the source had no picture (board error, failed fetch)
  encoderFailed,  // a frame to be recorded did not compress into a valid payload
  queueRetried,   // the store's queue was full; the hand-off waits and tries again
  queueLost,      // the queue stayed full through every retry: the frame is lost
  storeLost,      // the store could not write a frame it had taken
};

void dvrCountFrameEvent(dvrFrameEvent event);
// One heartbeat tick that ran `lateness` after it was due.
void dvrCountHeartbeat(std::chrono::steady_clock::duration lateness);

// "name value" lines of every counter, then the heartbeat's tick count and its
// lateness in milliseconds at the median, the 99th percentile and the maximum.
std::string dvrRunStatisticsText();
// Writes that text to the file named by the environment variable
// TAVEL_STATISTICS, when it is set; nothing otherwise.
void dvrWriteRunStatistics();
