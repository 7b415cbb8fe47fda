// A camera on a board, driven as a user drives the recorder: through the
// command lines "AddCard", "AddCamera", "Start", "set camera" and "Stop" of a
// recorder without windows. Frames travel the whole capture path (grab,
// motion, decision, compression) to a frame sink that counts them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "core/console.h"
#include "core/engine.h"
#include "core/settings.h"
#include "pipeline/board.h"
#include "pipeline/board_container.h"
#include "pipeline/camera.h"
#include "pipeline/camera_container.h"
#include "pipeline/capture_engine.h"
#include "pipeline/frame_sink.h"
#include "pipeline/image.h"
#include "tests/support/fixture.h"

namespace {

constexpr int kMovingCameraType = 78;

// Every grab paints a bar at a new place: each picture differs from the last.
class MovingBoard : public dvrBoard {
 public:
  const char* typeName() override { return "movingboard"; }
  int cameraType(int) override { return kMovingCameraType; }
  int inputCount() override { return 2; }
  bool grabFrame(int, dvrImage& image) override {
    std::uint8_t* frame = image.buffer(dvrBUF_CURRENT);
    if (!frame) return false;
    const int bytes = image.frameBytes();
    std::memset(frame, 16, bytes);
    const int bar = bytes / 8;
    std::memset(frame + (grabs_ % 7) * bar, 235, bar);
    ++grabs_;
    return true;
  }

 private:
  int grabs_ = 0;  // capture thread only
};

class MovingCamera : public dvrCamera {
 public:
  explicit MovingCamera(dvrBoard* board) : dvrCamera(board) {
    declareResolution();
    settings().addChoice("176x144", 0);
    settings().addChoice("352x288", 1);
    addResolution(176, 144);
    addResolution(352, 288);
    declareFormat();
    settings().addChoice("UYVY", dvrFORMAT_UYVY);
    addFormat(dvrFORMAT_UYVY);
    settings().setInt("format", dvrFORMAT_UYVY);
  }
  ~MovingCamera() override { stop(); }
};

// Counts the frames handed off and remembers the last one's picture size.
class CountingSink : public dvrFrameSink {
 public:
  bool put(const dvrFrameRecord& record, const std::uint8_t*, int) override {
    std::lock_guard<std::mutex> lock(lock_);
    ++frames_;
    width_ = record.header.width;
    arrived_.notify_all();
    return true;
  }
  int frames() {
    std::lock_guard<std::mutex> lock(lock_);
    return frames_;
  }
  int lastWidth() {
    std::lock_guard<std::mutex> lock(lock_);
    return width_;
  }
  // Waits until more than count frames have arrived.
  bool waitBeyond(int count) {
    std::unique_lock<std::mutex> lock(lock_);
    return arrived_.wait_for(lock, std::chrono::seconds(20), [&] { return frames_ > count; });
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  int frames_ = 0;
  int width_ = 0;
};

class RecorderCaptureTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    globals->declare("globalrecordrule", "", dvrType::HIDDEN, dvrFlag::STRING);
    dvrBoard::resetIdCounter();
    dvrBoardContainer::registerType("movingboard", [] { return std::make_unique<MovingBoard>(); });
    dvrCameraContainer::registerType(kMovingCameraType,
                                     [](dvrBoard* b) { return std::make_unique<MovingCamera>(b); });
    dvrStartCapturePipeline();
    dvrSetFrameSink(&sink);
    run("AddCard movingboard Yard");
    run("AddCamera Yard 0 Gate");
    run("set camera Gate framerate int 25");
  }
  void TearDown() override {
    core->stop();
    core->setCaptureSide(nullptr);
    dvrSetFrameSink(nullptr);
    dvrCameraContainer::unregisterType(kMovingCameraType);
    dvrBoardContainer::unregisterType("movingboard");
    dvrEngineTest::TearDown();
  }
  void run(const std::string& line) { console->execute(line); }
  dvrCamera* gate() { return dvrCapture()->cameras().findCamera("Gate"); }

  CountingSink sink;
};

TEST_F(RecorderCaptureTest, StartRecordsMotionAndStopReturnsPromptly) {
  ASSERT_NE(gate(), nullptr);
  EXPECT_FALSE(gate()->isRunning()) << "a camera added before Start waits for it";
  run("Start");
  EXPECT_TRUE(gate()->isRunning());
  ASSERT_TRUE(sink.waitBeyond(5)) << "moving pictures are recorded as motion frames";
  EXPECT_EQ(sink.lastWidth(), 176);
  EXPECT_GE(gate()->statistics().framesRecorded, 5);

  auto before = std::chrono::steady_clock::now();
  run("Stop");
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_FALSE(gate()->isRunning());
  const int afterStop = sink.frames();
  run("Start");  // and it starts again
  ASSERT_TRUE(sink.waitBeyond(afterStop));
}

TEST_F(RecorderCaptureTest, CameraAddedWhileStartedRunsAtOnce) {
  run("Start");
  run("AddCamera Yard 1 Door");
  dvrCamera* door = dvrCapture()->cameras().findCamera("Door");
  ASSERT_NE(door, nullptr);
  EXPECT_TRUE(door->isRunning());
  run("DelCamera Door");  // deleting a running camera stops its thread first
  EXPECT_EQ(dvrCapture()->cameras().findCamera("Door"), nullptr);
  EXPECT_TRUE(gate()->isRunning());
}

TEST_F(RecorderCaptureTest, RestartingWhileRecordingNeverHangs) {
  run("Start");
  ASSERT_TRUE(sink.waitBeyond(0));
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    // A new size restarts the running camera from the command line; a
    // flagged restart goes through Refresh. Both join the thread first.
    const int resolution = i % 2;
    if (i % 4 < 2) {
      run("set camera Gate resolution int " + std::to_string(resolution));
    } else {
      run("set camera Gate resolution int " + std::to_string(resolution));
      run("set camera Gate restartnow int 1");
      run("Refresh");
    }
    const int before = sink.frames();
    ASSERT_TRUE(sink.waitBeyond(before)) << "frames flow after the restart";
    EXPECT_TRUE(gate()->isRunning());
    EXPECT_EQ(sink.lastWidth(), resolution == 0 ? 176 : 352);
  }
  run("Stop");
  EXPECT_FALSE(gate()->isRunning());
}

}  // namespace
