#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "pipeline/image.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int UYVY = dvrFORMAT_UYVY, RGB = dvrFORMAT_RGB24, RGB32 = dvrFORMAT_RGB32,
              BGR = dvrFORMAT_BGR24, P422 = dvrFORMAT_YUV422P, P420 = dvrFORMAT_YUV420P,
              DIB = dvrFORMAT_DIB24;

// Bytes a picture of the format really occupies (YUV420P needs less than it is given).
std::size_t pictureBytes(int format, int w, int h) {
  const std::size_t pixels = static_cast<std::size_t>(w) * h;
  if (format == P422) return pixels + 2 * static_cast<std::size_t>(w / 2) * h;
  if (format == P420) return pixels + 2 * static_cast<std::size_t>(w / 2) * (h / 2);
  return pixels * dvrBytesPerPixel(format);
}

bool isYuv(int format) { return format == UYVY || format == P422 || format == P420; }

// A picture of one colour: (U, Y, V) for the YUV formats, bytes 0, 1, 2 of
// every pixel for the three-byte ones.
Bytes uniform(int format, int w, int h, std::array<int, 3> c) {
  Bytes p(pictureBytes(format, w, h));
  const std::size_t pixels = static_cast<std::size_t>(w) * h;
  switch (format) {
    case UYVY:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const std::size_t at = (static_cast<std::size_t>(y) * w + x) * 2;
          p[at] = static_cast<std::uint8_t>(x % 2 == 0 ? c[0] : c[2]);
          p[at + 1] = static_cast<std::uint8_t>(c[1]);
        }
      break;
    case P422:
    case P420: {
      const std::size_t chroma = (p.size() - pixels) / 2;
      std::fill(p.begin(), p.begin() + pixels, c[1]);
      std::fill(p.begin() + pixels, p.begin() + pixels + chroma, c[0]);
      std::fill(p.begin() + pixels + chroma, p.end(), c[2]);
      break;
    }
    default:
      for (std::size_t i = 0; i < pixels; ++i)
        for (int k = 0; k < 3; ++k) p[i * 3 + k] = static_cast<std::uint8_t>(c[k]);
  }
  return p;
}

// The colour of the first pixel, in the terms of uniform().
std::array<int, 3> firstColour(int format, const Bytes& p, int w, int h) {
  const std::size_t pixels = static_cast<std::size_t>(w) * h;
  switch (format) {
    case UYVY:
      return {p[0], p[1], p[2]};
    case P422:
    case P420: {
      const std::size_t chroma = (p.size() - pixels) / 2;
      return {p[pixels], p[0], p[pixels + chroma]};
    }
    default:
      return {p[0], p[1], p[2]};
  }
}

Bytes convert(int from, int to, int w, int h, const Bytes& in, std::size_t outBytes) {
  dvrImage image(w, h, from);
  Bytes out(outBytes, 0xEE);
  Bytes scratch(static_cast<std::size_t>(w) * h * 2, 0xEE);
  image.convert(from, to, in.data(), out.data(), scratch.data());
  return out;
}

struct ConversionCase {
  const char* label;
  int from, to, w, h;
  Bytes in;
  Bytes expected;  // empty: the destination stays untouched
};

