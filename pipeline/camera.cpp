#include "pipeline/camera.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "core/command.h"
#include "core/language.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "pipeline/board.h"
#include "pipeline/camera_thread.h"
#include "pipeline/codec.h"
#include "pipeline/image.h"

using namespace dvrFlag;
using namespace dvrType;

namespace {


}  // namespace

dvrCamera::dvrCamera(dvrBoard* board) : board_(board) {
  if (board_) {
    pal_ = board_->settings().getInt("videostd") != 0 ? 1 : 0;
    device_ = board_->boardId();
  }
  declareSettings();
  notify(dvrNOTIFY_CONSTRUCTED);
}

void dvrCamera::declareSettings() {
  dvrSettingSet& s = settings();
  s.setKind("camera");
  s.setObjectName("temporary");
  const int maxRate = maxFrameRate();

  s.declare("", dvrTr("Visual settings"), GROUP, 0);
  s.declare("name", dvrTr("Camera title"), dvrTr("Camera title will be shown on titles of camera windows."),
            TEXT, STRING);

  s.declare("", dvrTr("Image compression"), GROUP, MENU);
  s.declare("codec", dvrTr("Codec"), dvrTr("The codec that is used."), CHOICE, ADVANCED | INT | SHOWTEXT);
  s.addChoice(dvrTr("MPEG-4"), 0);
  s.addChoice(dvrTr("MJPEG"), 1);
  s.addChoice(dvrTr("Theora (experimental)"), 5);
  s.declare("compress", dvrTr("Quality"),
            dvrTr("Adjust compression quality. Better quality means more disk space being used."),
            SLIDER, INT, 10, 100);
  s.setInt("compress", 50);

  s.declare("", dvrTr("Image adjustments"), GROUP, MENU);
  s.declare("framerate", dvrTr("Framerate"), "", SLIDER, INT, 1, maxRate);
  s.setInt("framerate", 1);
  s.declare("brightness", dvrTr("Brightness"), "", SLIDER, INT, 0, 255);
  s.declare("contrast", dvrTr("Contrast"), "", SLIDER, INT, 0, 255);
  s.declare("sharpness", dvrTr("Sharpness"), "", SLIDER, ADVANCED | INT, 0, 255);
  s.declare("color", dvrTr("Color"), "", SLIDER, ADVANCED | INT, 0, 255);

  s.declare("", dvrTr("Motion detection"), GROUP, MENU);
  s.declare("mot_sens1", dvrTr("Sensitivity A"), "", SLIDER, INT, 1, 16);
  s.setInt("mot_sens1", 4);
  s.declare("mot_sens2", dvrTr("Sensitivity B"), "", SLIDER, ADVANCED | INT, 1, 32);
  s.setInt("mot_sens2", 8);
  s.declare("mot_edge", dvrTr("Noise filter"), "", SLIDER, INT, 3, 7);
  s.setInt("mot_edge", 5);
  s.declare("mot_tol", dvrTr("Tolerance"), dvrTr("How much motion is tolerated until it is reported as motion."),
            SLIDER, ADVANCED | INT, 1, 64);
  s.setInt("mot_tol", 7);
  s.declare("md_type", dvrTr("Detection type"),
            dvrTr("Select the detection type to suit the camera environment. Note that selecting a "
               "filter might weaken the overall motion detection."),
            CHOICE, ADVANCED | INT | SHOWTEXT);
  s.addChoice(dvrTr("Normal"), 0);
  s.addChoice(dvrTr("Light change filter"), 1);
  s.declare("noclosewindow", "", HIDDEN, NOSAVE | INT);

  s.declare("", dvrTr("PTZ and access settings"), GROUP, MENU);
  s.declare("group", dvrTr("Group"), dvrTr("The group to which the camera belongs to."), CHOICE,
            ADVANCED | INT | SHOWTEXT);
  s.addChoice(dvrTr("No group"), 0);
  for (int g = 1; g <= 4; ++g) s.addChoice(std::to_string(g), g);
  s.declare("dometype", dvrTr("PTZ control"), dvrTr("The protocol used by this dome."), CHOICE, INT | SHOWTEXT);
  s.addChoice(dvrTr("None"), 0);
  s.addChoice(dvrTr("Pelco-P"), 1);
  s.addChoice(dvrTr("Pelco-D"), 2);
  s.addChoice(dvrTr("Network"), 99);
  s.declare("domecom", dvrTr("COM port"), dvrTr("The serial port to which the dome is connected to."), PORT,
            STRING | SHOWTEXT);
  s.declare("domeaddr", dvrTr("Address"),
            dvrTr("The address of the dome. There can be several domes connected to the same serial "
               "port, when each of them has a unique address."),
            CHOICE, INT | SHOWTEXT);
  for (int a = 0; a <= 64; ++a) s.addChoice(std::to_string(a), a);
  s.declare("domexspeed", dvrTr("Dome X speed"),
            dvrTr("The relative horizontal speed of this dome. Values 1 to 10, where 1 is slowest and "
               "10 fastest."),
            SLIDER, ADVANCED | INT, 1, 10);
  s.setInt("domexspeed", 5);
  s.declare("domeyspeed", dvrTr("Dome Y speed"),
            dvrTr("The relative vertical speed of this dome. Values 1 to 10, where 1 is slowest and 10 "
               "fastest."),
            SLIDER, ADVANCED | INT, 1, 10);
  s.setInt("domeyspeed", 5);
  s.declare("domezspeed", dvrTr("Dome zoom speed"),
            dvrTr("The relative zooming speed of this dome. Values 1 to 10, where 1 is slowest and 10 "
               "fastest."),
            SLIDER, ADVANCED | INT, 1, 10);
  s.setInt("domezspeed", 5);
  s.declare("domecontrol", "", HIDDEN, STRING);
  s.setText("domecontrol", "relative");

  s.declare("", dvrTr("Image adjustments"), GROUP, RUNTIME | NOSAVE);
  s.declare("rt_motion", dvrTr("Show motion"), CHECK, RUNTIME | INT);
  s.declare("rt_mask", dvrTr("Show mask"), CHECK, ADVANCED | RUNTIME | INT);
  s.declare("rt_status", dvrTr("Show status"), CHECK, ADVANCED | RUNTIME | INT);
  s.declare("rt_updateicon", dvrTr("Image icon"), CHECK, ADVANCED | RUNTIME | INT);
  const char* colourKeys[] = {"rt_colR", "rt_colG", "rt_colB", "rt_colI"};
  const char* colourLabels[] = {"Red", "Green", "Blue", "Brightness"};
  for (int i = 0; i < 4; ++i) {
    s.declare(colourKeys[i], dvrTr(colourLabels[i]), SLIDER, ADVANCED | RUNTIME | INT, 0, 255);
    s.setInt(colourKeys[i], i < 3 ? 255 : 128);
  }
  s.declare("rt_flipH", dvrTr("Flip horizontally"), CHECK, ADVANCED | RUNTIME | INT);
  s.declare("rt_flipV", dvrTr("Flip vertically"), CHECK, ADVANCED | RUNTIME | INT);
  s.declare("activity", "", HIDDEN, NOSAVE | INT);
  s.declare("needrestart", "", HIDDEN, NOSAVE | INT);
  s.declare("restartnow", "", HIDDEN, NOSAVE | INT);
  for (int m = 0; m < 6; ++m) s.declare(dvrFormat("mask%d", m), "", HIDDEN, STRING);
  for (int p = 1; p <= 16; ++p) s.declare(dvrFormat("domepresetname%d", p), dvrTr("Preset"), HIDDEN, STRING);

  s.declare("", dvrTr("Capturing settings"), GROUP, MENU);
  s.declare("recordbyrule", dvrTr("Motion record by rule"),
            dvrTr("Record only when the specified rule is true.\nLeave empty to ignore."), RULE,
            ADVANCED | STRING);
  s.declare("recordbyruleC", dvrTr("Continuous record by rule"),
            dvrTr("Record continuously when the specified rule is true.\nLeave empty to ignore."), RULE,
            ADVANCED | STRING);
  s.declare("framerate_c", dvrTr("Continuous framerate"),
            dvrTr("This is the framerate for the continuous recording when the rule is applied."),
            SLIDER, INT, 0, maxRate);
  s.declare("framerate_m", dvrTr("Motion record framerate"),
            dvrTr("This is the framerate for the motion recording. Default is maximum, which depends "
               "on the capturing framerate."),
            SLIDER, INT, 0, maxRate);
  s.declare("postframes", dvrTr("Post motion recording"),
            dvrTr("How many frames to record after detected motion. Usually this can be zero, but "
               "increase the amount in challenging environments where motion detection must be "
               "tolerant."),
            SLIDER, ADVANCED | INT, 0, 20);
  s.declare("restart", "", HIDDEN, NOSAVE | INT);
  s.declare("force_size", "", HIDDEN, NOSAVE | INT);
  s.declare("streaming", "", HIDDEN, NOSAVE | INT);
}

