#include "pipeline/image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/object.h"
#include "tests/support/fixture.h"

namespace {

// ---- motion detection ---------------------------------------------------

// The byte detection samples inside a pixel, per format.
int sampledByte(int format) {
  switch (format) {
    case dvrFORMAT_UYVY:
      return 1;
    case dvrFORMAT_BGR24:
      return 2;
    default:
      return 0;
  }
}

// A rectangle of the current frame whose byte `byte` of every pixel becomes `value`
// (byte -1: the byte detection samples).
struct Patch {
  int x, y, w, h;
  int value;
  int byte = -1;
};

void paint(dvrImage& image, const Patch& p) {
  const int byte = p.byte >= 0 ? p.byte : sampledByte(image.format());
  std::uint8_t* frame = image.buffer(dvrBUF_CURRENT);
  for (int y = p.y; y < p.y + p.h; ++y)
    for (int x = p.x; x < p.x + p.w; ++x)
      frame[(static_cast<std::size_t>(y) * image.width() + x) * image.bytesPerPixel() + byte] =
          static_cast<std::uint8_t>(p.value);
}

// The 8 x 8 block of a full-grid cell on 704 x 576 (16 pixels per cell).
Patch block(int column, int row, int value) { return {column * 16, row * 16, 8, 8, value}; }

struct Params {
  int mode = 2, sensA = 4, sensB = 8, noise = 5, tolerance = 7;
};
constexpr Params kDefaults{};
constexpr Params kExact{2, 1, 1, 0, 0};  // every difference counts in full

int cellIndex(int column, int row) { return row * dvrGRID_COLUMNS + column; }

struct MotionCase {
  const char* label;
  int width, height, format;
  std::vector<Patch> changes;
  std::vector<std::pair<int, int>> masked;  // (cell index, mask value)
  Params params;
  int expected;
  int columns, rows;                          // grid in use afterwards
  std::vector<std::pair<int, int>> cells;     // (cell index, value); every other cell 0
};

TEST(MotionDetection, CellValuesAndReportedMotion) {
  const std::vector<Patch> fiveBlocks = {block(0, 0, 40), block(5, 0, 40), block(10, 3, 40),
                                         block(43, 35, 40), block(20, 20, 40)};
  const std::vector<std::pair<int, int>> fiveCells = {
      {cellIndex(0, 0), 16}, {cellIndex(5, 0), 16}, {cellIndex(10, 3), 16},
      {cellIndex(43, 35), 16}, {cellIndex(20, 20), 16}};
  // 20 x 10: each cell sums 3 over the part of its 8 x 8 block inside the picture.
  std::vector<std::pair<int, int>> edgeCells;
  for (int r = 0; r < 10; ++r)
    for (int col = 0; col < 20; ++col)
      edgeCells.push_back({cellIndex(col, r), 3 * std::min(8, 20 - col) * std::min(8, 10 - r)});
  auto plus = [](std::vector<Patch> v, Patch p) {
    v.push_back(p);
    return v;
  };
  const MotionCase cases[] = {
      {"identical frame", 704, 576, dvrFORMAT_UYVY, {}, {}, kDefaults, 0, 44, 36, {}},
      {"one block of +40 stays below the tolerance", 704, 576, dvrFORMAT_UYVY,
       {block(3, 2, 40)}, {}, kDefaults, 0, 44, 36, {{cellIndex(3, 2), 16}}},
      {"five blocks of +40 report 10", 704, 576, dvrFORMAT_UYVY, fiveBlocks, {}, kDefaults, 10,
       44, 36, fiveCells},
      {"a masked cell contributes nothing", 704, 576, dvrFORMAT_UYVY,
       plus(fiveBlocks, block(3, 2, 255)), {{cellIndex(3, 2), 1}}, kDefaults, 10, 44, 36,
       fiveCells},
      {"any non-zero mask value excludes", 704, 576, dvrFORMAT_UYVY, {block(3, 2, 255)},
       {{cellIndex(3, 2), 8}}, kExact, 0, 44, 36, {}},
      {"differences below 32 vanish in the noise filter", 704, 576, dvrFORMAT_UYVY,
       {block(3, 2, 31)}, {}, kDefaults, 0, 44, 36, {}},
      {"eleven counting pixels give no cell", 704, 576, dvrFORMAT_UYVY,
       {{48, 32, 8, 1, 32}, {48, 33, 3, 1, 32}}, {}, kDefaults, 0, 44, 36, {}},
      {"twelve counting pixels give a cell of 3", 704, 576, dvrFORMAT_UYVY,
       {{48, 32, 8, 1, 32}, {48, 33, 4, 1, 32}}, {}, kDefaults, 0, 44, 36,
       {{cellIndex(3, 2), 3}}},
      {"cell values stop at 255", 704, 576, dvrFORMAT_UYVY, {block(3, 2, 255)}, {}, kExact, 255,
       44, 36, {{cellIndex(3, 2), 255}}},
      {"sensitivities below 1 count as 1", 704, 576, dvrFORMAT_UYVY, {{48, 32, 2, 2, 2}}, {},
       {2, 0, -5, 0, 0}, 8, 44, 36, {{cellIndex(3, 2), 8}}},
      {"pixels between the blocks are not read", 704, 576, dvrFORMAT_UYVY, {{56, 40, 8, 8, 255}},
       {}, kExact, 0, 44, 36, {}},
      {"chroma bytes are not sampled", 704, 576, dvrFORMAT_UYVY, {{48, 32, 8, 8, 255, 0}}, {},
       kExact, 0, 44, 36, {}},
      {"RGB24 samples red", 704, 576, dvrFORMAT_RGB24, {{48, 32, 2, 2, 50, 0}}, {}, kExact, 200,
       44, 36, {{cellIndex(3, 2), 200}}},
      {"RGB24 ignores green and blue", 704, 576, dvrFORMAT_RGB24,
       {{48, 32, 8, 8, 255, 1}, {48, 32, 8, 8, 255, 2}}, {}, kExact, 0, 44, 36, {}},
      {"BGR24 samples red in byte 2", 704, 576, dvrFORMAT_BGR24, {{48, 32, 2, 2, 50, 2}}, {},
       kExact, 200, 44, 36, {{cellIndex(3, 2), 200}}},
      {"BGR24 ignores blue in byte 0", 704, 576, dvrFORMAT_BGR24, {{48, 32, 8, 8, 255, 0}}, {},
       kExact, 0, 44, 36, {}},
      // 320 x 240: cells of 8 x 7 pixels, so the blocks of rows 1 and 2 share pixel row 14.
      {"320x240 uses cells of 8 x 7", 320, 240, dvrFORMAT_UYVY, {{15, 14, 1, 1, 100}}, {}, kExact,
       200, 40, 34, {{cellIndex(1, 1), 100}, {cellIndex(1, 2), 100}}},
      {"320x240 last pixel row lies outside the rows in use", 320, 240, dvrFORMAT_UYVY,
       {{100, 239, 1, 1, 100}}, {}, kExact, 0, 40, 34, {}},
      {"45x37 uses cells of 2 x 2", 45, 37, dvrFORMAT_UYVY, {{3, 3, 1, 1, 100}}, {}, kExact, 400,
       22, 18,
       {{cellIndex(0, 0), 100}, {cellIndex(1, 0), 100}, {cellIndex(0, 1), 100},
        {cellIndex(1, 1), 100}}},
      // 20 x 10: one cell per pixel; the blocks of the last columns and rows are cut at the
      // edge of the picture instead of reading past it or into the next row.
      {"20x10 blocks are cut at the picture edge", 20, 10, dvrFORMAT_UYVY,
       {{0, 0, 20, 10, 3}}, {}, kExact, 20592, 20, 10, edgeCells},
  };
  for (const MotionCase& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(c.width, c.height, c.format);
    image.updateReference();
    for (const Patch& p : c.changes) paint(image, p);
    for (const auto& [cell, value] : c.masked) image.buffer(dvrBUF_MASK)[cell] = value;

    const Params& p = c.params;
    EXPECT_EQ(image.detectMotion(p.mode, p.sensA, p.sensB, p.noise, p.tolerance), c.expected);
    EXPECT_EQ(image.gridColumns(), c.columns);
    EXPECT_EQ(image.gridRows(), c.rows);

    const std::uint8_t* motion = image.buffer(dvrBUF_MOTION);
    std::vector<int> expected(dvrGRID_CELLS, 0);
    for (const auto& [cell, value] : c.cells) expected[cell] = value;
    EXPECT_EQ(std::vector<int>(motion, motion + dvrGRID_CELLS), expected);
  }
}

TEST(MotionDetection, RefusedRunsLeaveMotionValuesAlone) {
  struct Case {
    const char* label;
    int format, mode, noise;
  };
  const Case cases[] = {
      {"noise filter 8", dvrFORMAT_UYVY, 2, 8},
      {"mode 1", dvrFORMAT_UYVY, 1, 5},
      {"mode 3", dvrFORMAT_UYVY, 3, 5},
      {"YUV422P frames", dvrFORMAT_YUV422P, 2, 5},
      {"RGB32 frames", dvrFORMAT_RGB32, 2, 5},
      {"DIB24 frames", dvrFORMAT_DIB24, 2, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(64, 48, c.format);
    image.updateReference();
    std::memset(image.buffer(dvrBUF_CURRENT), 200, image.frameBytes());
    for (int i = 0; i < dvrGRID_CELLS; ++i) {
      image.buffer(dvrBUF_MOTION)[i] = static_cast<std::uint8_t>(i % 251);
      image.buffer(dvrBUF_PREVIOUS_MOTION)[i] = static_cast<std::uint8_t>(i % 13);
    }
    EXPECT_EQ(image.detectMotion(c.mode, 1, 1, c.noise, 0), 0);
    for (int i = 0; i < dvrGRID_CELLS; ++i) {
      ASSERT_EQ(image.buffer(dvrBUF_MOTION)[i], i % 251) << i;
      ASSERT_EQ(image.buffer(dvrBUF_PREVIOUS_MOTION)[i], i % 13) << i;
    }
    EXPECT_EQ(image.gridColumns(), dvrGRID_COLUMNS);
    EXPECT_EQ(image.gridRows(), dvrGRID_ROWS);
  }
}

TEST(MotionDetection, EachRunKeepsTheValuesOfTheRunBefore) {
  dvrImage image(704, 576, dvrFORMAT_UYVY);
  image.updateReference();
  paint(image, block(7, 9, 255));
  EXPECT_EQ(image.detectMotion(2, 1, 1, 0, 0), 255);
  image.updateReference();
  EXPECT_EQ(image.detectMotion(2, 1, 1, 0, 0), 0);
  EXPECT_EQ(image.buffer(dvrBUF_PREVIOUS_MOTION)[cellIndex(7, 9)], 255);
  EXPECT_EQ(image.buffer(dvrBUF_MOTION)[cellIndex(7, 9)], 0);
}

// Motion values and their total straight from the definition: per cell of the
// grid in use, the sampled byte summed over the cell's 8 x 8 block, cut at
// the picture edge, as |current - reference| >> noise; the sum divided by
// sensA, at most 255, below 3 nothing; a cell with a mask value stays 0.
struct Detection {
  int columns = 0, rows = 0;
  std::vector<int> cells = std::vector<int>(dvrGRID_CELLS, 0);
  int total = 0;
};

Detection detectByDefinition(const std::vector<std::uint8_t>& current,
                             const std::vector<std::uint8_t>& reference, int width, int height,
                             int format, const std::vector<std::uint8_t>& mask, int sensA,
                             int noise) {
  const int bpp = dvrBytesPerPixel(format), byte = sampledByte(format);
  // Cells of ceil(size / grid) pixels, one pixel on pictures within the grid.
  const int dx = width <= dvrGRID_COLUMNS ? 1 : (width + dvrGRID_COLUMNS - 1) / dvrGRID_COLUMNS;
  const int dy = height <= dvrGRID_ROWS ? 1 : (height + dvrGRID_ROWS - 1) / dvrGRID_ROWS;
  Detection d;
  d.columns = std::min(dvrGRID_COLUMNS, width / dx);
  d.rows = std::min(dvrGRID_ROWS, height / dy);
  for (int r = 0; r < d.rows; ++r)
    for (int c = 0; c < d.columns; ++c) {
      const int cell = cellIndex(c, r);
      if (mask[cell] != 0) continue;
      int sum = 0;
      for (int y = r * dy; y < std::min(r * dy + 8, height); ++y)
        for (int x = c * dx; x < std::min(c * dx + 8, width); ++x) {
          const std::size_t at = (static_cast<std::size_t>(y) * width + x) * bpp + byte;
          sum += std::abs(current[at] - reference[at]) >> noise;
        }
      int value = std::min(255, sum / sensA);
      if (value < 3) value = 0;
      d.cells[cell] = value;
      d.total += value;
    }
  return d;
}

// A random reference picture and a current one that differs from it in runs
// of bytes (8 long on average) of one kind of change each: none, a little
// noise, more, a lot, or unrelated bytes, so that cells land all over the
// range, from below the floor to the top.
std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> randomPictures(std::size_t bytes,
                                                                                unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> anyByte(0, 255);
  const int amplitudes[] = {0, 3, 20, 90, -1};  // -1: unrelated
  int amplitude = 0;
  std::vector<std::uint8_t> reference(bytes), current(bytes);
  for (std::size_t i = 0; i < bytes; ++i) {
    if (random() % 8 == 0) amplitude = amplitudes[random() % 5];
    reference[i] = static_cast<std::uint8_t>(anyByte(random));
    int value = anyByte(random);
    if (amplitude >= 0) {
      std::uniform_int_distribution<int> change(-amplitude, amplitude);
      value = std::clamp(reference[i] + change(random), 0, 255);
    }
    current[i] = static_cast<std::uint8_t>(value);
  }
  return {std::move(reference), std::move(current)};
}

// Pictures as far apart as bytes go, up and down by turns (runs of 5 bytes):
// every block sums its largest possible value.
std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> oppositePictures(
    std::size_t bytes) {
  std::vector<std::uint8_t> reference(bytes), current(bytes);
  for (std::size_t i = 0; i < bytes; ++i) {
    reference[i] = (i / 5) % 2 ? 255 : 0;
    current[i] = static_cast<std::uint8_t>(255 - reference[i]);
  }
  return {std::move(reference), std::move(current)};
}

TEST(MotionDetection, AgreesWithTheDefinitionOnRandomAndOppositePictures) {
  struct Picture {
    const char* label;
    int width, height;
  };
  const Picture pictures[] = {
      {"352x288: cells of 8 x 8 side by side", 352, 288},
      {"704x576: cells of 16 x 16, half of each sampled", 704, 576},
      {"720x480: cells of 17 x 14, 42 x 34 in use", 720, 480},
      {"330x250: an odd number of cells, all whole", 330, 250},
      {"176x144: cells of 4 x 4, the last column and rows cut", 176, 144},
      {"45x37: cells of 2 x 2, the last columns and rows cut", 45, 37},
      {"50x30: cells of 2 x 1, the last columns cut", 50, 30},
      {"10x8: one cell per pixel", 10, 8},
      {"7x5: narrower than one block", 7, 5},
  };
  const int formats[] = {dvrFORMAT_UYVY, dvrFORMAT_RGB24, dvrFORMAT_BGR24};
  const int sensitivities[] = {1, 5, 37, 300, 2000, INT_MAX};
  unsigned seed = 1;
  for (const Picture& picture : pictures)
    for (int format : formats) {
      SCOPED_TRACE(testing::Message() << picture.label << ", format " << format);
      // Cells between the floor and the top and cells at the top: the pictures
      // reach every part of the range.
      bool middle = false, top = false;
      for (bool opposite : {false, true}) {
        SCOPED_TRACE(opposite ? "opposite pictures" : "random pictures");
        dvrImage image(picture.width, picture.height, format);
        const auto [reference, current] = opposite ? oppositePictures(image.frameBytes())
                                                   : randomPictures(image.frameBytes(), seed++);
        std::memcpy(image.buffer(dvrBUF_CURRENT), reference.data(), reference.size());
        image.updateReference();
        std::memcpy(image.buffer(dvrBUF_CURRENT), current.data(), current.size());

        // Without a mask, and with a random third of the cells masked (single
        // cells as well as runs of them, with every mask value).
        std::vector<std::uint8_t> randomMask(dvrGRID_CELLS, 0);
        std::mt19937 random(seed++);
        for (std::uint8_t& cell : randomMask)
          if (random() % 3 == 0) cell = static_cast<std::uint8_t>(1 + random() % 8);
        for (const auto& mask : {std::vector<std::uint8_t>(dvrGRID_CELLS, 0), randomMask}) {
          std::memcpy(image.buffer(dvrBUF_MASK), mask.data(), mask.size());
          for (int noise = 0; noise <= 7; ++noise)
            for (int sensA : sensitivities) {
              SCOPED_TRACE(testing::Message() << (mask == randomMask ? "masked" : "no mask")
                                              << ", noise " << noise << ", sensA " << sensA);
              const Detection expected = detectByDefinition(
                  current, reference, picture.width, picture.height, format, mask, sensA, noise);
              for (int value : expected.cells) {
                middle = middle || (value > 0 && value < 255);
                top = top || value == 255;
              }
              // The vector path and the per-byte loops both.
              for (bool plain : {false, true}) {
                SCOPED_TRACE(plain ? "per-byte loops" : "default scan");
                image.setPlainMotionScan(plain);
                std::memset(image.buffer(dvrBUF_MOTION), 0xA5, dvrGRID_CELLS);
                ASSERT_EQ(image.detectMotion(2, sensA, 1, noise, -1), expected.total);
                ASSERT_EQ(image.gridColumns(), expected.columns);
                ASSERT_EQ(image.gridRows(), expected.rows);
                const std::uint8_t* motion = image.buffer(dvrBUF_MOTION);
                ASSERT_EQ(std::vector<int>(motion, motion + dvrGRID_CELLS), expected.cells);
              }
            }
        }
      }
      EXPECT_TRUE(middle);
      EXPECT_TRUE(top);
    }
}

// Frames shown one after another, the reference taken from some of them and
// not from others: every run agrees with the definition applied to a copy of
// the last frame taken (all zero before the first). Pictures whose blocks lie
// apart, pictures with cut blocks and pictures whose blocks overlap, by the
// vector path and the per-byte loops.
TEST(MotionDetection, RunsAfterReferenceUpdatesAgreeWithTheDefinition) {
  struct Picture {
    const char* label;
    int width, height;
  };
  const Picture pictures[] = {
      {"352x288: cells of 8 x 8 side by side", 352, 288},
      {"704x576: cells of 16 x 16, a quarter of the picture sampled", 704, 576},
      {"720x480: cells of 17 x 14, 42 x 34 in use", 720, 480},
      {"264x216: cells of 6 x 6, the blocks of the last column and row cut", 264, 216},
      {"176x144: cells of 4 x 4, the blocks overlapping", 176, 144},
      {"45x37: cells of 2 x 2, the last columns and rows cut", 45, 37},
      {"7x5: narrower than one block", 7, 5},
  };
  // Frames: 0 random, 1 a small change of 0, 2 frame 1 with every byte
  // detection does not sample changed, 3 every byte of frame 1 turned over.
  struct Step {
    const char* what;
    int frame;
    bool detect, update;  // detection first, then the reference taken
  };
  struct Sequence {
    const char* label;
    std::vector<Step> steps;
  };
  const Sequence sequences[] = {
      {"detection from the first frame on",
       {{"the first frame against the all-zero reference", 0, true, true},
        {"a small change", 1, true, false},
        {"no reference taken: still against the first frame", 2, true, true},
        {"every byte turned over", 3, true, true},
        {"the same frame again", 3, true, true}}},
      {"the reference taken before any detection",
       {{"the first frame, no detection", 0, false, true},
        {"taken again", 0, false, true},
        {"a small change", 1, true, true},
        {"only bytes that are not sampled changed", 2, true, false},
        {"back to the first frame", 0, true, true}}},
  };
  const int formats[] = {dvrFORMAT_UYVY, dvrFORMAT_RGB24, dvrFORMAT_BGR24};
  unsigned seed = 100;
  for (const Picture& picture : pictures)
    for (int format : formats) {
      SCOPED_TRACE(testing::Message() << picture.label << ", format " << format);
      const std::size_t bytes =
          static_cast<std::size_t>(picture.width) * picture.height * dvrBytesPerPixel(format);
      const int bpp = dvrBytesPerPixel(format), sampled = sampledByte(format);
      std::vector<std::vector<std::uint8_t>> frames(4);
      std::tie(frames[0], frames[1]) = randomPictures(bytes, seed++);
      frames[2] = frames[1];
      frames[3] = frames[1];
      for (std::size_t i = 0; i < bytes; ++i) {
        if (static_cast<int>(i % bpp) != sampled) frames[2][i] = static_cast<std::uint8_t>(~frames[2][i]);
        frames[3][i] = static_cast<std::uint8_t>(~frames[3][i]);
      }
      const std::vector<std::uint8_t> noMask(dvrGRID_CELLS, 0);
      for (const Sequence& sequence : sequences)
        for (bool plain : {false, true}) {
          SCOPED_TRACE(testing::Message() << sequence.label << ", "
                                          << (plain ? "per-byte loops" : "default scan"));
          dvrImage image(picture.width, picture.height, format);
          image.setPlainMotionScan(plain);
          std::vector<std::uint8_t> reference(bytes, 0);
          for (const Step& step : sequence.steps) {
            SCOPED_TRACE(step.what);
            const std::vector<std::uint8_t>& frame = frames[step.frame];
            std::memcpy(image.buffer(dvrBUF_CURRENT), frame.data(), bytes);
            if (step.detect) {
              for (int noise : {0, 4})
                for (int sensA : {1, 37}) {
                  SCOPED_TRACE(testing::Message() << "noise " << noise << ", sensA " << sensA);
                  const Detection expected =
                      detectByDefinition(frame, reference, picture.width, picture.height, format,
                                         noMask, sensA, noise);
                  ASSERT_EQ(image.detectMotion(2, sensA, 1, noise, -1), expected.total);
                  ASSERT_EQ(image.gridColumns(), expected.columns);
                  ASSERT_EQ(image.gridRows(), expected.rows);
                  const std::uint8_t* motion = image.buffer(dvrBUF_MOTION);
                  ASSERT_EQ(std::vector<int>(motion, motion + dvrGRID_CELLS), expected.cells);
                }
            }
            if (step.update) {
              image.updateReference();
              reference = frame;
            }
            // Taking the reference leaves the current frame as it was.
            ASSERT_EQ(std::memcmp(image.buffer(dvrBUF_CURRENT), frame.data(), bytes), 0);
          }
        }
    }
}

// ---- motion summary and mask -------------------------------------------------

TEST(MotionSummary, PackSetsABitPerCellAboveTen) {
  dvrImage image(64, 48, dvrFORMAT_UYVY);
  std::uint8_t* motion = image.buffer(dvrBUF_MOTION);
  motion[0] = 11;
  motion[9] = 10;  // not above 10
  motion[10] = 255;
  motion[dvrGRID_CELLS - 1] = 12;
  image.packMotionBits();
  std::vector<int> expected(dvrMOTION_BITMASK_BYTES, 0);
  expected[0] = 0x01;
  expected[1] = 0x04;
  expected[dvrMOTION_BITMASK_BYTES - 1] = 0x80;
  const std::uint8_t* bits = image.buffer(dvrBUF_MOTION_BITS);
  EXPECT_EQ(std::vector<int>(bits, bits + dvrMOTION_BITMASK_BYTES), expected);
}

TEST(MotionSummary, ReceivedBitsExpandIntoMotionValuesOfEleven) {
  dvrImage image(64, 48, dvrFORMAT_UYVY);
  image.buffer(dvrBUF_MOTION)[5] = 99;  // overwritten by the expansion
  std::uint8_t* bits = image.buffer(dvrBUF_MOTION_BITS);
  bits[0] = 0x01;
  bits[3] = 0x90;
  bits[dvrMOTION_BITMASK_BYTES - 1] = 0x80;
  const std::uint8_t* motion = image.buffer(dvrBUF_MOTION_FROM_BITS);
  ASSERT_EQ(motion, image.buffer(dvrBUF_MOTION));
  std::vector<int> expected(dvrGRID_CELLS, 0);
  expected[0] = expected[3 * 8 + 4] = expected[3 * 8 + 7] = expected[dvrGRID_CELLS - 1] = 11;
  EXPECT_EQ(std::vector<int>(motion, motion + dvrGRID_CELLS), expected);

  // Packing the expansion again gives the received bits back.
  const std::vector<std::uint8_t> received(bits, bits + dvrMOTION_BITMASK_BYTES);
  image.packMotionBits();
  EXPECT_EQ(std::vector<std::uint8_t>(bits, bits + dvrMOTION_BITMASK_BYTES), received);
}

TEST(MotionSummary, MotionInMaskNeedsMaskOneAndAValueOfTen) {
  struct Case {
    const char* label;
    int mask, motion;
    bool expected;
  };
  const Case cases[] = {
      {"marked cell with 10", 1, 10, true},
      {"marked cell with 255", 1, 255, true},
      {"marked cell with 9", 1, 9, false},
      {"mask 2 is not the marked area", 2, 255, false},
      {"unmasked cell", 0, 255, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(64, 48, dvrFORMAT_UYVY);
    image.setMaskCell(30, 20, c.mask);
    image.buffer(dvrBUF_MOTION)[cellIndex(30, 20)] = static_cast<std::uint8_t>(c.motion);
    image.buffer(dvrBUF_MOTION)[cellIndex(31, 20)] = 255;  // motion beside the area
    EXPECT_EQ(image.motionInMask(), c.expected);
  }
}

TEST(MotionSummary, ReceivedBitInsideTheMarkedAreaIsMotionInMask) {
  dvrImage image(64, 48, dvrFORMAT_UYVY);
  image.setMaskCell(2, 0, 1);
  image.buffer(dvrBUF_MOTION_BITS)[0] = 0x02;  // cell 1: beside the area
  image.buffer(dvrBUF_MOTION_FROM_BITS);
  EXPECT_FALSE(image.motionInMask());
  image.buffer(dvrBUF_MOTION_BITS)[0] = 0x04;  // cell 2
  image.buffer(dvrBUF_MOTION_FROM_BITS);
  EXPECT_TRUE(image.motionInMask());
}

TEST(MotionMask, TextsRoundTripAndMapSixRowsEach) {
  dvrImage image(64, 48, dvrFORMAT_UYVY);
  auto text = [](int group) {
    std::string t(dvrMASK_TEXT_LENGTH, 'A');
    for (int i = 0; i < dvrMASK_TEXT_LENGTH; ++i) t[i] = static_cast<char>('A' + (i * 7 + group) % 9);
    return t;
  };
  for (int g = 0; g < 6; ++g) image.loadMask(g, text(g));
  for (int g = 0; g < 6; ++g) {
    SCOPED_TRACE(g);
    EXPECT_EQ(image.saveMask(g), text(g));
    for (int i = 0; i < dvrMASK_TEXT_LENGTH; ++i)
      ASSERT_EQ(image.maskCell(i % 44, 6 * g + i / 44), (i * 7 + g) % 9) << i;
  }
}

TEST(MotionMask, LoadIgnoresOtherLengthsAndGroups) {
  struct Case {
    const char* label;
    int group;
    std::string text;
  };
  const Case cases[] = {
      {"263 characters", 0, std::string(263, 'I')},
      {"265 characters", 0, std::string(265, 'I')},
      {"empty text", 5, ""},
      {"group -1", -1, std::string(264, 'I')},
      {"group 6", 6, std::string(264, 'I')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(64, 48, dvrFORMAT_UYVY);
    image.setMaskCell(3, 1, 2);
    image.loadMask(c.group, c.text);
    const std::uint8_t* mask = image.buffer(dvrBUF_MASK);
    std::vector<int> expected(dvrGRID_CELLS, 0);
    expected[cellIndex(3, 1)] = 2;
    EXPECT_EQ(std::vector<int>(mask, mask + dvrGRID_CELLS), expected);
  }
  dvrImage image(64, 48, dvrFORMAT_UYVY);
  EXPECT_EQ(image.saveMask(-1), "");
  EXPECT_EQ(image.saveMask(6), "");
  EXPECT_EQ(image.saveMask(5), std::string(264, 'A'));
}

TEST(MotionMask, LettersOutsideAToIAreBroughtIntoRange) {
  struct Case {
    const char* label;
    char letter;
    int value;
    char saved;
  };
  const Case cases[] = {
      {"I is 8", 'I', 8, 'I'},         {"Z is at most 8", 'Z', 8, 'I'},
      {"lower case a is at most 8", 'a', 8, 'I'},
      {"a byte above 127", static_cast<char>(0xE9), 8, 'I'},
      {"a digit is cleared", '0', 0, 'A'}, {"a space is cleared", ' ', 0, 'A'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(64, 48, dvrFORMAT_UYVY);
    std::string text(dvrMASK_TEXT_LENGTH, 'B');
    text[100] = c.letter;
    image.loadMask(1, text);
    EXPECT_EQ(image.maskCell(100 % 44, 6 + 100 / 44), c.value);
    EXPECT_EQ(image.maskCell(99 % 44, 6 + 99 / 44), 1);
    EXPECT_EQ(image.saveMask(1)[100], c.saved);
  }
}

TEST(MotionMask, SetMaskCellClampsAndIgnoresCellsOutsideTheGrid) {
  struct Case {
    const char* label;
    int column, row, value;
    int stored;  // -1: nothing stored anywhere
  };
  const Case cases[] = {
      {"plain value", 0, 0, 5, 5},
      {"above 8 stores 8", 43, 35, 9, 8},
      {"large value stores 8", 10, 10, 1000, 8},
      {"negative value clears", 1, 1, -3, 0},
      {"column 44", 44, 0, 1, -1},
      {"column -1", -1, 0, 1, -1},
      {"row 36", 0, 36, 1, -1},
      {"row -1", 0, -1, 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(64, 48, dvrFORMAT_UYVY);
    std::memset(image.buffer(dvrBUF_MASK), 7, dvrGRID_CELLS);
    image.setMaskCell(c.column, c.row, c.value);
    std::vector<int> expected(dvrGRID_CELLS, 7);
    if (c.stored >= 0) expected[cellIndex(c.column, c.row)] = c.stored;
    const std::uint8_t* mask = image.buffer(dvrBUF_MASK);
    EXPECT_EQ(std::vector<int>(mask, mask + dvrGRID_CELLS), expected);
    EXPECT_EQ(image.maskCell(c.column, c.row), c.stored >= 0 ? c.stored : 0);
  }
}

// ---- buffers -------------------------------------------------------------

TEST(ImageBuffer, CreationState) {
  dvrImage image(352, 288, dvrFORMAT_RGB24, 4);
  EXPECT_EQ(image.width(), 352);
  EXPECT_EQ(image.height(), 288);
  EXPECT_EQ(image.format(), dvrFORMAT_RGB24);
  EXPECT_EQ(image.bytesPerPixel(), 3);
  EXPECT_EQ(image.frameBytes(), 352u * 288u * 3u);
  EXPECT_EQ(image.gridColumns(), 44);
  EXPECT_EQ(image.gridRows(), 36);
  EXPECT_EQ(image.compressedSize(), 0);
  EXPECT_EQ(image.keyFrame(), 1);
  EXPECT_EQ(image.frameNumber(), -1);
  EXPECT_EQ(image.busy(), 0);
  const std::uint8_t* mask = image.buffer(dvrBUF_MASK);
  EXPECT_EQ(std::vector<int>(mask, mask + dvrGRID_CELLS), std::vector<int>(dvrGRID_CELLS, 0));
}

TEST(ImageBuffer, BytesPerPixelByFormat) {
  const std::pair<int, int> cases[] = {
      {dvrFORMAT_UYVY, 2},    {dvrFORMAT_RGB24, 3},   {dvrFORMAT_RGB32, 4}, {dvrFORMAT_BGR24, 3},
      {dvrFORMAT_YUV422P, 2}, {dvrFORMAT_YUV420P, 2}, {dvrFORMAT_DIB24, 3}, {0, 2},
      {99, 2}};
  for (const auto& [format, bpp] : cases) {
    SCOPED_TRACE(format);
    EXPECT_EQ(dvrBytesPerPixel(format), bpp);
    EXPECT_EQ(dvrImage(4, 2, format).bytesPerPixel(), bpp);
  }
}

TEST(ImageBuffer, RingCountIsBetweenTwoAndSixteen) {
  const std::pair<int, int> cases[] = {{-3, 2}, {0, 2}, {1, 2}, {2, 2}, {5, 5}, {16, 16}, {17, 16}, {1000, 16}};
  for (const auto& [asked, count] : cases) {
    SCOPED_TRACE(asked);
    dvrImage image(8, 4, dvrFORMAT_UYVY, asked);
    EXPECT_EQ(image.ringCount(), count);
    std::set<std::uint8_t*> slots;
    for (int i = 0; i < count; ++i) {
      std::uint8_t* slot = image.buffer(i <= 10 ? i : i + 10);
      ASSERT_NE(slot, nullptr);
      std::memset(slot, i, image.frameBytes());  // the whole frame is writable
      slots.insert(slot);
    }
    EXPECT_EQ(slots.size(), static_cast<std::size_t>(count));
  }
}

TEST(ImageBuffer, IdentifiersSelectRingSlots) {
  struct Case {
    const char* label;
    int ring, id, slot;  // slot -1: null
  };
  const Case cases[] = {
      {"current", 2, 0, 0},
      {"previous", 2, 1, 1},
      {"slot 2 beyond a ring of 2 is the current frame", 2, 2, 0},
      {"slot 4 at the ring count of 4 is the current frame", 4, 4, 0},
      {"id 10 beyond the ring", 4, 10, 0},
      {"id 11 is slot 1", 2, 11, 1},
      {"id 13 is slot 3", 4, 13, 3},
      {"id 15 with a ring of 2 is the current frame", 2, 15, 0},
      {"id 20 with a ring of 16 is slot 10", 16, 20, 10},
      {"id 26 would be slot 16", 16, 26, 0},
      {"a huge id is the current frame", 16, 1 << 30, 0},
      {"a negative id is nothing", 4, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(8, 4, dvrFORMAT_UYVY, c.ring);
    // Slots are named by their own id here (RingCountIsBetweenTwoAndSixteen
    // shows those are distinct buffers).
    EXPECT_EQ(image.buffer(c.id), c.slot < 0 ? nullptr : image.buffer(c.slot));
  }
}

TEST(ImageBuffer, NamedBuffersAreDistinctAndSized) {
  dvrImage image(40, 30, dvrFORMAT_RGB24);
  const std::pair<int, std::size_t> named[] = {
      {dvrBUF_COMPRESSED, DVR_MAX_COMPRESSED_SIZE},
      {dvrBUF_MOTION, dvrGRID_CELLS},
      {dvrBUF_PREVIOUS_MOTION, dvrGRID_CELLS},
      {dvrBUF_MOTION_BITS, dvrMOTION_BITMASK_BYTES},
      {dvrBUF_MASK, dvrGRID_CELLS},
      {dvrBUF_SCRATCH, 40 * 30 * 4},
      {dvrBUF_SECONDARY_SCRATCH, 40 * 30 * 4},
  };
  std::set<std::uint8_t*> seen = {image.buffer(dvrBUF_CURRENT), image.buffer(dvrBUF_PREVIOUS)};
  for (const auto& [id, bytes] : named) {
    SCOPED_TRACE(id);
    std::uint8_t* p = image.buffer(id);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(seen.insert(p).second);
    std::memset(p, 0, bytes);  // AddressSanitizer checks the size
  }
  // The first buffers of both conversion pairs are further buffers of four bytes per pixel.
  std::uint8_t* primary = image.convertCurrent(dvrFORMAT_RGB24, 0);
  std::uint8_t* secondary = image.convertCurrent(dvrFORMAT_RGB24, 1);
  EXPECT_TRUE(seen.insert(primary).second);
  EXPECT_TRUE(seen.insert(secondary).second);
  std::memset(primary, 0, 40 * 30 * 4);
  std::memset(secondary, 0, 40 * 30 * 4);
}

TEST(ImageBuffer, ConvertCurrentFillsTheFirstBufferOfThePair) {
  dvrImage image(2, 1, dvrFORMAT_BGR24);
  const std::uint8_t bgr[] = {1, 2, 3, 4, 5, 6};
  std::memcpy(image.buffer(dvrBUF_CURRENT), bgr, sizeof bgr);
  for (int pair : {0, 1}) {
    SCOPED_TRACE(pair);
    const std::uint8_t* rgb = image.convertCurrent(dvrFORMAT_RGB24, pair);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(std::vector<int>(rgb, rgb + 6), (std::vector<int>{3, 2, 1, 6, 5, 4}));
  }
  EXPECT_EQ(image.convertCurrent(dvrFORMAT_RGB24, 2), nullptr);
}

TEST(ImageBuffer, ClearFrameBlackensPerFormat) {
  struct Case {
    const char* label;
    int width, format;
    std::vector<int> pattern;  // repeated over the frame
  };
  const Case cases[] = {
      {"UYVY", 6, dvrFORMAT_UYVY, {128, 0, 128, 0}},
      {"UYVY with an odd pixel count", 3, dvrFORMAT_UYVY, {128, 0}},
      {"RGB24", 6, dvrFORMAT_RGB24, {0}},
      {"RGB32", 6, dvrFORMAT_RGB32, {0}},
      {"BGR24", 6, dvrFORMAT_BGR24, {0}},
      {"YUV422P", 6, dvrFORMAT_YUV422P, {0}},
      {"YUV420P", 6, dvrFORMAT_YUV420P, {0}},
      {"DIB24", 6, dvrFORMAT_DIB24, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(c.width, 3, c.format);
    const std::size_t n = image.frameBytes();
    std::uint8_t* frame = image.buffer(dvrBUF_CURRENT);
    std::vector<int> expected(n);
    for (std::size_t i = 0; i < n; ++i) expected[i] = c.pattern[i % c.pattern.size()];
    EXPECT_EQ(std::vector<int>(frame, frame + n), expected) << "at creation";
    std::memset(frame, 0x55, n);
    image.clearFrame();
    EXPECT_EQ(std::vector<int>(frame, frame + n), expected);
  }
}

using ImageBufferLog = dvrEngineTest;

TEST_F(ImageBufferLog, ZeroSizePictureHasNoFrameBuffersAndNothingBreaks) {
  dvrImage image(0, 0, dvrFORMAT_UYVY);
  for (int id : {0, 1, 5, 15, 200, 201}) {  // frames and conversion scratch
    SCOPED_TRACE(id);
    EXPECT_EQ(image.buffer(id), nullptr);
  }
  for (int id : {99, 100, 101, 109})  // compressed, motion values, mask
    EXPECT_NE(image.buffer(id), nullptr) << id;
  EXPECT_EQ(image.frameBytes(), 0u);
  EXPECT_EQ(image.detectMotion(2, 1, 1, 0, -1), 0);
  image.updateReference();
  image.clearFrame();
  EXPECT_EQ(image.convertCurrent(dvrFORMAT_RGB24, 0), nullptr);
  std::vector<std::uint8_t> out(64 * 64 * 3, 0xEE);
  image.scaleToRGB(64, 64, out.data(), dvrFORMAT_RGB24);
  EXPECT_EQ(out, std::vector<std::uint8_t>(64 * 64 * 3, 0xEE));
  EXPECT_EQ(image.iconImage(8), std::vector<std::uint8_t>(8 * 8 * 3, 0));

  const std::vector<std::string> lines = logLines();
  for (const char* name : {"ringbuf[i]", "reference", "convertbuf", "convertbuf2", "sec_convertbuf",
                           "sec_convertbuf2"}) {
    EXPECT_THAT(lines, ::testing::Contains(std::string("Error: [MUSTMALLOC] Trying to allocate 0 "
                                                       "bytes! No way! [") +
                                           name + "]"))
        << name;
  }
}

TEST(ImageBuffer, DestructionTellsObserversOnce) {
  struct Watcher : dvrObserver {
    int destroyed = 0;
    void update(dvrNotifier* n, std::uint32_t codes) override {
      dvrObserver::update(n, codes);
      if (codes & dvrNOTIFY_DESTROYED) ++destroyed;
    }
  } watcher;
  auto image = std::make_unique<dvrImage>(16, 8, dvrFORMAT_UYVY);
  image->attach(&watcher, dvrNOTIFY_SETTING);
  image.reset();
  EXPECT_EQ(watcher.destroyed, 1);
  EXPECT_EQ(watcher.attachedCount(), 0u);
}

}  // namespace
