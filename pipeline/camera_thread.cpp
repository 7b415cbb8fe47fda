#include "pipeline/camera_thread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>

#include "core/process.h"
#include "core/run_statistics.h"
#include "core/settings.h"
#include "core/watchdog.h"
#include "pipeline/board.h"
#include "pipeline/camera.h"
#include "pipeline/codec.h"
#include "pipeline/frame_sink.h"
#include "pipeline/image.h"
#include "pipeline/rule_lookup.h"

namespace {

std::atomic<dvrFrameSink*> frameSink{nullptr};
std::atomic<dvrRuleLookup*> ruleLookup{nullptr};

// 1 true, 0 false, -1 no rule of that name (also when there is no rule set).
int ruleValue(std::string_view name) {
  dvrRuleLookup* lookup = ruleLookup.load();
  return lookup ? lookup->ruleValue(name) : -1;
}

}  // namespace

dvrFrameSink* dvrFrameSinkInstance() { return frameSink.load(); }
void dvrSetFrameSink(dvrFrameSink* sink) { frameSink.store(sink); }
dvrRuleLookup* dvrRuleLookupInstance() { return ruleLookup.load(); }
void dvrSetRuleLookup(dvrRuleLookup* lookup) { ruleLookup.store(lookup); }

std::mutex& dvrEncoderLock() {
  static std::mutex lock;
  return lock;
}

dvrCameraThread::Environment dvrCameraThread::systemEnvironment() {
  Environment env;
  env.milliseconds = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  return env;
}

dvrCameraThread::dvrCameraThread(dvrCamera& camera, Environment env)
    : camera_(camera), env_(std::move(env)) {
  if (!env_.milliseconds) env_.milliseconds = systemEnvironment().milliseconds;
}

dvrCameraThread::~dvrCameraThread() { stop(); }

