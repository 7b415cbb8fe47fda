// The page-file store: recorded frames go into a ring of preallocated page
// files on the recording drives and are indexed by time, camera and position
// in the recording index.
//
// Capture threads hand frames over with enqueueFrame (the frame sink of the
// capture pipeline); a queue of 99 slots with one spare, whose payload
// buffers are allocated once, carries them to the writer thread, the only
// thread that moves the write position and writes page files. Each written
// frame queues its index row with the inserter; a page file that is reused
// first has its rows deleted; every 10 seconds the write position is saved
// in the Pointer row. All of it goes through the inserter in one ordered
// statement stream committed in whole prefixes, so after a crash the index
// is a prefix of what was written; before each commit the page files
// written since the last one are forced to disk, so an index row never
// points at bytes that a power cut lost.
//
// Start-up resumes after the last record the index shows and then indexes
// every valid record the page files hold beyond it (a crash loses at most
// the frames still in the queue), so written frames are never overwritten
// while indexed and never left out of the index.
//
// Threads: enqueueFrame from any capture thread (queue lock held only for
// the copy); pauseInserts/resumeInserts from playback threads; start and
// stop on the main thread; the writer thread inside.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/frame_sink.h"
#include "storage/drive_file.h"
#include "storage/record.h"

class dvrDB_sqlite;
class dvrInserterThread;
class dvrFile;

struct dvrRecordPosition {
  std::uint8_t drive = 0;  // index into the drive table
  std::uint16_t page = 0;
  std::uint32_t offset = 0;

  friend bool operator==(const dvrRecordPosition&, const dvrRecordPosition&) = default;
};

class dvrFileSystem : public dvrFrameSink {
 public:
  static constexpr int kQueueSlots = 100;  // 99 in use at most, one spare
  static constexpr int kMaxQueued = kQueueSlots - 1;
  // The writer polls the queue every 5 ms; a capture thread wakes it earlier
  // only when this many frames wait, so that at high frame rates it writes
  // them in runs instead of being woken for every frame.
  static constexpr int kWakeWriterAt = 8;
  static constexpr int kSaveSeconds = 10;
  static constexpr int kWatchdogSeconds = 200;

  struct Environment {
    std::uint32_t pageFileSize = dvrPAGE_FILE_SIZE;  // tests use small page files
    std::function<std::int64_t()> now;               // seconds; default the system clock
    std::string databasePath;                        // default the index on drive d
    bool startWriter = true;                         // tests drive the writer with writeNext()
  };

  explicit dvrFileSystem(std::vector<dvrDrive> drives);
  dvrFileSystem(std::vector<dvrDrive> drives, Environment env);
  ~dvrFileSystem() override;

  // Creates the capture directories, opens the index, restores the write
  // position, indexes records written after the last indexed one, and starts
  // the inserter and the writer.
  bool start();
  // Writes what is still queued, saves the position, and stops the writer and
  // then the inserter, which commits every queued statement.
  void stop();

  // The frame sink: copies the frame into a free slot. False when 99 frames
  // wait; true (and the frame dropped) for a payload size outside 1..262143.
  bool enqueueFrame(const std::uint8_t* payload, const dvrFrameRecord& record);
  bool put(const dvrFrameRecord& record, const std::uint8_t* payload, int size) override;
  int queuedFrames() const;

  // Playback brackets its index queries with these; inserting waits meanwhile.
  void pauseInserts();
  void resumeInserts();
  int readers() const { return readers_.load(); }

  const std::vector<dvrDrive>& drives() const { return drives_; }
  dvrRecordPosition position() const;
  // The index of the drive with this letter (any case), 0 when none has it.
  int driveIndex(char letter) const;
  std::string pageFilePath(const dvrRecordPosition& at) const;
  // Frames indexed at start-up from the page files (written after the last
  // index commit before a crash).
  int recoveredFrames() const { return recovered_; }

  // Takes one queued frame and writes it; false when the queue was empty.
  // The writer thread's step, callable by tests when it is not started.
  bool writeNext();

 private:
  struct Slot {
    std::uint8_t record[dvrFRAME_RECORD_SIZE];
    std::uint8_t* payload = nullptr;
    std::int32_t size = 0;
  };

  void restorePosition(dvrDB_sqlite& db);
  void recoverUnindexed();
  bool readRecordAt(const dvrRecordPosition& at, dvrStoredRecord& out);
  dvrRecordPosition nextPage(dvrRecordPosition at) const;
  void queueStatement(const std::string& sql);
  void savePosition();
  void syncWrittenFiles();
  void writerLoop();
  char letterOf(const dvrRecordPosition& at) const;

  std::vector<dvrDrive> drives_;
  Environment env_;
  std::unique_ptr<dvrInserterThread> inserter_;

  mutable std::mutex queueLock_;
  std::condition_variable queued_;
  Slot slots_[kQueueSlots];
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers_;
  int head_ = 0;   // first used slot (ring)
  int count_ = 0;  // slots in use

  // Writer thread state.
  std::unique_ptr<std::uint8_t[]> data_;  // "qd.data": the payload being written
  std::unique_ptr<dvrFile> current_;      // the page file being written
  mutable std::mutex positionLock_;
  dvrRecordPosition position_;
  std::int64_t lastIndexedTime_ = 0;  // time of the frame indexed last, at start-up
  std::int64_t lastWrite_ = 0;
  std::int64_t lastSave_ = 0;
  bool writeFailureLogged_ = false;
  std::mutex syncLock_;
  std::set<std::string> unsynced_;  // page files written since the last commit

  std::atomic<int> readers_{0};
  std::atomic<bool> stopping_{false};
  std::thread writer_;
  bool started_ = false;
  int recovered_ = 0;
};

// The process's store, or null in passive mode.
dvrFileSystem* dvrFileSystemInstance();
void dvrSetFileSystem(dvrFileSystem* store);
