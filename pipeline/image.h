// The image buffer of a camera: its frames in the native picture format, the
// reference frame for motion detection, scratch buffers for conversions, the
// compressed form of the current frame, the per-cell motion values of the
// 44 x 36 grid with their one-bit summary, and the motion mask.
//
// Every buffer is allocated once per picture size (through the must-allocate
// helper), never per frame. A 0 x 0 picture leaves its frame buffers absent
// (null): users treat an absent buffer as no picture.
//
// Threads: the buffer has no lock for frame data; the camera's image lock is
// held by whoever grabs, detects, compresses, converts or scales. Observers
// (the codec) are told 2 once when the buffer is destroyed, by the notifier
// part after the buffers are freed: an observer must only forget the image then.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "core/object.h"

// Picture format codes.
enum dvrPictureFormat : std::int32_t {
  dvrFORMAT_UYVY = 2,
  dvrFORMAT_RGB24 = 3,
  dvrFORMAT_RGB32 = 4,
  dvrFORMAT_BGR24 = 7,
  dvrFORMAT_YUV422P = 8,
  dvrFORMAT_YUV420P = 9,
  dvrFORMAT_DIB24 = 10,
};

inline constexpr int dvrGRID_COLUMNS = 44;
inline constexpr int dvrGRID_ROWS = 36;
inline constexpr int dvrGRID_CELLS = dvrGRID_COLUMNS * dvrGRID_ROWS;  // 1584
inline constexpr int dvrMOTION_BITMASK_BYTES = dvrGRID_CELLS / 8;     // 198
inline constexpr int DVR_MAX_COMPRESSED_SIZE = 262144;
inline constexpr int dvrMASK_TEXT_LENGTH = 264;  // six grid rows of 44 cells

// Buffer identifiers for dvrImage::buffer.
enum dvrBufferId : int {
  dvrBUF_CURRENT = 0,
  dvrBUF_PREVIOUS = 1,
  dvrBUF_COMPRESSED = 99,
  dvrBUF_MOTION = 100,
  dvrBUF_PREVIOUS_MOTION = 101,
  dvrBUF_MOTION_BITS = 102,
  dvrBUF_MOTION_FROM_BITS = 103,
  dvrBUF_MASK = 109,
  dvrBUF_SCRATCH = 200,
  dvrBUF_SECONDARY_SCRATCH = 201,
};

// Bytes allocated per pixel for a format: 3 for RGB24, BGR24 and DIB24, 4 for RGB32, else 2.
int dvrBytesPerPixel(int format);

// Builds the lookup tables of the colour conversions; called once at start-up
// ("Starting filesystem..."), and by the first conversion when not yet built.
void dvrBuildColourTables();

class dvrImage : public dvrNotifier {
 public:
  // Allocates every buffer for the picture size and clears the current frame.
  // A ring count below 2 gives 2; at most 16.
  dvrImage(int width, int height, int format, int ringCount = 2);
  ~dvrImage() override;  // frees every buffer; the notifier part then notifies 2

  int width() const { return width_; }
  int height() const { return height_; }
  int format() const { return format_; }
  int bytesPerPixel() const { return bpp_; }
  int gridColumns() const { return gridColumns_; }
  int gridRows() const { return gridRows_; }
  int ringCount() const { return ringCount_; }
  std::size_t frameBytes() const;  // width x height x bytes per pixel

  // The start of a buffer by identifier (see dvrBufferId; 2..10 ring slots,
  // above 10 slot id - 10, a slot beyond the ring the current frame); null for
  // an unknown identifier or an absent buffer.
  std::uint8_t* buffer(int id);

  int compressedSize() const { return compressedSize_; }
  void setCompressedSize(int size) { compressedSize_ = size; }
  int keyFrame() const { return keyFrame_; }
  void setKeyFrame(int flag) { keyFrame_ = flag; }
  int frameNumber() const { return frameNumber_; }
  void setFrameNumber(int n) { frameNumber_ = n; }
  int busy() const { return busy_; }
  void setBusy(int flag) { busy_ = flag; }

  // Mask rows: group n (0..5) holds grid rows 6n..6n+5, one letter per cell
  // ("A" + value). Texts of another length are ignored when loading.
  void loadMask(int group, const std::string& text);
  std::string saveMask(int group) const;
  // Stores min(value, 8); cells outside the grid are ignored.
  void setMaskCell(int column, int row, int value);
  int maskCell(int column, int row) const;

