// Compression throughput of every codec through dvrCodec, side by side with
// the bare library encoder fed the same frames with the same settings.
//
// Each group reads
//   "codec/<fourcc>/<size>"  through dvrCodec, from the "UYVY" frame;
//   "bare/<fourcc>/<size>"   libavcodec or libtheora called directly, with
//                            libswscale converting the "UYVY" frame into the
//                            encoder's format;
//   "encode/<fourcc>/<size>" the same encoder fed frames already in its own
//                            format: the library's floor, no conversion at all.
// All copy the next frame of a short moving clip into their input buffer and
// the packet out into a 262144-byte buffer, as capture and the compressed
// buffer do, so codec/bare is what the wrapper costs against doing the same
// job with the libraries alone, and codec/encode what the whole way from the
// camera's format costs on top of the encoder.
//
//   build-h6b/bench/codec_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
#include <theora/theora.h>
}

#include "pipeline/codec.h"
#include "pipeline/image.h"

namespace {

constexpr int kClipFrames = 8;
constexpr int kKeyInterval = 5;  // the global default
constexpr int kQuality = 80;     // the codecs' default

// A short "UYVY" clip: a sliding luma ramp with a travelling square.
const std::vector<std::vector<std::uint8_t>>& clip(int width, int height) {
  static std::map<std::pair<int, int>, std::vector<std::vector<std::uint8_t>>> clips;
  auto& frames = clips[{width, height}];
  if (!frames.empty()) return frames;
  for (int f = 0; f < kClipFrames; ++f) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(width) * height * 2);
    const int sx = 16 + f * 10, sy = 24 + f * 6;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; x += 2) {
        std::uint8_t* q = &p[(static_cast<std::size_t>(y) * width + x) * 2];
        auto luma = [&](int px) {
          if (px >= sx && px < sx + 48 && y >= sy && y < sy + 48) return 220;
          return 40 + ((px + 12 * f) % width) * 150 / width + y * 20 / height;
        };
        q[0] = static_cast<std::uint8_t>(100 + x * 50 / width);
        q[1] = static_cast<std::uint8_t>(luma(x));
        q[2] = static_cast<std::uint8_t>(150 - y * 50 / height);
        q[3] = static_cast<std::uint8_t>(luma(x + 1));
      }
    }
    frames.push_back(std::move(p));
  }
  return frames;
}

void finish(benchmark::State& state, std::int64_t bytes) {
  state.SetItemsProcessed(state.iterations());
  if (state.iterations() > 0)
    state.counters["bytes/frame"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}

void throughCodec(benchmark::State& state, std::string name, int width, int height) {
  dvrImage image(width, height, dvrFORMAT_UYVY);
  auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, name);
  if (!codec || !codec->open()) {
    state.SkipWithError("open failed");
    return;
  }
  const auto& frames = clip(width, height);
  std::size_t next = 0;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    const auto& frame = frames[next++ % frames.size()];
    std::memcpy(image.buffer(dvrBUF_CURRENT), frame.data(), frame.size());
    if (!codec->compress()) {
      state.SkipWithError("compress failed");
      break;
    }
    bytes += image.compressedSize();
  }
  finish(state, bytes);
}