dvrCamera::~dvrCamera() {
  if (settings().getInt("noclosewindow") == 0)
    settings().execute(dvrFormat("closewindow camera %s", name()));
  stop();
  {
    std::lock_guard<std::recursive_mutex> lock(codecLock_);
    codec_.reset();
  }
  {
    std::lock_guard<std::recursive_mutex> lock(imageLock_);
    image_.reset();
  }
  if (board_ && input_ >= 0) board_->releaseInput(input_);
}

int dvrCamera::maxFrameRate() { return !board_ || pal_ ? 25 : 30; }

void dvrCamera::addResolution(int width, int height) {
  if (static_cast<int>(resolutions_.size()) < kMaxResolutions) resolutions_.push_back({width, height});
}

void dvrCamera::addFormat(int format) { formats_.push_back(format); }

void dvrCamera::declareResolution() {
  settings().declare("resolution", dvrTr("Resolution"), CHOICE, INT | SHOWTEXT);
}

void dvrCamera::declareFormat() { settings().declare("format", dvrTr("Format"), HIDDEN, INT | SHOWTEXT); }

bool dvrCamera::setResolution(int index) {
  if (input_ < 0) {
    settings().setInt("resolution", index);
    return true;
  }
  if (!board_) return false;
  int granted = board_->setInputResolution(input_, index);
  settings().setInt("resolution", granted);
  return granted == index;
}

