#include "devices/jpeg_picture.h"

#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include <cstring>

namespace {

bool isFrameHeader(std::uint8_t marker) {
  // SOF0..SOF15 without DHT (C4), JPG (C8) and DAC (CC).
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool hasNoLength(std::uint8_t marker) {
  return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8);
}

// A complete JPEG ends with the end-of-image marker (some cameras pad a few
// bytes after it). A cut-off transfer decodes "successfully" with the rest of
// the picture grey, so a body without it is refused. Inside scan data a 0xFF
// byte is always followed by 0x00 or a restart marker, so FF D9 is the end.
bool hasEndOfImage(const std::uint8_t* data, std::size_t size) {
  const std::size_t from = size > 1024 ? size - 1024 : 0;
  for (std::size_t at = size - 1; at > from; --at)
    if (data[at - 1] == 0xFF && data[at] == 0xD9) return true;
  return false;
}

}  // namespace

bool dvrJpegSize(const std::uint8_t* data, std::size_t size, int& width, int& height) {
  if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  std::size_t at = 2;
  while (at + 1 < size) {
    if (data[at] != 0xFF) return false;  // a segment must start with a marker
    std::uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    at += 2;
    if (hasNoLength(marker)) continue;
    if (marker == 0xD9 || marker == 0xDA) return false;  // end, or scan data before any frame header
    if (at + 2 > size) return false;
    const std::size_t length = (static_cast<std::size_t>(data[at]) << 8) | data[at + 1];
    if (length < 2 || at + length > size) return false;
    if (isFrameHeader(marker)) {
      if (length < 7) return false;
      height = (data[at + 3] << 8) | data[at + 4];
      width = (data[at + 5] << 8) | data[at + 6];
      return width > 0 && height > 0;
    }
    at += length;
  }
  return false;
}

void dvrRegisterJpegDecoder() {
  if (!wxImage::FindHandler(wxBITMAP_TYPE_JPEG)) wxImage::AddHandler(new wxJPEGHandler);
}

dvrJpegResult dvrDecodeJpeg(const std::uint8_t* data, std::size_t size, dvrRgbPicture& picture,
                            int maxSide) {
  int width = 0, height = 0;
  if (!dvrJpegSize(data, size, width, height)) return dvrJpegResult::notJpeg;
  if (width > maxSide || height > maxSide) return dvrJpegResult::tooLarge;
  if (!hasEndOfImage(data, size)) return dvrJpegResult::broken;
  wxImageHandler* handler = wxImage::FindHandler(wxBITMAP_TYPE_JPEG);
  if (!handler) return dvrJpegResult::broken;

  wxLogNull quiet;  // the loader reports a broken picture through the toolkit's log
  wxMemoryInputStream stream(data, size);
  wxImage image;
  // Through the handler with verbose off: wxImage::LoadFile asks for verbose
  // output, and the decoder then prints its complaint about every broken
  // picture to standard error.
  if (!handler->LoadFile(&image, stream, false, -1) || !image.IsOk()) return dvrJpegResult::broken;
  if (image.GetWidth() != width || image.GetHeight() != height) return dvrJpegResult::broken;
  const std::size_t bytes = static_cast<std::size_t>(width) * height * 3;
  picture.width = width;
  picture.height = height;
  picture.rgb.resize(bytes);
  std::memcpy(picture.rgb.data(), image.GetData(), bytes);
  return dvrJpegResult::ok;
}
