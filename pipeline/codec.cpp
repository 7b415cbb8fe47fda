#include "pipeline/codec.h"

#include <algorithm>

#include "core/process.h"
#include "core/settings.h"
#include "pipeline/image.h"

std::mutex& dvrCodecLibraryLock() {
  static std::mutex lock;
  return lock;
}

int dvrDefaultKeyInterval() {
  const dvrSettingSet* globals = dvrProcess().globals;
  if (!globals || globals->find("keyinterval") < 0) return 5;
  return globals->getInt("keyinterval");
}

dvrCodec::dvrCodec(dvrImage* image, int mode)
    : image_(image), keyInterval_(dvrDefaultKeyInterval()), mode_(mode) {
  if (image_) image_->attach(this, dvrNOTIFY_DESTROYED);
}

dvrCodec::~dvrCodec() {
  // Detach without the codec lock: the notifier's lock comes first.
  dvrImage* image;
  {
    std::lock_guard<std::recursive_mutex> lock(codecLock_);
    image = image_;
    image_ = nullptr;
  }
  if (image) image->detach(this);
}

void dvrCodec::update(dvrNotifier* notifier, std::uint32_t codes) {
  dvrObserver::update(notifier, codes);
  if (!(codes & dvrNOTIFY_DESTROYED)) return;
  std::lock_guard<std::recursive_mutex> lock(codecLock_);
  if (static_cast<dvrNotifier*>(image_) == notifier) image_ = nullptr;
}

bool dvrCodec::open() { return false; }
bool dvrCodec::compress() { return false; }
bool dvrCodec::decompress() { return false; }

bool dvrCodec::setQuality(int quality) {
  if (quality < 0 || quality > 100) return false;
  std::lock_guard<std::recursive_mutex> lock(codecLock_);
  quality_ = quality;
  return true;
}

void dvrCodec::setKeyInterval(int frames) {
  std::lock_guard<std::recursive_mutex> lock(codecLock_);
  keyInterval_ = frames;
}

bool dvrCodec::setFrameRate(int rate) {
  if (rate < 1 || rate > 30) return false;
  std::lock_guard<std::recursive_mutex> lock(codecLock_);
  frameRate_ = rate;
  return true;
}

int dvrCodec::quality() const {
  std::lock_guard<std::recursive_mutex> lock(codecLock_);
  return quality_;
}

int dvrCodec::keyInterval() const {
  std::lock_guard<std::recursive_mutex> lock(codecLock_);
  return keyInterval_;
}

int dvrCodec::frameRate() const {
  std::lock_guard<std::recursive_mutex> lock(codecLock_);
  return frameRate_;
}

bool dvrCodec::isOpened() const {
  std::lock_guard<std::recursive_mutex> lock(codecLock_);
  return opened_;
}

dvrImage* dvrCodec::image() const {
  std::lock_guard<std::recursive_mutex> lock(codecLock_);
  return image_;
}

void dvrCodec::setFourcc(std::string_view name) {
  std::fill(std::begin(fourcc_), std::end(fourcc_), '\0');
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 4), fourcc_);
}

std::unique_ptr<dvrCodec> dvrMakeCodec(dvrImage* image, int mode, std::string_view name) {
  if (name == "THEO") return std::make_unique<dvrCodec_theora>(image, mode);
  struct Entry {
    std::string_view name;
    int kind;
  };
  static constexpr Entry kinds[] = {
      {"MPG1", dvrCodec_ffmpeg::MPEG1}, {"MPG2", dvrCodec_ffmpeg::MPEG2},
      {"MPG4", dvrCodec_ffmpeg::MPEG4}, {"MJPG", dvrCodec_ffmpeg::MJPEG},
      {"H263", dvrCodec_ffmpeg::NULL_MJPEG},
  };
  for (const Entry& e : kinds)
    if (e.name == name) return std::make_unique<dvrCodec_ffmpeg>(image, mode, e.kind);
  return nullptr;
}

const char* dvrCodecNameForSetting(int value) {
  switch (value) {
    case 1: return "MJPG";
    case 2: return "MPG1";
    case 3: return "MPG2";
    case 5: return "THEO";
    case -1: return "NULL";
    default: return "MPG4";
  }
}
