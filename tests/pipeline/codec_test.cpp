#include "pipeline/codec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "core/log.h"
#include "core/settings.h"
#include "pipeline/image.h"
#include "tests/support/fixture.h"

namespace {

// A "UYVY" picture that changes everywhere from frame to frame: a luma ramp
// sliding 12 pixels a frame with a bright square travelling over it, chroma
// sloping across. A stale or shifted picture differs from the right one by
// far more than any of the codecs' errors.
std::vector<std::uint8_t> pattern(int width, int height, int frame) {
  std::vector<std::uint8_t> p(static_cast<std::size_t>(width) * height * 2);
  const int sx = 16 + frame * 10, sy = 24 + frame * 6;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; x += 2) {
      std::uint8_t* q = &p[(static_cast<std::size_t>(y) * width + x) * 2];
      auto luma = [&](int px) {
        const bool inSquare = px >= sx && px < sx + 48 && y >= sy && y < sy + 48;
        if (inSquare) return 220;
        return 40 + ((px + 12 * frame) % width) * 150 / width + y * 20 / height;
      };
      q[0] = static_cast<std::uint8_t>(100 + x * 50 / width);
      q[1] = static_cast<std::uint8_t>(luma(x));
      q[2] = static_cast<std::uint8_t>(150 - y * 50 / height);
      q[3] = static_cast<std::uint8_t>(luma(x + 1));
    }
  }
  return p;
}

// Mean absolute difference of the Y bytes of two "UYVY" pictures.
double meanLumaError(const std::uint8_t* a, const std::uint8_t* b, int width, int height) {
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  long long sum = 0;
  for (std::size_t i = 0; i < pixels; ++i) sum += std::abs(a[2 * i + 1] - b[2 * i + 1]);
  return static_cast<double>(sum) / static_cast<double>(pixels);
}

// Puts a "UYVY" picture into the current frame of an image in its own format.
void loadPicture(dvrImage& image, const std::vector<std::uint8_t>& uyvy) {
  std::uint8_t* current = image.buffer(dvrBUF_CURRENT);
  const std::size_t pixels = static_cast<std::size_t>(image.width()) * image.height();
  switch (image.format()) {
    case dvrFORMAT_UYVY:
      std::memcpy(current, uyvy.data(), uyvy.size());
      break;
    case dvrFORMAT_RGB24:
      image.convert(dvrFORMAT_UYVY, dvrFORMAT_RGB24, uyvy.data(), current,
                    image.buffer(dvrBUF_SCRATCH));
      break;
    case dvrFORMAT_BGR24:
      image.convert(dvrFORMAT_UYVY, dvrFORMAT_RGB24, uyvy.data(), current,
                    image.buffer(dvrBUF_SCRATCH));
      for (std::size_t i = 0; i < pixels; ++i) std::swap(current[3 * i], current[3 * i + 2]);
      break;
    default:
      FAIL() << "no test conversion into format " << image.format();
  }
}

// Hands the compressed frame of one image to another, as the store and the
// remote protocol do.
void transfer(dvrImage& from, dvrImage& to) {
  std::memcpy(to.buffer(dvrBUF_COMPRESSED), from.buffer(dvrBUF_COMPRESSED),
              static_cast<std::size_t>(from.compressedSize()));
  to.setCompressedSize(from.compressedSize());
}

bool isMotionJpegName(const std::string& name) { return name == "MJPG" || name == "H263"; }

std::vector<std::uint8_t> currentFrame(dvrImage& image) {
  const std::uint8_t* p = image.buffer(dvrBUF_CURRENT);
  return {p, p + image.frameBytes()};
}

const char* const kAllNames[] = {"MPG4", "MPG2", "MPG1", "MJPG", "H263", "THEO"};

// The moving pattern with noise for chroma: a chroma sample taken from the
// wrong place, row or plane changes the encoder's output. The pattern is
// made in pixel pairs: an odd width has the rows of one a pixel wider, cut.
std::vector<std::uint8_t> noisyChroma(int width, int height, int frame) {
  const std::vector<std::uint8_t> wide = pattern(width + (width & 1), height, frame);
  const std::size_t row = static_cast<std::size_t>(width) * 2;
  const std::size_t wideRow = static_cast<std::size_t>(width + (width & 1)) * 2;
  std::vector<std::uint8_t> p(row * height);
  for (int y = 0; y < height; ++y)
    std::memcpy(&p[y * row], &wide[y * wideRow], row);
  std::mt19937 random(static_cast<unsigned>(frame));
  for (std::size_t i = 0; i < p.size(); i += 2) p[i] = static_cast<std::uint8_t>(random());
  return p;
}