void dvrCameraThread::start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void dvrCameraThread::stop() {
  {
    std::lock_guard<std::mutex> lock(waitLock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void dvrCameraThread::pause(int milliseconds) {
  if (env_.sleep) {
    env_.sleep(milliseconds);
    return;
  }
  std::unique_lock<std::mutex> lock(waitLock_);
  wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_.load(); });
}

void dvrCameraThread::run() {
  dvrSettingSet& s = camera_.settings();
  const bool streaming = s.getInt("streaming") != 0;
  const std::uint64_t key = dvrOKThread::threadKey();
  dvrOKThread* watchdog = s.getInt("wd_override") != -1 ? dvrWatchdog() : nullptr;
  if (watchdog) watchdog->addModule(key, kWatchdogSeconds, camera_.name());

  Counters counters;
  while (!stopping_) {
    if (watchdog) watchdog->alive(key);
    if (camera_.isReinitialising()) {
      paused_ = true;
      pause(kPausedMs);
      continue;
    }
    paused_ = false;
    const bool remote = camera_.isRemote();
    const std::int64_t attemptAt = env_.milliseconds();
    if (!camera_.prepareGrab()) {
      // Nothing new came in (a network camera whose fetch failed, or that is
      // disabled): wait out the frame period, so that an unreachable source is
      // asked again at the frame rate and not in a tight loop.
      if (!stopping_) pause(framePeriodWait(attemptAt, env_.milliseconds()));
      continue;
    }
    std::int64_t grabbedAt = 0;
    bool grabbed = false;
    {
      std::lock_guard<std::recursive_mutex> codecGuard(camera_.codecLock());
      std::lock_guard<std::recursive_mutex> imageGuard(camera_.imageLock());
      dvrImage* image = camera_.image();
      if (!image) break;  // the camera lost its buffer: end; it stays marked running until stop
      grabbed = camera_.grab();
      if (grabbed) {
        grabbedAt = env_.milliseconds();
        if (!processFrame(*image, streaming, remote, counters)) break;
      }
    }
    if (!grabbed) {
      dvrCountFrameEvent(dvrFrameEvent::grabFailed);
      // The wait after a failed grab is taken without the locks, so that a
      // re-initialisation on the command thread is not held up by it.
      pause(kGrabFailedMs);
      continue;
    }
    {
      const std::int64_t now = env_.milliseconds();
      camera_.countFrame(static_cast<std::uint32_t>(now));
      pause(remote ? kRemoteMs : framePeriodWait(grabbedAt, now));
    }
  }
  stopping_ = true;
  if (watchdog) watchdog->removeModule(key);
}

int dvrCameraThread::framePeriodWait(std::int64_t since, std::int64_t now) const {
  const int rate = camera_.settings().getInt("framerate");
  const std::int64_t period = rate == 0 ? kNoFrameRateMs : 1000 / rate - (now - since);
  return static_cast<int>(std::clamp<std::int64_t>(period, 0, 1000));
}

bool dvrCameraThread::processFrame(dvrImage& image, bool streaming, bool remote, Counters& counters) {
  dvrCamera::Statistics& stats = camera_.statistics();
  image.setFrameNumber(counters.frameNumber++);
  ++counters.sinceRecorded;
  camera_.markNewFrame();

  const bool record = decide(counters.sinceRecorded, counters.postMotion);
  if (stopping_) return false;

  dvrCodec* codec = camera_.codec();
  bool compressed = false;
  if (!streaming) {
    std::lock_guard<std::mutex> encoderGuard(dvrEncoderLock());
    image.setBusy(1);
    if (record && codec && !remote) compressed = codec->compress();
    image.setBusy(0);
  }
  if (compressed) camera_.countCompressedSize(image.compressedSize());

  ++stats.framesProcessed;
  dvrCountFrameEvent(dvrFrameEvent::grabbed);
  // Only a frame that compressed into a payload the frame header can announce
  // (1 to 262143 bytes) is handed off: after a failed compression the buffer
  // holds an old frame or nothing, and the frame counts as not recorded.
  const int size = image.compressedSize();
  const bool payloadValid =
      compressed && size >= 1 && static_cast<std::uint32_t>(size) <= dvrFRAME_MAX_PAYLOAD;
  if (record && !remote && !streaming && codec && !payloadValid) dvrCountFrameEvent(dvrFrameEvent::encoderFailed);
  if (record && !remote && (streaming || (codec && payloadValid))) {
    int handed = 1;
    if (streaming) {
      handed = camera_.streamFrame();
    } else {
      handOff();
    }
    stats.framesRecorded += handed;
    counters.sinceRecorded = 0;
  } else if (!remote) {
    stats.motionRecording = 0;
  }
  return true;
}

bool dvrCameraThread::decide(int sinceRecorded, int& postMotion) {
  const dvrSettingSet& s = camera_.settings();
  dvrCamera::Statistics& stats = camera_.statistics();

  // A global rule name that names no rule allows recording.
  std::string_view global;
  if (const dvrSettingSet* globals = dvrProcess().globals) global = globals->getText("globalrecordrule");
  const bool allowed = global.empty() || ruleValue(global) != 0;

  bool record = false;
  if (!camera_.isRemote()) {
    const int motion = camera_.detectMotion();
    stats.lastMotion = motion;
    const std::int32_t previous = stats.motionRecording;
    stats.motionRecording = 0;
    const std::string_view motionRule = s.getText("recordbyrule");
    if (motion > 0 && allowed && (motionRule.empty() || ruleValue(motionRule) != 0)) {
      record = true;
      postMotion = s.getInt("postframes") + 1;
      stats.motionRecording = 1;
    }
    if (stats.motionRecording != previous) camera_.notify(dvrNOTIFY_RECORDING);
  }
  // Frames after a motion keep being recorded even once the global rule turns false.
  if (postMotion > 0) {
    --postMotion;
    record = true;
  }

  const int rate = s.getInt("framerate");
  const std::string_view continuousRule = s.getText("recordbyruleC");
  const bool continuous = allowed && !continuousRule.empty() && ruleValue(continuousRule) == 1;
  if (continuous) {
    const int continuousRate = s.getInt("framerate_c");
    const int spacing = continuousRate > 0 && continuousRate < rate ? rate / continuousRate : 0;
    if (sinceRecorded > spacing) record = true;
    stats.continuousRecording = 1;
    return record;
  }
  stats.continuousRecording = 0;
  if (!record) return false;
  const int motionRate = s.getInt("framerate_m");
  const int spacing = motionRate > 0 && motionRate < rate ? rate / motionRate : 0;
  return sinceRecorded > spacing;
}

void dvrCameraThread::handOff() {
  std::lock_guard<std::recursive_mutex> codecGuard(camera_.codecLock());
  dvrCodec* codec = camera_.codec();
  if (!codec) return;
  std::lock_guard<std::recursive_mutex> imageGuard(camera_.imageLock());
  dvrImage* image = camera_.image();
  dvrFrameSink* sink = dvrFrameSinkInstance();
  if (!image || !sink) return;  // passive mode: compressed but not stored

  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  dvrFrameHeader& header = record_.header;
  record_.reserved = 0;
  record_.seconds = static_cast<std::int32_t>(now / 1000);
  record_.milliseconds = static_cast<std::uint16_t>(now % 1000);
  record_.device = camera_.board() ? camera_.board()->boardId() : camera_.deviceNumber();
  record_.input = camera_.input();
  header.payloadSize = static_cast<std::uint32_t>(image->compressedSize());
  header.width = image->width();
  header.height = image->height();
  header.flags = image->keyFrame() != 0 ? dvrFRAME_FLAG_KEY : 0;
  header.extensionLength = 0;
  image->packMotionBits();
  if (const std::uint8_t* bits = image->buffer(dvrBUF_MOTION_BITS))
    std::memcpy(header.motion.data(), bits, dvrFRAME_MOTION_BYTES);
  header.setFourcc(codec->fourcc());

  const std::uint8_t* payload = image->buffer(dvrBUF_COMPRESSED);
  const int size = image->compressedSize();
  // A full queue is retried for half a second; after that the frame is lost.
  // Asked to end meanwhile, the thread gives the frame up at once.
  for (int retry = 0; !sink->put(record_, payload, size); ++retry) {
    if (retry == kRetries || stopping_) {
      dvrCountFrameEvent(dvrFrameEvent::queueLost);
      return;
    }
    dvrCountFrameEvent(dvrFrameEvent::queueRetried);
    pause(kRetryMs);
  }
  dvrCountFrameEvent(dvrFrameEvent::handedOff);
}
