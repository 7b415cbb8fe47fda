// dvrCodec_ffmpeg: MPEG-4, MPEG-2, MPEG-1 and Motion JPEG through libavcodec,
// pixel conversion through libswscale.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "pipeline/codec.h"
#include "pipeline/image.h"

namespace {

// Encoder input frames per second: 2 when every frame is a key frame, else 12.
int encoderFrameRate(int keyInterval) { return keyInterval == 1 ? 2 : 12; }

int clampToInt(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

AVCodecID codecIdOf(int kind) {
  switch (kind) {
    case dvrCodec_ffmpeg::MPEG4: return AV_CODEC_ID_MPEG4;
    case dvrCodec_ffmpeg::MPEG2: return AV_CODEC_ID_MPEG2VIDEO;
    case dvrCodec_ffmpeg::MPEG1: return AV_CODEC_ID_MPEG1VIDEO;
    case dvrCodec_ffmpeg::MJPEG:
    case dvrCodec_ffmpeg::NULL_MJPEG: return AV_CODEC_ID_MJPEG;
    default: return AV_CODEC_ID_NONE;
  }
}

bool isMotionJpeg(int kind) {
  return kind == dvrCodec_ffmpeg::MJPEG || kind == dvrCodec_ffmpeg::NULL_MJPEG;
}

// The pixel format in which a picture format is handed to the library:
// "UYVY" is taken as YUV422P (written straight into a 4:2:0 encoder's frame,
// else through the image's scratch buffer to the scaler), RGB24 and BGR24 are
// used in place. Anything else has no mapping.
AVPixelFormat sourcePixelFormat(int pictureFormat) {
  switch (pictureFormat) {
    case dvrFORMAT_UYVY: return AV_PIX_FMT_YUV422P;
    case dvrFORMAT_RGB24: return AV_PIX_FMT_RGB24;
    case dvrFORMAT_BGR24: return AV_PIX_FMT_BGR24;
    default: return AV_PIX_FMT_NONE;
  }
}

constexpr int kScaleFlags = SWS_FAST_BILINEAR;

// Planar 4:2:2 and 4:2:0 of the same size and range differ only in the
// chroma rows: 4:2:0 keeps the even ones (as the image buffer's own
// conversion does) and 4:2:2 repeats each. These plain row copies stand in
// for the library's general scaler, which takes several times as long for it.
void copyRows(const std::uint8_t* source, int sourceStride, std::uint8_t* destination,
              int destinationStride, int rowBytes, int rows, int sourceRowStep) {
  for (int r = 0; r < rows; ++r)
    std::memcpy(destination + static_cast<std::ptrdiff_t>(r) * destinationStride,
                source + static_cast<std::ptrdiff_t>(r) * sourceRowStep * sourceStride,
                static_cast<std::size_t>(rowBytes));
}

// A "UYVY" picture into the planes of a 4:2:0 frame in one pass: the Y of
// every row, the U and V of the even rows. These are the bytes of the image
// buffer's 4:2:2 planes with every other chroma row dropped, without the
// round through them. The chroma rows have (width + 1) / 2 samples: an odd
// width's last one is the U of the last pixel with the V of the pair before
// it (grey for a picture one pixel wide). The strides are the frame's, with
// whatever padding it has; the padding is not written.
void uyvyTo420p(const std::uint8_t* __restrict source, int width, int height,
                std::uint8_t* const planes[], const int strides[]) {
  const int pairs = width / 2;
  const std::size_t sourceStride = static_cast<std::size_t>(width) * 2;
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* __restrict s = source + static_cast<std::size_t>(row) * sourceStride;
    std::uint8_t* __restrict y = planes[0] + static_cast<std::ptrdiff_t>(row) * strides[0];
    for (int x = 0; x < width; ++x) y[x] = s[2 * x + 1];
    if (row & 1) continue;
    std::uint8_t* __restrict u = planes[1] + static_cast<std::ptrdiff_t>(row / 2) * strides[1];
    std::uint8_t* __restrict v = planes[2] + static_cast<std::ptrdiff_t>(row / 2) * strides[2];
    for (int i = 0; i < pairs; ++i) {
      u[i] = s[4 * i];
      v[i] = s[4 * i + 2];
    }
    if (width & 1) {
      u[pairs] = s[4 * pairs];
      v[pairs] = pairs > 0 ? s[4 * pairs - 2] : 128;
    }
  }
}

void yuv420pTo422p(const std::uint8_t* const source[], const int sourceStrides[],
                   std::uint8_t* const destination[4], const int destinationStrides[4], int width,
                   int height) {
  copyRows(source[0], sourceStrides[0], destination[0], destinationStrides[0], width, height, 1);
  const int chromaWidth = (width + 1) / 2;
  for (int p = 1; p <= 2; ++p)
    for (int r = 0; r < height; ++r)
      std::memcpy(destination[p] + static_cast<std::ptrdiff_t>(r) * destinationStrides[p],
                  source[p] + static_cast<std::ptrdiff_t>(r / 2) * sourceStrides[p],
                  static_cast<std::size_t>(chromaWidth));
}

// Converts a decoded picture into the target planes, whatever its size and
// pixel format; the scaler is made on the first picture and again only when
// the stream changes. False when the library has no conversion for it.
bool toTarget(SwsContext*& scaler, const AVFrame* f, AVPixelFormat targetFormat,
              std::uint8_t* const planes[4], const int strides[4], int width, int height) {
  if (f->format == AV_PIX_FMT_YUV420P && targetFormat == AV_PIX_FMT_YUV422P &&
      f->width == width && f->height == height) {
    yuv420pTo422p(f->data, f->linesize, planes, strides, width, height);
    return true;
  }
  scaler = sws_getCachedContext(scaler, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                width, height, targetFormat, kScaleFlags, nullptr, nullptr,
                                nullptr);
  if (!scaler) return false;
  sws_scale(scaler, f->data, f->linesize, 0, f->height, planes, strides);
  return true;
}

// Done once per process by the first open: the library registers its codecs
// by itself; only its console chatter is limited to errors.
void initialiseLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

// Opens and closes a context under the process-wide library lock.
bool openContext(AVCodecContext* context, const AVCodec* codec) {
  std::lock_guard<std::mutex> lock(dvrCodecLibraryLock());
  return avcodec_open2(context, codec, nullptr) >= 0;
}

void closeContext(AVCodecContext*& context) {
  if (!context) return;
  std::lock_guard<std::mutex> lock(dvrCodecLibraryLock());
  avcodec_free_context(&context);
}

}  // namespace

