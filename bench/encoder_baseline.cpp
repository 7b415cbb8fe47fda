// The bare MPEG-4 encoder on the pictures the simulated boards give the
// recorder, as the baseline of the recording benchmark (bench/recording.sh):
//
//   encoder-baseline WIDTH HEIGHT RATE [FRAMES] [--quality Q] [--pictures FILE]
//
// Renders FRAMES pictures (default 200) of one simulated input, 1000/RATE ms
// of wall-clock apart as a camera at RATE frames per second sees them (or
// takes them in turn from FILE, raw UYVY pictures of WIDTH x HEIGHT one after
// the other), and prints two lines of CPU milliseconds per frame:
//   "encoder_ms" libavcodec's MPEG-4 encoder alone, opened with the settings
//                the recorder's codec uses (quality Q, default 50; key
//                interval 5) and fed ready YUV420P pictures: nothing but
//                encoding;
//   "codec_ms"   the recorder's codec on the same pictures in UYVY, as the
//                capture thread calls it (conversion and copy-out included).
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "pipeline/codec.h"
#include "pipeline/image.h"
#include "platform/cat3di/sim_picture.h"

namespace {

int kQuality = 50;
constexpr int kKeyInterval = 5;

double cpuMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

std::vector<std::vector<std::uint8_t>> renderPictures(int width, int height, int rate, int count) {
  std::vector<std::vector<std::uint8_t>> pictures;
  cat3disim::PictureScene scene;
  scene.hour = 12;
  for (int i = 0; i < count; ++i) {
    scene.wallMs = 1'700'000'000'000LL + static_cast<std::int64_t>(i) * 1000 / rate;
    scene.second = static_cast<int>(scene.wallMs / 1000 % 60);
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height * 2);
    cat3disim::renderPicture(picture.data(), width, height, scene);
    pictures.push_back(std::move(picture));
  }
  return pictures;
}

// FRAMES pictures taken in turn from a file of raw UYVY pictures; none when
// the file holds no whole picture.
std::vector<std::vector<std::uint8_t>> readPictures(const char* path, int width, int height, int count) {
  std::vector<std::vector<std::uint8_t>> distinct;
  if (std::FILE* file = std::fopen(path, "rb")) {
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height * 2);
    while (std::fread(picture.data(), 1, picture.size(), file) == picture.size()) distinct.push_back(picture);
    std::fclose(file);
  }
  std::vector<std::vector<std::uint8_t>> pictures;
  for (int i = 0; !distinct.empty() && i < count; ++i) pictures.push_back(distinct[static_cast<std::size_t>(i) % distinct.size()]);
  return pictures;
}

// UYVY -> YUV420P frames: every Y, the U and V of the even rows.
std::vector<AVFrame*> toYuv420(const std::vector<std::vector<std::uint8_t>>& pictures, int width, int height) {
  std::vector<AVFrame*> frames;
  for (const auto& picture : pictures) {
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width;
    f->height = height;
    if (!f || av_frame_get_buffer(f, 0) < 0) {
      std::fprintf(stderr, "encoder-baseline: no frame buffer\n");
      std::exit(1);
    }
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = picture.data() + static_cast<std::size_t>(y) * width * 2;
      std::uint8_t* luma = f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0];
      for (int x = 0; x < width; ++x) luma[x] = row[x * 2 + 1];
      if (y % 2 != 0) continue;
      std::uint8_t* u = f->data[1] + static_cast<std::ptrdiff_t>(y / 2) * f->linesize[1];
      std::uint8_t* v = f->data[2] + static_cast<std::ptrdiff_t>(y / 2) * f->linesize[2];
      for (int x = 0; x < width / 2; ++x) {
        u[x] = row[x * 4];
        v[x] = row[x * 4 + 2];
      }
    }
    frames.push_back(f);
  }
  return frames;
}

