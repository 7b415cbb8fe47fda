#include "pipeline/image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/paths.h"
#include "pipeline/colour.h"

namespace {

constexpr int kMaxRing = 16;
constexpr int kMaskMax = 8;
constexpr int kMaskRowsPerGroup = 6;
constexpr int kMaskGroups = dvrGRID_ROWS / kMaskRowsPerGroup;
constexpr int kBlock = 8;               // pixels per side of the block each cell samples
constexpr int kCellFloor = 3;           // smaller cell values count as no motion
constexpr int kBitThreshold = 10;       // a cell above this sets its bit in the summary
constexpr std::uint8_t kExpandedBit = 11;  // the value a set bit stands for when expanded

// Zeroed, and left untouched: a conversion buffer that a recording-only
// camera never uses takes no resident memory.
std::uint8_t* allocate(const char* name, std::size_t bytes) {
  return static_cast<std::uint8_t*>(dvrMustAllocZeroed(name, bytes));
}

void release(const char* name, std::uint8_t*& p) {
  dvrMustFree(name, p);
  p = nullptr;
}

// Nearest-pixel sampling of a three-byte picture, the steps accumulated in
// single precision so that every caller picks the same source pixels.
void sampleThreeByte(const std::uint8_t* src, int width, int height, std::uint8_t* dst,
                     int outWidth, int outHeight) {
  const float stepX = static_cast<float>(width) / static_cast<float>(outWidth);
  const float stepY = static_cast<float>(height) / static_cast<float>(outHeight);
  float fy = 0.0f;
  for (int y = 0; y < outHeight; ++y, fy += stepY) {
    const int sy = std::min(static_cast<int>(fy), height - 1);
    const std::uint8_t* row = src + static_cast<std::size_t>(sy) * width * 3;
    std::uint8_t* d = dst + static_cast<std::size_t>(y) * outWidth * 3;
    float fx = 0.0f;
    for (int x = 0; x < outWidth; ++x, fx += stepX, d += 3) {
      const std::uint8_t* s = row + static_cast<std::size_t>(std::min(static_cast<int>(fx), width - 1)) * 3;
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
  }
}

// Division of the block sum of a cell (at most 8 x 8 x 255, below 2^15) by a
// positive divisor as one multiplication: with r = ceil(2^32 / d) for
// d <= 2^15, (sum * r) >> 32 is exactly sum / d, as the excess
// sum * (r - 2^32 / d) / 2^32 < 2^-17 stays below 1/d, the least distance from
// sum / d up to the next whole number. A larger divisor gives 0 for every
// such sum, as 2^15 does.
class CellDivider {
 public:
  explicit CellDivider(int divisor) {
    const std::uint64_t d = static_cast<std::uint64_t>(std::min(divisor, kLargest));
    reciprocal_ = ((std::uint64_t{1} << 32) + d - 1) / d;
  }
  int operator()(int sum) const {
    return static_cast<int>((static_cast<std::uint64_t>(sum) * reciprocal_) >> 32);
  }

 private:
  static constexpr int kLargest = 1 << 15;
  std::uint64_t reciprocal_;
};

#if defined(__SSE2__)
// How many of the first `columns` cells of a grid row have their whole block
// row inside the picture (a block starts at column * dx and is kBlock wide).
int fullBlockColumns(int width, int dx, int columns) {
  if (width < kBlock) return 0;
  return std::min(columns, (width - kBlock) / dx + 1);
}

// |current - reference| >> noise for the luma of 8 UYVY pixels (x from the
// current frame, y the reference with its luma in the same upper bytes), in
// the 16-bit lanes. The difference is taken on all bytes; luma is the upper
// byte of each lane, so one shift by 8 + noise both drops the lower byte's
// difference and applies the noise filter.
inline __m128i lumaDifference(__m128i x, __m128i y, __m128i shift) {
  return _mm_srl_epi16(_mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x)), shift);
}

// The sum of the eight 16-bit lanes, each at most 0x7FFF.
inline int laneSum(__m128i v) {
  v = _mm_madd_epi16(v, _mm_set1_epi16(1));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(v);
}