// Everything the library gives one codec; made by open, kept until the next
// open or the codec's destruction.
struct dvrCodec_ffmpeg::Library {
  // Encoder side.
  AVCodecContext* encoder = nullptr;
  AVFrame* encoderFrame = nullptr;  // "enbuf": the picture in the encoder's pixel format
  AVPacket* encoderPacket = nullptr;
  // Source pixel format -> encoder's; null for "UYVY" into a 4:2:0 encoder,
  // which is written straight into the frame.
  SwsContext* encodeScaler = nullptr;
  AVPixelFormat sourceFormat = AV_PIX_FMT_NONE;
  std::int64_t openedBitRate = 0;
  std::int64_t nextPts = 0;

  // Decoder side.
  AVCodecContext* decoder = nullptr;
  AVFrame* decodedFrame = nullptr;
  AVPacket* decoderPacket = nullptr;
  std::vector<std::uint8_t> debuf;  // "debuf": the payload with the library's zeroed padding
  SwsContext* decodeScaler = nullptr;  // decoder's pixel format -> target
};

dvrCodec_ffmpeg::dvrCodec_ffmpeg(dvrImage* image, int mode, int kind)
    : dvrCodec(image, mode), kind_(kind), lib_(std::make_unique<Library>()) {
  switch (kind) {
    case MPEG4: setFourcc("MPG4"); break;
    case MPEG2: setFourcc("MPG2"); break;
    case MPEG1: setFourcc("MPG1"); break;
    case MJPEG: setFourcc("MJPG"); break;
    default: setFourcc("NULL"); break;
  }
  if (isMotionJpeg(kind)) keyInterval_ = 1;
}

dvrCodec_ffmpeg::~dvrCodec_ffmpeg() {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  closeContexts();
}

int dvrCodec_ffmpeg::openBitRate(int width, int quality) {
  return clampToInt(std::int64_t{width} * (std::int64_t{quality} + 30) * 10000 / 352);
}

int dvrCodec_ffmpeg::frameBitRate(int width, int quality) {
  return clampToInt(std::int64_t{width} * quality * 180);
}

void dvrCodec_ffmpeg::closeContexts() {
  Library& l = *lib_;
  closeContext(l.encoder);
  av_frame_free(&l.encoderFrame);
  av_packet_free(&l.encoderPacket);
  sws_freeContext(l.encodeScaler);
  l.encodeScaler = nullptr;
  l.sourceFormat = AV_PIX_FMT_NONE;
  l.openedBitRate = 0;
  l.nextPts = 0;

  closeContext(l.decoder);
  av_frame_free(&l.decodedFrame);
  av_packet_free(&l.decoderPacket);
  l.debuf = std::vector<std::uint8_t>();
  sws_freeContext(l.decodeScaler);
  l.decodeScaler = nullptr;
  opened_ = false;
}

