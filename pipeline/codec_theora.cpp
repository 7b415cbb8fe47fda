// dvrCodec_theora: Theora through libtheora's frame-at-a-time interface.
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <theora/theora.h>
}

#include "core/log.h"
#include "pipeline/codec.h"
#include "pipeline/image.h"

namespace {

// One header packet kept beyond the life of the encoder that made it.
struct HeaderPacket {
  std::vector<unsigned char> bytes;
  ogg_packet packet{};

  void copy(const ogg_packet& from) {
    bytes.assign(from.packet, from.packet + from.bytes);
    packet = from;
    packet.packet = bytes.data();
  }
};

// Copies rows of bytes from one plane layout into another.
void copyPlane(const unsigned char* source, long sourceStride, unsigned char* destination,
               long destinationStride, int rowBytes, int rows) {
  for (int r = 0; r < rows; ++r)
    std::memcpy(destination + r * destinationStride, source + r * sourceStride,
                static_cast<std::size_t>(rowBytes));
}

// The picture formats the image buffer converts to YUV420P.
bool hasYuv420Conversion(int format) {
  return format == dvrFORMAT_UYVY || format == dvrFORMAT_RGB24 || format == dvrFORMAT_BGR24 ||
         format == dvrFORMAT_YUV420P;
}

}  // namespace

struct dvrCodec_theora::Library {
  theora_info info{};  // what both encoders are made from
  theora_state encoder{};
  bool encoderReady = false;
  theora_info decoderInfo{};
  theora_comment decoderComment{};
  bool decoderHeadersReady = false;
  theora_state decoder{};
  bool decoderReady = false;
  Geometry geometry;
  // Frame-sized YUV420P planes for pictures whose size is not a multiple of
  // 16: the picture sits at the offsets, the border stays black.
  std::vector<unsigned char> framePlanes;
  std::int64_t packetCounter = 0;
};

dvrCodec_theora::dvrCodec_theora(dvrImage* image, int mode)
    : dvrCodec(image, mode), lib_(std::make_unique<Library>()) {
  setFourcc("THEO");
}

dvrCodec_theora::~dvrCodec_theora() {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  clearStates();
}

dvrCodec_theora::Geometry dvrCodec_theora::geometryFor(int width, int height) {
  Geometry g;
  g.frameWidth = (width + 15) / 16 * 16;
  g.frameHeight = (height + 15) / 16 * 16;
  g.offsetX = ((g.frameWidth - width) / 2) & ~1;
  g.offsetY = ((g.frameHeight - height) / 2) & ~1;
  return g;
}

dvrCodec_theora::Geometry dvrCodec_theora::geometry() const {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  return lib_->geometry;
}

std::int64_t dvrCodec_theora::packetCounter() const {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  return lib_->packetCounter;
}

void dvrCodec_theora::clearStates() {
  Library& l = *lib_;
  if (l.encoderReady) theora_clear(&l.encoder);
  l.encoderReady = false;
  if (l.decoderReady) theora_clear(&l.decoder);
  l.decoderReady = false;
  if (l.decoderHeadersReady) {
    theora_info_clear(&l.decoderInfo);
    theora_comment_clear(&l.decoderComment);
  }
  l.decoderHeadersReady = false;
  l.packetCounter = 0;
  opened_ = false;
}