// Adds to sums[c] for the cells c < columns the sum of |current - reference|
// >> noiseFilter over the luma of `rows` pixel rows (at most 8) of the cell's
// block. current is the UYVY frame at the first of these rows, rowBytes per
// row, cells dx pixels apart; the blocks of all these cells must lie wholly
// inside the picture (fullBlockColumns). reference is either a UYVY frame
// laid out as current (compact false) or the compact reference at the block
// row of the first row: 8 luma bytes per cell, referenceRowBytes per block
// row. noiseFilter is 0..7.
//
// One pixel row at a time across the grid row, so that the frames are read
// front to back, into one register of eight lanes per cell: a lane gathers at
// most 8 x 255, inside 16 bits.
template <bool compact>
void sumLumaBlocks(const std::uint8_t* current, const std::uint8_t* reference,
                   std::size_t rowBytes, std::size_t referenceRowBytes, int dx, int rows,
                   int columns, int noiseFilter, int* sums) {
  const __m128i shift = _mm_cvtsi32_si128(8 + noiseFilter);
  const __m128i zero = _mm_setzero_si128();
  const std::size_t pitch = static_cast<std::size_t>(dx) * 2;
  __m128i totals[dvrGRID_COLUMNS];
  for (int c = 0; c < columns; ++c) totals[c] = _mm_setzero_si128();
  const std::uint8_t* a = current;
  const std::uint8_t* b = reference;
  for (int y = 0; y < rows; ++y, a += rowBytes, b += referenceRowBytes) {
    std::size_t x = 0;
    int c = 0;
    if constexpr (compact) {
      // Two cells at a time: their 16 reference bytes in one load, each half
      // into the upper bytes of the lanes, where UYVY has its luma.
      for (; c + 1 < columns; c += 2, x += 2 * pitch) {
        const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + c * kBlock));
        const __m128i now0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        const __m128i now1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x + pitch));
        totals[c] = _mm_add_epi16(totals[c],
                                  lumaDifference(now0, _mm_unpacklo_epi8(zero, luma), shift));
        totals[c + 1] = _mm_add_epi16(
            totals[c + 1], lumaDifference(now1, _mm_unpackhi_epi8(zero, luma), shift));
      }
    }
    for (; c < columns; ++c, x += pitch) {
      const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
      __m128i before;
      if constexpr (compact) {
        const __m128i luma = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + c * kBlock));
        before = _mm_unpacklo_epi8(zero, luma);
      } else {
        before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
      }
      totals[c] = _mm_add_epi16(totals[c], lumaDifference(now, before, shift));
    }
  }
  for (int c = 0; c < columns; ++c) sums[c] += laneSum(totals[c]);
}

// Copies the luma of the first 8 pixels of every one of `columns` UYVY blocks
// of a pixel row (cells dx pixels apart, wholly inside the picture) to
// 8 bytes per cell at destination.
void gatherLumaRow(const std::uint8_t* row, int dx, int columns, std::uint8_t* destination) {
  const std::size_t pitch = static_cast<std::size_t>(dx) * 2;
  std::size_t x = 0;
  int c = 0;
  // Two cells at a time into one store of their 16 bytes, side by side.
  for (; c + 1 < columns; c += 2, x += 2 * pitch) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + pitch));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + c * kBlock),
                     _mm_packus_epi16(_mm_srli_epi16(first, 8), _mm_srli_epi16(second, 8)));
  }
  for (; c < columns; ++c, x += pitch) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
    const __m128i luma = _mm_srli_epi16(pixels, 8);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + c * kBlock),
                     _mm_packus_epi16(luma, luma));
  }
}
#endif

}  // namespace