double bareEncoder(const std::vector<AVFrame*>& frames, int width, int height, std::int64_t& bytes) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (!c) return -1;
  c->width = width;
  c->height = height;
  c->gop_size = kKeyInterval;
  c->time_base = AVRational{1, 12};
  c->framerate = AVRational{12, 1};
  c->bit_rate = dvrCodec_ffmpeg::openBitRate(width, kQuality);
  c->max_b_frames = 0;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  AVPacket* packet = av_packet_alloc();
  if (avcodec_open2(c, codec, nullptr) < 0 || !packet) return -1;
  bytes = 0;
  const double start = cpuMilliseconds();
  std::int64_t pts = 0;
  for (AVFrame* f : frames) {
    c->bit_rate = dvrCodec_ffmpeg::frameBitRate(width, kQuality);
    f->pts = pts++;
    if (avcodec_send_frame(c, f) < 0 || avcodec_receive_packet(c, packet) < 0) return -1;
    bytes += packet->size;
    av_packet_unref(packet);
  }
  const double spent = cpuMilliseconds() - start;
  av_packet_free(&packet);
  avcodec_free_context(&c);
  return spent / static_cast<double>(frames.size());
}

double recorderCodec(const std::vector<std::vector<std::uint8_t>>& pictures, int width, int height, int rate,
                     std::int64_t& bytes) {
  dvrImage image(width, height, dvrFORMAT_UYVY, 1);
  auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, "MPG4");
  codec->setQuality(kQuality);
  codec->setKeyInterval(kKeyInterval);
  codec->setFrameRate(rate);
  if (!codec->open()) return -1;
  bytes = 0;
  double spent = 0;
  for (const auto& picture : pictures) {
    std::memcpy(image.buffer(dvrBUF_CURRENT), picture.data(), picture.size());  // the grab, not timed
    const double start = cpuMilliseconds();
    if (!codec->compress()) return -1;
    spent += cpuMilliseconds() - start;
    bytes += image.compressedSize();
  }
  return spent / static_cast<double>(pictures.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> positional;
  const char* picturesFile = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quality") == 0 && i + 1 < argc)
      kQuality = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--pictures") == 0 && i + 1 < argc)
      picturesFile = argv[++i];
    else
      positional.push_back(argv[i]);
  }
  if (positional.size() < 3 || positional.size() > 4) {
    std::fprintf(stderr, "usage: encoder-baseline WIDTH HEIGHT RATE [FRAMES] [--quality Q] [--pictures FILE]\n");
    return 2;
  }
  const int width = std::atoi(positional[0]), height = std::atoi(positional[1]), rate = std::atoi(positional[2]);
  const int count = positional.size() > 3 ? std::atoi(positional[3]) : 200;
  if (width < 16 || height < 16 || width % 2 != 0 || rate < 1 || rate > 30 || count < 1 || kQuality < 0 ||
      kQuality > 100) {
    std::fprintf(stderr, "encoder-baseline: an even width and a height of 16 or more, a rate of 1..30, a quality of 0..100\n");
    return 2;
  }
  av_log_set_level(AV_LOG_ERROR);
  const auto pictures =
      picturesFile ? readPictures(picturesFile, width, height, count) : renderPictures(width, height, rate, count);
  if (pictures.empty()) {
    std::fprintf(stderr, "encoder-baseline: no %dx%d picture in %s\n", width, height, picturesFile);
    return 1;
  }
  std::vector<AVFrame*> frames = toYuv420(pictures, width, height);
  std::int64_t encoderBytes = 0, codecBytes = 0;
  const double encoder = bareEncoder(frames, width, height, encoderBytes);
  const double codec = recorderCodec(pictures, width, height, rate, codecBytes);
  for (AVFrame*& f : frames) av_frame_free(&f);
  if (encoder < 0 || codec < 0) {
    std::fprintf(stderr, "encoder-baseline: the encoder failed\n");
    return 1;
  }
  // Equal byte counts show that both encoded the same pictures the same way.
  std::printf("encoder_ms %.4f\ncodec_ms %.4f\nencoder_bytes %lld\ncodec_bytes %lld\n", encoder, codec,
              static_cast<long long>(encoderBytes), static_cast<long long>(codecBytes));
  return 0;
}
