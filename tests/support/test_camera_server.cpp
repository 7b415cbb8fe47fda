#include "tests/support/test_camera_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

bool waitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A plain HTTP/1.0 GET on loopback; answers the whole reply.
std::string httpGet(int port, const std::string& target) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return "";
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
      char buffer[4096];
      ssize_t n;
      while ((n = read(fd, buffer, sizeof buffer)) > 0) reply.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return reply;
}

}  // namespace

dvrTestCameraServer::dvrTestCameraServer(const std::vector<std::string>& options) {
  std::vector<std::string> args = {"python3", std::string(TAVEL_SOURCE_DIR) + "/tools/test_camera.py",
                                   "--port-file", dir_.file("port"), "--log", dir_.file("requests.log")};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawnp(&pid_, "python3", nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
    return;
  }
  waitUntil([&] {
    const std::string text = dir_.read("port");
    if (!text.empty() && text.back() == '\n') port_ = std::atoi(text.c_str());
    int status = 0;
    return port_ > 0 || waitpid(pid_, &status, WNOHANG) == pid_;
  });
}

dvrTestCameraServer::~dvrTestCameraServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

std::vector<std::string> dvrTestCameraServer::requests() const {
  std::vector<std::string> lines;
  std::istringstream in(dir_.read("requests.log"));
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

bool dvrTestCameraServer::waitForRequestsBeyond(std::size_t count) const {
  return waitUntil([&] { return requests().size() > count; });
}

bool dvrTestCameraServer::control(const std::string& query) const {
  const std::string reply = httpGet(port_, "/__control?" + query);
  return reply.rfind("HTTP/1.0 200", 0) == 0 || reply.rfind("HTTP/1.1 200", 0) == 0;
}

int dvrClosedLoopbackPort() {
  // Bind a port, then close it: nothing listens there afterwards.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}
