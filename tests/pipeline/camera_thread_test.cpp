#include "pipeline/camera_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sstream>
#include <thread>
#include <vector>

#include "core/run_statistics.h"
#include "core/settings.h"
#include "core/watchdog.h"
#include "pipeline/board.h"
#include "pipeline/camera.h"
#include "pipeline/codec.h"
#include "pipeline/frame_sink.h"
#include "pipeline/image.h"
#include "pipeline/rule_lookup.h"
#include "tests/support/fixture.h"

namespace {

// Serves a script of pictures: 'M' a picture unlike the one before (motion),
// '.' the same picture again. After the script every grab fails and the
// board reports that it has run out.
class ScriptBoard : public dvrBoard {
 public:
  const char* typeName() override { return "scriptboard"; }
  bool grabFrame(int, dvrImage& image) override {
    std::uint8_t* frame = image.buffer(dvrBUF_CURRENT);
    std::unique_lock<std::mutex> lock(lock_);
    if (served_ >= script_.size()) {
      exhausted_ = true;
      changed_.notify_all();
      return false;
    }
    if (script_[served_++] == 'M') value_ = value_ == 0 ? 200 : 0;
    if (frame) std::memset(frame, value_, image.frameBytes());
    changed_.notify_all();
    return true;
  }
  void setScript(std::string script) {
    std::lock_guard<std::mutex> lock(lock_);
    script_ = std::move(script);
    served_ = 0;
    exhausted_ = false;
    value_ = 0;  // a fresh image buffer's reference is all zero
  }
  // Waits until more than count frames have been grabbed.
  bool waitServedBeyond(int count) {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return static_cast<int>(served_) > count; });
  }
  // Waits until a grab past the script: every scripted frame has gone all the way through.
  bool waitExhausted() {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return exhausted_; });
  }
  // Grab number (1-based) of the frame being processed; capture thread only.
  int served() {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(served_);
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::string script_;
  std::size_t served_ = 0;
  bool exhausted_ = false;
  std::uint8_t value_ = 0;
};

class ScriptCamera : public dvrCamera {
 public:
  explicit ScriptCamera(dvrBoard* board) : dvrCamera(board) {
    settings().setInt("noclosewindow", 1);
    declareResolution();
    addResolution(176, 144);
    declareFormat();
    addFormat(dvrFORMAT_UYVY);
    settings().setInt("format", dvrFORMAT_UYVY);
  }
  // The thread calls this kind's grab: it must end before the kind goes.
  ~ScriptCamera() override { stop(); }

  // With busy set, start runs a thread whose waits return at once, so that it
  // is nearly always holding or asking for the camera's locks.
  bool busy = false;
  // The next this many prepareGrab calls answer that nothing new came in.
  std::atomic<int> failedPrepares{0};
  bool prepareGrab() override {
    if (failedPrepares > 0) {
      --failedPrepares;
      return false;
    }
    return true;
  }

 protected:
  void runCaptureThread() override {
    if (!busy) return dvrCamera::runCaptureThread();
    dvrCameraThread::Environment env = dvrCameraThread::systemEnvironment();
    env.sleep = [](int) { std::this_thread::yield(); };
    busyThread_ = std::make_unique<dvrCameraThread>(*this, env);
    busyThread_->start();
  }
  void endCaptureThread() override {
    if (busyThread_) busyThread_->stop();
    busyThread_.reset();
    dvrCamera::endCaptureThread();
  }

 private:
  std::unique_ptr<dvrCameraThread> busyThread_;
};

// Keeps what reached it: the grab number of each frame, the records, payload sizes.
class RecordingSink : public dvrFrameSink {
 public:
  explicit RecordingSink(ScriptBoard& board) : board_(board) {}
  bool put(const dvrFrameRecord& record, const std::uint8_t*, int size) override {
    ++attempts;
    if (refusals > 0) {
      --refusals;
      return false;
    }
    frames.push_back(board_.served());
    records.push_back(record);
    sizes.push_back(size);
    return true;
  }
  int refusals = 0;
  int attempts = 0;
  std::vector<int> frames;
  std::vector<dvrFrameRecord> records;
  std::vector<int> sizes;

 private:
  ScriptBoard& board_;
};

