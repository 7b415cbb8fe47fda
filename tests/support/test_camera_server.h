// The test camera server (tools/test_camera.py) as a child process of a
// test: started on a free loopback port with its own request log, told to
// change its behaviour through its control path, ended with the test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/fixture.h"

class dvrTestCameraServer {
 public:
  // Starts the server with extra options ("--still", "--size", "704x576", ...);
  // ok() tells whether it came up.
  explicit dvrTestCameraServer(const std::vector<std::string>& options = {});
  ~dvrTestCameraServer();
  dvrTestCameraServer(const dvrTestCameraServer&) = delete;
  dvrTestCameraServer& operator=(const dvrTestCameraServer&) = delete;

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  std::string portText() const { return std::to_string(port_); }

  // The request lines logged so far, in order.
  std::vector<std::string> requests() const;
  // Waits (up to 20 s) until more than count requests were logged.
  bool waitForRequestsBeyond(std::size_t count) const;
  // GET /__control?<query>; true when the server answered "ok".
  bool control(const std::string& query) const;

 private:
  dvrTempDir dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A loopback port on which nothing listens (a refused connection).
int dvrClosedLoopbackPort();