dvrImage::dvrImage(int width, int height, int format, int ringCount)
    // A negative size is no picture, like 0 x 0, rather than a huge request.
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      format_(format),
      bpp_(dvrBytesPerPixel(format)),
      ringCount_(std::min(ringCount > 1 ? ringCount : 2, kMaxRing)) {
  // The sampled byte: Y of UYVY, R of RGB24 and BGR24.
  switch (format_) {
    case dvrFORMAT_UYVY:
      sampleOffset_ = 1, sampleStep_ = 2;
      break;
    case dvrFORMAT_RGB24:
      sampleOffset_ = 0, sampleStep_ = 3;
      break;
    case dvrFORMAT_BGR24:
      sampleOffset_ = 2, sampleStep_ = 3;
      break;
    default:
      break;  // no detection
  }
  // Cells of ceil(size / grid) pixels, one pixel on pictures within the grid.
  cellWidth_ = width_ <= dvrGRID_COLUMNS ? 1 : (width_ + dvrGRID_COLUMNS - 1) / dvrGRID_COLUMNS;
  cellHeight_ = height_ <= dvrGRID_ROWS ? 1 : (height_ + dvrGRID_ROWS - 1) / dvrGRID_ROWS;
  usedColumns_ = std::min(dvrGRID_COLUMNS, width_ / cellWidth_);
  usedRows_ = std::min(dvrGRID_ROWS, height_ / cellHeight_);
  // Blocks overlap on cells under 8 pixels, so on small pictures their bytes
  // together can outgrow a frame: those keep a whole frame as reference.
  const std::size_t compactBytes =
      static_cast<std::size_t>(usedColumns_) * usedRows_ * kBlock * kBlock;
  compactReference_ = sampleStep_ != 0 && compactBytes > 0 && compactBytes <= frameBytes();

  motion_ = allocate("motionbuf[i]", dvrGRID_CELLS);
  previousMotion_ = allocate("motionbuf[i]", dvrGRID_CELLS);
  mask_ = allocate("mask", dvrGRID_CELLS);
  icon_.clear();
  iconSize_ = 0;
  iconTime_ = 0;

  const std::size_t frame = frameBytes();
  const std::size_t conversion = static_cast<std::size_t>(width_) * height_ * 4;
  for (int i = 0; i < ringCount_; ++i) ring_[i] = allocate("ringbuf[i]", frame);
  reference_ = allocate("reference", frame);
  convert_[0][0] = allocate("convertbuf", conversion);
  convert_[0][1] = allocate("convertbuf2", conversion);
  convert_[1][0] = allocate("sec_convertbuf", conversion);
  convert_[1][1] = allocate("sec_convertbuf2", conversion);
  clearFrame();

  compressed_ = allocate("DVR_MAX_COMPRESSED_SIZE", DVR_MAX_COMPRESSED_SIZE);
  compressedSize_ = 0;
}

dvrImage::~dvrImage() {
  release("DVR_MAX_COMPRESSED_SIZE", compressed_);
  release("sec_convertbuf2", convert_[1][1]);
  release("sec_convertbuf", convert_[1][0]);
  release("convertbuf2", convert_[0][1]);
  release("convertbuf", convert_[0][0]);
  release("reference", reference_);
  for (auto*& slot : ring_) release("ringbuf[i]", slot);
  release("mask", mask_);
  release("motionbuf[i]", previousMotion_);
  release("motionbuf[i]", motion_);
}

std::size_t dvrImage::frameBytes() const {
  return static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) *
         static_cast<std::size_t>(bpp_);
}

std::uint8_t* dvrImage::buffer(int id) {
  switch (id) {
    case dvrBUF_COMPRESSED:
      return compressed_;
    case dvrBUF_MOTION:
      return motion_;
    case dvrBUF_PREVIOUS_MOTION:
      return previousMotion_;
    case dvrBUF_MOTION_BITS:
      return motionBits_;
    case dvrBUF_MOTION_FROM_BITS:
      // A received summary becomes motion values again, each set bit standing
      // for a value just above the bit threshold, so motionInMask works on it.
      for (int cell = 0; cell < dvrGRID_CELLS; ++cell)
        motion_[cell] = (motionBits_[cell / 8] >> (cell % 8)) & 1 ? kExpandedBit : 0;
      return motion_;
    case dvrBUF_MASK:
      return mask_;
    case dvrBUF_SCRATCH:
      return convert_[0][1];
    case dvrBUF_SECONDARY_SCRATCH:
      return convert_[1][1];
    default:
      break;
  }
  // Negative identifiers name nothing; every slot index is checked against
  // the ring, since ids come from protocol and command input.
  if (id < 0) return nullptr;
  const int slot = id > 10 ? id - 10 : id;
  return slot < ringCount_ ? ring_[slot] : ring_[0];
}