// Answers rules by name, possibly changing from a given grab on.
class TableLookup : public dvrRuleLookup {
 public:
  explicit TableLookup(ScriptBoard& board) : board_(board) {}
  int ruleValue(std::string_view name) override {
    auto it = values.find(std::string(name));
    if (it == values.end()) return -1;
    if (changeAt > 0 && board_.served() >= changeAt && name == changedRule) return changedValue;
    return it->second;
  }
  std::map<std::string, int> values;
  int changeAt = 0;
  std::string changedRule;
  int changedValue = 0;

 private:
  ScriptBoard& board_;
};

class Recording32 : public dvrObserver {
 public:
  void update(dvrNotifier* notifier, std::uint32_t codes) override {
    dvrObserver::update(notifier, codes);
    if (codes & dvrNOTIFY_RECORDING) ++count;
  }
  int count = 0;
};

class CameraThreadTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    globals->declare("globalrecordrule", "", dvrType::HIDDEN, dvrFlag::STRING);
    board = std::make_unique<ScriptBoard>();
    camera = std::make_unique<ScriptCamera>(board.get());
    ASSERT_TRUE(camera->attachInput(2));
    sink = std::make_unique<RecordingSink>(*board);
    lookup = std::make_unique<TableLookup>(*board);
    dvrSetFrameSink(sink.get());
  }
  void TearDown() override {
    camera.reset();
    dvrSetFrameSink(nullptr);
    dvrSetRuleLookup(nullptr);
    dvrEngineTest::TearDown();
  }
  // Runs the script through a thread with an instant sleep; answers the
  // frame-period waits asked for, one per scripted frame.
  std::vector<int> runScript(const std::string& script, std::int64_t clockStep = 0) {
    board->setScript(script);
    camera->statistics() = {};
    std::mutex waitsLock;
    std::vector<int> waits;
    std::int64_t clock = 0;
    dvrCameraThread::Environment env;
    env.milliseconds = [&] { return clock += clockStep; };
    env.sleep = [&](int ms) {
      std::lock_guard<std::mutex> lock(waitsLock);
      waits.push_back(ms);
    };
    dvrCameraThread thread(*camera, env);
    thread.start();
    EXPECT_TRUE(board->waitExhausted());
    thread.stop();
    std::lock_guard<std::mutex> lock(waitsLock);
    if (waits.size() > script.size()) waits.resize(script.size());
    return waits;
  }

  std::unique_ptr<ScriptBoard> board;
  std::unique_ptr<ScriptCamera> camera;
  std::unique_ptr<RecordingSink> sink;
  std::unique_ptr<TableLookup> lookup;
};