bool dvrCamera::setFormat(int format) {
  if (std::find(formats_.begin(), formats_.end(), format) == formats_.end()) return false;
  settings().setInt("format", format);
  if (board_) board_->setInputFormat(input_, format);
  return true;
}

int dvrCamera::setFrameRate(int fps) {
  int clamped = std::clamp(fps, minFrameRate(), std::max(minFrameRate(), maxFrameRate()));
  if (board_) settings().setInt("framerate", board_->setInputFrameRate(input_, clamped));
  return settings().getInt("framerate");
}

bool dvrCamera::attachInput(int input) {
  if (!board_ || !board_->claimInput(input)) return false;
  input_ = input;
  return true;
}

bool dvrCamera::start() {
  stop();
  if (board_ && board_->isCapturing()) board_->startInput(input_);
  onStart();
  runCaptureThread();
  running_ = true;
  return true;
}

void dvrCamera::runCaptureThread() {
  thread_ = std::make_unique<dvrCameraThread>(*this);
  thread_->start();
}

void dvrCamera::endCaptureThread() {
  if (!thread_) return;
  thread_->stop();
  thread_.reset();
}

bool dvrCamera::stop() {
  endCaptureThread();
  if (running_) {
    if (board_) board_->stopInput(input_);
    running_ = false;
  }
  return true;
}

bool dvrCamera::grab() {
  std::lock_guard<std::recursive_mutex> lock(imageLock_);
  if (image_ && board_ && !board_->grabFrame(input_, *image_)) return false;
  stampFrameTime();
  return true;
}

void dvrCamera::stampFrameTime() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  frameSeconds_ = ms / 1000;
  frameMilliseconds_ = static_cast<std::int32_t>(ms % 1000);
}