void dvrImage::loadMask(int group, const std::string& text) {
  if (group < 0 || group >= kMaskGroups) return;
  if (text.size() != static_cast<std::size_t>(dvrMASK_TEXT_LENGTH)) return;
  std::uint8_t* cells = mask_ + group * kMaskRowsPerGroup * dvrGRID_COLUMNS;
  for (int i = 0; i < dvrMASK_TEXT_LENGTH; ++i) {
    // Letters outside "A".."I" come from hand-edited settings: below "A" is
    // taken as a cleared cell, beyond "I" as the largest mask value.
    const int value = static_cast<unsigned char>(text[i]) - 'A';
    cells[i] = static_cast<std::uint8_t>(std::clamp(value, 0, kMaskMax));
  }
}

std::string dvrImage::saveMask(int group) const {
  if (group < 0 || group >= kMaskGroups) return {};
  const std::uint8_t* cells = mask_ + group * kMaskRowsPerGroup * dvrGRID_COLUMNS;
  std::string text(dvrMASK_TEXT_LENGTH, 'A');
  for (int i = 0; i < dvrMASK_TEXT_LENGTH; ++i)
    text[i] = static_cast<char>('A' + std::min<int>(cells[i], kMaskMax));
  return text;
}

void dvrImage::setMaskCell(int column, int row, int value) {
  // Cells come from mouse positions and commands: outside the grid nothing is
  // stored, and a negative value is a cleared cell rather than a byte of 255.
  if (column < 0 || column >= dvrGRID_COLUMNS || row < 0 || row >= dvrGRID_ROWS) return;
  mask_[row * dvrGRID_COLUMNS + column] = static_cast<std::uint8_t>(std::clamp(value, 0, kMaskMax));
}

int dvrImage::maskCell(int column, int row) const {
  if (column < 0 || column >= dvrGRID_COLUMNS || row < 0 || row >= dvrGRID_ROWS) return 0;
  return mask_[row * dvrGRID_COLUMNS + column];
}

int dvrImage::detectMotion(int mode, int sensA, int sensB, int noiseFilter, int tolerance) {
  if (sampleStep_ == 0) return 0;  // a format without detection
  // A refused run leaves the motion values of the run before untouched.
  if (mode != 2 || noiseFilter > 7) return 0;
  const std::uint8_t* current = ring_[0];
  if (!current || !reference_) return 0;  // no picture

  std::memcpy(previousMotion_, motion_, dvrGRID_CELLS);
  std::memset(motion_, 0, dvrGRID_CELLS);
  sensA = std::max(sensA, 1);
  sensB = std::max(sensB, 1);
  noiseFilter = std::max(noiseFilter, 0);  // a negative shift would be undefined
  gridColumns_ = usedColumns_;
  gridRows_ = usedRows_;

  int total;
  if (sampleStep_ == 2)
    total = compactReference_ ? scanCells<2, true>(current, noiseFilter, sensA)
                              : scanCells<2, false>(current, noiseFilter, sensA);
  else
    total = compactReference_ ? scanCells<3, true>(current, noiseFilter, sensA)
                              : scanCells<3, false>(current, noiseFilter, sensA);
  const int motion = total / sensB;
  return motion > tolerance ? motion : 0;
}