TEST(ColourConversion, PixelsComputedByHand) {
  const ConversionCase cases[] = {
      // UYVY to RGB: 76309 (Y - 16) and the chroma factors with 16 fractional bits.
      {"UYVY->RGB24 black", UYVY, RGB, 2, 1, {128, 16, 128, 16}, {0, 0, 0, 0, 0, 0}},
      {"UYVY->RGB24 studio white is 254", UYVY, RGB, 2, 1, {128, 235, 128, 235},
       {254, 254, 254, 254, 254, 254}},
      {"UYVY->RGB24 mid grey", UYVY, RGB, 2, 1, {128, 128, 128, 128},
       {130, 130, 130, 130, 130, 130}},
      {"UYVY->RGB24 colour pair shares chroma", UYVY, RGB, 2, 1, {100, 150, 180, 60},
       {239, 124, 99, 134, 19, 0}},
      {"UYVY->RGB24 clamps above 255", UYVY, RGB, 2, 1, {255, 235, 255, 235},
       {255, 101, 255, 255, 101, 255}},
      {"UYVY->DIB24 is bottom-up BGR", UYVY, DIB, 2, 2,
       {100, 150, 180, 60, 128, 16, 128, 16}, {0, 0, 0, 0, 0, 0, 99, 124, 239, 0, 19, 134}},
      {"UYVY->YUV422P", UYVY, P422, 4, 2, {10, 1, 20, 2, 11, 3, 21, 4, 12, 5, 22, 6, 13, 7, 23, 8},
       {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 20, 21, 22, 23}},
      {"UYVY->YUV420P takes chroma of the even rows", UYVY, P420, 4, 2,
       {10, 1, 20, 2, 11, 3, 21, 4, 12, 5, 22, 6, 13, 7, 23, 8},
       {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 20, 21}},
      {"YUV422P->UYVY", P422, UYVY, 4, 2, {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 20, 21, 22, 23},
       {10, 1, 20, 2, 11, 3, 21, 4, 12, 5, 22, 6, 13, 7, 23, 8}},
      {"YUV420P->UYVY serves two rows per chroma row", P420, UYVY, 4, 2,
       {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 20, 21},
       {10, 1, 20, 2, 11, 3, 21, 4, 10, 5, 20, 6, 11, 7, 21, 8}},
      {"YUV422P->RGB24", P422, RGB, 2, 1, {150, 60, 100, 180}, {239, 124, 99, 134, 19, 0}},
      {"YUV420P->RGB24", P420, RGB, 2, 2, {150, 60, 150, 60, 100, 180},
       {239, 124, 99, 134, 19, 0, 239, 124, 99, 134, 19, 0}},
      // RGB to UYVY: full-range luma, chroma from the pair's sums, clamped to a byte.
      {"RGB24->UYVY pure red clamps V at 255", RGB, UYVY, 2, 1, {255, 0, 0, 255, 0, 0},
       {90, 76, 255, 76}},
      {"RGB24->UYVY cyan clamps V at 0", RGB, UYVY, 2, 1, {0, 255, 255, 0, 255, 255},
       {165, 178, 0, 178}},
      {"RGB24->UYVY mid grey", RGB, UYVY, 2, 1, {128, 128, 128, 128, 128, 128},
       {128, 128, 128, 128}},
      {"RGB24->UYVY white and black share grey chroma", RGB, UYVY, 2, 1, {255, 255, 255, 0, 0, 0},
       {128, 255, 128, 0}},
      {"RGB24->YUV422P", RGB, P422, 2, 1, {255, 0, 0, 255, 0, 0}, {76, 76, 90, 255}},
      {"RGB24->YUV420P", RGB, P420, 2, 2, {255, 0, 0, 255, 0, 0, 0, 255, 255, 0, 255, 255},
       {76, 76, 178, 178, 90, 255}},
      {"RGB24->DIB24 reverses rows and exchanges R and B", RGB, DIB, 2, 2,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}},
      {"BGR24->RGB24", BGR, RGB, 2, 1, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}},
      {"BGR24->YUV422P", BGR, P422, 2, 1, {0, 0, 255, 0, 0, 255}, {76, 76, 90, 255}},
      {"BGR24->YUV420P", BGR, P420, 2, 2, {0, 0, 255, 0, 0, 255, 255, 255, 0, 255, 255, 0},
       {76, 76, 178, 178, 90, 255}},
      {"BGR24->DIB24 reverses rows only", BGR, DIB, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       {7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}},
      {"UYVY->UYVY copies", UYVY, UYVY, 2, 1, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {"RGB32->RGB32 copies four bytes a pixel", RGB32, RGB32, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8},
       {1, 2, 3, 4, 5, 6, 7, 8}},
      {"YUV420P->YUV420P copies two bytes a pixel", P420, P420, 2, 1, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {"BGR24->UYVY does not exist", BGR, UYVY, 2, 1, {1, 2, 3, 4, 5, 6}, {}},
      {"UYVY->BGR24 does not exist", UYVY, BGR, 2, 1, {1, 2, 3, 4}, {}},
      {"RGB32->RGB24 does not exist", RGB32, RGB, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8}, {}},
      {"RGB24->RGB32 does not exist", RGB, RGB32, 2, 1, {1, 2, 3, 4, 5, 6}, {}},
      {"DIB24->RGB24 does not exist", DIB, RGB, 2, 1, {1, 2, 3, 4, 5, 6}, {}},
      {"YUV422P->YUV420P does not exist", P422, P420, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8}, {}},
      {"unknown format codes", 35, 0, 2, 1, {1, 2, 3, 4}, {}},
  };
  for (const ConversionCase& c : cases) {
    SCOPED_TRACE(c.label);
    // Sentinels after the expected bytes catch writes past the picture.
    const Bytes out = convert(c.from, c.to, c.w, c.h, c.in, std::max<std::size_t>(c.expected.size(), 16) + 8);
    Bytes expected = c.expected;
    expected.resize(out.size(), 0xEE);
    EXPECT_EQ(out, expected);
  }
}