bool dvrCodec_theora::open() {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  if (!image_) return false;
  clearStates();
  const int width = image_->width();
  const int height = image_->height();
  if (width <= 0 || height <= 0) return false;
  Library& l = *lib_;
  const Geometry g = geometryFor(width, height);
  l.geometry = g;

  theora_info& info = l.info;
  theora_info_init(&info);
  info.width = static_cast<ogg_uint32_t>(g.frameWidth);
  info.height = static_cast<ogg_uint32_t>(g.frameHeight);
  info.frame_width = static_cast<ogg_uint32_t>(width);
  info.frame_height = static_cast<ogg_uint32_t>(height);
  info.offset_x = static_cast<ogg_uint32_t>(g.offsetX);
  info.offset_y = static_cast<ogg_uint32_t>(g.offsetY);
  info.fps_numerator = 4;
  info.fps_denominator = 1;
  info.aspect_numerator = 0;
  info.aspect_denominator = 0;
  info.colorspace = OC_CS_UNSPECIFIED;
  info.pixelformat = OC_PF_420;
  info.target_bitrate = 0;
  info.quality = quality_ / 3;
  info.quick_p = 1;
  info.dropframes_p = 0;
  info.keyframe_auto_p = 1;
  info.keyframe_frequency = static_cast<ogg_uint32_t>(keyInterval_);
  info.keyframe_frequency_force = static_cast<ogg_uint32_t>(keyInterval_);
  info.keyframe_data_target_bitrate = 0;
  info.keyframe_auto_threshold = 80;
  info.keyframe_mindistance = 8;
  info.noise_sensitivity = 1;

  if (mode() & dvrCODEC_DECOMPRESS) {
    // The frames carry no headers: a temporary encoder with the same info
    // makes the three header packets the decoder needs.
    theora_state temporary{};
    if (theora_encode_init(&temporary, &info) != 0) return false;
    HeaderPacket headers[3];
    ogg_packet op{};
    bool made = theora_encode_header(&temporary, &op) == 0;
    if (made) headers[0].copy(op);
    theora_comment comment;
    theora_comment_init(&comment);
    if (made && theora_encode_comment(&comment, &op) == 0) {
      headers[1].copy(op);
      std::free(op.packet);  // the comment packet is the caller's to free
    } else {
      made = false;
    }
    theora_comment_clear(&comment);
    made = made && theora_encode_tables(&temporary, &op) == 0;
    if (made) headers[2].copy(op);
    theora_clear(&temporary);
    if (!made) return false;

    theora_info_init(&l.decoderInfo);
    theora_comment_init(&l.decoderComment);
    l.decoderHeadersReady = true;
    for (HeaderPacket& h : headers) {
      if (theora_decode_header(&l.decoderInfo, &l.decoderComment, &h.packet) != 0) {
        clearStates();
        return false;
      }
    }
    if (theora_decode_init(&l.decoder, &l.decoderInfo) != 0) {
      clearStates();
      return false;
    }
    l.decoderReady = true;
  }

  if (mode() & dvrCODEC_COMPRESS) {
    if (theora_encode_init(&l.encoder, &info) != 0) {
      clearStates();
      return false;
    }
    l.encoderReady = true;
    if (g.frameWidth != width || g.frameHeight != height) {
      const std::size_t luma = static_cast<std::size_t>(g.frameWidth) * g.frameHeight;
      l.framePlanes.assign(luma * 3 / 2, 128);
      std::memset(l.framePlanes.data(), 16, luma);
    } else {
      l.framePlanes = std::vector<unsigned char>();
    }
  }

  opened_ = true;
  return true;
}

bool dvrCodec_theora::compress() {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  if (!image_ || !opened_) return false;
  Library& l = *lib_;
  std::uint8_t* compressed = image_->buffer(dvrBUF_COMPRESSED);
  if (!l.encoderReady || !compressed || !image_->buffer(dvrBUF_CURRENT)) return false;
  if (!hasYuv420Conversion(image_->format())) return false;
  unsigned char* picture = image_->convertCurrent(dvrFORMAT_YUV420P, 1);
  if (!picture) return false;

  const Geometry& g = l.geometry;
  const int width = image_->width();
  const int height = image_->height();
  const int W = g.frameWidth;
  const int H = g.frameHeight;
  unsigned char* planes = picture;
  if (!l.framePlanes.empty()) {
    // The converted planes have the picture's size; the encoder reads the
    // frame's, with the picture at the offsets.
    planes = l.framePlanes.data();
    const unsigned char* u = picture + width * height;
    const unsigned char* v = u + (width / 2) * (height / 2);
    copyPlane(picture, width, planes + g.offsetY * W + g.offsetX, W, width, height);
    unsigned char* fu = planes + W * H;
    unsigned char* fv = fu + (W / 2) * (H / 2);
    const long chromaOffset = (g.offsetY / 2) * (W / 2) + g.offsetX / 2;
    copyPlane(u, width / 2, fu + chromaOffset, W / 2, width / 2, height / 2);
    copyPlane(v, width / 2, fv + chromaOffset, W / 2, width / 2, height / 2);
  }

  yuv_buffer yuv;
  yuv.y_width = W;
  yuv.y_height = H;
  yuv.y_stride = W;
  yuv.uv_width = W / 2;
  yuv.uv_height = H / 2;
  yuv.uv_stride = W / 2;
  yuv.y = planes;
  yuv.u = planes + W * H;
  yuv.v = planes + W * H * 5 / 4;
  image_->setCompressedSize(0);
  if (theora_encode_YUVin(&l.encoder, &yuv) != 0) return false;
  ogg_packet op{};
  if (theora_encode_packetout(&l.encoder, 0, &op) <= 0) return false;
  if (op.bytes < 0 || op.bytes > DVR_MAX_COMPRESSED_SIZE) return false;
  std::memcpy(compressed, op.packet, static_cast<std::size_t>(op.bytes));
  image_->setCompressedSize(static_cast<int>(op.bytes));
  image_->setKeyFrame(theora_packet_iskeyframe(&op) == 1 ? 1 : 0);
  if (dvrLogIsVerbose())
    dvrLogVerbose("compressed (theora) %ld bytes: bos %ld, eos %ld, gran %d, pno %d", op.bytes,
                  op.b_o_s, op.e_o_s, static_cast<int>(op.granulepos),
                  static_cast<int>(op.packetno));
  return true;
}

