#include "platform/cat3di/sim_picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <vector>

namespace cat3disim {
namespace {

struct Yuv {
  std::uint8_t y, u, v;
};

// 75% colour bars, left to right.
constexpr std::array<Yuv, 8> kBars = {{{180, 128, 128},   // white
                                       {162, 44, 142},    // yellow
                                       {131, 156, 44},    // cyan
                                       {112, 72, 58},     // green
                                       {84, 184, 198},    // magenta
                                       {65, 100, 212},    // red
                                       {35, 212, 114},    // blue
                                       {16, 128, 128}}};  // black
constexpr Yuv kWhite = {235, 128, 128};
constexpr Yuv kBlack = {16, 128, 128};
constexpr Yuv kNoSignal = {41, 240, 110};

// The square's path: it bounces across in 2 s and down in 1.5 s, the
// vertical motion a quarter second out of step so that the two never turn
// at the same moment: two pictures taken a little apart never show the
// square at the same place.
constexpr std::int64_t kAcrossMs = 2000;
constexpr std::int64_t kDownMs = 1500;
constexpr std::int64_t kDownPhaseMs = 250;
// Inputs and boards start at other points of the path.
constexpr std::int64_t kInputPhaseMs = 700;
constexpr std::int64_t kBoardPhaseMs = 300;

// A 5 x 7 font: one byte a row, bit 4 the leftmost column.
struct Glyph {
  char c;
  std::array<std::uint8_t, 7> rows;
};
constexpr std::array<Glyph, 20> kFont = {{
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
}};

const Glyph* findGlyph(char c) {
  for (const Glyph& glyph : kFont)
    if (glyph.c == c) return &glyph;
  return nullptr;  // blank, like a space
}

std::uint8_t clampByte(double value) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

Yuv adjusted(Yuv colour, const PictureAdjustments& adjust) {
  const double y = 128.0 + (colour.y - 128.0) * adjust.contrast / 128.0 + (adjust.brightness - 128);
  double u = colour.u - 128.0;
  double v = colour.v - 128.0;
  if (adjust.hue != 128) {
    const double angle = (adjust.hue - 128) * std::numbers::pi / 128.0;
    const double turnedU = u * std::cos(angle) - v * std::sin(angle);
    v = u * std::sin(angle) + v * std::cos(angle);
    u = turnedU;
  }
  return {clampByte(y), clampByte(128.0 + u * adjust.saturationU / 128.0),
          clampByte(128.0 + v * adjust.saturationV / 128.0)};
}

// A bouncing position in [0, range]: there and back in 2 * halfMs.
int bounce(std::int64_t ms, std::int64_t halfMs, int range) {
  if (range <= 0) return 0;
  std::int64_t at = ms % (2 * halfMs);
  if (at < 0) at += 2 * halfMs;
  if (at > halfMs) at = 2 * halfMs - at;
  return static_cast<int>(at * range / halfMs);
}

// Draws into the rows [firstRow_, endRow_) of the picture only: everything
// outside them is clipped away, so a band of rows comes out as the same rows
// of the whole picture.
class Canvas {
 public:
  Canvas(std::uint8_t* out, int width, int height, int firstRow, int endRow)
      : out_(out),
        width_(width),
        firstRow_(std::max(0, firstRow)),
        endRow_(std::min(height, endRow)) {}

  // Fills the pixel pairs [x0, x1) x [y0, y1), clipped; x rounded down to pairs.
  void fill(int x0, int y0, int x1, int y1, Yuv colour) {
    x0 = std::max(0, x0) & ~1;
    x1 = std::min(width_, x1) & ~1;
    y0 = std::max(firstRow_, y0);
    y1 = std::min(endRow_, y1);
    if (x0 >= x1 || y0 >= y1) return;
    const std::uint8_t pair[4] = {colour.u, colour.y, colour.v, colour.y};
    std::uint8_t* first = out_ + (static_cast<std::size_t>(y0) * width_ + x0) * 2;
    for (int x = x0; x < x1; x += 2) std::memcpy(first + (x - x0) * 2, pair, 4);
    const std::size_t bytes = static_cast<std::size_t>(x1 - x0) * 2;
    for (int y = y0 + 1; y < y1; ++y)
      std::memcpy(out_ + (static_cast<std::size_t>(y) * width_ + x0) * 2, first, bytes);
  }