template <int step, bool compact>
int dvrImage::scanCells(const std::uint8_t* frame, int noiseFilter, int sensA) {
  const int dx = cellWidth_, dy = cellHeight_;
  const std::size_t rowBytes = static_cast<std::size_t>(width_) * step;
  const std::size_t referenceRowBytes =
      compact ? static_cast<std::size_t>(usedColumns_) * kBlock : rowBytes;
  const std::uint8_t* current = frame + sampleOffset_;
  // Cells [0, vectorColumns) of every grid row are summed by the vector path,
  // the rest byte by byte.
  const int vectorColumns = vectorCells(gridColumns_);
  const CellDivider divideBySensA(sensA);
  int total = 0;
  for (int r = 0; r < gridRows_; ++r) {
    const int y0 = r * dy;
    // Cells are narrower than the 8 x 8 block on small pictures, so the
    // blocks of the last rows and columns reach past the picture: they are
    // cut at its edge, which keeps the reads inside the frame and stops a
    // block from wrapping into the next row.
    const int y1 = std::min(y0 + kBlock, height_);
    // The reference at pixel row y0: the first block row of grid row r when
    // compact, else row y0 of the frame (at the sampled byte, like current).
    const std::uint8_t* reference =
        compact ? reference_ + static_cast<std::size_t>(r) * kBlock * referenceRowBytes
                : reference_ + sampleOffset_ + static_cast<std::size_t>(y0) * rowBytes;
    int sums[dvrGRID_COLUMNS] = {};
#if defined(__SSE2__)
    if (vectorColumns > 0)
      sumLumaBlocks<compact>(frame + static_cast<std::size_t>(y0) * rowBytes,
                             compact ? reference : reference - sampleOffset_, rowBytes,
                             referenceRowBytes, dx, y1 - y0, vectorColumns, noiseFilter, sums);
#endif
    // One pixel row at a time across the rest of the grid row, so that the
    // frames are read front to back.
    if (vectorColumns < gridColumns_) {
      for (int y = y0; y < y1; ++y) {
        const std::uint8_t* a = current + y * rowBytes;
        const std::uint8_t* b = reference + (y - y0) * referenceRowBytes;
        for (int c = vectorColumns; c < gridColumns_; ++c) {
          const int x0 = c * dx;
          const int n = std::min(x0 + kBlock, width_) - x0;
          const std::uint8_t* pa = a + static_cast<std::size_t>(x0) * step;
          const std::uint8_t* pb = compact ? b + c * kBlock : b + static_cast<std::size_t>(x0) * step;
          constexpr int referenceStep = compact ? 1 : step;
          int sum = 0;
          if (n == kBlock) {
            for (int i = 0; i < kBlock; ++i)
              sum += std::abs(pa[i * step] - pb[i * referenceStep]) >> noiseFilter;
          } else {
            for (int i = 0; i < n; ++i)
              sum += std::abs(pa[i * step] - pb[i * referenceStep]) >> noiseFilter;
          }
          sums[c] += sum;
        }
      }
    }
    for (int c = 0; c < gridColumns_; ++c) {
      const int cell = r * dvrGRID_COLUMNS + c;
      if (mask_[cell] != 0) continue;  // excluded: stays 0
      int value = std::min(255, divideBySensA(sums[c]));
      if (value < kCellFloor) value = 0;
      motion_[cell] = static_cast<std::uint8_t>(value);
      total += value;
    }
  }
  return total;
}

int dvrImage::vectorCells(int columns) const {
#if defined(__SSE2__)
  if (sampleStep_ == 2 && sampleOffset_ == 1 && !plainMotionScan_)
    return fullBlockColumns(width_, cellWidth_, columns);
#endif
  (void)columns;
  return 0;
}

template <int step>
void dvrImage::gatherReference(const std::uint8_t* frame) {
  const int dx = cellWidth_, dy = cellHeight_;
  const std::size_t rowBytes = static_cast<std::size_t>(width_) * step;
  const std::size_t referenceRowBytes = static_cast<std::size_t>(usedColumns_) * kBlock;
  // Cells [0, vectorColumns) by the vector path, as in the scan.
  const int vectorColumns = vectorCells(usedColumns_);
  for (int r = 0; r < usedRows_; ++r) {
    const int y0 = r * dy;
    const int y1 = std::min(y0 + kBlock, height_);
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t* row = frame + static_cast<std::size_t>(y) * rowBytes;
      std::uint8_t* out =
          reference_ + (static_cast<std::size_t>(r) * kBlock + (y - y0)) * referenceRowBytes;
#if defined(__SSE2__)
      if (vectorColumns > 0) gatherLumaRow(row, dx, vectorColumns, out);
#endif
      const std::uint8_t* sampled = row + sampleOffset_;
      for (int c = vectorColumns; c < usedColumns_; ++c) {
        const int x0 = c * dx;
        const int n = std::min(x0 + kBlock, width_) - x0;
        const std::uint8_t* p = sampled + static_cast<std::size_t>(x0) * step;
        std::uint8_t* d = out + c * kBlock;
        for (int i = 0; i < n; ++i) d[i] = p[i * step];
      }
    }
  }
}

