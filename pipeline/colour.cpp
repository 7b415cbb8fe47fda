#include "pipeline/colour.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "pipeline/image.h"

namespace {

// UYVY to RGB uses BT.601 studio-range factors with 16 fractional bits, one
// 256-entry table per factor so that a pixel costs additions and a shift.
struct ColourTables {
  int luma[256];     //  76309 x (Y - 16)
  int redV[256];     // 104597 x (V - 128)
  int greenV[256];   //  53279 x (V - 128)
  int greenU[256];   //  25675 x (U - 128)
  int blueU[256];    // 132201 x (U - 128)
};

ColourTables g_tables;
std::once_flag g_tablesOnce;

const ColourTables& tables() {
  dvrBuildColourTables();
  return g_tables;
}

inline std::uint8_t clampByte(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Writes one pixel in the order of the template: R, G, B (rgbOrder) or B, G, R.
template <bool rgbOrder>
inline void storePixel(const ColourTables& t, int y, int redV, int greenUV, int blueU,
                       std::uint8_t* out) {
  const int c = t.luma[y];
  const std::uint8_t r = clampByte((c + redV) >> 16);
  const std::uint8_t g = clampByte((c - greenUV) >> 16);
  const std::uint8_t b = clampByte((c + blueU) >> 16);
  out[0] = rgbOrder ? r : b;
  out[1] = g;
  out[2] = rgbOrder ? b : r;
}

template <bool rgbOrder, bool bottomUp>
void uyvyToThreeByte(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  const ColourTables& t = tables();
  const std::size_t inRow = static_cast<std::size_t>(width) * 2;
  const std::size_t outRow = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = src + static_cast<std::size_t>(y) * inRow;
    std::uint8_t* d = dst + static_cast<std::size_t>(bottomUp ? height - 1 - y : y) * outRow;
    int x = 0;
    for (; x + 1 < width; x += 2, s += 4, d += 6) {
      const int u = s[0], v = s[2];
      const int redV = t.redV[v], greenUV = t.greenV[v] + t.greenU[u], blueU = t.blueU[u];
      storePixel<rgbOrder>(t, s[1], redV, greenUV, blueU, d);
      storePixel<rgbOrder>(t, s[3], redV, greenUV, blueU, d + 3);
    }
    if (x < width) {
      // Odd width: the last pixel has only its U and Y bytes in the row; it
      // borrows the V of the pair before it.
      const int u = s[0], v = x > 0 ? s[-2] : 128;
      storePixel<rgbOrder>(t, s[1], t.redV[v], t.greenV[v] + t.greenU[u], t.blueU[u], d);
    }
  }
}

// RGB to UYVY with full-range luma; r, g, b are the byte offsets of the
// channels in a three-byte source pixel.
template <int r, int g, int b>
void threeByteToUyvy(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  auto luma = [](const std::uint8_t* p) {
    return static_cast<std::uint8_t>((9798 * p[r] + 19235 * p[g] + 3736 * p[b]) >> 15);
  };
  // The V of saturated colours leaves 0..255 (pure red gives 285, cyan -30):
  // both chroma bytes are clamped, since wrapping them round would turn a
  // red into a green and a cyan into a magenta.
  auto chroma = [](const std::uint8_t* p0, const std::uint8_t* p1, std::uint8_t* out) {
    const int rs = p0[r] + p1[r], gs = p0[g] + p1[g], bs = p0[b] + p1[b];
    out[0] = clampByte(((bs * 7111 - gs * 4719 - rs * 2392) >> 15) + 128);
    out[2] = clampByte(((rs * 10109 - gs * 8470 - bs * 1639) >> 15) + 128);
  };
  const std::size_t inRow = static_cast<std::size_t>(width) * 3;
  const std::size_t outRow = static_cast<std::size_t>(width) * 2;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = src + static_cast<std::size_t>(y) * inRow;
    std::uint8_t* d = dst + static_cast<std::size_t>(y) * outRow;
    int x = 0;
    for (; x + 1 < width; x += 2, s += 6, d += 4) {
      chroma(s, s + 3, d);
      d[1] = luma(s);
      d[3] = luma(s + 3);
    }
    if (x < width) {
      // Odd width: the last pixel keeps its U and Y; its V has no room in the row.
      std::uint8_t pair[4];
      chroma(s, s, pair);
      d[0] = pair[0];
      d[1] = luma(s);
    }
  }
}

}  // namespace

