// The generated pictures of the simulated boards, in UYVY (U Y V Y for every
// two pixels): 75% colour bars with a white square that moves along a path
// that advances with the wall-clock time, and a line with the board number,
// the input number and the time of day. Without a video signal the picture
// is flat blue with "NO SIGNAL" on that line.
//
// The colours go through the input's adjustments: brightness shifts Y,
// contrast scales Y around 128, hue turns (U, V) around (128, 128) and the
// two saturations scale U and V around 128; 128 is neutral for each.
//
// Threads: pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace cat3disim {

struct PictureSize {
  int width = 0;
  int height = 0;
};

// The size of a capture resolution index for the standard (0 PAL, 1 NTSC);
// nullopt for index 0, an index out of range or an unknown standard.
std::optional<PictureSize> resolutionSize(int standard, int index);

struct PictureAdjustments {
  int brightness = 128;
  int contrast = 128;
  int hue = 128;
  int saturationU = 128;
  int saturationV = 128;
};

struct PictureScene {
  int board = 0;
  int input = 0;
  bool signal = true;
  // Milliseconds of the wall clock: where the square is.
  std::int64_t wallMs = 0;
  // The local time of day shown on the text line.
  int hour = 0;
  int minute = 0;
  int second = 0;
  PictureAdjustments adjust;
};

// Draws the scene into `out`, which holds width * height * 2 bytes. The
// width must be even; sizes below 2 x 1 draw nothing.
void renderPicture(std::uint8_t* out, int width, int height, const PictureScene& scene);

// Draws only the rows [firstRow, endRow) (clipped to the picture) of the
// full picture of the scene; the other rows of `out` are left as they are.
// Those rows come out byte for byte as renderPicture draws them.
void renderPictureRows(std::uint8_t* out, int width, int height, const PictureScene& scene,
                       int firstRow, int endRow);

// Rows [first, end) of a picture.
struct RowBand {
  int first = 0;
  int end = 0;
};

// Where the picture of one scene differs from that of another of the same
// size: everywhere, or only in a few bands of rows (the text line, the rows
// of the square where it was and where it is now).
struct ChangedRows {
  bool all = false;
  // Without `all`: `count` bands, top to bottom, neither overlapping nor
  // touching, inside the picture; none when the pictures are the same.
  int count = 0;
  std::array<RowBand, 3> bands{};
};

// The rows to draw to turn a buffer showing `shown` into one showing `next`,
// both of width x height: all of them when the signal or (with a signal) the
// adjustments differ; otherwise the rows of the text line if its text
// differs and those of the old and the new square if it moved. Drawing those
// rows with renderPictureRows leaves the buffer equal to renderPicture of
// `next`.
ChangedRows changedRows(int width, int height, const PictureScene& shown,
                        const PictureScene& next);

}  // namespace cat3disim