// The encoder input a "UYVY" picture stands for: the image's own conversion
// into YUV422P, then for the 4:2:0 encoders the even chroma rows and for
// Motion JPEG the library's scaler into full-range 4:2:2. The conversion keeps
// width / 2 chroma samples a row; an odd width's last one in 4:2:0 is the last
// pixel's U with the V of the pair before it.
class ReferenceInput {
 public:
  ReferenceInput(int width, int height)
      // As large as the image's conversion buffers, which the scaler reads.
      : width_(width), height_(height), planar_(static_cast<std::size_t>(width) * height * 4) {}
  ~ReferenceInput() { sws_freeContext(scaler_); }

  bool fill(dvrImage& image, const std::vector<std::uint8_t>& uyvy, AVFrame* frame) {
    image.convert(dvrFORMAT_UYVY, dvrFORMAT_YUV422P, uyvy.data(), planar_.data(), nullptr);
    const int half = width_ / 2;
    const std::uint8_t* y = planar_.data();
    const std::uint8_t* u = y + static_cast<std::size_t>(width_) * height_;
    const std::uint8_t* v = u + static_cast<std::size_t>(half) * height_;
    if (frame->format == AV_PIX_FMT_YUVJ422P) {
      scaler_ = sws_getCachedContext(scaler_, width_, height_, AV_PIX_FMT_YUV422P, width_, height_,
                                     AV_PIX_FMT_YUVJ422P, SWS_FAST_BILINEAR, nullptr, nullptr,
                                     nullptr);
      if (!scaler_) return false;
      const std::uint8_t* const planes[4] = {y, u, v, nullptr};
      const int strides[4] = {width_, half, half, 0};
      sws_scale(scaler_, planes, strides, 0, height_, frame->data, frame->linesize);
      return true;
    }
    for (int r = 0; r < height_; ++r)
      std::memcpy(frame->data[0] + static_cast<std::ptrdiff_t>(r) * frame->linesize[0],
                  y + static_cast<std::size_t>(r) * width_, static_cast<std::size_t>(width_));
    for (int j = 0; j < (height_ + 1) / 2; ++j) {
      std::uint8_t* uRow = frame->data[1] + static_cast<std::ptrdiff_t>(j) * frame->linesize[1];
      std::uint8_t* vRow = frame->data[2] + static_cast<std::ptrdiff_t>(j) * frame->linesize[2];
      std::memcpy(uRow, u + static_cast<std::size_t>(2 * j) * half, static_cast<std::size_t>(half));
      std::memcpy(vRow, v + static_cast<std::size_t>(2 * j) * half, static_cast<std::size_t>(half));
      if (width_ & 1) {
        const std::uint8_t* last = &uyvy[static_cast<std::size_t>(2 * j) * width_ * 2 + 4 * half];
        uRow[half] = last[0];
        vRow[half] = half > 0 ? last[-2] : 128;
      }
    }
    return true;
  }

 private:
  int width_, height_;
  std::vector<std::uint8_t> planar_;
  SwsContext* scaler_ = nullptr;
};

// A libavcodec encoder of its own, set up as the codec says its encoder is
// (frame rate, key-frame spacing, bit rates) with the codec's kind settings.
class ReferenceEncoder {
 public:
  ReferenceEncoder(int kind, int width, int height, const dvrCodec_ffmpeg::EncoderState& state) {
    const AVCodecID id = kind == dvrCodec_ffmpeg::MPEG4   ? AV_CODEC_ID_MPEG4
                         : kind == dvrCodec_ffmpeg::MPEG2 ? AV_CODEC_ID_MPEG2VIDEO
                         : kind == dvrCodec_ffmpeg::MPEG1 ? AV_CODEC_ID_MPEG1VIDEO
                                                          : AV_CODEC_ID_MJPEG;
    const AVCodec* codec = avcodec_find_encoder(id);
    context_ = codec ? avcodec_alloc_context3(codec) : nullptr;
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!context_ || !frame_ || !packet_) return;
    AVCodecContext* c = context_;
    c->width = width;
    c->height = height;
    c->gop_size = state.gopSize;
    c->time_base = AVRational{1, state.frameRate};
    c->framerate = AVRational{state.frameRate, 1};
    c->bit_rate = state.openBitRate;
    c->max_b_frames = 0;
    if (kind == dvrCodec_ffmpeg::MPEG1 || kind == dvrCodec_ffmpeg::MPEG2)
      c->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (kind == dvrCodec_ffmpeg::MPEG1)
      c->strict_std_compliance =
          state.frameRate == 2 ? FF_COMPLIANCE_EXPERIMENTAL : FF_COMPLIANCE_UNOFFICIAL;
    if (kind == dvrCodec_ffmpeg::MJPEG) {
      c->pix_fmt = AV_PIX_FMT_YUVJ422P;
      c->color_range = AVCOL_RANGE_JPEG;
    } else {
      c->pix_fmt = AV_PIX_FMT_YUV420P;
    }
    if (avcodec_open2(c, codec, nullptr) < 0) return;
    frame_->format = c->pix_fmt;
    frame_->width = width;
    frame_->height = height;
    opened_ = av_frame_get_buffer(frame_, 0) >= 0;
  }
  ~ReferenceEncoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
  }

  bool opened() const { return opened_; }
  AVFrame* frame() { return frame_; }

  // Encodes the frame at the bit rate given; the packet's bytes and whether it is a key frame.
  bool encode(std::int64_t bitRate, std::vector<std::uint8_t>& bytes, bool& key) {
    context_->bit_rate = bitRate;
    frame_->pts = pts_++;
    if (avcodec_send_frame(context_, frame_) < 0) return false;
    if (avcodec_receive_packet(context_, packet_) < 0) return false;
    bytes.assign(packet_->data, packet_->data + packet_->size);
    key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(packet_);
    return true;
  }

 private:
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::int64_t pts_ = 0;
  bool opened_ = false;
};

}  // namespace

