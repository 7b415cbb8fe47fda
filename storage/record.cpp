#include "storage/record.h"

#include <cstdio>

#include "core/byte_order.h"
#include "storage/page_file.h"

namespace {

char safeCodecChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u >= 0x7f || c == '"' || c == '\'' ? ' ' : c;
}

}  // namespace

void dvrEncodeHeaderExtension(const dvrHeaderExtension& e, std::span<std::uint8_t, dvrEXTENSION_SIZE> out) {
  std::fill(out.begin(), out.end(), 0);
  dvrPutLe32(&out[0], static_cast<std::uint32_t>(e.seconds));
  dvrPutLe32(&out[4], static_cast<std::uint32_t>(e.microseconds));
  out[8] = e.device;
  out[9] = e.input;
  dvrPutLe32(&out[12], 1);
}

bool dvrDecodeHeaderExtension(std::span<const std::uint8_t> bytes, dvrHeaderExtension& out) {
  if (bytes.size() < dvrEXTENSION_SIZE) return false;
  if (dvrGetLe32(&bytes[12]) != 1 || bytes[16] != 0 || bytes[17] != 0) return false;
  out.seconds = static_cast<std::int32_t>(dvrGetLe32(&bytes[0]));
  out.microseconds = static_cast<std::int32_t>(dvrGetLe32(&bytes[4]));
  out.device = bytes[8];
  out.input = bytes[9];
  return true;
}

bool dvrDecodeStoredRecord(std::span<const std::uint8_t> prefix, std::uint32_t offset, std::uint32_t pageFileSize,
                           dvrStoredRecord& out) {
  if (prefix.size() < dvrRECORD_PREFIX_SIZE) return false;
  dvrStoredRecord record;
  if (!dvrDecodeFrameHeader(prefix, record.header)) return false;
  if (!record.header.hasExtension() || record.header.extensionLength != dvrEXTENSION_SIZE) return false;
  if (!dvrDecodeHeaderExtension(prefix.subspan(dvrFRAME_HEADER_SIZE), record.extension)) return false;
  if (record.extension.microseconds < 0 || record.extension.microseconds > 999999) return false;
  const std::uint64_t end = std::uint64_t{offset} + dvrRECORD_PREFIX_SIZE + record.header.payloadSize;
  if (end > pageFileSize) return false;
  out = record;
  return true;
}

bool dvrReadStoredRecord(dvrFile& file, std::uint32_t offset, std::uint32_t pageFileSize, dvrStoredRecord& out) {
  std::uint8_t prefix[dvrRECORD_PREFIX_SIZE];
  if (file.read(prefix, sizeof prefix, offset) != sizeof prefix) return false;
  if (!dvrDecodeStoredRecord(prefix, offset, pageFileSize, out)) return false;
  std::uint8_t last = 0;
  return file.read(&last, 1, std::int64_t{offset} + dvrRECORD_PREFIX_SIZE + out.header.payloadSize - 1) == 1;
}

dvrIndexRow dvrIndexRowOf(const dvrStoredRecord& record, char drive, std::uint32_t page, std::uint32_t offset) {
  dvrIndexRow row;
  row.time = record.extension.seconds;
  row.milliseconds = static_cast<std::uint32_t>(record.extension.microseconds / 1000);
  row.bytes = record.header.payloadSize;
  row.flags = record.header.flags;
  for (int i = 0; i < 4; ++i) row.codec[i] = record.header.fourcc[static_cast<std::size_t>(i)];
  row.device = record.extension.device;
  row.input = record.extension.input;
  row.drive = drive;
  row.page = page;
  row.offset = offset;
  return row;
}

std::string dvrDatumInsertSql(const dvrIndexRow& r) {
  char text[1024];
  std::snprintf(text, sizeof text,
                "INSERT INTO Datum (time, milliseconds, bytes, flags, conditions, codec, from_device, from_input, "
                "phys_partition,phys_fn, phys_offset) VALUES (%ld, %u, %u, %u, %u, \"%c%c%c%c\", %d, %d, \"%c\", "
                "%u, %u)",
                static_cast<long>(r.time), r.milliseconds, r.bytes, r.flags, 0u, safeCodecChar(r.codec[0]),
                safeCodecChar(r.codec[1]), safeCodecChar(r.codec[2]), safeCodecChar(r.codec[3]), r.device, r.input,
                safeCodecChar(r.drive), r.page, r.offset);
  return text;
}