// Every conversion of the table on pictures of odd size: a picture of one
// colour stays one colour up to the last column and row (the colour of a
// 2 x 2 picture), and nothing is read or written outside the exact-size
// buffers (AddressSanitizer).
TEST(ColourConversion, OddSizesStayInsideAndUniform) {
  const std::array<int, 2> pairs[] = {{UYVY, RGB}, {UYVY, P422}, {UYVY, P420}, {UYVY, DIB},
                                      {RGB, UYVY}, {RGB, P422},  {RGB, P420},  {RGB, DIB},
                                      {BGR, RGB},  {BGR, P422},  {BGR, P420},  {BGR, DIB},
                                      {P422, UYVY}, {P422, RGB}, {P420, UYVY}, {P420, RGB}};
  struct Size {
    int w, h;
    bool colour;  // otherwise grey, which stays defined where chroma is missing
  };
  const Size sizes[] = {{5, 3, true}, {7, 5, true}, {1, 1, false}, {3, 1, false}, {1, 3, false}};
  for (const auto& [from, to] : pairs) {
    for (const Size& s : sizes) {
      SCOPED_TRACE(testing::Message() << from << "->" << to << " at " << s.w << "x" << s.h);
      const std::array<int, 3> colour =
          isYuv(from) ? (s.colour ? std::array<int, 3>{100, 150, 180} : std::array<int, 3>{128, 150, 128})
                      : (s.colour ? std::array<int, 3>{200, 60, 30} : std::array<int, 3>{150, 150, 150});
      const Bytes small = convert(from, to, 2, 2, uniform(from, 2, 2, colour), pictureBytes(to, 2, 2));
      const Bytes expected = uniform(to, s.w, s.h, firstColour(to, small, 2, 2));
      EXPECT_EQ(convert(from, to, s.w, s.h, uniform(from, s.w, s.h, colour), pictureBytes(to, s.w, s.h)),
                expected);
    }
  }
}