TEST(CodecRoundTrip, FramesDecodeBackCloseToTheSource) {
  struct RoundTripCase {
    const char* label;
    const char* name;
    int format;
    int width;
    int height;
    double maxError;  // mean absolute Y error
  };
  const RoundTripCase cases[] = {
      {"MPEG-4", "MPG4", dvrFORMAT_UYVY, 352, 288, 1.5},
      {"MPEG-2", "MPG2", dvrFORMAT_UYVY, 352, 288, 1.5},
      {"MPEG-1", "MPG1", dvrFORMAT_UYVY, 352, 288, 1.5},
      {"Motion JPEG", "MJPG", dvrFORMAT_UYVY, 352, 288, 1.5},
      {"kind 4 (H263 name) works as Motion JPEG", "H263", dvrFORMAT_UYVY, 352, 288, 1.5},
      {"MPEG-4 from RGB24 in place", "MPG4", dvrFORMAT_RGB24, 352, 288, 1.5},
      {"Motion JPEG from BGR24 in place", "MJPG", dvrFORMAT_BGR24, 352, 288, 1.5},
      {"Theora", "THEO", dvrFORMAT_UYVY, 352, 288, 1.5},
      {"Theora, width not a multiple of 16", "THEO", dvrFORMAT_UYVY, 360, 288, 1.5},
      {"Theora, neither side a multiple of 16", "THEO", dvrFORMAT_UYVY, 344, 276, 1.5},
  };
  constexpr int kFrames = 7;
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage source(c.width, c.height, c.format);
    dvrImage target(c.width, c.height, dvrFORMAT_UYVY);
    auto encoder = dvrMakeCodec(&source, dvrCODEC_COMPRESS, c.name);
    auto decoder = dvrMakeCodec(&target, dvrCODEC_DECOMPRESS, c.name);
    ASSERT_TRUE(encoder && decoder);
    const int keyInterval = isMotionJpegName(c.name) ? 1 : 5;
    EXPECT_EQ(encoder->keyInterval(), keyInterval);
    ASSERT_TRUE(encoder->open());
    ASSERT_TRUE(decoder->open());

    for (int i = 0; i < kFrames; ++i) {
      SCOPED_TRACE("frame " + std::to_string(i));
      const auto picture = pattern(c.width, c.height, i);
      loadPicture(source, picture);
      ASSERT_TRUE(encoder->compress());
      ASSERT_GT(source.compressedSize(), 0);
      EXPECT_EQ(source.keyFrame(), i % keyInterval == 0 ? 1 : 0);

      transfer(source, target);
      target.setKeyFrame(-1);
      ASSERT_TRUE(decoder->decompress());
      EXPECT_EQ(target.keyFrame(), source.keyFrame());
      const double error =
          meanLumaError(target.buffer(dvrBUF_CURRENT), picture.data(), c.width, c.height);
      EXPECT_LT(error, c.maxError);
      if (i > 0) {
        // The error bound separates this frame from the one before.
        const auto previous = pattern(c.width, c.height, i - 1);
        EXPECT_GT(meanLumaError(previous.data(), picture.data(), c.width, c.height),
                  3 * c.maxError);
      }
    }
  }
}

