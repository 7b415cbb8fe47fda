// Picture format conversions of the image buffer (internal to the pipeline).
//
// Every function works on whole pictures of width x height pixels in the
// layouts of dvrPictureFormat; source and destination never overlap. Rows
// of the packed formats are not padded: a UYVY row is 2 x width bytes, an
// RGB24, BGR24 or DIB24 row 3 x width bytes. The planar formats hold a Y
// plane of width x height bytes followed by the U and the V plane of
// width/2 x height (YUV422P) or width/2 x height/2 (YUV420P) bytes.
//
// Odd sizes: UYVY carries chroma per pair of pixels, so the last pixel of a
// row of odd width shares the chroma of the pair before it (or is grey when
// the row has a single pixel); in YUV420P the last row of an odd height
// uses the last chroma row. Nothing is read or written outside the pictures.
//
// Threads: pure functions over caller-owned memory; the lookup tables are
// built once (dvrBuildColourTables) and read-only afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dvrColour {

// UYVY to R, G, B (top-down) or B, G, R with rows bottom to top.
void uyvyToRgb(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
void uyvyToDib(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
// R, G, B (or B, G, R) to UYVY.
void rgbToUyvy(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
void bgrToUyvy(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
void uyvyToYuv422p(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
void uyvyToYuv420p(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
void yuv422pToUyvy(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
void yuv420pToUyvy(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
// Three-byte pixels: exchange bytes 0 and 2 of every pixel.
void swapRedBlue(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
// Three-byte pixels: rows in reverse order, optionally exchanging bytes 0 and 2.
void flipRows(const std::uint8_t* src, std::uint8_t* dst, int width, int height, bool swapRedBlue);

}  // namespace dvrColour

// One entry of the conversion table: from -> to, with the scratch buffer for
// the two-step pairs (at least width x height x 2 bytes). The same format
// copies width x height x bytes-per-pixel bytes. Answers whether the pair
// exists; an unknown pair (or a missing scratch buffer where one is needed)
// leaves the destination untouched.
bool dvrConvertPicture(int fromFormat, int toFormat, const std::uint8_t* src, std::uint8_t* dst,
                       std::uint8_t* scratch, int width, int height);
