#include "devices/board_http.h"

#include <cstring>
#include <mutex>

#include "core/settings.h"
#include "devices/camera_network.h"
#include "devices/http_fetch.h"
#include "devices/jpeg_picture.h"
#include "pipeline/image.h"

bool dvrBoard_http::fetchImage(const std::string& url, dvrCamera_network& camera) {
  std::vector<std::uint8_t>& body = camera.body();
  if (camera.fetcher().fetch(url, body, kMaxBodyBytes) != dvrHttpFetcher::Result::ok) return false;
  dvrRgbPicture& picture = camera.picture();
  const dvrJpegResult decoded = dvrDecodeJpeg(body.data(), body.size(), picture);
  body.clear();
  if (decoded != dvrJpegResult::ok) return false;

  std::lock_guard<std::recursive_mutex> lock(camera.imageLock());
  dvrImage* image = camera.image();
  if (!image) return false;
  if (image->width() == picture.width && image->height() == picture.height &&
      image->format() == dvrFORMAT_RGB24) {
    std::uint8_t* to = image->buffer(dvrBUF_CURRENT);
    if (!to) return false;
    std::memcpy(to, picture.rgb.data(), std::min(picture.rgb.size(), image->frameBytes()));
    return true;
  }
  // Another size: the next re-initialisation (on Refresh) makes the buffer in it.
  camera.setForcedSize(picture.width, picture.height);
  camera.settings().setInt("force_size", 1);
  camera.settings().setInt("restartnow", 1);
  return false;
}