TEST(CodecRoundTrip, DecoderRepeatsThePreviousPictureWhenItGivesNone) {
  for (const char* name : {"MPG4", "MJPG", "THEO"}) {
    SCOPED_TRACE(name);
    dvrImage source(176, 144, dvrFORMAT_UYVY);
    dvrImage target(176, 144, dvrFORMAT_UYVY);
    auto encoder = dvrMakeCodec(&source, dvrCODEC_COMPRESS, name);
    auto decoder = dvrMakeCodec(&target, dvrCODEC_DECOMPRESS, name);
    ASSERT_TRUE(encoder->open() && decoder->open());
    loadPicture(source, pattern(176, 144, 3));
    ASSERT_TRUE(encoder->compress());
    transfer(source, target);
    ASSERT_TRUE(decoder->decompress());
    const auto decoded = currentFrame(target);

    // Nothing to decode, then a packet the decoder can make nothing of: the
    // current frame is blackened in between and must come back each time.
    struct NoPictureCase {
      const char* label;
      int bytes;
    };
    for (const NoPictureCase& n : {NoPictureCase{"empty payload", 0}, {"garbage payload", 64}}) {
      SCOPED_TRACE(n.label);
      std::memset(target.buffer(dvrBUF_COMPRESSED), 0xFF, 64);
      target.setCompressedSize(n.bytes);
      target.clearFrame();
      ASSERT_TRUE(decoder->decompress());
      EXPECT_TRUE(currentFrame(target) == decoded);
    }
  }
}

TEST(CodecRoundTrip, PacketLargerThanTheCompressedBufferFailsTheFrame) {
  // Noise at the highest quality: the first JPEG of 704 x 576 is about 300 KB.
  dvrImage image(704, 576, dvrFORMAT_UYVY);
  auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, "MJPG");
  ASSERT_TRUE(codec->setQuality(100));
  ASSERT_TRUE(codec->open());

  image.clearFrame();
  ASSERT_TRUE(codec->compress());
  ASSERT_GT(image.compressedSize(), 0);

  std::mt19937 random(7);
  std::uint8_t* current = image.buffer(dvrBUF_CURRENT);
  for (std::size_t i = 0; i < image.frameBytes(); ++i)
    current[i] = static_cast<std::uint8_t>(random());
  EXPECT_FALSE(codec->compress());
  EXPECT_EQ(image.compressedSize(), 0);

  // The encoder is still usable afterwards.
  image.clearFrame();
  EXPECT_TRUE(codec->compress());
  EXPECT_GT(image.compressedSize(), 0);
  EXPECT_LE(image.compressedSize(), DVR_MAX_COMPRESSED_SIZE);
}

TEST(CodecFfmpeg, EncoderFrameRateFollowsTheKeyInterval) {
  struct RateCase {
    const char* label;
    const char* name;
    int keyInterval;  // -1: the codec's own
    int frameRate;
    int gop;
  };
  // MPEG-1 has neither 2 nor 12 among its standard rates; it must still open
  // and encode at both.
  const RateCase cases[] = {
      {"MPEG-4, every frame a key frame", "MPG4", 1, 2, 1},
      {"MPEG-4, key interval 5", "MPG4", 5, 12, 5},
      {"MPEG-4, key interval 10", "MPG4", 10, 12, 10},
      {"MPEG-2, key interval 1", "MPG2", 1, 2, 1},
      {"MPEG-2, key interval 5", "MPG2", 5, 12, 5},
      {"MPEG-1 at 2 frames per second", "MPG1", 1, 2, 1},
      {"MPEG-1 at 12 frames per second", "MPG1", 5, 12, 5},
      {"Motion JPEG forces key interval 1", "MJPG", -1, 2, 1},
      {"kind 4 forces key interval 1", "H263", -1, 2, 1},
  };
  for (const RateCase& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(176, 144, dvrFORMAT_UYVY);
    auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, c.name);
    if (c.keyInterval >= 0) codec->setKeyInterval(c.keyInterval);
    ASSERT_TRUE(codec->open());
    const auto state = static_cast<dvrCodec_ffmpeg*>(codec.get())->encoderState();
    EXPECT_EQ(state.frameRate, c.frameRate);
    EXPECT_EQ(state.gopSize, c.gop);
    loadPicture(image, pattern(176, 144, 0));
    EXPECT_TRUE(codec->compress());
    EXPECT_GT(image.compressedSize(), 0);
  }
}

