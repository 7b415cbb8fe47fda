// Fuzz target: any byte string decoded as a frame header and as a hand-off
// record is either refused or accepted with a payload size the compressed
// buffer can hold, and an accepted one encodes back to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "pipeline/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);

  // The payload size read straight from the first four bytes.
  std::uint32_t payload = 0;
  for (std::size_t i = 0; i < 4 && i < size; ++i) payload |= std::uint32_t{data[i]} << (8 * i);
  const bool valid = size >= dvrFRAME_HEADER_SIZE && payload >= 1 && payload <= dvrFRAME_MAX_PAYLOAD;

  dvrFrameHeader header;
  const bool headerAccepted = dvrDecodeFrameHeader(bytes, header);
  if (headerAccepted != valid) std::abort();
  if (headerAccepted) {
    std::uint8_t again[dvrFRAME_HEADER_SIZE];
    dvrEncodeFrameHeader(header, again);
    if (std::memcmp(again, data, dvrFRAME_HEADER_SIZE) != 0) std::abort();
  }

  dvrFrameRecord record;
  const bool recordAccepted = dvrDecodeFrameRecord(bytes, record);
  if (recordAccepted != (headerAccepted && size >= dvrFRAME_RECORD_SIZE)) std::abort();
  if (recordAccepted) {
    if (!(record.header == header)) std::abort();
    std::uint8_t again[dvrFRAME_RECORD_SIZE];
    dvrEncodeFrameRecord(record, again);
    if (std::memcmp(again, data, dvrFRAME_RECORD_SIZE) != 0) std::abort();
  }
  return 0;
}