bool dvrCodec_ffmpeg::open() {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  if (!image_) return false;
  const AVCodecID id = codecIdOf(kind_);
  if (id == AV_CODEC_ID_NONE) return false;
  initialiseLibrary();
  closeContexts();

  const int width = image_->width();
  const int height = image_->height();
  if (width <= 0 || height <= 0) return false;
  Library& l = *lib_;

  if (mode() & dvrCODEC_DECOMPRESS) {
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec || !(l.decoder = avcodec_alloc_context3(codec))) return false;
    l.decoder->width = width;
    l.decoder->height = height;
    // A picture per packet: the streams carry no reordered frames.
    l.decoder->flags |= AV_CODEC_FLAG_LOW_DELAY;
    l.decodedFrame = av_frame_alloc();
    l.decoderPacket = av_packet_alloc();
    if (!openContext(l.decoder, codec) || !l.decodedFrame || !l.decoderPacket) {
      closeContexts();
      return false;
    }
    l.debuf.assign(DVR_MAX_COMPRESSED_SIZE + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  }

  if (mode() & dvrCODEC_COMPRESS) {
    const AVCodec* codec = avcodec_find_encoder(id);
    if (!codec || !(l.encoder = avcodec_alloc_context3(codec))) {
      closeContexts();
      return false;
    }
    AVCodecContext* c = l.encoder;
    const int fps = encoderFrameRate(keyInterval_);
    c->width = width;
    c->height = height;
    c->gop_size = keyInterval_;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->bit_rate = openBitRate(width, quality_);
    c->max_b_frames = 0;
    // One packet out for every frame in: the MPEG-1/2 encoders otherwise hold
    // a frame back (MPEG-4 and Motion JPEG never do without B-frames). MPEG-1
    // takes the flag only with relaxed compliance, which it gets below.
    if (kind_ == MPEG1 || kind_ == MPEG2) c->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (isMotionJpeg(kind_)) {
      // The JPEG encoder takes full-range YUV only.
      c->pix_fmt = AV_PIX_FMT_YUVJ422P;
      c->color_range = AVCOL_RANGE_JPEG;
    } else {
      c->pix_fmt = AV_PIX_FMT_YUV420P;
    }
    // MPEG-1 has no code for 2 or 12 frames per second among its standard
    // rates. 12 is in the unofficial table; 2 is in no table at all, and the
    // encoder takes it only at the experimental level (the stream then names
    // the nearest rate, which nothing here reads: frames carry their own times).
    if (kind_ == MPEG1)
      c->strict_std_compliance = fps == 2 ? FF_COMPLIANCE_EXPERIMENTAL : FF_COMPLIANCE_UNOFFICIAL;

    l.encoderFrame = av_frame_alloc();
    l.encoderPacket = av_packet_alloc();
    if (!openContext(c, codec) || !l.encoderFrame || !l.encoderPacket) {
      closeContexts();
      return false;
    }
    l.openedBitRate = c->bit_rate;
    l.encoderFrame->format = c->pix_fmt;
    l.encoderFrame->width = width;
    l.encoderFrame->height = height;
    if (av_frame_get_buffer(l.encoderFrame, 0) < 0) {
      closeContexts();
      return false;
    }
    l.sourceFormat = sourcePixelFormat(image_->format());
    if (l.sourceFormat != AV_PIX_FMT_NONE &&
        !(l.sourceFormat == AV_PIX_FMT_YUV422P && c->pix_fmt == AV_PIX_FMT_YUV420P)) {
      l.encodeScaler = sws_getContext(width, height, l.sourceFormat, width, height, c->pix_fmt,
                                      kScaleFlags, nullptr, nullptr, nullptr);
      if (!l.encodeScaler) {
        closeContexts();
        return false;
      }
    }
  }

  opened_ = true;
  return true;
}