void dvrBuildColourTables() {
  std::call_once(g_tablesOnce, [] {
    for (int i = 0; i < 256; ++i) {
      g_tables.luma[i] = 76309 * (i - 16);
      g_tables.redV[i] = 104597 * (i - 128);
      g_tables.greenV[i] = 53279 * (i - 128);
      g_tables.greenU[i] = 25675 * (i - 128);
      g_tables.blueU[i] = 132201 * (i - 128);
    }
  });
}

int dvrBytesPerPixel(int format) {
  switch (format) {
    case dvrFORMAT_RGB24:
    case dvrFORMAT_BGR24:
    case dvrFORMAT_DIB24:
      return 3;
    case dvrFORMAT_RGB32:
      return 4;
    default:
      return 2;
  }
}

namespace dvrColour {

void uyvyToRgb(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  uyvyToThreeByte<true, false>(src, dst, width, height);
}

void uyvyToDib(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  uyvyToThreeByte<false, true>(src, dst, width, height);
}

void rgbToUyvy(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  threeByteToUyvy<0, 1, 2>(src, dst, width, height);
}

void bgrToUyvy(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  threeByteToUyvy<2, 1, 0>(src, dst, width, height);
}

void uyvyToYuv422p(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  const int half = width / 2;
  std::uint8_t* yPlane = dst;
  std::uint8_t* uPlane = dst + pixels;
  std::uint8_t* vPlane = uPlane + static_cast<std::size_t>(half) * height;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = src + static_cast<std::size_t>(y) * width * 2;
    std::uint8_t* yd = yPlane + static_cast<std::size_t>(y) * width;
    std::uint8_t* ud = uPlane + static_cast<std::size_t>(y) * half;
    std::uint8_t* vd = vPlane + static_cast<std::size_t>(y) * half;
    for (int i = 0; i < half; ++i, s += 4) {
      ud[i] = s[0];
      yd[2 * i] = s[1];
      vd[i] = s[2];
      yd[2 * i + 1] = s[3];
    }
    if (width & 1) yd[width - 1] = s[1];
  }
}

void uyvyToYuv420p(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  const int half = width / 2;
  const int chromaRows = height / 2;
  std::uint8_t* yPlane = dst;
  std::uint8_t* uPlane = dst + pixels;
  std::uint8_t* vPlane = uPlane + static_cast<std::size_t>(half) * chromaRows;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = src + static_cast<std::size_t>(y) * width * 2;
    std::uint8_t* yd = yPlane + static_cast<std::size_t>(y) * width;
    for (int x = 0; x < width; ++x) yd[x] = s[2 * x + 1];
    if ((y & 1) || y / 2 >= chromaRows) continue;
    std::uint8_t* ud = uPlane + static_cast<std::size_t>(y / 2) * half;
    std::uint8_t* vd = vPlane + static_cast<std::size_t>(y / 2) * half;
    for (int i = 0; i < half; ++i) {
      ud[i] = s[4 * i];
      vd[i] = s[4 * i + 2];
    }
  }
}

namespace {

// Interleaves one picture row from its Y row and chroma rows (null: grey).
void interleaveRow(const std::uint8_t* ys, const std::uint8_t* us, const std::uint8_t* vs,
                   int width, std::uint8_t* d) {
  const int half = width / 2;
  for (int i = 0; i < half; ++i, d += 4) {
    d[0] = us ? us[i] : 128;
    d[1] = ys[2 * i];
    d[2] = vs ? vs[i] : 128;
    d[3] = ys[2 * i + 1];
  }
  if (width & 1) {
    d[0] = (us && half > 0) ? us[half - 1] : 128;
    d[1] = ys[width - 1];
  }
}

}  // namespace

void yuv422pToUyvy(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  const int half = width / 2;
  const std::uint8_t* uPlane = src + pixels;
  const std::uint8_t* vPlane = uPlane + static_cast<std::size_t>(half) * height;
  for (int y = 0; y < height; ++y) {
    const bool chroma = half > 0;
    interleaveRow(src + static_cast<std::size_t>(y) * width,
                  chroma ? uPlane + static_cast<std::size_t>(y) * half : nullptr,
                  chroma ? vPlane + static_cast<std::size_t>(y) * half : nullptr, width,
                  dst + static_cast<std::size_t>(y) * width * 2);
  }
}

void yuv420pToUyvy(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  const int half = width / 2;
  const int chromaRows = height / 2;
  const std::uint8_t* uPlane = src + pixels;
  const std::uint8_t* vPlane = uPlane + static_cast<std::size_t>(half) * chromaRows;
  for (int y = 0; y < height; ++y) {
    // Each chroma row serves two picture rows; an odd last row reuses the last one.
    const int row = std::min(y / 2, chromaRows - 1);
    const bool chroma = half > 0 && row >= 0;
    interleaveRow(src + static_cast<std::size_t>(y) * width,
                  chroma ? uPlane + static_cast<std::size_t>(row) * half : nullptr,
                  chroma ? vPlane + static_cast<std::size_t>(row) * half : nullptr, width,
                  dst + static_cast<std::size_t>(y) * width * 2);
  }
}