  // Motion detection against the reference frame (only mode 2 is defined;
  // any other mode, an unsupported format or a noise filter above 7 give 0).
  int detectMotion(int mode, int sensA, int sensB, int noiseFilter, int tolerance);
  // Detection of UYVY pictures runs on vector instructions where the build has
  // them; this turns that off for this image, back to the per-byte loops. The
  // values are the same either way: it is there to compare the two.
  void setPlainMotionScan(bool plain) { plainMotionScan_ = plain; }
  void updateReference();
  void packMotionBits();
  bool motionInMask() const;

  // Converts between picture formats (the conversion table); a pair without
  // a conversion leaves the destination unchanged.
  void convert(int fromFormat, int toFormat, const std::uint8_t* source, std::uint8_t* destination,
               std::uint8_t* scratch);
  // Converts the current frame into the first buffer of a pair (0 primary,
  // 1 secondary), with the pair's second buffer as scratch; returns the first buffer.
  std::uint8_t* convertCurrent(int toFormat, int pair);
  // Nearest-pixel scaling of the current frame into outWidth x outHeight x 3
  // bytes, for RGB24 or DIB24 only.
  void scaleToRGB(int outWidth, int outHeight, std::uint8_t* destination, int toFormat);
  // A size x size RGB icon of the current frame (sizes up to 64), remade at
  // most once per second; empty for larger sizes.
  const std::vector<std::uint8_t>& iconImage(int size);
  // Blackens the current frame.
  void clearFrame();

 private:
  // Fills the motion values of the cells in use from the sampled bytes of the
  // frame (byte sampleOffset_ of every step-byte pixel) against the reference
  // (compact or a whole frame, as compactReference_ says); returns their total.
  template <int step, bool compact>
  int scanCells(const std::uint8_t* frame, int noiseFilter, int sensA);
  // Copies the sampled bytes of every block of the current frame into the
  // compact reference.
  template <int step>
  void gatherReference(const std::uint8_t* frame);
  // How many of the first `columns` cells of a grid row the vector path takes:
  // those of UYVY luma whose blocks lie wholly inside the picture; none
  // without SSE2 or with the plain scan asked for.
  int vectorCells(int columns) const;

  int width_, height_, format_, bpp_;
  int gridColumns_ = dvrGRID_COLUMNS;
  int gridRows_ = dvrGRID_ROWS;
  int ringCount_;
  int compressedSize_ = 0;
  int keyFrame_ = 1;
  int frameNumber_ = -1;
  int busy_ = 0;
  bool plainMotionScan_ = false;
  std::uint8_t* motion_ = nullptr;
  std::uint8_t* previousMotion_ = nullptr;
  std::uint8_t motionBits_[dvrMOTION_BITMASK_BYTES] = {};
  std::uint8_t* mask_ = nullptr;
  std::uint8_t* ring_[16] = {};
  // What detection samples, fixed by the picture size and format from the
  // constructor on: the sampled byte (sampleOffset_ of every pixel of
  // sampleStep_ bytes; step 0 for a format without detection), the cell size
  // in pixels and the grid in use (what gridColumns_ and gridRows_ become on
  // the first detection run).
  int sampleOffset_ = 0, sampleStep_ = 0;
  int cellWidth_ = 1, cellHeight_ = 1;
  int usedColumns_ = 0, usedRows_ = 0;
  // The reference buffer (frame size) holds either the whole frame or, when
  // they fit in it, only the sampled bytes of every block: for grid row r and
  // block row yy (0..7), row r * 8 + yy of usedColumns_ * 8 bytes holds the 8
  // bytes of cell c at c * 8, the slots past a block cut at the picture edge
  // unused. The scan then reads a fraction of a frame instead of a whole one.
  bool compactReference_ = false;
  std::uint8_t* reference_ = nullptr;
  std::uint8_t* convert_[2][2] = {};  // [pair][0 first, 1 scratch]
  std::uint8_t* compressed_ = nullptr;
  std::vector<std::uint8_t> icon_;
  int iconSize_ = 0;
  std::time_t iconTime_ = 0;
};
