#include "app/line_reader.h"

#include <unistd.h>

void dvrLineReader::readAvailable(const std::function<void(const std::string&)>& onLine) {
  if (!open_) return;
  char buf[4096];
  ssize_t got = read(fd_, buf, sizeof buf);
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
    open_ = false;
    return;
  }
  for (ssize_t i = 0; i < got; ++i) {
    char c = buf[i];
    if (c == '\n') {
      if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
      std::string line;
      line.swap(pending_);
      discarding_ = false;
      onLine(line);
    } else if (!discarding_) {
      pending_ += c;
      if (pending_.size() >= kMaxLine) discarding_ = true;
    }
  }
}