  // Sets the brightness of one pixel, clipped.
  void luma(int x, int y, std::uint8_t value) {
    if (x < 0 || y < firstRow_ || x >= width_ || y >= endRow_) return;
    out_[(static_cast<std::size_t>(y) * width_ + x) * 2 + 1] = value;
  }

  // The colour bars over the whole picture: one row made and copied down.
  void bars(const std::array<Yuv, 8>& colours) {
    if (firstRow_ >= endRow_) return;
    const std::size_t row = static_cast<std::size_t>(width_) * 2;
    std::uint8_t* first = out_ + static_cast<std::size_t>(firstRow_) * row;
    for (int x = 0; x < width_; x += 2) {
      const Yuv& c = colours[static_cast<std::size_t>(x * 8 / width_)];
      const std::uint8_t pair[4] = {c.u, c.y, c.v, c.y};
      std::memcpy(first + static_cast<std::size_t>(x) * 2, pair, 4);
    }
    for (int y = firstRow_ + 1; y < endRow_; ++y) std::memcpy(out_ + y * row, first, row);
  }

  // The text on a dark strip at the top left, glyphs `scale` pixels a dot.
  void textLine(const char* text, int scale, Yuv ink, Yuv paper) {
    const int length = static_cast<int>(std::strlen(text));
    const int cell = 6 * scale;
    fill(0, 0, (length * cell + 3 * scale + 1) & ~1, 9 * scale, paper);
    for (int i = 0; i < length; ++i) {
      const Glyph* glyph = findGlyph(text[i]);
      if (!glyph) continue;
      const int left = 2 * scale + i * cell;
      if (left >= width_) break;
      for (int row = 0; row < 7; ++row)
        for (int column = 0; column < 5; ++column) {
          if (!(glyph->rows[static_cast<std::size_t>(row)] & (0x10 >> column))) continue;
          for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx)
              luma(left + column * scale + dx, scale + row * scale + dy, ink.y);
        }
    }
  }

 private:
  std::uint8_t* out_;
  int width_;
  int firstRow_;
  int endRow_;
};

int textScale(int height) { return std::max(1, height / 144); }

// The rows of the text line's strip (see Canvas::textLine).
int textRows(int height) { return 9 * textScale(height); }

struct Square {
  int x, y, width, height;
};

Square squareOf(int width, int height, const PictureScene& scene) {
  const int squareWidth = std::max(8, width / 6) & ~1;
  const int squareHeight = std::max(8, height / 5);
  const std::int64_t ms =
      scene.wallMs + scene.input * kInputPhaseMs + scene.board * kBoardPhaseMs;
  const int x = bounce(ms, kAcrossMs, width - squareWidth) & ~1;
  const int y = bounce(ms + kDownPhaseMs, kDownMs, height - squareHeight);
  return {x, y, squareWidth, squareHeight};
}

bool sameAdjustments(const PictureAdjustments& a, const PictureAdjustments& b) {
  return a.brightness == b.brightness && a.contrast == b.contrast && a.hue == b.hue &&
         a.saturationU == b.saturationU && a.saturationV == b.saturationV;
}

// Whether the text lines of two scenes with the same signal read the same.
bool sameText(const PictureScene& a, const PictureScene& b) {
  if (a.board != b.board || a.input != b.input) return false;
  return !a.signal || (a.hour == b.hour && a.minute == b.minute && a.second == b.second);
}

}  // namespace