TEST(CodecFfmpeg, BitRatesAtOpenAndPerFrame) {
  struct BitRateCase {
    const char* label;
    int width;
    int quality;
    int atOpen;
    int perFrame;
  };
  const BitRateCase cases[] = {
      {"CIF at quality 50", 352, 50, 800000, 3168000},
      {"4CIF at the default quality", 704, 80, 2200000, 10137600},
      {"quality 0", 352, 0, 300000, 0},
      // 16384 * 130 * 10000 does not fit 32 bits.
      {"16384 wide at quality 50", 16384, 50, 37236363, 147456000},
      {"16384 wide at quality 100", 16384, 100, 60509090, 294912000},
      {"beyond the int range is clamped", 20000000, 100, 2147483647, 2147483647},
  };
  for (const BitRateCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(dvrCodec_ffmpeg::openBitRate(c.width, c.quality), c.atOpen);
    EXPECT_EQ(dvrCodec_ffmpeg::frameBitRate(c.width, c.quality), c.perFrame);
  }

  // The opened MPEG-4 context, before and after a frame.
  dvrImage image(352, 288, dvrFORMAT_UYVY);
  dvrCodec_ffmpeg codec(&image, dvrCODEC_COMPRESS, dvrCodec_ffmpeg::MPEG4);
  ASSERT_TRUE(codec.setQuality(50));
  ASSERT_TRUE(codec.open());
  EXPECT_EQ(codec.encoderState().openBitRate, 800000);
  EXPECT_EQ(codec.encoderState().bitRate, 800000);
  loadPicture(image, pattern(352, 288, 0));
  ASSERT_TRUE(codec.compress());
  EXPECT_EQ(codec.encoderState().bitRate, 3168000);
  // A quality change takes effect with the next frame.
  ASSERT_TRUE(codec.setQuality(20));
  ASSERT_TRUE(codec.compress());
  EXPECT_EQ(codec.encoderState().bitRate, 352 * 20 * 180);
  EXPECT_EQ(codec.encoderState().openBitRate, 800000);
}

TEST(CodecFfmpeg, UyvyStreamsAreThoseOfTheImagesOwnConversion) {
  struct StreamCase {
    const char* label;
    int kind;
    int width;
    int height;
    int keyInterval;
  };
  // Widths off the library's row alignment (32 bytes) give the encoder frames
  // row padding; odd sides leave a lone last row or pixel for the chroma.
  const StreamCase cases[] = {
      {"MPEG-4 CIF", dvrCodec_ffmpeg::MPEG4, 352, 288, 5},
      {"MPEG-4 4CIF, every frame a key frame", dvrCodec_ffmpeg::MPEG4, 704, 576, 1},
      {"MPEG-2 CIF", dvrCodec_ffmpeg::MPEG2, 352, 288, 5},
      {"MPEG-1 CIF at 12 frames per second", dvrCodec_ffmpeg::MPEG1, 352, 288, 5},
      {"MPEG-1 QCIF at 2 frames per second", dvrCodec_ffmpeg::MPEG1, 176, 144, 1},
      {"MPEG-4, neither side a multiple of 16", dvrCodec_ffmpeg::MPEG4, 344, 276, 5},
      {"MPEG-4, odd height", dvrCodec_ffmpeg::MPEG4, 352, 287, 5},
      {"MPEG-2, odd width", dvrCodec_ffmpeg::MPEG2, 351, 288, 5},
      {"MPEG-4, both sides odd", dvrCodec_ffmpeg::MPEG4, 175, 143, 5},
      {"Motion JPEG CIF", dvrCodec_ffmpeg::MJPEG, 352, 288, 1},
      {"Motion JPEG, odd height", dvrCodec_ffmpeg::MJPEG, 344, 287, 1},
  };
  constexpr int kFrames = 7;
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(c.width, c.height, dvrFORMAT_UYVY);
    dvrCodec_ffmpeg codec(&image, dvrCODEC_COMPRESS, c.kind);
    codec.setKeyInterval(c.keyInterval);
    ASSERT_TRUE(codec.open());
    ReferenceEncoder reference(c.kind, c.width, c.height, codec.encoderState());
    ASSERT_TRUE(reference.opened());
    ReferenceInput input(c.width, c.height);
    for (int i = 0; i < kFrames; ++i) {
      SCOPED_TRACE("frame " + std::to_string(i));
      const auto picture = noisyChroma(c.width, c.height, i);
      loadPicture(image, picture);
      ASSERT_TRUE(codec.compress());
      ASSERT_TRUE(input.fill(image, picture, reference.frame()));
      std::vector<std::uint8_t> expected;
      bool key = false;
      ASSERT_TRUE(reference.encode(codec.encoderState().bitRate, expected, key));
      ASSERT_GT(image.compressedSize(), 0);
      const std::uint8_t* stream = image.buffer(dvrBUF_COMPRESSED);
      EXPECT_TRUE(std::vector<std::uint8_t>(stream, stream + image.compressedSize()) == expected)
          << image.compressedSize() << " bytes against " << expected.size();
      EXPECT_EQ(image.keyFrame(), key ? 1 : 0);
    }
  }
}

