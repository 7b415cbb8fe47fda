// Command lines from a file descriptor (standard input), read without
// blocking: each complete line (without its line break and a carriage return
// before it) is handed on; an over-long line keeps its first kMaxLine
// characters and loses the rest.
//
// Threads: main thread (the lines are executed there).
#pragma once

#include <functional>
#include <string>

class dvrLineReader {
 public:
  static constexpr std::size_t kMaxLine = 4096;

  explicit dvrLineReader(int fd) : fd_(fd) {}
  int fd() const { return fd_; }
  bool open() const { return open_; }
  // Reads what is available (one read call) and hands on complete lines; at
  // end of input the reader closes. Call when the descriptor is readable.
  void readAvailable(const std::function<void(const std::string&)>& onLine);

 private:
  int fd_;
  bool open_ = true;
  bool discarding_ = false;
  std::string pending_;
};
