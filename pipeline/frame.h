// The frame header that travels with every compressed frame, and the record in
// which the capture thread hands a frame to the page-file store.
//
// The header is 220 bytes, little-endian, and is what the store writes, the
// remote protocol sends and playback reads:
//
//   offset size field
//        0    4 payload size in bytes (unsigned, 1..262143)
//        4    4 picture width (int32)
//        8    4 picture height (int32)
//       12    4 flags: bit 0 key frame, bit 15 a header extension follows
//       16    4 codec fourcc (four characters, no terminator)
//       20  198 motion bitmask (bit k of byte i: grid cell i * 8 + k moved)
//      218    2 header extension length (uint16; meaningful with bit 15 only)
//
// The hand-off record is the header followed by a reserved int32 (0), the
// hand-off time (int32 seconds since 1970 UTC, uint16 milliseconds), the
// device number (int32, the board's ID) and the camera input (int32). It lives
// in memory only; its byte form below packs the fields without padding.
//
// Both are plain values, encoded and decoded field by field; never cast them
// to or from bytes. Every function is pure and may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

inline constexpr std::size_t dvrFRAME_HEADER_SIZE = 220;
inline constexpr std::size_t dvrFRAME_MOTION_BYTES = 198;
inline constexpr std::size_t dvrFRAME_RECORD_SIZE = dvrFRAME_HEADER_SIZE + 4 + 4 + 2 + 4 + 4;

// Largest payload a header may announce (the compressed buffer holds 262144 bytes).
inline constexpr std::uint32_t dvrFRAME_MAX_PAYLOAD = 262143;

inline constexpr std::uint32_t dvrFRAME_FLAG_KEY = 0x0001;
inline constexpr std::uint32_t dvrFRAME_FLAG_EXTENSION = 0x8000;

// Byte offsets of the header fields.
namespace dvrFrameOffset {
inline constexpr std::size_t PAYLOAD_SIZE = 0;
inline constexpr std::size_t WIDTH = 4;
inline constexpr std::size_t HEIGHT = 8;
inline constexpr std::size_t FLAGS = 12;
inline constexpr std::size_t FOURCC = 16;
inline constexpr std::size_t MOTION = 20;
inline constexpr std::size_t EXTENSION_LENGTH = 218;
// Hand-off record fields after the header.
inline constexpr std::size_t RESERVED = 220;
inline constexpr std::size_t SECONDS = 224;
inline constexpr std::size_t MILLISECONDS = 228;
inline constexpr std::size_t DEVICE = 230;
inline constexpr std::size_t INPUT = 234;
}  // namespace dvrFrameOffset

static_assert(dvrFrameOffset::MOTION + dvrFRAME_MOTION_BYTES == dvrFrameOffset::EXTENSION_LENGTH);
static_assert(dvrFrameOffset::EXTENSION_LENGTH + 2 == dvrFRAME_HEADER_SIZE);
static_assert(dvrFrameOffset::RESERVED == dvrFRAME_HEADER_SIZE);
static_assert(dvrFrameOffset::INPUT + 4 == dvrFRAME_RECORD_SIZE);
static_assert(dvrFRAME_RECORD_SIZE == 238);

struct dvrFrameHeader {
  std::uint32_t payloadSize = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t flags = 0;
  std::array<char, 4> fourcc{};
  std::array<std::uint8_t, dvrFRAME_MOTION_BYTES> motion{};
  std::uint16_t extensionLength = 0;

  bool isKeyFrame() const { return (flags & dvrFRAME_FLAG_KEY) != 0; }
  bool hasExtension() const { return (flags & dvrFRAME_FLAG_EXTENSION) != 0; }
  // Copies the first four characters of a codec name (shorter names are padded with 0).
  void setFourcc(std::string_view name);
  std::string_view fourccView() const { return {fourcc.data(), fourcc.size()}; }

  friend bool operator==(const dvrFrameHeader&, const dvrFrameHeader&) = default;
};

struct dvrFrameRecord {
  dvrFrameHeader header;
  std::int32_t reserved = 0;
  std::int32_t seconds = 0;
  std::uint16_t milliseconds = 0;
  std::int32_t device = 0;
  std::int32_t input = 0;

  friend bool operator==(const dvrFrameRecord&, const dvrFrameRecord&) = default;
};

// Writes the 220 header bytes.
void dvrEncodeFrameHeader(const dvrFrameHeader& header,
                          std::span<std::uint8_t, dvrFRAME_HEADER_SIZE> out);
// Reads a header from the start of bytes. Refuses (false, out untouched) a
// buffer shorter than 220 bytes and a payload size outside 1..262143.
bool dvrDecodeFrameHeader(std::span<const std::uint8_t> bytes, dvrFrameHeader& out);

// Writes the 238 record bytes.
void dvrEncodeFrameRecord(const dvrFrameRecord& record,
                          std::span<std::uint8_t, dvrFRAME_RECORD_SIZE> out);
// Reads a record; refuses a buffer shorter than 238 bytes and every header the
// header decoder refuses.
bool dvrDecodeFrameRecord(std::span<const std::uint8_t> bytes, dvrFrameRecord& out);