void dvrImage::updateReference() {
  if (!ring_[0] || !reference_) return;  // no picture
  if (!compactReference_) {
    std::memcpy(reference_, ring_[0], frameBytes());
    return;
  }
  if (sampleStep_ == 2)
    gatherReference<2>(ring_[0]);
  else
    gatherReference<3>(ring_[0]);
}

void dvrImage::packMotionBits() {
  for (int i = 0; i < dvrMOTION_BITMASK_BYTES; ++i) {
    std::uint8_t bits = 0;
    for (int k = 0; k < 8; ++k)
      if (motion_[i * 8 + k] > kBitThreshold) bits |= static_cast<std::uint8_t>(1u << k);
    motionBits_[i] = bits;
  }
}

bool dvrImage::motionInMask() const {
  for (int cell = 0; cell < dvrGRID_CELLS; ++cell)
    if (mask_[cell] == 1 && motion_[cell] >= kBitThreshold) return true;
  return false;
}

void dvrImage::convert(int fromFormat, int toFormat, const std::uint8_t* source,
                       std::uint8_t* destination, std::uint8_t* scratch) {
  dvrConvertPicture(fromFormat, toFormat, source, destination, scratch, width_, height_);
}

std::uint8_t* dvrImage::convertCurrent(int toFormat, int pair) {
  if (pair < 0 || pair > 1) return nullptr;
  convert(format_, toFormat, ring_[0], convert_[pair][0], convert_[pair][1]);
  return convert_[pair][0];
}

void dvrImage::scaleToRGB(int outWidth, int outHeight, std::uint8_t* destination, int toFormat) {
  if (toFormat != dvrFORMAT_RGB24 && toFormat != dvrFORMAT_DIB24) return;
  if (!destination || outWidth <= 0 || outHeight <= 0) return;
  const std::uint8_t* picture = convertCurrent(toFormat, 0);
  if (!picture) return;  // no picture
  sampleThreeByte(picture, width_, height_, destination, outWidth, outHeight);
}

const std::vector<std::uint8_t>& dvrImage::iconImage(int size) {
  static const std::vector<std::uint8_t> kNoIcon;
  if (size <= 0 || size > 64) return kNoIcon;
  const std::time_t now = std::time(nullptr);
  if (size == iconSize_ && now == iconTime_ && !icon_.empty()) return icon_;

  icon_.assign(static_cast<std::size_t>(size) * size * 3, 0);
  const int h = static_cast<int>(static_cast<float>(size) * 0.75f);
  const int top = (size - h) / 2;
  std::uint8_t* picture = convert_[0][0];
  if (ring_[0] && picture && h > 0) {
    convert(format_, dvrFORMAT_RGB24, ring_[0], picture, convert_[0][1]);
    sampleThreeByte(picture, width_, height_, icon_.data() + static_cast<std::size_t>(top) * size * 3,
                    size, h);
  }
  iconSize_ = size;
  iconTime_ = now;
  return icon_;
}

void dvrImage::clearFrame() {
  std::uint8_t* frame = ring_[0];
  if (!frame) return;
  const std::size_t bytes = frameBytes();
  if (format_ != dvrFORMAT_UYVY) {
    std::memset(frame, 0, bytes);
    return;
  }
  // Black in UYVY is grey chroma with zero luma.
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    frame[i] = 128;
    frame[i + 1] = 0;
  }
}