bool dvrCodec_ffmpeg::compress() {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  if (!image_ || !opened_) return false;
  Library& l = *lib_;
  // Not compressing, or no pixel mapping for the picture format.
  if (!l.encoder || l.sourceFormat == AV_PIX_FMT_NONE) return false;
  std::uint8_t* current = image_->buffer(dvrBUF_CURRENT);
  std::uint8_t* compressed = image_->buffer(dvrBUF_COMPRESSED);
  std::uint8_t* scratch = image_->buffer(dvrBUF_SCRATCH);
  if (!current || !compressed || !scratch) return false;
  const int width = image_->width();
  const int height = image_->height();

  l.encoder->bit_rate = frameBitRate(width, quality_);

  // The planes the scaler reads: RGB in place, "UYVY" as YUV422P in the
  // scratch buffer. Without a scaler the picture goes straight into the frame.
  std::uint8_t* planes[4] = {};
  int strides[4] = {};
  if (l.encodeScaler) {
    const std::uint8_t* source = current;
    if (image_->format() == dvrFORMAT_UYVY) {
      image_->convert(dvrFORMAT_UYVY, dvrFORMAT_YUV422P, current, scratch,
                      image_->buffer(dvrBUF_SECONDARY_SCRATCH));
      source = scratch;
    }
    if (av_image_fill_arrays(planes, strides, source, l.sourceFormat, width, height, 1) < 0)
      return false;
  }

  image_->setCompressedSize(0);
  // The encoder holds no reference to the frame between calls, so this keeps "enbuf".
  if (av_frame_make_writable(l.encoderFrame) < 0) return false;
  if (l.encodeScaler)
    sws_scale(l.encodeScaler, planes, strides, 0, height, l.encoderFrame->data,
              l.encoderFrame->linesize);
  else
    uyvyTo420p(current, width, height, l.encoderFrame->data, l.encoderFrame->linesize);
  l.encoderFrame->pts = l.nextPts++;
  if (avcodec_send_frame(l.encoder, l.encoderFrame) < 0) return false;
  if (avcodec_receive_packet(l.encoder, l.encoderPacket) < 0) return false;

  // A packet that does not fit the compressed buffer is dropped whole.
  const int size = l.encoderPacket->size;
  const bool fits = size > 0 && size <= DVR_MAX_COMPRESSED_SIZE;
  if (fits) {
    std::memcpy(compressed, l.encoderPacket->data, static_cast<std::size_t>(size));
    image_->setCompressedSize(size);
    image_->setKeyFrame((l.encoderPacket->flags & AV_PKT_FLAG_KEY) ? 1 : 0);
  }
  av_packet_unref(l.encoderPacket);
  return fits;
}

bool dvrCodec_ffmpeg::decompress() {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  if (!image_ || !opened_) return false;
  Library& l = *lib_;
  if (!l.decoder) return false;
  const int format = image_->format();
  std::uint8_t* current = image_->buffer(dvrBUF_CURRENT);
  std::uint8_t* compressed = image_->buffer(dvrBUF_COMPRESSED);
  std::uint8_t* scratch = image_->buffer(dvrBUF_SCRATCH);
  if (!current || !compressed || !scratch) return false;
  const int width = image_->width();
  const int height = image_->height();
  const int size = image_->compressedSize();
  if (size < 0 || size > DVR_MAX_COMPRESSED_SIZE) return false;

  // "UYVY" is reached through YUV422P in the scratch buffer, which keeps the
  // last picture for the frames the decoder gives nothing for.
  AVPixelFormat targetFormat;
  std::uint8_t* target;
  switch (format) {
    case dvrFORMAT_UYVY: targetFormat = AV_PIX_FMT_YUV422P; target = scratch; break;
    case dvrFORMAT_RGB24: targetFormat = AV_PIX_FMT_RGB24; target = current; break;
    case dvrFORMAT_BGR24: targetFormat = AV_PIX_FMT_BGR24; target = current; break;
    default: return false;
  }
  std::uint8_t* planes[4];
  int strides[4];
  if (av_image_fill_arrays(planes, strides, target, targetFormat, width, height, 1) < 0)
    return false;

  // An empty packet would put the decoder into draining; nothing to decode then.
  if (size > 0) {
    std::memcpy(l.debuf.data(), compressed, static_cast<std::size_t>(size));
    l.decoderPacket->data = l.debuf.data();
    l.decoderPacket->size = size;
    if (avcodec_send_packet(l.decoder, l.decoderPacket) >= 0) {
      while (avcodec_receive_frame(l.decoder, l.decodedFrame) >= 0) {
        const AVFrame* f = l.decodedFrame;
        if (toTarget(l.decodeScaler, f, targetFormat, planes, strides, width, height))
          image_->setKeyFrame(f->key_frame ? 1 : 0);
        av_frame_unref(l.decodedFrame);
      }
    }
    l.decoderPacket->data = nullptr;
    l.decoderPacket->size = 0;
  }

  if (format == dvrFORMAT_UYVY)
    image_->convert(dvrFORMAT_YUV422P, dvrFORMAT_UYVY, scratch, current,
                    image_->buffer(dvrBUF_SECONDARY_SCRATCH));
  return true;
}

dvrCodec_ffmpeg::EncoderState dvrCodec_ffmpeg::encoderState() const {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  EncoderState s;
  const AVCodecContext* c = lib_->encoder;
  if (!c) return s;
  s.openBitRate = lib_->openedBitRate;
  s.bitRate = c->bit_rate;
  s.frameRate = c->framerate.den ? c->framerate.num / c->framerate.den : 0;
  s.gopSize = c->gop_size;
  return s;
}
