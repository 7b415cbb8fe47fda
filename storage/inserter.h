// The index writer: runs the statements of the recording store (inserts of
// frame rows, deletes of reused page files) on its own connection, in
// batched transactions on its own thread, so that the recording path only
// appends a text to a queue.
//
// A batch: BEGIN TRANSACTION, then the queued lines one by one in queue
// order until the queue is empty or a playback query starts (readers() > 0),
// then beforeCommit (when at least one line ran; the store flushes its page
// files there, so that no committed row points at data not yet on disk),
// then COMMIT. A failing line is logged by the database layer and the batch
// goes on with the next one. Between batches the thread waits up to 10 s
// (40 waits of 250 ms, cut short by stop); while a playback query runs it
// waits 5 ms at a time before starting a batch.
//
// Statements run strictly in queue order and each commit covers a prefix of
// the queue, so after a crash the index holds a prefix of the statement
// stream, and a page-file reuse DELETE queued before the inserts for the
// reused file always runs before them.
//
// stop() ends the thread after one last batch that runs every line still
// queued, whatever readers() says, so that nothing queued before stop is lost.
//
// The connection is put in write-ahead-log mode (journal_mode=WAL), where
// readers on other connections go on seeing the last commit while a batch
// runs, with synchronous=NORMAL: a commit survives a crash of the process,
// and after a power loss the file is consistent though the last commits may
// be missing.
//
// Threads: construction, start, stop and destruction on one owning thread;
// queueStatement and queued from any thread; the Environment functions are
// called on the inserter thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class dvrDB_sqlite;

class dvrInserterThread {
 public:
  // What the thread takes from its surroundings; tests replace them.
  struct Environment {
    // The number of playback queries running; none when unset.
    std::function<int()> readers;
    // Called just before every COMMIT that follows at least one executed line.
    std::function<void()> beforeCommit;
    // When set, replaces the thread's own wait: called with the milliseconds
    // to wait and expected to return when done. Without it the thread waits
    // on its condition variable, which stop wakes at once.
    std::function<void(int milliseconds)> sleep;
  };

  static constexpr std::size_t kMaxStatement = 1023;
  static constexpr int kReaderWaitMs = 5;
  static constexpr int kPauseMs = 250;
  static constexpr int kPauses = 40;

  explicit dvrInserterThread(std::string databasePath, Environment env = {});
  // Stops the thread if it runs.
  ~dvrInserterThread();
  dvrInserterThread(const dvrInserterThread&) = delete;
  dvrInserterThread& operator=(const dvrInserterThread&) = delete;

  // Opens the connection (creating the tables when missing), sets the journal
  // mode and runs the loop on a new thread. Nothing when it runs already.
  void start();
  // Asks the loop to end, wakes it, lets it commit every queued line and
  // close its connection, and joins it. Safe to call more than once.
  void stop();
  bool isRunning() const { return thread_.joinable(); }

  // Appends a copy of one statement. A text longer than kMaxStatement
  // characters is refused with "[DB] Statement too long; not queued." logged
  // as a warning; answers whether it was queued.
  bool queueStatement(std::string_view text);
  // Lines waiting to run.
  std::size_t queued() const;

 private:
  void run();
  // One transaction. final: take every queued line, ignoring readers.
  void runBatch(bool final);
  // Pops the first queued line; false when the queue is empty.
  bool takeLine(std::string& line);
  void pause(int milliseconds);

  std::string path_;
  Environment env_;
  std::unique_ptr<dvrDB_sqlite> db_;  // made by start, closed by the thread at its end
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::mutex waitLock_;
  std::condition_variable wake_;
  mutable std::mutex queueLock_;      // held only to append or pop one line
  std::deque<std::string> queue_;
};