TEST(ColourConversion, SaturatedColoursKeepTheirHueThroughUyvy) {
  // Wrapped chroma would turn green into yellow and cyan into white.
  struct Case {
    const char* label;
    std::array<int, 3> in, out;
  };
  const Case cases[] = {
      {"red", {255, 0, 0}, {255, 0, 0}},       {"green", {0, 255, 0}, {0, 255, 5}},
      {"blue", {0, 0, 255}, {0, 0, 237}},      {"cyan", {0, 255, 255}, {0, 255, 255}},
      {"magenta", {255, 0, 255}, {255, 0, 250}}, {"yellow", {255, 255, 0}, {255, 255, 19}},
      {"white", {255, 255, 255}, {255, 255, 255}}, {"black", {0, 0, 0}, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Bytes uyvy = convert(RGB, UYVY, 2, 1, uniform(RGB, 2, 1, c.in), 4);
    EXPECT_EQ(convert(UYVY, RGB, 2, 1, uyvy, 6), uniform(RGB, 2, 1, c.out));
  }
}

// RGB -> UYVY -> RGB on a colour pattern against the real-valued transforms:
// full-range luma with pair chroma on the way in, the BT.601 studio-range
// matrix on the way out (so the round trip is not the identity: luma comes
// back stretched by 255/219). The integer path may only lose its truncations.
TEST(ColourConversion, RoundTripFollowsTheRealValuedTransforms) {
  constexpr int w = 64, h = 48;
  Bytes rgb(w * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = &rgb[(y * w + x) * 3];
      p[0] = static_cast<std::uint8_t>(x * 4);
      p[1] = static_cast<std::uint8_t>(y * 5 + (x & 1) * 40);
      p[2] = static_cast<std::uint8_t>((x * 7 + y * 3) & 255);
    }
  const Bytes uyvy = convert(RGB, UYVY, w, h, rgb, w * h * 2);
  const Bytes back = convert(UYVY, RGB, w, h, uyvy, w * h * 3);

  auto clamp = [](double v) { return std::min(255.0, std::max(0.0, v)); };
  double worst = 0;
  for (int i = 0; i < w * h; i += 2) {
    const std::uint8_t* p0 = &rgb[i * 3];
    const std::uint8_t* p1 = p0 + 3;
    const double rs = p0[0] + p1[0], gs = p0[1] + p1[1], bs = p0[2] + p1[2];
    const double u = clamp(128 + (7111 * bs - 4719 * gs - 2392 * rs) / 32768.0) - 128;
    const double v = clamp(128 + (10109 * rs - 8470 * gs - 1639 * bs) / 32768.0) - 128;
    for (int k = 0; k < 2; ++k) {
      const std::uint8_t* p = k ? p1 : p0;
      const double c = 1.164383 * ((9798 * p[0] + 19235 * p[1] + 3736 * p[2]) / 32768.0 - 16);
      const double model[3] = {clamp(c + 1.596027 * v), clamp(c - 0.812968 * v - 0.391762 * u),
                               clamp(c + 2.017232 * u)};
      for (int ch = 0; ch < 3; ++ch)
        worst = std::max(worst, std::abs(back[(i + k) * 3 + ch] - model[ch]));
    }
  }
  EXPECT_LE(worst, 5.0);
}

// ---- scaling and icons ---------------------------------------------------

// A 4 x 2 RGB24 frame whose pixel (x, y) is (10x + y, 100 + x, 200 + y).
void fillNumbered(dvrImage& image) {
  std::uint8_t* f = image.buffer(dvrBUF_CURRENT);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      std::uint8_t* p = f + (y * image.width() + x) * 3;
      p[0] = static_cast<std::uint8_t>(10 * x + y);
      p[1] = static_cast<std::uint8_t>(100 + x);
      p[2] = static_cast<std::uint8_t>(200 + y);
    }
}

TEST(ImageScaling, NearestPixelSampling) {
  struct Case {
    const char* label;
    int outW, outH, toFormat;
    std::vector<std::array<int, 2>> sources;  // source pixel of each output pixel, row by row
  };
  const Case cases[] = {
      {"half size", 2, 1, RGB, {{0, 0}, {2, 0}}},
      {"same size", 4, 2, RGB, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {1, 1}, {2, 1}, {3, 1}}},
      {"double size", 8, 1, RGB, {{0, 0}, {0, 0}, {1, 0}, {1, 0}, {2, 0}, {2, 0}, {3, 0}, {3, 0}}},
      {"three columns of four", 3, 2, RGB, {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}}},
      {"rows repeat when taller", 1, 4, RGB, {{0, 0}, {0, 0}, {0, 1}, {0, 1}}},
      // DIB24 samples the bottom-up conversion: its first row is the frame's last.
      {"DIB24 same size", 4, 2, DIB, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {0, 0}, {1, 0}, {2, 0}, {3, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(4, 2, RGB);
    fillNumbered(image);
    Bytes out(static_cast<std::size_t>(c.outW) * c.outH * 3);
    image.scaleToRGB(c.outW, c.outH, out.data(), c.toFormat);
    Bytes expected;
    for (const auto& [x, y] : c.sources) {
      const std::array<int, 3> rgb = {10 * x + y, 100 + x, 200 + y};
      for (int k = 0; k < 3; ++k) expected.push_back(static_cast<std::uint8_t>(rgb[c.toFormat == DIB ? 2 - k : k]));
    }
    EXPECT_EQ(out, expected);
  }
}

TEST(ImageScaling, ConvertsTheNativeFrameFirst) {
  dvrImage image(2, 1, UYVY);
  const std::uint8_t uyvy[] = {128, 235, 128, 16};
  std::memcpy(image.buffer(dvrBUF_CURRENT), uyvy, sizeof uyvy);
  Bytes out(6);
  image.scaleToRGB(2, 1, out.data(), RGB);
  EXPECT_EQ(out, (Bytes{254, 254, 254, 0, 0, 0}));
}

