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

}  // namespace cat3disim