TEST(CodecSettings, OutOfRangeValuesAreRefusedAndKept) {
  struct SettingCase {
    const char* label;
    bool isQuality;
    int value;
    bool accepted;
    int stored;
  };
  const SettingCase cases[] = {
      {"quality 101", true, 101, false, 80},   {"quality -1", true, -1, false, 80},
      {"quality 0", true, 0, true, 0},         {"quality 100", true, 100, true, 100},
      {"frame rate 31", false, 31, false, 25}, {"frame rate 0", false, 0, false, 25},
      {"frame rate 1", false, 1, true, 1},     {"frame rate 30", false, 30, true, 30},
  };
  for (const char* name : {"MPG4", "THEO"}) {
    for (const SettingCase& c : cases) {
      SCOPED_TRACE(std::string(name) + ": " + c.label);
      dvrImage image(32, 32, dvrFORMAT_UYVY);
      auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, name);
      EXPECT_EQ(codec->quality(), 80);
      EXPECT_EQ(codec->frameRate(), 25);
      if (c.isQuality) {
        EXPECT_EQ(codec->setQuality(c.value), c.accepted);
        EXPECT_EQ(codec->quality(), c.stored);
      } else {
        EXPECT_EQ(codec->setFrameRate(c.value), c.accepted);
        EXPECT_EQ(codec->frameRate(), c.stored);
      }
    }
  }
}

class CodecGlobalKeyInterval : public dvrEngineTest {};

TEST_F(CodecGlobalKeyInterval, NewCodecsTakeTheGlobalSetting) {
  globals->setInt("keyinterval", 3);
  dvrImage image(176, 144, dvrFORMAT_UYVY);
  struct KeyCase {
    const char* name;
    int keyInterval;
  };
  for (const KeyCase& c : {KeyCase{"MPG4", 3}, {"MPG2", 3}, {"MPG1", 3}, {"THEO", 3}, {"MJPG", 1},
                           {"H263", 1}}) {
    SCOPED_TRACE(c.name);
    auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, c.name);
    EXPECT_EQ(codec->keyInterval(), c.keyInterval);
  }
  dvrCodec_ffmpeg mpeg4(&image, dvrCODEC_COMPRESS, dvrCodec_ffmpeg::MPEG4);
  ASSERT_TRUE(mpeg4.open());
  EXPECT_EQ(mpeg4.encoderState().gopSize, 3);
  EXPECT_EQ(mpeg4.encoderState().frameRate, 12);
}

TEST(CodecLifecycle, ForgetsAnImageDestroyedFirst) {
  for (const char* name : kAllNames) {
    SCOPED_TRACE(name);
    auto image = std::make_unique<dvrImage>(64, 48, dvrFORMAT_UYVY);
    auto codec = dvrMakeCodec(image.get(), dvrCODEC_COMPRESS | dvrCODEC_DECOMPRESS, name);
    EXPECT_NE(image->maskOf(codec.get()) & dvrNOTIFY_DESTROYED, 0u);
    ASSERT_TRUE(codec->open());
    ASSERT_TRUE(codec->compress());
    ASSERT_TRUE(codec->decompress());

    image.reset();
    EXPECT_EQ(codec->image(), nullptr);
    EXPECT_FALSE(codec->compress());
    EXPECT_FALSE(codec->decompress());
    EXPECT_FALSE(codec->open());
    codec.reset();  // must not reach the freed image
  }
}

TEST(CodecLifecycle, DetachesFromItsImageWhenDestroyed) {
  dvrImage image(64, 48, dvrFORMAT_UYVY);
  for (const char* name : kAllNames) {
    SCOPED_TRACE(name);
    auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, name);
    EXPECT_EQ(image.observerCount(), 1u);
    codec.reset();
    EXPECT_EQ(image.observerCount(), 0u);
  }
}