// libavcodec with the settings dvrCodec_ffmpeg opens its encoders with.
class BareFfmpeg {
 public:
  BareFfmpeg(const std::string& name, bool convertEachFrame, int width, int height)
      : width_(width), height_(height), convertEachFrame_(convertEachFrame) {
    const bool mjpeg = name == "MJPG";
    const bool mpeg1 = name == "MPG1";
    const AVCodecID id = name == "MPG4"   ? AV_CODEC_ID_MPEG4
                         : name == "MPG2" ? AV_CODEC_ID_MPEG2VIDEO
                         : mpeg1          ? AV_CODEC_ID_MPEG1VIDEO
                                          : AV_CODEC_ID_MJPEG;
    const int keyInterval = mjpeg ? 1 : kKeyInterval;
    const int fps = keyInterval == 1 ? 2 : 12;
    const AVCodec* codec = avcodec_find_encoder(id);
    context_ = avcodec_alloc_context3(codec);
    context_->width = width;
    context_->height = height;
    context_->gop_size = keyInterval;
    context_->time_base = AVRational{1, fps};
    context_->framerate = AVRational{fps, 1};
    context_->bit_rate = static_cast<std::int64_t>(width) * (kQuality + 30) * 10000 / 352;
    context_->max_b_frames = 0;
    if (id == AV_CODEC_ID_MPEG1VIDEO || id == AV_CODEC_ID_MPEG2VIDEO)
      context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (mpeg1) context_->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    context_->pix_fmt = mjpeg ? AV_PIX_FMT_YUVJ422P : AV_PIX_FMT_YUV420P;
    if (mjpeg) context_->color_range = AVCOL_RANGE_JPEG;
    ok_ = avcodec_open2(context_, codec, nullptr) >= 0;
    frame_ = av_frame_alloc();
    frame_->format = context_->pix_fmt;
    frame_->width = width;
    frame_->height = height;
    ok_ = ok_ && av_frame_get_buffer(frame_, 0) >= 0;
    packet_ = av_packet_alloc();
    scaler_ = sws_getContext(width, height, AV_PIX_FMT_UYVY422, width, height, context_->pix_fmt,
                             SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    ok_ = ok_ && scaler_;
    input_.resize(static_cast<std::size_t>(width) * height * 2);
    output_.resize(DVR_MAX_COMPRESSED_SIZE);
    if (!convertEachFrame_ && ok_) {
      // The clip in the encoder's own format, converted once.
      const int bytes = av_image_get_buffer_size(context_->pix_fmt, width, height, 1);
      for (const auto& frame : clip(width, height)) {
        std::vector<std::uint8_t> planar(static_cast<std::size_t>(bytes));
        std::uint8_t* planes[4];
        int strides[4];
        av_image_fill_arrays(planes, strides, planar.data(), context_->pix_fmt, width, height, 1);
        const std::uint8_t* source[1] = {frame.data()};
        const int sourceStrides[1] = {width * 2};
        sws_scale(scaler_, source, sourceStrides, 0, height, planes, strides);
        converted_.push_back(std::move(planar));
      }
    }
  }
  ~BareFfmpeg() {
    sws_freeContext(scaler_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
  }
  bool ok() const { return ok_; }

  int encode(std::size_t index) {
    if (av_frame_make_writable(frame_) < 0) return -1;
    if (convertEachFrame_) {
      const auto& frame = clip(width_, height_)[index];
      std::memcpy(input_.data(), frame.data(), frame.size());
      const std::uint8_t* planes[1] = {input_.data()};
      const int strides[1] = {width_ * 2};
      sws_scale(scaler_, planes, strides, 0, height_, frame_->data, frame_->linesize);
    } else {
      std::uint8_t* planes[4];
      int strides[4];
      av_image_fill_arrays(planes, strides, converted_[index].data(), context_->pix_fmt, width_,
                           height_, 1);
      av_image_copy(frame_->data, frame_->linesize, const_cast<const std::uint8_t**>(planes),
                    strides, context_->pix_fmt, width_, height_);
    }
    frame_->pts = pts_++;
    if (avcodec_send_frame(context_, frame_) < 0) return -1;
    if (avcodec_receive_packet(context_, packet_) < 0) return -1;
    const int size = packet_->size;
    if (size > DVR_MAX_COMPRESSED_SIZE) return -1;
    std::memcpy(output_.data(), packet_->data, static_cast<std::size_t>(size));
    av_packet_unref(packet_);
    return size;
  }

 private:
  int width_, height_;
  bool convertEachFrame_;
  bool ok_ = false;
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;
  std::int64_t pts_ = 0;
  std::vector<std::uint8_t> input_, output_;
  std::vector<std::vector<std::uint8_t>> converted_;
};

// libtheora with the info dvrCodec_theora encodes with (sizes that are
// multiples of 16, so frame and picture agree).
class BareTheora {
 public:
  BareTheora(bool convertEachFrame, int width, int height)
      : width_(width), height_(height), convertEachFrame_(convertEachFrame) {
    theora_info info;
    theora_info_init(&info);
    info.width = info.frame_width = static_cast<ogg_uint32_t>(width);
    info.height = info.frame_height = static_cast<ogg_uint32_t>(height);
    info.fps_numerator = 4;
    info.fps_denominator = 1;
    info.colorspace = OC_CS_UNSPECIFIED;
    info.pixelformat = OC_PF_420;
    info.quality = kQuality / 3;
    info.quick_p = 1;
    info.keyframe_auto_p = 1;
    info.keyframe_frequency = info.keyframe_frequency_force = kKeyInterval;
    info.keyframe_auto_threshold = 80;
    info.keyframe_mindistance = 8;
    info.noise_sensitivity = 1;
    ok_ = theora_encode_init(&state_, &info) == 0;
    scaler_ = sws_getContext(width, height, AV_PIX_FMT_UYVY422, width, height, AV_PIX_FMT_YUV420P,
                             SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    ok_ = ok_ && scaler_;
    input_.resize(static_cast<std::size_t>(width) * height * 2);
    planes_.resize(static_cast<std::size_t>(width) * height * 3 / 2);
    output_.resize(DVR_MAX_COMPRESSED_SIZE);
    if (!convertEachFrame_ && ok_) {
      for (const auto& frame : clip(width, height)) {
        convert(frame.data());
        converted_.push_back(planes_);
      }
    }
  }
  ~BareTheora() {
    sws_freeContext(scaler_);
    if (ok_) theora_clear(&state_);
  }
  bool ok() const { return ok_; }

  int encode(std::size_t index) {
    if (convertEachFrame_) {
      const auto& frame = clip(width_, height_)[index];
      std::memcpy(input_.data(), frame.data(), frame.size());
      convert(input_.data());
    } else {
      std::memcpy(planes_.data(), converted_[index].data(), planes_.size());
    }
    std::uint8_t* y = planes_.data();
    std::uint8_t* u = y + width_ * height_;
    std::uint8_t* v = u + width_ * height_ / 4;
    yuv_buffer yuv{width_, height_, width_, width_ / 2, height_ / 2, width_ / 2, y, u, v};
    if (theora_encode_YUVin(&state_, &yuv) != 0) return -1;
    ogg_packet op;
    if (theora_encode_packetout(&state_, 0, &op) <= 0) return -1;
    if (op.bytes > DVR_MAX_COMPRESSED_SIZE) return -1;
    std::memcpy(output_.data(), op.packet, static_cast<std::size_t>(op.bytes));
    return static_cast<int>(op.bytes);
  }

 private:
  // "UYVY" into the YUV420P planes.
  void convert(const std::uint8_t* uyvy) {
    const std::uint8_t* source[1] = {uyvy};
    const int sourceStrides[1] = {width_ * 2};
    std::uint8_t* y = planes_.data();
    std::uint8_t* planes[3] = {y, y + width_ * height_, y + width_ * height_ * 5 / 4};
    const int strides[3] = {width_, width_ / 2, width_ / 2};
    sws_scale(scaler_, source, sourceStrides, 0, height_, planes, strides);
  }

  int width_, height_;
  bool convertEachFrame_;
  bool ok_ = false;
  theora_state state_{};
  SwsContext* scaler_ = nullptr;
  std::vector<std::uint8_t> input_, planes_, output_;
  std::vector<std::vector<std::uint8_t>> converted_;
};

template <class Encoder, class... Args>
void throughLibrary(benchmark::State& state, int width, int height, Args... args) {
  Encoder encoder(args..., width, height);
  const std::size_t frames = clip(width, height).size();
  if (!encoder.ok()) {
    state.SkipWithError("open failed");
    return;
  }
  std::size_t next = 0;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    const int size = encoder.encode(next++ % frames);
    if (size < 0) {
      state.SkipWithError("encode failed");
      break;
    }
    bytes += size;
  }
  finish(state, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_ERROR);
  const std::pair<int, int> sizes[] = {{352, 288}, {704, 576}};
  for (const char* name : {"MPG4", "MPG2", "MPG1", "MJPG", "THEO"}) {
    for (const auto& [w, h] : sizes) {
      const std::string size = std::to_string(w) + "x" + std::to_string(h);
      benchmark::RegisterBenchmark(("codec/" + std::string(name) + "/" + size).c_str(),
                                   [name, w = w, h = h](benchmark::State& s) {
                                     throughCodec(s, name, w, h);
                                   })
          ->Unit(benchmark::kMicrosecond);
      for (const bool convertEachFrame : {true, false}) {
        const std::string label =
            std::string(convertEachFrame ? "bare/" : "encode/") + name + "/" + size;
        if (std::string(name) == "THEO") {
          benchmark::RegisterBenchmark(label.c_str(),
                                       [convertEachFrame, w = w, h = h](benchmark::State& s) {
                                         throughLibrary<BareTheora>(s, w, h, convertEachFrame);
                                       })
              ->Unit(benchmark::kMicrosecond);
        } else {
          benchmark::RegisterBenchmark(
              label.c_str(),
              [name, convertEachFrame, w = w, h = h](benchmark::State& s) {
                throughLibrary<BareFfmpeg>(s, w, h, std::string(name), convertEachFrame);
              })
              ->Unit(benchmark::kMicrosecond);
        }
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