TEST_F(CameraThreadTest, RecordingDecisionPicksTheFrames) {
  struct Row {
    const char* label;
    const char* script;
    int framerate, framerateM, framerateC, postframes;
    const char* globalRule;
    const char* motionRule;
    const char* continuousRule;
    bool withLookup;
    std::vector<int> recorded;  // grab numbers, from 1
  };
  const Row rows[] = {
      {"still pictures record nothing", "......", 25, 0, 0, 0, "", "", "", true, {}},
      {"motion records its frames", "..M.M.", 25, 0, 0, 0, "", "", "", true, {3, 5}},
      {"post-motion frames", "M......", 25, 0, 0, 3, "", "", "", true, {1, 2, 3, 4}},
      {"motion rate reduced by framerate_m", "MMMMMMMMMMMM", 25, 5, 0, 0, "", "", "", true, {6, 12}},
      {"framerate_m at the capture rate", "MMMM", 25, 25, 0, 0, "", "", "", true, {1, 2, 3, 4}},
      {"continuous at framerate_c", "............", 10, 0, 2, 0, "", "", "on", true, {6, 12}},
      {"framerate_c at the capture rate", "....", 10, 0, 10, 0, "", "", "on", true, {1, 2, 3, 4}},
      {"continuous rule false", "....", 10, 0, 0, 0, "", "", "off", true, {}},
      {"continuous rule missing", "....", 10, 0, 0, 0, "", "", "nosuch", true, {}},
      {"motion at full rate during continuous", "...MM.......", 10, 5, 2, 0, "", "", "on", true,
       {4, 5, 11}},
      {"global rule false", "MMM...", 10, 0, 2, 2, "off", "", "on", true, {}},
      {"global rule true", "M..", 10, 0, 0, 0, "on", "", "", true, {1}},
      {"global rule missing", "M..", 10, 0, 0, 0, "nosuch", "", "", true, {1}},
      {"motion rule false", "M.M", 10, 0, 0, 0, "", "off", "", true, {}},
      {"motion rule missing", "M.M", 10, 0, 0, 0, "", "nosuch", "", true, {1, 3}},
      {"no rule set: names count as missing", "M...", 10, 0, 0, 0, "g", "m", "c", false, {1}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    sink->frames.clear();
    camera->settings().setInt("framerate", r.framerate);
    camera->settings().setInt("framerate_m", r.framerateM);
    camera->settings().setInt("framerate_c", r.framerateC);
    camera->settings().setInt("postframes", r.postframes);
    camera->settings().setText("recordbyrule", r.motionRule);
    camera->settings().setText("recordbyruleC", r.continuousRule);
    globals->setText("globalrecordrule", r.globalRule);
    lookup->values = {{"on", 1}, {"off", 0}};
    dvrSetRuleLookup(r.withLookup ? lookup.get() : nullptr);
    ASSERT_TRUE(camera->reinit());
    runScript(r.script);
    EXPECT_EQ(sink->frames, r.recorded);
    EXPECT_EQ(camera->statistics().framesRecorded, static_cast<int>(r.recorded.size()));
    EXPECT_EQ(camera->statistics().framesProcessed, static_cast<int>(std::strlen(r.script)));
  }
}

TEST_F(CameraThreadTest, PostMotionFramesOutliveTheGlobalRule) {
  camera->settings().setInt("framerate", 10);
  camera->settings().setInt("postframes", 3);
  globals->setText("globalrecordrule", "gate");
  lookup->values = {{"gate", 1}};
  lookup->changeAt = 2;
  lookup->changedRule = "gate";
  lookup->changedValue = 0;
  dvrSetRuleLookup(lookup.get());
  ASSERT_TRUE(camera->reinit());
  runScript("MMMMMM");
  EXPECT_EQ(sink->frames, (std::vector<int>{1, 2, 3, 4}))
      << "motion after the rule turned false starts nothing, the countdown goes on";
}

TEST_F(CameraThreadTest, MotionRecordingChangesAreNotified) {
  struct Row {
    const char* label;
    const char* script;
    int framerateM;
    int notifications;
    int finalState;
  };
  const Row rows[] = {
      {"on and off again", "MM..", 0, 2, 0},
      {"stays on", "MMM", 0, 1, 1},
      // Rate 25 / 12 records a frame when C > 2: frames 1 and 2 are motion
      // not recorded and end at 0, so frames 2 and 3 notify again; frame 3
      // is recorded and frame 4 starts from 1 (no notification), ending at 0.
      {"reduced motion frames notify each time", "MMMM", 12, 3, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    camera->settings().setInt("framerate", 25);
    camera->settings().setInt("framerate_m", r.framerateM);
    ASSERT_TRUE(camera->reinit());
    camera->statistics().motionRecording = 0;
    Recording32 observer;
    camera->attach(&observer, dvrNOTIFY_RECORDING);
    runScript(r.script);
    camera->detach(&observer);
    EXPECT_EQ(observer.count, r.notifications);
    EXPECT_EQ(camera->statistics().motionRecording, r.finalState);
  }
}

TEST_F(CameraThreadTest, FramePeriodWaits) {
  struct Row {
    const char* label;
    int framerate;
    std::int64_t clockStep;  // milliseconds the clock moves per reading
    int wait;
  };
  const Row rows[] = {
      {"frame rate 0 waits 10 ms", 0, 0, 10},
      {"period without processing time", 25, 0, 40},
      {"processing time is subtracted", 5, 150, 50},
      {"never negative", 5, 300, 0},
      {"never above a second", 1, 0, 1000},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    camera->settings().setInt("framerate", r.framerate);
    ASSERT_TRUE(camera->reinit());
    camera->settings().setInt("framerate", r.framerate);
    EXPECT_EQ(runScript("...", r.clockStep), (std::vector<int>{r.wait, r.wait, r.wait}));
  }
}

TEST_F(CameraThreadTest, NothingNewWaitsAFramePeriodAndRecordsNothing) {
  struct Row {
    const char* label;
    int framerate;
    std::int64_t clockStep;
    int wait;
  };
  const Row rows[] = {
      {"a refused fetch waits the frame period", 4, 0, 250},
      {"the attempt's own time is subtracted", 4, 100, 150},
      {"frame rate 0", 0, 0, 10},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    camera->settings().setInt("framerate", r.framerate);
    ASSERT_TRUE(camera->reinit());
    camera->settings().setInt("framerate", r.framerate);
    sink->frames.clear();
    camera->failedPrepares = 3;
    const auto waits = runScript("M", r.clockStep);
    ASSERT_GE(waits.size(), 1u);
    EXPECT_EQ(waits[0], r.wait);
    EXPECT_EQ(sink->frames, std::vector<int>{1}) << "only the frame that came in is recorded";
    EXPECT_EQ(camera->statistics().framesProcessed, 1);
  }
}

TEST_F(CameraThreadTest, HandedOffFramesCarryTheirHeader) {
  board->settings().setInt("ID", 6);
  camera.reset();
  auto cam = std::make_unique<ScriptCamera>(board.get());
  ASSERT_TRUE(cam->attachInput(3));
  camera = std::move(cam);
  camera->settings().setInt("framerate", 25);
  ASSERT_TRUE(camera->reinit());
  ASSERT_NE(camera->codec(), nullptr);
  runScript("MMMMMM");
  ASSERT_EQ(sink->records.size(), 6u);
  for (std::size_t i = 0; i < sink->records.size(); ++i) {
    SCOPED_TRACE(i);
    const dvrFrameRecord& rec = sink->records[i];
    EXPECT_EQ(rec.header.fourccView(), "MPG4");
    EXPECT_EQ(rec.header.payloadSize, static_cast<std::uint32_t>(sink->sizes[i]));
    EXPECT_GE(sink->sizes[i], 1);
    EXPECT_LE(sink->sizes[i], 262143);
    EXPECT_EQ(rec.header.width, 176);
    EXPECT_EQ(rec.header.height, 144);
    EXPECT_EQ(rec.device, board->boardId());
    EXPECT_EQ(rec.input, 3);
    EXPECT_GT(rec.seconds, 0);
    EXPECT_LT(rec.milliseconds, 1000);
  }
  EXPECT_TRUE(sink->records[0].header.isKeyFrame()) << "a fresh encoder starts with a key frame";
  EXPECT_NE(std::count_if(sink->records[1].header.motion.begin(), sink->records[1].header.motion.end(),
                          [](std::uint8_t b) { return b != 0; }),
            0)
      << "the motion bitmask travels with the frame";
}

// One counter of the process's run statistics.
long runCounter(const std::string& name) {
  std::istringstream in(dvrRunStatisticsText());
  std::string key;
  double value = 0;
  while (in >> key >> value)
    if (key == name) return static_cast<long>(value);
  return -1;
}

TEST_F(CameraThreadTest, RefusedHandOffsAreRetriedThenDropped) {
  struct Row {
    const char* label;
    int refusals;
    int attempts;
    std::vector<int> taken;
    long retried, lost, handedOff;  // counted in the run statistics
  };
  const Row rows[] = {
      {"taken after three refusals", 3, 4, {1}, 3, 0, 1},
      {"dropped after a hundred retries", 1000, 101, {}, 100, 1, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    ASSERT_TRUE(camera->reinit());
    sink->frames.clear();
    sink->attempts = 0;
    sink->refusals = r.refusals;
    const long retried = runCounter("queue_retried"), lost = runCounter("queue_lost"),
               handedOff = runCounter("handed_off");
    runScript("M");
    EXPECT_EQ(sink->attempts, r.attempts);
    EXPECT_EQ(sink->frames, r.taken);
    EXPECT_EQ(runCounter("queue_retried") - retried, r.retried);
    EXPECT_EQ(runCounter("queue_lost") - lost, r.lost);
    EXPECT_EQ(runCounter("handed_off") - handedOff, r.handedOff);
  }
}

TEST_F(CameraThreadTest, WithoutACodecOrSinkNothingIsStored) {
  camera->settings().setInt("codec", -1);  // "NULL": no codec
  ASSERT_TRUE(camera->reinit());
  ASSERT_EQ(camera->codec(), nullptr);
  runScript("MMM");
  EXPECT_TRUE(sink->frames.empty());
  EXPECT_EQ(camera->statistics().motionRecording, 0);
  EXPECT_EQ(camera->statistics().framesRecorded, 0);

  camera->settings().setInt("codec", 0);
  ASSERT_TRUE(camera->reinit());
  dvrSetFrameSink(nullptr);
  runScript("MMM");
  EXPECT_TRUE(sink->frames.empty());
  EXPECT_EQ(camera->statistics().framesRecorded, 3) << "compressed, counted, not stored";
}

TEST_F(CameraThreadTest, StopCutsTheFramePeriodWaitShort) {
  board->setScript(std::string(1000, 'M'));
  camera->settings().setInt("framerate", 1);  // a one-second wait after each frame
  ASSERT_TRUE(camera->reinit());
  ASSERT_TRUE(camera->start());
  EXPECT_TRUE(camera->isRunning());
  ASSERT_TRUE(board->waitServedBeyond(0));  // the thread is in its one-second wait now
  auto before = std::chrono::steady_clock::now();
  camera->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(900))
      << "stop wakes the frame-period wait";
  EXPECT_FALSE(camera->isRunning());
}

TEST_F(CameraThreadTest, RestartingARunningCameraManyTimes) {
  struct Row {
    const char* label;
    bool busy;
  };
  const Row rows[] = {
      {"camera at 25 frames per second", false},
      {"thread that never waits", true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    board->setScript(std::string(100000, 'M'));
    camera->busy = r.busy;
    camera->settings().setInt("framerate", 25);
    ASSERT_TRUE(camera->reinit());
    ASSERT_TRUE(camera->start());
    for (int i = 0; i < 30; ++i) {
      // The re-initialisation must join the thread before it holds the locks
      // that the thread takes every frame.
      const int grabbed = board->served();
      ASSERT_TRUE(camera->reinit()) << i;
      EXPECT_TRUE(camera->isRunning()) << i;
      ASSERT_TRUE(board->waitServedBeyond(grabbed)) << i << ": the new thread grabs";
    }
    camera->stop();
    EXPECT_FALSE(camera->isRunning());
  }
}

TEST_F(CameraThreadTest, RegistersWithTheSoftwareWatchdogWhileRunning) {
  struct Row {
    const char* label;
    int override;
    std::size_t whileRunning;
  };
  const Row rows[] = {
      {"watched", 0, 1},
      {"wd_override -1", -1, 0},
  };
  std::atomic<std::int64_t> seconds{0};
  dvrOKThread::Environment quiet;
  quiet.now = [&] { return seconds.load(); };
  quiet.sleep = [](int) {};
  quiet.killProcess = [] {};
  quiet.restartOnFailure = [] { return false; };
  quiet.touchPollFile = [] {};
  dvrOKThread watchdog(quiet);  // never started: only its table is looked at
  dvrOKThread* previous = dvrWatchdog();
  dvrSetWatchdog(&watchdog);
  camera->settings().declare("wd_override", "", dvrType::HIDDEN, dvrFlag::INT);
  ASSERT_TRUE(camera->reinit());
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    camera->settings().setInt("wd_override", r.override);
    board->setScript(std::string(100000, '.'));
    dvrCameraThread::Environment env = dvrCameraThread::systemEnvironment();
    env.sleep = [](int) { std::this_thread::yield(); };
    dvrCameraThread thread(*camera, env);
    thread.start();
    ASSERT_TRUE(board->waitServedBeyond(0));
    EXPECT_EQ(watchdog.moduleCount(), r.whileRunning);
    // 300 s later the 200 s time-out has passed unless the loop reported alive since.
    seconds += 300;
    ASSERT_TRUE(board->waitServedBeyond(board->served()));
    EXPECT_TRUE(watchdog.check()) << "alive is reported every pass";
    thread.stop();
    EXPECT_EQ(watchdog.moduleCount(), 0u) << "unregistered at the end";
  }
  dvrSetWatchdog(previous);
}

TEST_F(CameraThreadTest, LosingTheImageBufferEndsTheThread) {
  dvrCamera loose(nullptr);
  loose.settings().setInt("noclosewindow", 1);
  dvrCameraThread thread(loose);  // never re-initialised: no image buffer
  thread.start();
  thread.stop();  // joins at once whether the loop ended by itself or not
  EXPECT_EQ(loose.statistics().framesProcessed, 0);
}

}  // namespace