TEST(CodecLifecycle, WorkNeedsAnOpenCodecAnImageAndTheRightMode) {
  for (const char* name : kAllNames) {
    SCOPED_TRACE(name);
    dvrImage image(64, 48, dvrFORMAT_UYVY);
    loadPicture(image, pattern(64, 48, 0));

    auto unopened = dvrMakeCodec(&image, dvrCODEC_COMPRESS | dvrCODEC_DECOMPRESS, name);
    EXPECT_FALSE(unopened->isOpened());
    EXPECT_FALSE(unopened->compress());
    EXPECT_FALSE(unopened->decompress());

    auto compressOnly = dvrMakeCodec(&image, dvrCODEC_COMPRESS, name);
    ASSERT_TRUE(compressOnly->open());
    EXPECT_TRUE(compressOnly->compress());
    EXPECT_FALSE(compressOnly->decompress());

    auto decompressOnly = dvrMakeCodec(&image, dvrCODEC_DECOMPRESS, name);
    ASSERT_TRUE(decompressOnly->open());
    EXPECT_FALSE(decompressOnly->compress());
    EXPECT_TRUE(decompressOnly->decompress());

    auto orphan = dvrMakeCodec(nullptr, dvrCODEC_COMPRESS, name);
    EXPECT_FALSE(orphan->open());
    EXPECT_FALSE(orphan->compress());

    // Opening again replaces the contexts and keeps working.
    ASSERT_TRUE(compressOnly->open());
    EXPECT_TRUE(compressOnly->compress());
    EXPECT_GT(image.compressedSize(), 0);
  }
}

TEST(CodecLifecycle, PictureFormatsWithoutAMappingAreRefused) {
  for (const char* name : kAllNames) {
    for (int format : {dvrFORMAT_RGB32, dvrFORMAT_YUV422P, dvrFORMAT_DIB24}) {
      SCOPED_TRACE(std::string(name) + " format " + std::to_string(format));
      dvrImage image(64, 48, format);
      auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS | dvrCODEC_DECOMPRESS, name);
      ASSERT_TRUE(codec->open());
      image.setCompressedSize(0);
      EXPECT_FALSE(codec->compress());
      EXPECT_EQ(image.compressedSize(), 0);
      EXPECT_FALSE(codec->decompress());
    }
  }
}

TEST(CodecFactory, NamesAndSettingValues) {
  struct NameCase {
    const char* name;
    const char* fourcc;  // null: no codec
    int kind;            // -1: Theora
  };
  const NameCase names[] = {
      {"MPG4", "MPG4", 0}, {"MPG2", "MPG2", 1}, {"MPG1", "MPG1", 2},  {"MJPG", "MJPG", 3},
      {"H263", "NULL", 4}, {"THEO", "THEO", -1}, {"NULL", nullptr, 0}, {"mpg4", nullptr, 0},
      {"MPG4x", nullptr, 0}, {"MPG", nullptr, 0}, {"", nullptr, 0},
  };
  dvrImage image(32, 32, dvrFORMAT_UYVY);
  for (const NameCase& c : names) {
    SCOPED_TRACE(c.name);
    auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, c.name);
    if (!c.fourcc) {
      EXPECT_EQ(codec, nullptr);
      continue;
    }
    ASSERT_NE(codec, nullptr);
    EXPECT_STREQ(codec->fourcc(), c.fourcc);
    EXPECT_EQ(codec->mode(), dvrCODEC_COMPRESS);
    if (c.kind < 0) {
      EXPECT_NE(dynamic_cast<dvrCodec_theora*>(codec.get()), nullptr);
    } else {
      auto* ffmpeg = dynamic_cast<dvrCodec_ffmpeg*>(codec.get());
      ASSERT_NE(ffmpeg, nullptr);
      EXPECT_EQ(ffmpeg->kind(), c.kind);
    }
  }

  struct SettingCase {
    int value;
    const char* name;
  };
  for (const SettingCase& c : {SettingCase{0, "MPG4"}, {1, "MJPG"}, {2, "MPG1"}, {3, "MPG2"},
                               {5, "THEO"}, {-1, "NULL"}, {4, "MPG4"}, {99, "MPG4"}}) {
    EXPECT_STREQ(dvrCodecNameForSetting(c.value), c.name) << "setting " << c.value;
  }
}

TEST(CodecTheora, FrameGeometryRaisesToMultiplesOf16WithEvenOffsets) {
  struct GeometryCase {
    int width, height;
    dvrCodec_theora::Geometry expected;
  };
  const GeometryCase cases[] = {
      {352, 288, {352, 288, 0, 0}}, {360, 288, {368, 288, 4, 0}}, {350, 280, {352, 288, 0, 4}},
      {344, 276, {352, 288, 4, 6}}, {1, 1, {16, 16, 6, 6}},       {16, 17, {16, 32, 0, 6}},
  };
  for (const GeometryCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const auto g = dvrCodec_theora::geometryFor(c.width, c.height);
    EXPECT_EQ(g.frameWidth, c.expected.frameWidth);
    EXPECT_EQ(g.frameHeight, c.expected.frameHeight);
    EXPECT_EQ(g.offsetX, c.expected.offsetX);
    EXPECT_EQ(g.offsetY, c.expected.offsetY);
  }
  dvrImage image(360, 288, dvrFORMAT_UYVY);
  dvrCodec_theora codec(&image, dvrCODEC_COMPRESS);
  ASSERT_TRUE(codec.open());
  EXPECT_EQ(codec.geometry().frameWidth, 368);
  EXPECT_EQ(codec.geometry().offsetX, 4);
}

