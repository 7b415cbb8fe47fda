// Codecs: turn the current frame of an image buffer into one compressed frame
// in the buffer's compressed buffer, or the reverse.
//
// A codec works on one dvrImage, which it watches (mask 2): when the image is
// destroyed first the codec forgets it, and every later open, compress and
// decompress returns false. The codec does not own the image.
//
// Names (fourcc) and implementations:
//   "MPG4" MPEG-4 Part 2   dvrCodec_ffmpeg kind 0
//   "MPG2" MPEG-2 video    dvrCodec_ffmpeg kind 1
//   "MPG1" MPEG-1 video    dvrCodec_ffmpeg kind 2
//   "MJPG" Motion JPEG     dvrCodec_ffmpeg kind 3
//   "NULL" Motion JPEG     dvrCodec_ffmpeg kind 4 (made for the name "H263")
//   "THEO" Theora          dvrCodec_theora
//
// Threads: the capture thread compresses (or a receiving thread decompresses)
// one frame at a time while holding the camera's codec and image locks; the
// codec's own recursive lock guards open, compress, decompress and the setters
// against setting changes from the command thread. Opening and closing a
// library context takes the process-wide library lock as well, since the
// library's open is not safe to run concurrently. Nothing is allocated per
// frame: library frames, conversion contexts and buffers are made by open
// (the decoder's conversion context by the first picture it gives).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "core/object.h"

class dvrImage;

// Mode bits of a codec.
inline constexpr int dvrCODEC_COMPRESS = 1;
inline constexpr int dvrCODEC_DECOMPRESS = 2;

// Serialises every open and close of a codec library context in the process.
std::mutex& dvrCodecLibraryLock();

// The key interval new codecs start with: the global setting "keyinterval",
// 5 when there are no global settings (or the setting is not declared).
int dvrDefaultKeyInterval();

class dvrCodec : public dvrObserver {
 public:
  // Attaches to the image (mask 2); a null image gives a codec that never opens.
  dvrCodec(dvrImage* image, int mode);
  ~dvrCodec() override;

  // Forgets the image when it reports its destruction (code 2).
  void update(dvrNotifier* notifier, std::uint32_t codes) override;

  // Prepares the library contexts for the image's size; false without an
  // image or when the library cannot provide the codec or refuses the
  // settings. Opening again replaces the previous contexts.
  virtual bool open();
  // Current frame -> compressed buffer, compressed size and key-frame flag.
  virtual bool compress();
  // Compressed buffer and size -> current frame and key-frame flag.
  virtual bool decompress();

  // 0..100; other values are refused (false) and the quality is kept.
  bool setQuality(int quality);
  void setKeyInterval(int frames);
  // 1..30; other values are refused (false) and the rate is kept.
  bool setFrameRate(int rate);

  int quality() const;
  int keyInterval() const;
  int frameRate() const;
  int mode() const { return mode_; }
  bool isOpened() const;
  dvrImage* image() const;
  // The four characters, terminated.
  const char* fourcc() const { return fourcc_; }

 protected:
  void setFourcc(std::string_view name);
  std::recursive_mutex& codecLock() const { return codecLock_; }

  // All guarded by codecLock_.
  dvrImage* image_;
  int quality_ = 80;
  int keyInterval_;
  int frameRate_ = 25;
  bool opened_ = false;

 private:
  const int mode_;
  char fourcc_[5] = {'N', 'U', 'L', 'L', '\0'};
  mutable std::recursive_mutex codecLock_;
};

// MPEG-4, MPEG-2, MPEG-1 and Motion JPEG through libavcodec.
class dvrCodec_ffmpeg : public dvrCodec {
 public:
  enum Kind : int { MPEG4 = 0, MPEG2 = 1, MPEG1 = 2, MJPEG = 3, NULL_MJPEG = 4 };

  // Kinds outside 0..4 give a codec that never opens. Kinds 3 and 4 start
  // with a key interval of 1 instead of the global one (every frame is a key
  // frame of Motion JPEG anyway).
  dvrCodec_ffmpeg(dvrImage* image, int mode, int kind);
  ~dvrCodec_ffmpeg() override;

  bool open() override;
  bool compress() override;
  bool decompress() override;

  int kind() const { return kind_; }

  // Encoder bit rates for a picture width and quality, computed in 64 bits
  // and clamped to the int range: at open width * (quality + 30) * 10000 / 352,
  // per compressed frame width * quality * 180.
  static int openBitRate(int width, int quality);
  static int frameBitRate(int width, int quality);

  // What the opened encoder context holds (zeros without one): the bit rate
  // it was opened with, its present bit rate, frame rate and key-frame spacing.
  struct EncoderState {
    std::int64_t openBitRate = 0;
    std::int64_t bitRate = 0;
    int frameRate = 0;
    int gopSize = 0;
  };
  EncoderState encoderState() const;

 private:
  struct Library;
  void closeContexts();

  const int kind_;
  std::unique_ptr<Library> lib_;  // guarded by codecLock()
};

// Theora through libtheora. Frames are coded at the picture size raised to
// multiples of 16, with the picture centred at even offsets.
class dvrCodec_theora : public dvrCodec {
 public:
  dvrCodec_theora(dvrImage* image, int mode);
  ~dvrCodec_theora() override;

  bool open() override;
  bool compress() override;
  bool decompress() override;

  struct Geometry {
    int frameWidth = 0;   // picture width raised to a multiple of 16
    int frameHeight = 0;  // picture height raised to a multiple of 16
    int offsetX = 0;      // ((frameWidth - width) / 2) with bit 0 cleared
    int offsetY = 0;
  };
  static Geometry geometryFor(int width, int height);
  // The geometry of the last open (zeros before).
  Geometry geometry() const;
  // The granule position the next decompressed packet gets: 0, 1, 2, 3, 4,
  // 40, 41, ..., 44, 80, ...
  std::int64_t packetCounter() const;

 private:
  struct Library;
  void clearStates();

  std::unique_ptr<Library> lib_;  // guarded by codecLock()
};

// The codec for a stream name, compared exactly: "THEO", "MPG1", "MPG2",
// "MPG4", "MJPG" and "H263" (kind 4, named "NULL"). Any other name gives no
// codec. The codec is not opened.
std::unique_ptr<dvrCodec> dvrMakeCodec(dvrImage* image, int mode, std::string_view name);
// The stream name for a camera's `codec` setting: 0 "MPG4", 1 "MJPG",
// 2 "MPG1", 3 "MPG2", 5 "THEO", -1 "NULL", any other value "MPG4".
const char* dvrCodecNameForSetting(int value);