bool dvrCodec_theora::decompress() {
  std::lock_guard<std::recursive_mutex> lock(codecLock());
  if (!image_ || !opened_) return false;
  Library& l = *lib_;
  std::uint8_t* compressed = image_->buffer(dvrBUF_COMPRESSED);
  std::uint8_t* current = image_->buffer(dvrBUF_CURRENT);
  std::uint8_t* scratch = image_->buffer(dvrBUF_SCRATCH);
  if (!l.decoderReady || !compressed || !current || !scratch) return false;
  if (image_->format() != dvrFORMAT_UYVY) return false;  // pictures come out as "UYVY" only
  const int size = image_->compressedSize();
  if (size < 0 || size > DVR_MAX_COMPRESSED_SIZE) return false;

  ogg_packet op{};
  op.packet = compressed;
  op.bytes = size;
  op.b_o_s = l.packetCounter == 0 ? 1 : 0;
  op.e_o_s = 0;
  op.granulepos = l.packetCounter;
  op.packetno = 0;
  // The counter stands in for a granule position: frames 0..4 after each
  // multiple of 40.
  l.packetCounter += 1;
  if (l.packetCounter % 40 > 4) l.packetCounter += 35;

  const int result = theora_decode_packetin(&l.decoder, &op);
  if (dvrLogIsVerbose()) dvrLogVerbose("%d", result);
  yuv_buffer yuv{};
  const bool picture = theora_decode_YUVout(&l.decoder, &yuv) == 0;
  if (dvrLogIsVerbose()) dvrLogVerbose("decompressed (theora) %ld bytes", op.bytes);
  // The decoder gives the whole coded frame; the picture is at the offsets.
  const Geometry& g = l.geometry;
  const int width = image_->width();
  const int height = image_->height();
  if (picture && yuv.y_width >= g.offsetX + width && yuv.y_height >= g.offsetY + height &&
      yuv.uv_width >= (g.offsetX + width) / 2 && yuv.uv_height >= (g.offsetY + height) / 2) {
    unsigned char* u = scratch + width * height;
    unsigned char* v = u + (width / 2) * (height / 2);
    copyPlane(yuv.y + g.offsetY * yuv.y_stride + g.offsetX, yuv.y_stride, scratch, width, width,
              height);
    const long chromaY = g.offsetY / 2;
    const long chromaX = g.offsetX / 2;
    copyPlane(yuv.u + chromaY * yuv.uv_stride + chromaX, yuv.uv_stride, u, width / 2, width / 2,
              height / 2);
    copyPlane(yuv.v + chromaY * yuv.uv_stride + chromaX, yuv.uv_stride, v, width / 2, width / 2,
              height / 2);
    image_->setKeyFrame(theora_packet_iskeyframe(&op) == 1 ? 1 : 0);
  }
  image_->convert(dvrFORMAT_YUV420P, dvrFORMAT_UYVY, scratch, current,
                  image_->buffer(dvrBUF_SECONDARY_SCRATCH));
  return true;
}
