#include "pipeline/frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace {

// Every field holds a value whose bytes differ from each other and from the
// neighbours' bytes, so a field written at the wrong offset, in the wrong
// order or with the wrong width shows up in the byte check.
dvrFrameRecord sampleRecord() {
  dvrFrameRecord r;
  r.header.payloadSize = 0x00030201;  // 197121, inside 1..262143
  r.header.width = 0x14131211;
  r.header.height = -2;
  r.header.flags = dvrFRAME_FLAG_KEY | dvrFRAME_FLAG_EXTENSION;
  r.header.setFourcc("MPG4");
  for (std::size_t i = 0; i < r.header.motion.size(); ++i)
    r.header.motion[i] = static_cast<std::uint8_t>(i * 7 + 1);
  r.header.extensionLength = 0x2019;
  r.reserved = 0;
  r.seconds = 0x61626364;
  r.milliseconds = 999;
  r.device = 0x04030201;
  r.input = -1;
  return r;
}

std::array<std::uint8_t, dvrFRAME_RECORD_SIZE> encoded(const dvrFrameRecord& r) {
  std::array<std::uint8_t, dvrFRAME_RECORD_SIZE> bytes;
  bytes.fill(0xAA);
  dvrEncodeFrameRecord(r, bytes);
  return bytes;
}

}  // namespace

TEST(FrameHeader, EncodesEveryFieldLittleEndianAtItsOffset) {
  struct FieldCase {
    const char* field;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
  };
  const FieldCase cases[] = {
      {"payload size", 0, {0x01, 0x02, 0x03, 0x00}},
      {"width", 4, {0x11, 0x12, 0x13, 0x14}},
      {"height (negative)", 8, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"flags: key frame and extension", 12, {0x01, 0x80, 0x00, 0x00}},
      {"fourcc, no terminator", 16, {'M', 'P', 'G', '4'}},
      {"motion bitmask, first bytes", 20, {1, 8, 15}},
      {"motion bitmask, last byte", 217, {static_cast<std::uint8_t>(197 * 7 + 1)}},
      {"extension length", 218, {0x19, 0x20}},
      {"reserved", 220, {0, 0, 0, 0}},
      {"seconds", 224, {0x64, 0x63, 0x62, 0x61}},
      {"milliseconds", 228, {0xE7, 0x03}},
      {"device", 230, {0x01, 0x02, 0x03, 0x04}},
      {"input (negative)", 234, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  const auto bytes = encoded(sampleRecord());
  std::vector<bool> covered(bytes.size(), false);
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.field);
    for (std::size_t i = 0; i < c.bytes.size(); ++i) {
      EXPECT_EQ(bytes[c.offset + i], c.bytes[i]) << "byte " << c.offset + i;
      covered[c.offset + i] = true;
    }
  }
  // The whole motion bitmask, and nothing left at the fill value.
  for (std::size_t i = 0; i < dvrFRAME_MOTION_BYTES; ++i)
    EXPECT_EQ(bytes[20 + i], static_cast<std::uint8_t>(i * 7 + 1)) << "motion byte " << i;
  for (std::size_t i = 20; i < 218; ++i) covered[i] = true;
  for (std::size_t i = 0; i < bytes.size(); ++i) EXPECT_TRUE(covered[i]) << "byte " << i;

  // The header encoder writes exactly the first 220 bytes of the record.
  std::array<std::uint8_t, dvrFRAME_HEADER_SIZE> header;
  dvrEncodeFrameHeader(sampleRecord().header, header);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
}

TEST(FrameHeader, DecodesWhatItEncodes) {
  const dvrFrameRecord original = sampleRecord();
  const auto bytes = encoded(original);

  dvrFrameRecord record;
  ASSERT_TRUE(dvrDecodeFrameRecord(bytes, record));
  EXPECT_EQ(record, original);
  EXPECT_TRUE(record.header.isKeyFrame());
  EXPECT_TRUE(record.header.hasExtension());
  EXPECT_EQ(record.header.fourccView(), "MPG4");

  dvrFrameHeader header;
  ASSERT_TRUE(dvrDecodeFrameHeader(std::span(bytes).first(dvrFRAME_HEADER_SIZE), header));
  EXPECT_EQ(header, original.header);
}

TEST(FrameHeader, DecoderRefusesShortBuffersAndImpossiblePayloadSizes) {
  struct RefusalCase {
    const char* label;
    std::uint32_t payload;
    std::size_t bufferBytes;
    bool headerAccepted;
    bool recordAccepted;
  };
  const RefusalCase cases[] = {
      {"smallest payload", 1, dvrFRAME_RECORD_SIZE, true, true},
      {"largest payload", 262143, dvrFRAME_RECORD_SIZE, true, true},
      {"empty payload", 0, dvrFRAME_RECORD_SIZE, false, false},
      {"payload of a whole compressed buffer", 262144, dvrFRAME_RECORD_SIZE, false, false},
      {"payload size with the top bit set", 0x80000001u, dvrFRAME_RECORD_SIZE, false, false},
      {"header one byte short", 100, dvrFRAME_HEADER_SIZE - 1, false, false},
      {"header alone: no record", 100, dvrFRAME_HEADER_SIZE, true, false},
      {"record one byte short", 100, dvrFRAME_RECORD_SIZE - 1, true, false},
      {"longer buffer: the rest is ignored", 100, dvrFRAME_RECORD_SIZE + 50, true, true},
      {"no bytes at all", 100, 0, false, false},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.label);
    dvrFrameRecord source = sampleRecord();
    source.header.payloadSize = c.payload;
    const auto full = encoded(source);
    std::vector<std::uint8_t> bytes(full.begin(), full.end());
    bytes.resize(c.bufferBytes, 0x55);

    // A refused decode leaves the output as it was.
    dvrFrameHeader header;
    header.width = 77;
    EXPECT_EQ(dvrDecodeFrameHeader(bytes, header), c.headerAccepted);
    EXPECT_EQ(header.width, c.headerAccepted ? source.header.width : 77);

    dvrFrameRecord record;
    record.input = 77;
    EXPECT_EQ(dvrDecodeFrameRecord(bytes, record), c.recordAccepted);
    EXPECT_EQ(record.input, c.recordAccepted ? source.input : 77);
  }
}

TEST(FrameHeader, FourccIsCutOrPaddedToFourCharacters) {
  dvrFrameHeader h;
  h.setFourcc("THEORA");
  EXPECT_EQ(h.fourccView(), "THEO");
  h.setFourcc("MJ");
  EXPECT_EQ(h.fourccView(), std::string_view("MJ\0\0", 4));
}