int dvrCamera::detectMotion() {
  std::lock_guard<std::recursive_mutex> lock(imageLock_);
  if (!image_) return 0;
  int value = image_->detectMotion(2, motSensA_, motSensB_, motEdge_, motTol_);
  if (settings().getInt("md_type") != 0 || value != 0) image_->updateReference();
  return value;
}

void dvrCamera::setBrightness(int value) {
  settings().setInt("brightness", value);
  if (board_) board_->setBrightness(input_, value);
}

void dvrCamera::setContrast(int value) {
  settings().setInt("contrast", value);
  if (board_) board_->setContrast(input_, value);
}

void dvrCamera::setSharpness(int value) {
  settings().setInt("sharpness", value);
  if (board_) board_->setSharpness(input_, value);
}

void dvrCamera::setColor(int value) {
  settings().setInt("color", value);
  if (board_) board_->setColor(input_, value);
}

void dvrCamera::setHue(int value) {
  settings().setInt("hue", value);  // declared only by kinds that have a hue
  if (board_) board_->setHue(input_, value);
}

bool dvrCamera::createCodec(std::string_view name, int mode, int keyInterval) {
  std::lock_guard<std::recursive_mutex> codecGuard(codecLock_);
  std::lock_guard<std::recursive_mutex> imageGuard(imageLock_);
  if (!image_) return false;
  codec_.reset();
  codec_ = dvrMakeCodec(image_.get(), mode, name);
  if (!codec_) return true;
  codecName_ = codec_->fourcc();
  codecMode_ = mode;
  const dvrSettingSet& s = settings();
  codec_->setQuality(s.getInt("compress"));
  if (keyInterval >= 0) codec_->setKeyInterval(keyInterval);
  codec_->setFrameRate(s.getInt("framerate"));
  if (!codec_->open()) {
    dvrLogWarning("%s", dvrTr("Couldn't init the image compressor").c_str());
    return false;
  }
  return true;
}

bool dvrCamera::recreateCodec() { return createCodec(codecName_, codecMode_, -1); }

double dvrCamera::frameAspect() { return pal_ ? 704.0 / 576.0 : 704.0 / 480.0; }

bool dvrCamera::domeCommand(const dvrCommand&) {
  std::lock_guard<std::recursive_mutex> lock(domeLock_);
  return false;  // no dome controller: the dome kinds are not built into this camera yet
}

bool dvrCamera::reinit() {
  // Stop (and join) the capture thread before taking the locks: the thread
  // takes them every frame and may be waiting for them right now, and joining
  // it while holding them would never return.
  const bool wasRunning = running_;
  reinitialising_ = true;
  stop();
  std::lock_guard<std::recursive_mutex> codecGuard(codecLock_);
  std::lock_guard<std::recursive_mutex> imageGuard(imageLock_);
  codec_.reset();
  image_.reset();

  dvrSettingSet& s = settings();
  const bool client = s.getInt("client") != 0;
  if (!client) {
    setResolution(s.getInt("resolution"));
    if (!setFormat(s.getInt("format"))) {
      // A refused format never reaches the buffer: the kind's first format
      // (UYVY for a kind without a list) takes its place.
      int fallback = formats_.empty() ? dvrFORMAT_UYVY : formats_.front();
      s.setInt("format", fallback);
      if (board_) board_->setInputFormat(input_, fallback);
    }
    setFrameRate(s.getInt("framerate"));
    if (board_) {
      board_->setInputFormat(input_, s.getInt("format"));
      board_->setInputFrameRate(input_, s.getInt("framerate"));
      board_->setBrightness(input_, s.getInt("brightness"));
      board_->setContrast(input_, s.getInt("contrast"));
      board_->setSharpness(input_, s.getInt("sharpness"));
      board_->setColor(input_, s.getInt("color"));
      board_->setHue(input_, s.getInt("hue"));
    }
  }

  Size size = forced_;
  if (!client && s.getInt("force_size") == 0 && !resolutions_.empty()) {
    // The board may grant another index than the one asked for (its budget);
    // an index that is unknown or names no picture falls back to the kind's
    // first real resolution.
    int index = s.getInt("resolution");
    auto usable = [this](int i) {
      return i >= 0 && i < static_cast<int>(resolutions_.size()) &&
             resolutions_[static_cast<std::size_t>(i)].width > 0 && resolutions_[static_cast<std::size_t>(i)].height > 0;
    };
    if (!usable(index)) {
      index = 0;
      while (index + 1 < static_cast<int>(resolutions_.size()) && !usable(index)) ++index;
      s.setInt("resolution", index);
    }
    size = resolutions_[static_cast<std::size_t>(index)];
  }

  image_ = std::make_unique<dvrImage>(size.width, size.height, s.getInt("format"), 1);
  for (int m = 0; m < 6; ++m) image_->loadMask(m, s.getText(dvrFormat("mask%d", m)));

  if (createCodec(dvrCodecNameForSetting(s.getInt("codec")), client ? 2 : 1, -1) && codec_)
    codec_->setQuality(s.getInt("compress"));

  reinitialising_ = false;
  if (!board_) return false;
  if (wasRunning) start();
  return true;
}

