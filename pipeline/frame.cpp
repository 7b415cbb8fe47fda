#include "pipeline/frame.h"

#include <algorithm>

#include "core/byte_order.h"

namespace {

constexpr auto put16 = dvrPutLe16;
constexpr auto put32 = dvrPutLe32;
constexpr auto get16 = dvrGetLe16;
constexpr auto get32 = dvrGetLe32;

}  // namespace

void dvrFrameHeader::setFourcc(std::string_view name) {
  fourcc.fill('\0');
  std::copy_n(name.begin(), std::min(name.size(), fourcc.size()), fourcc.begin());
}

void dvrEncodeFrameHeader(const dvrFrameHeader& header,
                          std::span<std::uint8_t, dvrFRAME_HEADER_SIZE> out) {
  using namespace dvrFrameOffset;
  std::uint8_t* p = out.data();
  put32(p + PAYLOAD_SIZE, header.payloadSize);
  put32(p + WIDTH, static_cast<std::uint32_t>(header.width));
  put32(p + HEIGHT, static_cast<std::uint32_t>(header.height));
  put32(p + FLAGS, header.flags);
  for (std::size_t i = 0; i < header.fourcc.size(); ++i)
    p[FOURCC + i] = static_cast<std::uint8_t>(header.fourcc[i]);
  std::copy(header.motion.begin(), header.motion.end(), p + MOTION);
  put16(p + EXTENSION_LENGTH, header.extensionLength);
}

bool dvrDecodeFrameHeader(std::span<const std::uint8_t> bytes, dvrFrameHeader& out) {
  using namespace dvrFrameOffset;
  if (bytes.size() < dvrFRAME_HEADER_SIZE) return false;
  const std::uint8_t* p = bytes.data();
  const std::uint32_t payload = get32(p + PAYLOAD_SIZE);
  if (payload < 1 || payload > dvrFRAME_MAX_PAYLOAD) return false;
  dvrFrameHeader h;
  h.payloadSize = payload;
  h.width = static_cast<std::int32_t>(get32(p + WIDTH));
  h.height = static_cast<std::int32_t>(get32(p + HEIGHT));
  h.flags = get32(p + FLAGS);
  for (std::size_t i = 0; i < h.fourcc.size(); ++i) h.fourcc[i] = static_cast<char>(p[FOURCC + i]);
  std::copy_n(p + MOTION, h.motion.size(), h.motion.begin());
  h.extensionLength = get16(p + EXTENSION_LENGTH);
  out = h;
  return true;
}

void dvrEncodeFrameRecord(const dvrFrameRecord& record,
                          std::span<std::uint8_t, dvrFRAME_RECORD_SIZE> out) {
  using namespace dvrFrameOffset;
  dvrEncodeFrameHeader(record.header, out.first<dvrFRAME_HEADER_SIZE>());
  std::uint8_t* p = out.data();
  put32(p + RESERVED, static_cast<std::uint32_t>(record.reserved));
  put32(p + SECONDS, static_cast<std::uint32_t>(record.seconds));
  put16(p + MILLISECONDS, record.milliseconds);
  put32(p + DEVICE, static_cast<std::uint32_t>(record.device));
  put32(p + INPUT, static_cast<std::uint32_t>(record.input));
}

bool dvrDecodeFrameRecord(std::span<const std::uint8_t> bytes, dvrFrameRecord& out) {
  using namespace dvrFrameOffset;
  if (bytes.size() < dvrFRAME_RECORD_SIZE) return false;
  dvrFrameRecord r;
  if (!dvrDecodeFrameHeader(bytes, r.header)) return false;
  const std::uint8_t* p = bytes.data();
  r.reserved = static_cast<std::int32_t>(get32(p + RESERVED));
  r.seconds = static_cast<std::int32_t>(get32(p + SECONDS));
  r.milliseconds = get16(p + MILLISECONDS);
  r.device = static_cast<std::int32_t>(get32(p + DEVICE));
  r.input = static_cast<std::int32_t>(get32(p + INPUT));
  out = r;
  return true;
}
