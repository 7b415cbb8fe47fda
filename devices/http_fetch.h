// One HTTP GET of a snapshot at a time, with a bounded body and an abort
// that takes effect at once, from any thread.
//
// Each fetch uses a fresh transfer (no connection reuse) with a time limit
// for the whole transfer and no signals (it runs on capture threads). Only
// http and https are allowed; redirects are not followed; credentials go
// only as they stand in the URL.
//
// Threads: fetch on one thread at a time (the camera's capture thread);
// abort and clearAbort from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class dvrHttpFetcher {
 public:
  enum class Result {
    ok,        // the body holds what arrived
    empty,     // the transfer ended without a body
    failed,    // no connection, time-out, a transfer error
    tooLarge,  // the body passed the limit: the transfer was cut off
    aborted,   // abort was called
  };

  dvrHttpFetcher();
  ~dvrHttpFetcher();
  dvrHttpFetcher(const dvrHttpFetcher&) = delete;
  dvrHttpFetcher& operator=(const dvrHttpFetcher&) = delete;

  // Fetches the URL into body (cleared first; its storage is reused).
  Result fetch(const std::string& url, std::vector<std::uint8_t>& body, std::size_t limit,
               long timeoutSeconds = 10);
  // Ends the fetch under way at once, and every later one until clearAbort.
  void abort();
  void clearAbort();

 private:
  void* multi_ = nullptr;  // CURLM*, kept for the fetcher's life so that abort can wake it
  std::atomic<bool> aborted_{false};
};

// Once, on the main thread before any fetch thread runs.
void dvrHttpGlobalInit();
