// The bare MPEG-4 encoder on the pictures the recorder gets, as the baseline
// of the recording benchmark (bench/recording.py):
//
//   encoder-baseline WIDTH HEIGHT RATE [FRAMES] [--streams N] [--quality Q]
//                    [--pictures FILE]
//
// N streams (default 1), as N cameras give them: stream i shows simulated
// input i (board i / 8, input i % 8), its pictures 1000/RATE ms of wall clock
// apart as a camera at RATE frames per second sees them; with FILE, the raw
// UYVY pictures of WIDTH x HEIGHT in it, taken in turn (stream i starting at
// picture i). The streams are encoded frame by frame in turn, FRAMES frames
// each (default 200), as the capture threads take turns at the encoder. It
// prints CPU milliseconds per frame:
//   "encoder_ms" libavcodec's MPEG-4 encoder alone, one context a stream,
//                opened with the settings the recorder's codec uses (quality
//                Q, default 50; key interval 5) and fed YUV420P pictures:
//                only the encoding calls are timed;
//   "codec_ms"   the recorder's codec on stream 0's pictures in UYVY, as the
//                capture thread calls it (conversion and copy-out included);
// and the bytes each produced for stream 0, equal when both encoded the same
// pictures the same way.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "pipeline/codec.h"
#include "pipeline/image.h"
#include "platform/cat3di/sim_picture.h"

namespace {

constexpr int kKeyInterval = 5;

struct Options {
  int width = 0, height = 0, rate = 0;
  int frames = 200;
  int streams = 1;
  int quality = 50;
  const char* pictures = nullptr;
};

double cpuMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The UYVY pictures of every stream: drawn by the simulated board's renderer,
// or taken from a file.
class Pictures {
 public:
  explicit Pictures(const Options& o) : o_(o), picture_(static_cast<std::size_t>(o.width) * o.height * 2) {
    if (!o.pictures) return;
    if (std::FILE* file = std::fopen(o.pictures, "rb")) {
      while (std::fread(picture_.data(), 1, picture_.size(), file) == picture_.size()) stored_.push_back(picture_);
      std::fclose(file);
    }
  }
  bool usable() const { return !o_.pictures || !stored_.empty(); }

  // Frame `frame` of stream `stream`; valid until the next call.
  const std::vector<std::uint8_t>& get(int stream, int frame) {
    if (o_.pictures) return stored_[static_cast<std::size_t>(stream + frame) % stored_.size()];
    cat3disim::PictureScene scene;
    scene.board = stream / 8;
    scene.input = stream % 8;
    scene.wallMs = 1'700'000'000'000LL + static_cast<std::int64_t>(frame) * 1000 / o_.rate;
    scene.hour = 12;
    scene.second = static_cast<int>(scene.wallMs / 1000 % 60);
    cat3disim::renderPicture(picture_.data(), o_.width, o_.height, scene);
    return picture_;
  }

 private:
  const Options& o_;
  std::vector<std::uint8_t> picture_;
  std::vector<std::vector<std::uint8_t>> stored_;
};

// UYVY -> YUV420P: every Y, the U and V of the even rows.
void toYuv420(const std::vector<std::uint8_t>& picture, int width, int height, AVFrame* f) {
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
}

struct Stream {
  AVCodecContext* context = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  ~Stream() {
    avcodec_free_context(&context);
    av_frame_free(&frame);
    av_packet_free(&packet);
  }
};

bool openStream(Stream& s, const Options& o) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (!codec || !(s.context = avcodec_alloc_context3(codec))) return false;
  AVCodecContext* c = s.context;
  c->width = o.width;
  c->height = o.height;
  c->gop_size = kKeyInterval;
  c->time_base = AVRational{1, 12};
  c->framerate = AVRational{12, 1};
  c->bit_rate = dvrCodec_ffmpeg::openBitRate(o.width, o.quality);
  c->max_b_frames = 0;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  s.frame = av_frame_alloc();
  s.packet = av_packet_alloc();
  if (avcodec_open2(c, codec, nullptr) < 0 || !s.frame || !s.packet) return false;
  s.frame->format = AV_PIX_FMT_YUV420P;
  s.frame->width = o.width;
  s.frame->height = o.height;
  return av_frame_get_buffer(s.frame, 0) >= 0;
}

