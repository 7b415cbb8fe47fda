#include "devices/jpeg_picture.h"

#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/mstream.h>

#include <cstdint>
#include <vector>

namespace {

// A JPEG of the size with a red left half and a blue right half.
std::vector<std::uint8_t> makeJpeg(int width, int height) {
  dvrRegisterJpegDecoder();
  wxImage image(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      x < width / 2 ? image.SetRGB(x, y, 230, 20, 20) : image.SetRGB(x, y, 20, 20, 230);
  image.SetOption(wxIMAGE_OPTION_QUALITY, 90);
  wxMemoryOutputStream out;
  EXPECT_TRUE(image.SaveFile(out, wxBITMAP_TYPE_JPEG));
  std::vector<std::uint8_t> bytes(out.GetSize());
  out.CopyTo(bytes.data(), bytes.size());
  return bytes;
}

// The offset of the frame header's height field.
std::size_t frameHeaderSizeAt(const std::vector<std::uint8_t>& jpeg) {
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) return i + 5;
  return 0;
}

TEST(JpegPictureTest, DecodesIntoRgbRows) {
  const auto jpeg = makeJpeg(64, 48);
  int width = 0, height = 0;
  ASSERT_TRUE(dvrJpegSize(jpeg.data(), jpeg.size(), width, height));
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 48);
  dvrRgbPicture picture;
  ASSERT_EQ(dvrDecodeJpeg(jpeg.data(), jpeg.size(), picture), dvrJpegResult::ok);
  ASSERT_EQ(picture.rgb.size(), 64u * 48 * 3);
  const std::uint8_t* left = &picture.rgb[(10 * 64 + 5) * 3];
  const std::uint8_t* right = &picture.rgb[(10 * 64 + 60) * 3];
  EXPECT_GT(left[0], 180);  // R, G, B order
  EXPECT_LT(left[2], 70);
  EXPECT_GT(right[2], 180);
  EXPECT_LT(right[0], 70);
}

TEST(JpegPictureTest, RefusesWhatIsNotACompletePicture) {
  const auto jpeg = makeJpeg(64, 48);
  std::vector<std::uint8_t> huge = jpeg;
  const std::size_t at = frameHeaderSizeAt(huge);
  ASSERT_NE(at, 0u);
  huge[at] = 0xEA;  // 60000 x 60000: refused before anything is allocated
  huge[at + 1] = 0x60;
  huge[at + 2] = 0xEA;
  huge[at + 3] = 0x60;
  std::vector<std::uint8_t> garbage(4000);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
  std::vector<std::uint8_t> html = {'<', 'h', 't', 'm', 'l', '>', '4', '0', '4'};
  std::vector<std::uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
  std::vector<std::uint8_t> headerOnly(jpeg.begin(), jpeg.begin() + static_cast<long>(at) + 2);
  std::vector<std::uint8_t> brokenScan = jpeg;  // header intact, scan data overwritten
  for (std::size_t i = brokenScan.size() / 2; i + 2 < brokenScan.size(); ++i) brokenScan[i] = 0xFF;

  struct Row {
    const char* label;
    const std::vector<std::uint8_t>* bytes;
    dvrJpegResult result;
  };
  const std::vector<std::uint8_t> empty;
  const Row rows[] = {
      {"empty", &empty, dvrJpegResult::notJpeg},
      {"an error page", &html, dvrJpegResult::notJpeg},
      {"random bytes", &garbage, dvrJpegResult::notJpeg},
      {"ends inside the frame header", &headerOnly, dvrJpegResult::notJpeg},
      {"60000 x 60000", &huge, dvrJpegResult::tooLarge},
      {"cut off half way", &cut, dvrJpegResult::broken},
      {"scan data destroyed", &brokenScan, dvrJpegResult::broken},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    dvrRgbPicture picture;
    EXPECT_EQ(dvrDecodeJpeg(r.bytes->data(), r.bytes->size(), picture), r.result);
    EXPECT_TRUE(picture.rgb.empty());
  }
}

}  // namespace
