// Where the capture threads hand their compressed frames. The page-file store
// lives in a library above this one: it implements this interface and
// installs it at start-up; until then (and in passive mode) there is no sink
// and compressed frames are dropped without a message.
//
// Threads: put is called by every capture thread, with that camera's codec
// and image locks held; it must only queue the frame and return at once.
// The installer keeps the sink alive until every camera is stopped.
#pragma once

#include <cstdint>

#include "pipeline/frame.h"

class dvrFrameSink {
 public:
  virtual ~dvrFrameSink() = default;
  // Takes a copy of the record and the payload bytes, or refuses (false)
  // when the queue is full; the caller retries.
  virtual bool put(const dvrFrameRecord& record, const std::uint8_t* payload, int size) = 0;
};

// The process's frame sink, or null.
dvrFrameSink* dvrFrameSinkInstance();
void dvrSetFrameSink(dvrFrameSink* sink);