double bareEncoder(const Options& o, Pictures& pictures, std::int64_t& firstStreamBytes) {
  std::vector<std::unique_ptr<Stream>> streams;
  for (int i = 0; i < o.streams; ++i) {
    streams.push_back(std::make_unique<Stream>());
    if (!openStream(*streams.back(), o)) return -1;
  }
  firstStreamBytes = 0;
  double spent = 0;
  for (int f = 0; f < o.frames; ++f) {
    for (int i = 0; i < o.streams; ++i) {
      Stream& s = *streams[static_cast<std::size_t>(i)];
      if (av_frame_make_writable(s.frame) < 0) return -1;
      toYuv420(pictures.get(i, f), o.width, o.height, s.frame);
      s.frame->pts = f;
      const double start = cpuMilliseconds();
      s.context->bit_rate = dvrCodec_ffmpeg::frameBitRate(o.width, o.quality);
      if (avcodec_send_frame(s.context, s.frame) < 0 || avcodec_receive_packet(s.context, s.packet) < 0) return -1;
      spent += cpuMilliseconds() - start;
      if (i == 0) firstStreamBytes += s.packet->size;
      av_packet_unref(s.packet);
    }
  }
  return spent / (static_cast<double>(o.frames) * o.streams);
}

double recorderCodec(const Options& o, Pictures& pictures, std::int64_t& bytes) {
  dvrImage image(o.width, o.height, dvrFORMAT_UYVY, 1);
  auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, "MPG4");
  codec->setQuality(o.quality);
  codec->setKeyInterval(kKeyInterval);
  codec->setFrameRate(o.rate);
  if (!codec->open()) return -1;
  bytes = 0;
  double spent = 0;
  for (int f = 0; f < o.frames; ++f) {
    const auto& picture = pictures.get(0, f);
    std::memcpy(image.buffer(dvrBUF_CURRENT), picture.data(), picture.size());  // the grab, not timed
    const double start = cpuMilliseconds();
    if (!codec->compress()) return -1;
    spent += cpuMilliseconds() - start;
    bytes += image.compressedSize();
  }
  return spent / static_cast<double>(o.frames);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::vector<const char*> positional;
  for (int i = 1; i < argc; ++i) {
    const bool valued = i + 1 < argc;
    if (valued && std::strcmp(argv[i], "--quality") == 0)
      o.quality = std::atoi(argv[++i]);
    else if (valued && std::strcmp(argv[i], "--streams") == 0)
      o.streams = std::atoi(argv[++i]);
    else if (valued && std::strcmp(argv[i], "--pictures") == 0)
      o.pictures = argv[++i];
    else
      positional.push_back(argv[i]);
  }
  if (positional.size() < 3 || positional.size() > 4) {
    std::fprintf(stderr,
                 "usage: encoder-baseline WIDTH HEIGHT RATE [FRAMES] [--streams N] [--quality Q] [--pictures FILE]\n");
    return 2;
  }
  o.width = std::atoi(positional[0]);
  o.height = std::atoi(positional[1]);
  o.rate = std::atoi(positional[2]);
  if (positional.size() > 3) o.frames = std::atoi(positional[3]);
  if (o.width < 16 || o.height < 16 || o.width % 2 != 0 || o.rate < 1 || o.rate > 30 || o.frames < 1 ||
      o.streams < 1 || o.streams > 1024 || o.quality < 0 || o.quality > 100) {
    std::fprintf(stderr,
                 "encoder-baseline: an even width and a height of 16 or more, a rate of 1..30, "
                 "1..1024 streams, a quality of 0..100\n");
    return 2;
  }
  av_log_set_level(AV_LOG_ERROR);
  Pictures pictures(o);
  if (!pictures.usable()) {
    std::fprintf(stderr, "encoder-baseline: no %dx%d picture in %s\n", o.width, o.height, o.pictures);
    return 1;
  }
  std::int64_t encoderBytes = 0, codecBytes = 0;
  const double encoder = bareEncoder(o, pictures, encoderBytes);
  const double codec = recorderCodec(o, pictures, codecBytes);
  if (encoder < 0 || codec < 0) {
    std::fprintf(stderr, "encoder-baseline: the encoder failed\n");
    return 1;
  }
  std::printf("encoder_ms %.4f\ncodec_ms %.4f\nencoder_bytes %lld\ncodec_bytes %lld\n", encoder, codec,
              static_cast<long long>(encoderBytes), static_cast<long long>(codecBytes));
  return 0;
}