std::optional<PictureSize> resolutionSize(int standard, int index) {
  if (standard != 0 && standard != 1) return std::nullopt;
  static constexpr int kWidths[] = {720, 704, 640, 720, 704, 640, 360, 352, 320, 180, 176, 160};
  // Full frames, fields, half fields.
  static constexpr int kHeights[2][3] = {{576, 288, 144}, {480, 240, 120}};
  if (index < 1 || index > 12) return std::nullopt;
  const int height = kHeights[standard][index <= 3 ? 0 : index <= 9 ? 1 : 2];
  return PictureSize{kWidths[index - 1], height};
}

void renderPicture(std::uint8_t* out, int width, int height, const PictureScene& scene) {
  renderPictureRows(out, width, height, scene, 0, height);
}

void renderPictureRows(std::uint8_t* out, int width, int height, const PictureScene& scene,
                       int firstRow, int endRow) {
  if (!out || width < 2 || height < 1 || width % 2 != 0) return;
  Canvas canvas(out, width, height, firstRow, endRow);
  const int scale = textScale(height);
  char text[48];
  if (!scene.signal) {
    canvas.fill(0, 0, width, height, kNoSignal);
    std::snprintf(text, sizeof text, "B%d IN%02d NO SIGNAL", scene.board, scene.input);
    canvas.textLine(text, scale, kWhite, kBlack);
    return;
  }

  std::array<Yuv, 8> bars;
  for (std::size_t i = 0; i < bars.size(); ++i) bars[i] = adjusted(kBars[i], scene.adjust);
  canvas.bars(bars);

  const Square square = squareOf(width, height, scene);
  const int x = square.x;
  const int y = square.y;
  const int squareWidth = square.width;
  const int squareHeight = square.height;
  const int border = std::max(2, squareWidth / 12) & ~1;
  canvas.fill(x, y, x + squareWidth, y + squareHeight, adjusted(kBlack, scene.adjust));
  canvas.fill(x + border, y + border / 2 + 1, x + squareWidth - border,
              y + squareHeight - border / 2 - 1, adjusted(kWhite, scene.adjust));

  std::snprintf(text, sizeof text, "B%d IN%02d %02d:%02d:%02d", scene.board, scene.input,
                scene.hour, scene.minute, scene.second);
  canvas.textLine(text, scale, adjusted(kWhite, scene.adjust), adjusted(kBlack, scene.adjust));
}

ChangedRows changedRows(int width, int height, const PictureScene& shown,
                        const PictureScene& next) {
  ChangedRows changed;
  if (shown.signal != next.signal || (next.signal && !sameAdjustments(shown.adjust, next.adjust))) {
    changed.all = true;
    return changed;
  }
  std::array<RowBand, 3> bands{};
  int count = 0;
  if (!sameText(shown, next)) bands[count++] = {0, textRows(height)};
  if (next.signal) {
    const Square was = squareOf(width, height, shown);
    const Square now = squareOf(width, height, next);
    if (was.x != now.x || was.y != now.y) {
      bands[count++] = {was.y, was.y + was.height};
      bands[count++] = {now.y, now.y + now.height};
    }
  }
  // Clipped, sorted and merged where they overlap or touch.
  for (int i = 0; i < count; ++i)
    bands[i] = {std::max(0, bands[i].first), std::min(height, bands[i].end)};
  std::sort(bands.begin(), bands.begin() + count,
            [](const RowBand& a, const RowBand& b) { return a.first < b.first; });
  for (int i = 0; i < count; ++i) {
    const RowBand band = bands[static_cast<std::size_t>(i)];
    if (band.first >= band.end) continue;
    if (changed.count > 0 && band.first <= changed.bands[changed.count - 1].end) {
      RowBand& last = changed.bands[static_cast<std::size_t>(changed.count - 1)];
      last.end = std::max(last.end, band.end);
    } else {
      changed.bands[static_cast<std::size_t>(changed.count++)] = band;
    }
  }
  return changed;
}

}  // namespace cat3disim