void swapRedBlue(const std::uint8_t* src, std::uint8_t* dst, int width, int height) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  for (std::size_t i = 0; i < pixels; ++i, src += 3, dst += 3) {
    dst[0] = src[2];
    dst[1] = src[1];
    dst[2] = src[0];
  }
}

void flipRows(const std::uint8_t* src, std::uint8_t* dst, int width, int height, bool swap) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = src + static_cast<std::size_t>(y) * row;
    std::uint8_t* d = dst + static_cast<std::size_t>(height - 1 - y) * row;
    if (swap) {
      swapRedBlue(s, d, width, 1);
    } else {
      std::memcpy(d, s, row);
    }
  }
}

}  // namespace dvrColour

bool dvrConvertPicture(int from, int to, const std::uint8_t* src, std::uint8_t* dst,
                       std::uint8_t* scratch, int width, int height) {
  using namespace dvrColour;
  if (!src || !dst || width <= 0 || height <= 0) return false;
  if (from < 0 || from > 15 || to < 0 || to > 15) return false;  // keeps the pair key unique
  if (from == to) {
    std::memcpy(dst, src, static_cast<std::size_t>(width) * height * dvrBytesPerPixel(from));
    return true;
  }
  // Pairs that pass through UYVY in the scratch buffer.
  auto viaScratch = [&](void (*first)(const std::uint8_t*, std::uint8_t*, int, int),
                        void (*second)(const std::uint8_t*, std::uint8_t*, int, int)) {
    if (!scratch) return false;
    first(src, scratch, width, height);
    second(scratch, dst, width, height);
    return true;
  };
  switch (from * 16 + to) {
    case dvrFORMAT_UYVY * 16 + dvrFORMAT_RGB24:
      uyvyToRgb(src, dst, width, height);
      return true;
    case dvrFORMAT_UYVY * 16 + dvrFORMAT_YUV422P:
      uyvyToYuv422p(src, dst, width, height);
      return true;
    case dvrFORMAT_UYVY * 16 + dvrFORMAT_YUV420P:
      uyvyToYuv420p(src, dst, width, height);
      return true;
    case dvrFORMAT_UYVY * 16 + dvrFORMAT_DIB24:
      uyvyToDib(src, dst, width, height);
      return true;
    case dvrFORMAT_RGB24 * 16 + dvrFORMAT_UYVY:
      rgbToUyvy(src, dst, width, height);
      return true;
    case dvrFORMAT_RGB24 * 16 + dvrFORMAT_YUV422P:
      return viaScratch(rgbToUyvy, uyvyToYuv422p);
    case dvrFORMAT_RGB24 * 16 + dvrFORMAT_YUV420P:
      return viaScratch(rgbToUyvy, uyvyToYuv420p);
    case dvrFORMAT_RGB24 * 16 + dvrFORMAT_DIB24:
      flipRows(src, dst, width, height, true);
      return true;
    case dvrFORMAT_BGR24 * 16 + dvrFORMAT_RGB24:
      swapRedBlue(src, dst, width, height);
      return true;
    // BGR24 into the planar formats exchanges R and B while converting to
    // UYVY, which gives the same bytes as a separate exchange pass without
    // needing a third buffer.
    case dvrFORMAT_BGR24 * 16 + dvrFORMAT_YUV422P:
      return viaScratch(bgrToUyvy, uyvyToYuv422p);
    case dvrFORMAT_BGR24 * 16 + dvrFORMAT_YUV420P:
      return viaScratch(bgrToUyvy, uyvyToYuv420p);
    case dvrFORMAT_BGR24 * 16 + dvrFORMAT_DIB24:
      flipRows(src, dst, width, height, false);
      return true;
    case dvrFORMAT_YUV422P * 16 + dvrFORMAT_UYVY:
      yuv422pToUyvy(src, dst, width, height);
      return true;
    case dvrFORMAT_YUV422P * 16 + dvrFORMAT_RGB24:
      return viaScratch(yuv422pToUyvy, uyvyToRgb);
    case dvrFORMAT_YUV420P * 16 + dvrFORMAT_UYVY:
      yuv420pToUyvy(src, dst, width, height);
      return true;
    case dvrFORMAT_YUV420P * 16 + dvrFORMAT_RGB24:
      return viaScratch(yuv420pToUyvy, uyvyToRgb);
    default:
      return false;
  }
}
