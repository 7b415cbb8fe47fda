// The record layout of page files: every stored frame is its 220-byte frame
// header (flags bit 15 set, extension length 32), a 32-byte header
// extension, then the payload. Records lie back to back from offset 0; the
// next one starts at offset + 252 + payload size.
//
//   header extension, little-endian:
//   offset size field
//        0    4 time: int32 seconds since 1970 UTC
//        4    4 microseconds: int32, milliseconds x 1000
//        8    1 device number, low 8 bits
//        9    1 camera input, low 8 bits
//       10    2 reserved (0)
//       12    4 int32, always 1
//       16    2 int16, always 0
//       18   14 reserved (0)
//
// Records are self-describing, so the index can be checked against the
// page files and rebuilt from them. Pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "pipeline/frame.h"

inline constexpr std::uint32_t dvrPAGE_FILE_SIZE = 533725184;
// A record starts a new page file unless offset + payload + this margin fits.
inline constexpr std::uint32_t dvrROLLOVER_MARGIN = 16636;
inline constexpr std::size_t dvrEXTENSION_SIZE = 32;
inline constexpr std::size_t dvrRECORD_PREFIX_SIZE = dvrFRAME_HEADER_SIZE + dvrEXTENSION_SIZE;
static_assert(dvrRECORD_PREFIX_SIZE == 252);

struct dvrHeaderExtension {
  std::int32_t seconds = 0;
  std::int32_t microseconds = 0;
  std::uint8_t device = 0;
  std::uint8_t input = 0;

  friend bool operator==(const dvrHeaderExtension&, const dvrHeaderExtension&) = default;
};

void dvrEncodeHeaderExtension(const dvrHeaderExtension& extension,
                              std::span<std::uint8_t, dvrEXTENSION_SIZE> out);
// Refuses (false) fewer than 32 bytes and an extension whose constant fields
// (1 at offset 12, 0 at offset 16) are not there.
bool dvrDecodeHeaderExtension(std::span<const std::uint8_t> bytes, dvrHeaderExtension& out);

// A record's header and extension as read back from a page file.
struct dvrStoredRecord {
  dvrFrameHeader header;
  dvrHeaderExtension extension;
};

// Decodes the 252 bytes at the start of a record and checks that they are
// one: a valid header with the extension flag and length 32, a valid
// extension, and a record that ends within a page file of pageFileSize bytes
// when it starts at offset.
bool dvrDecodeStoredRecord(std::span<const std::uint8_t> prefix, std::uint32_t offset,
                           std::uint32_t pageFileSize, dvrStoredRecord& out);

class dvrFile;

// Reads and checks the record at offset of an open page file, and that its
// whole payload is there (a write cut short leaves the file shorter).
bool dvrReadStoredRecord(dvrFile& file, std::uint32_t offset, std::uint32_t pageFileSize, dvrStoredRecord& out);

// The index row of a stored frame, as the inserter executes it.
struct dvrIndexRow {
  std::int64_t time = 0;
  std::uint32_t milliseconds = 0;
  std::uint32_t bytes = 0;
  std::uint32_t flags = 0;
  char codec[4] = {' ', ' ', ' ', ' '};
  std::int32_t device = 0;
  std::int32_t input = 0;
  char drive = 'D';
  std::uint32_t page = 0;
  std::uint32_t offset = 0;
};

// "INSERT INTO Datum (...) VALUES (...)" for the row. A codec character
// that could end or break the statement (NUL, a quote, a control
// character) is written as a blank.
std::string dvrDatumInsertSql(const dvrIndexRow& row);
// The index row of a stored record found at a position.
dvrIndexRow dvrIndexRowOf(const dvrStoredRecord& record, char drive, std::uint32_t page, std::uint32_t offset);