void dvrCamera::restart() {
  if (settings().getInt("needrestart") != 0) {
    settings().execute("stop");
    settings().execute("start");
  } else {
    stop();
    reinit();
    start();
  }
}

int dvrCamera::applySetting(const dvrCommand& command, int flag) {
  std::string_view key = command.param(3);
  std::string_view type = command.param(4);
  dvrSettingSet& s = settings();
  if (dvrEqualNoCase(type, "int")) {
    int value = dvrParseInt(command.param(5));
    auto is = [&](const char* k) { return dvrEqualNoCase(key, k); };
    if (is("format") && value == 0) value = dvrFORMAT_UYVY;
    s.setInt(key, value);
    if (is("brightness")) setBrightness(value);
    else if (is("contrast")) setContrast(value);
    else if (is("sharpness")) setSharpness(value);
    else if (is("color")) setColor(value);
    else if (is("mot_sens1")) motSensA_ = value;
    else if (is("mot_sens2")) motSensB_ = value;
    else if (is("mot_edge")) motEdge_ = value;
    else if (is("mot_tol")) motTol_ = value;
    else if (is("resolution") || is("codec") || is("format")) {
      if (running_) restart();
    } else if (is("quality") || is("compress")) {
      std::lock_guard<std::recursive_mutex> lock(codecLock_);
      if (codec_) codec_->setQuality(value);
    } else if (is("framerate")) {
      setFrameRate(value);
    } else if (is("framerate_c")) {
      if (value > s.getInt("framerate")) s.setInt("framerate_c", s.getInt("framerate"));
    } else if (is("domeaddr") || is("dometype")) {
      recreateDome();
    }
    return 1;
  }
  if (dvrEqualNoCase(type, "string")) {
    s.setText(key, command.param(5));
    if (dvrEqualNoCase(key, "domecom")) recreateDome();
    return 1;
  }
  return dvrObject::applySetting(command, flag);
}

void dvrCamera::countFrame(std::uint32_t milliseconds) {
  ++windowFrames_;
  std::int64_t moved = static_cast<std::int64_t>(milliseconds) - windowStart_;
  if (std::llabs(moved) >= 4995) {
    stats_.framesPerSecond = static_cast<float>(windowFrames_) / 5.0f;
    windowStart_ = milliseconds;
    windowFrames_ = 0;
  }
}

void dvrCamera::countCompressedSize(int size) {
  stats_.lastCompressedSize = size;
  stats_.averageCompressedSize = (size + 19 * stats_.averageCompressedSize) / 20;
}

void dvrCamera::markNewFrame() {
  std::lock_guard<std::mutex> lock(frameFlagLock_);
  frameSeen_ = false;
}

bool dvrCamera::takeNewFrame() {
  std::lock_guard<std::mutex> lock(frameFlagLock_);
  if (frameSeen_) return false;
  frameSeen_ = true;
  return true;
}
