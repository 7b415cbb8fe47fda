// Fuzz target: any bytes offered as a camera snapshot either decode into a
// picture of the size the frame header gives, within the size limit, or are
// refused; nothing is read outside the bytes and nothing crashes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "devices/jpeg_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (dvrRegisterJpegDecoder(), true);
  (void)ready;
  constexpr int kMaxSide = 512;  // keeps each run small; the limit itself is what is checked
  int width = 0, height = 0;
  const bool sized = dvrJpegSize(data, size, width, height);
  dvrRgbPicture picture;
  const dvrJpegResult result = dvrDecodeJpeg(data, size, picture, kMaxSide);
  if (result == dvrJpegResult::ok) {
    if (!sized || picture.width != width || picture.height != height) std::abort();
    if (width > kMaxSide || height > kMaxSide) std::abort();
    if (picture.rgb.size() != static_cast<std::size_t>(width) * height * 3) std::abort();
  } else if (!picture.rgb.empty()) {
    std::abort();
  }
  if (result == dvrJpegResult::tooLarge && (!sized || (width <= kMaxSide && height <= kMaxSide))) std::abort();
  return 0;
}
