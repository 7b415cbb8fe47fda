// A network camera on the "Network" board: every frame is one HTTP GET of a
// snapshot URL built from the camera's settings (the camera-type code picks
// the maker and model), decoded into the camera's RGB image buffer.
//
// The transfer and the decoding run on the capture thread before the
// camera's locks are taken (prepareGrab), into buffers of the camera's own;
// only the copy into the image buffer holds the image lock. Stopping or
// deleting the camera aborts a transfer under way and waits for the thread.
//
// Threads: settings, start and stop on the command thread; prepareGrab and
// grab on the capture thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/http_fetch.h"
#include "devices/jpeg_picture.h"
#include "devices/snapshot_url.h"
#include "pipeline/camera.h"

class dvrCamera_network : public dvrCamera {
 public:
  explicit dvrCamera_network(dvrBoard* board);
  ~dvrCamera_network() override;

  // Builds the URL, shows it (password masked) in "path" and fetches it.
  // False without a new picture: disabled, no host, a camera type outside
  // the families, an address that is not safe to use, or a failed fetch.
  bool prepareGrab() override;
  // Stamps the frame time of the picture prepareGrab brought in.
  bool grab() override;

  // The camera's snapshot address from its settings.
  dvrSnapshotAddress address() const;

  // The camera's own transfer and decoding buffers (capture thread).
  dvrHttpFetcher& fetcher() { return fetcher_; }
  std::vector<std::uint8_t>& body() { return body_; }
  dvrRgbPicture& picture() { return picture_; }

 protected:
  void endCaptureThread() override;

 private:
  void declareNetworkSettings();
  void reportProblem(dvrSnapshotProblem problem, const std::string& value);

  dvrHttpFetcher fetcher_;
  std::vector<std::uint8_t> body_;  // capture thread
  dvrRgbPicture picture_;           // capture thread
  bool fetched_ = false;            // capture thread: prepareGrab brought a new picture
  dvrSnapshotProblem reported_ = dvrSnapshotProblem::none;  // capture thread
};
