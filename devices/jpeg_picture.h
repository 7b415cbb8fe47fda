// JPEG snapshots into 24-bit RGB pictures.
//
// The size is read from the JPEG's frame header before anything is decoded,
// so that a picture too large for the recorder is refused without
// allocating it; a body that does not decode is refused, never half used.
//
// Threads: any; call dvrRegisterJpegDecoder on the main thread first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct dvrRgbPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width x height x 3 bytes, R G B, rows top to bottom
};

// The largest snapshot side accepted.
inline constexpr int dvrMAX_SNAPSHOT_SIDE = 4096;

// Width and height from the frame header (SOFn) of a JPEG; false when the
// bytes are not a JPEG or end before the frame header.
bool dvrJpegSize(const std::uint8_t* data, std::size_t size, int& width, int& height);

enum class dvrJpegResult { ok, notJpeg, tooLarge, broken };

// Decodes a JPEG of at most maxSide x maxSide pixels into picture (its
// storage is reused).
dvrJpegResult dvrDecodeJpeg(const std::uint8_t* data, std::size_t size, dvrRgbPicture& picture,
                            int maxSide = dvrMAX_SNAPSHOT_SIDE);

// Makes the toolkit's JPEG loader available; main thread, once or more.
void dvrRegisterJpegDecoder();