TEST(ImageScaling, OnlyRgbTargetsAreWritten) {
  for (int format : {UYVY, RGB32, BGR, P422, P420, 0}) {
    SCOPED_TRACE(format);
    dvrImage image(4, 2, RGB);
    fillNumbered(image);
    Bytes out(4 * 2 * 3, 0xEE);
    image.scaleToRGB(4, 2, out.data(), format);
    EXPECT_EQ(out, Bytes(4 * 2 * 3, 0xEE));
  }
}

// An 8 x 8 RGB24 frame: left half red, right half blue.
void fillHalves(dvrImage& image) {
  std::uint8_t* f = image.buffer(dvrBUF_CURRENT);
  for (int i = 0; i < image.width() * image.height(); ++i) {
    const bool left = i % image.width() < image.width() / 2;
    f[i * 3] = left ? 255 : 0;
    f[i * 3 + 1] = 0;
    f[i * 3 + 2] = left ? 0 : 255;
  }
}

TEST(ImageIcon, FrameFillsTheMiddleThreeQuartersOfTheSquare) {
  struct Case {
    int size, top, rows;  // rows = trunc(size x 0.75), starting at top
  };
  const Case cases[] = {{64, 8, 48}, {16, 2, 12}, {10, 1, 7}, {4, 0, 3}, {1, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    dvrImage image(8, 8, RGB);
    fillHalves(image);
    const Bytes& icon = image.iconImage(c.size);
    Bytes expected(static_cast<std::size_t>(c.size) * c.size * 3, 0);
    for (int y = c.top; y < c.top + c.rows; ++y)
      for (int x = 0; x < c.size; ++x)
        expected[(y * c.size + x) * 3 + (x < c.size / 2 ? 0 : 2)] = 255;
    EXPECT_EQ(icon, expected);
  }
}

TEST(ImageIcon, SizesAbove64AndBelow1GiveNoIcon) {
  dvrImage image(8, 8, RGB);
  for (int size : {65, 1000, 0, -4}) EXPECT_TRUE(image.iconImage(size).empty()) << size;
  EXPECT_EQ(image.iconImage(64).size(), 64u * 64u * 3u);
}

TEST(ImageIcon, NativeFormatsAreConvertedToRgb) {
  struct Case {
    const char* label;
    int format;
    std::array<int, 3> colour;  // in the terms of the format
    std::array<int, 3> rgb;
  };
  const Case cases[] = {
      {"UYVY", UYVY, {128, 235, 128}, {254, 254, 254}},
      {"BGR24", BGR, {1, 2, 3}, {3, 2, 1}},
      {"YUV422P", P422, {100, 150, 180}, {239, 124, 99}},
      {"YUV420P", P420, {100, 150, 180}, {239, 124, 99}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dvrImage image(8, 8, c.format);
    const Bytes frame = uniform(c.format, 8, 8, c.colour);
    std::memcpy(image.buffer(dvrBUF_CURRENT), frame.data(), frame.size());
    const Bytes& icon = image.iconImage(4);
    ASSERT_EQ(icon.size(), 4u * 4u * 3u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(icon[(1 * 4 + 2) * 3 + k], c.rgb[k]) << k;  // inside
    EXPECT_EQ(icon[(3 * 4 + 2) * 3], 0);  // the black band below
  }
}

TEST(ImageIcon, RemadeAtMostOncePerSecond) {
  dvrImage image(8, 8, RGB);
  std::uint8_t* frame = image.buffer(dvrBUF_CURRENT);
  // Within one wall-clock second a changed frame still gives the icon made first.
  bool sameSecond = false;
  for (int attempt = 0; attempt < 5 && !sameSecond; ++attempt) {
    std::memset(frame, 10 + attempt, image.frameBytes());
    const std::time_t before = std::time(nullptr);
    const Bytes first = image.iconImage(8);
    std::memset(frame, 200, image.frameBytes());
    const Bytes second = image.iconImage(8);
    if (std::time(nullptr) != before) continue;
    sameSecond = true;
    EXPECT_EQ(second, first);
    EXPECT_EQ(second[(4 * 8 + 4) * 3], 10 + attempt);
  }
  ASSERT_TRUE(sameSecond);
  // Once the second has passed it is made again from the current frame.
  const std::time_t made = std::time(nullptr);
  while (std::time(nullptr) == made) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(image.iconImage(8)[(4 * 8 + 4) * 3], 200);
}

}  // namespace