TEST(CodecTheora, DecoderPacketCounterSkipsToTheNextMultipleOf40) {
  dvrImage source(64, 48, dvrFORMAT_UYVY);
  dvrImage target(64, 48, dvrFORMAT_UYVY);
  dvrCodec_theora encoder(&source, dvrCODEC_COMPRESS);
  dvrCodec_theora decoder(&target, dvrCODEC_DECOMPRESS);
  ASSERT_TRUE(encoder.open() && decoder.open());
  const std::int64_t expected[] = {1, 2, 3, 4, 40, 41, 42, 43, 44, 80, 81, 82};
  EXPECT_EQ(decoder.packetCounter(), 0);
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    loadPicture(source, pattern(64, 48, static_cast<int>(i)));
    ASSERT_TRUE(encoder.compress());
    transfer(source, target);
    ASSERT_TRUE(decoder.decompress());
    EXPECT_EQ(decoder.packetCounter(), expected[i]) << "after packet " << i;
    EXPECT_LT(meanLumaError(target.buffer(dvrBUF_CURRENT), source.buffer(dvrBUF_CURRENT), 64, 48),
              6.0)
        << "packet " << i;
  }
  ASSERT_TRUE(decoder.open());
  EXPECT_EQ(decoder.packetCounter(), 0);
}

class CodecTheoraLog : public dvrEngineTest {
 protected:
  void TearDown() override {
    dvrLogSetVerbose(false);
    dvrEngineTest::TearDown();
  }
};

TEST_F(CodecTheoraLog, VerboseLinesCarryThePacketFigures) {
  dvrLogSetVerbose(true);
  dvrImage source(64, 48, dvrFORMAT_UYVY);
  dvrImage target(64, 48, dvrFORMAT_UYVY);
  dvrCodec_theora encoder(&source, dvrCODEC_COMPRESS);
  dvrCodec_theora decoder(&target, dvrCODEC_DECOMPRESS);
  ASSERT_TRUE(encoder.open() && decoder.open());
  loadPicture(source, pattern(64, 48, 0));
  ASSERT_TRUE(encoder.compress());
  transfer(source, target);
  ASSERT_TRUE(decoder.decompress());

  const std::string bytes = std::to_string(source.compressedSize());
  const std::regex compressed("compressed \\(theora\\) " + bytes +
                              " bytes: bos 0, eos 0, gran -?[0-9]+, pno -?[0-9]+");
  const auto lines = logLines();
  int found = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (std::regex_match(lines[i], compressed)) found |= 1;
    // The decoder's result, then the size it was given.
    if (lines[i] == "decompressed (theora) " + bytes + " bytes" && i > 0 && lines[i - 1] == "0")
      found |= 2;
  }
  EXPECT_EQ(found, 3) << ::testing::PrintToString(lines);
}

TEST(CodecStream, FfprobeReadsTheConcatenatedPayloads) {
  struct StreamCase {
    const char* name;
    const char* file;
    const char* probe;
  };
  const StreamCase cases[] = {
      {"MPG4", "stream.m4v", "mpeg4,352,288"},
      {"MJPG", "stream.mjpeg", "mjpeg,352,288"},
      {"MPG1", "stream.m1v", "mpeg1video,352,288"},
      {"MPG2", "stream.m2v", "mpeg2video,352,288"},
  };
  dvrTempDir dir;
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    dvrImage image(352, 288, dvrFORMAT_UYVY);
    auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, c.name);
    ASSERT_TRUE(codec->open());
    {
      std::ofstream out(dir.file(c.file), std::ios::binary);
      for (int i = 0; i < 6; ++i) {
        loadPicture(image, pattern(352, 288, i));
        ASSERT_TRUE(codec->compress());
        out.write(reinterpret_cast<const char*>(image.buffer(dvrBUF_COMPRESSED)),
                  image.compressedSize());
      }
    }
    const std::string command =
        "ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 '" +
        dir.file(c.file) + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe)) output += chunk;
    EXPECT_EQ(pclose(pipe), 0) << output;
    // One line per stream: name, width, height, then (for MPEG-2) an empty
    // column of the stream's side data.
    const std::string firstLine = output.substr(0, output.find('\n'));
    EXPECT_EQ(firstLine.substr(0, firstLine.find_last_not_of(',') + 1), c.probe) << output;
  }
}
