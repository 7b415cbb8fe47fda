#include "storage/file_system.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/console.h"
#include "core/language.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/run_statistics.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/watchdog.h"
#include "pipeline/image.h"
#include "storage/index_db.h"
#include "storage/index_queries.h"
#include "storage/inserter.h"
#include "storage/page_file.h"

namespace {

std::atomic<dvrFileSystem*> instance{nullptr};

std::int64_t systemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The first value of a column of a one-row answer, or null.
const std::string* firstValue(const dvrColumnTable& table, const char* column) {
  auto it = table.find(column);
  return it == table.end() || it->second.empty() ? nullptr : &it->second.front();
}

}  // namespace

dvrFileSystem* dvrFileSystemInstance() { return instance.load(); }
void dvrSetFileSystem(dvrFileSystem* store) {
  instance.store(store);
  dvrSetFrameSink(store);
}

dvrFileSystem::dvrFileSystem(std::vector<dvrDrive> drives) : dvrFileSystem(std::move(drives), Environment{}) {}

dvrFileSystem::dvrFileSystem(std::vector<dvrDrive> drives, Environment env)
    : drives_(std::move(drives)), env_(std::move(env)) {
  if (!env_.now) env_.now = systemSeconds;
  if (env_.databasePath.empty()) env_.databasePath = dvrIndexDatabasePath();
  for (Slot& slot : slots_) {
    buffers_.push_back(std::make_unique<std::uint8_t[]>(DVR_MAX_COMPRESSED_SIZE));
    slot.payload = buffers_.back().get();
  }
  data_ = std::make_unique<std::uint8_t[]>(DVR_MAX_COMPRESSED_SIZE);
}

dvrFileSystem::~dvrFileSystem() {
  stop();
  if (dvrFileSystemInstance() == this) dvrSetFileSystem(nullptr);
}

char dvrFileSystem::letterOf(const dvrRecordPosition& at) const {
  return at.drive < drives_.size() ? drives_[at.drive].letter : 'D';
}

int dvrFileSystem::driveIndex(char letter) const {
  const char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (std::size_t i = 0; i < drives_.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(drives_[i].letter)) == wanted) return static_cast<int>(i);
  return 0;
}

std::string dvrFileSystem::pageFilePath(const dvrRecordPosition& at) const {
  return dvrPageFilePath(letterOf(at), at.page);
}

dvrRecordPosition dvrFileSystem::position() const {
  std::lock_guard<std::mutex> lock(positionLock_);
  return position_;
}

dvrRecordPosition dvrFileSystem::nextPage(dvrRecordPosition at) const {
  at.offset = 0;
  ++at.page;
  const int count = at.drive < drives_.size() ? drives_[at.drive].pageFiles : 0;
  if (at.page >= count) {
    at.page = 0;
    at.drive = drives_.empty() ? 0 : static_cast<std::uint8_t>((at.drive + 1) % drives_.size());
  }
  return at;
}

void dvrFileSystem::queueStatement(const std::string& sql) {
  if (inserter_) inserter_->queueStatement(sql);
}

bool dvrFileSystem::start() {
  if (started_ || drives_.empty()) return started_;
  for (const dvrDrive& drive : drives_) dvrMakeDirectory(dvrCaptureDirectory(drive.letter));
  dvrMakeDirectory(dvrCaptureDirectory('d'));
  {
    dvrDB_sqlite db(env_.databasePath);
    dvrEnsureIndexSchema(db);
    restorePosition(db);
  }
  dvrInserterThread::Environment inserterEnv;
  inserterEnv.readers = [this] { return readers_.load(); };
  inserterEnv.beforeCommit = [this] { syncWrittenFiles(); };
  inserter_ = std::make_unique<dvrInserterThread>(env_.databasePath, inserterEnv);
  recoverUnindexed();
  inserter_->start();
  lastWrite_ = lastSave_ = env_.now();
  stopping_ = false;
  if (env_.startWriter) writer_ = std::thread([this] { writerLoop(); });
  started_ = true;
  return true;
}

void dvrFileSystem::stop() {
  if (!started_) return;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    stopping_ = true;
  }
  queued_.notify_all();
  if (writer_.joinable()) writer_.join();
  // What the capture threads handed over is written, not dropped.
  while (writeNext()) {
  }
  current_.reset();
  savePosition();
  inserter_->stop();
  inserter_.reset();
  started_ = false;
}

void dvrFileSystem::restorePosition(dvrDB_sqlite& db) {
  auto positionFrom = [this](const dvrColumnTable& t, dvrRecordPosition& at) {
    const std::string* partition = firstValue(t, "phys_partition");
    const std::string* page = firstValue(t, "phys_fn");
    const std::string* offset = firstValue(t, "phys_offset");
    if (!partition || !page || !offset) return false;
    at.drive = static_cast<std::uint8_t>(driveIndex(partition->empty() ? 'D' : (*partition)[0]));
    at.page = static_cast<std::uint16_t>(std::atoi(page->c_str()));
    at.offset = static_cast<std::uint32_t>(std::strtoul(offset->c_str(), nullptr, 10));
    return true;
  };
  dvrRecordPosition at;
  dvrColumnTable pointer;
  if (!db.queryColumns(
          dvrDBQuery_sql("SELECT id, phys_partition, phys_fn, phys_offset FROM Pointer WHERE type LIKE 'record_store'"),
          pointer) ||
      !positionFrom(pointer, at)) {
    dvrColumnTable newest;
    at = {};
    if (db.queryColumns(dvrDBQuery_sql("SELECT phys_partition, phys_fn, phys_offset FROM Datum ORDER BY time DESC LIMIT 1"),
                        newest))
      positionFrom(newest, at);
    db.execute(dvrFormat("INSERT INTO Pointer (id, type, phys_partition, phys_fn, phys_offset) VALUES (0, "
                         "'record_store', '%c', %d, %u)",
                         letterOf(at), at.page, at.offset));
  }

  // The saved position lags up to 10 seconds behind the last indexed frame;
  // writing there would overwrite indexed frames. Resume after the frame
  // indexed last (the rows are a prefix of the writer's statement stream).
  dvrColumnTable last;
  lastIndexedTime_ = INT64_MIN;
  if (db.queryColumns(
          dvrDBQuery_sql("SELECT phys_partition, phys_fn, phys_offset, bytes, time FROM Datum ORDER BY id DESC LIMIT 1"),
          last)) {
    dvrRecordPosition end;
    const std::string* bytes = firstValue(last, "bytes");
    const std::string* time = firstValue(last, "time");
    if (bytes && time && positionFrom(last, end)) {
      end.offset += static_cast<std::uint32_t>(dvrRECORD_PREFIX_SIZE + std::strtoul(bytes->c_str(), nullptr, 10));
      at = end;
      lastIndexedTime_ = std::atoll(time->c_str());
    }
  }
  if (at.drive >= drives_.size()) at = {};
  if (drives_[at.drive].pageFiles > 0 && at.page >= drives_[at.drive].pageFiles) at = {at.drive, 0, 0};
  std::lock_guard<std::mutex> lock(positionLock_);
  position_ = at;
}

bool dvrFileSystem::readRecordAt(const dvrRecordPosition& at, dvrStoredRecord& out) {
  dvrFile file(pageFilePath(at));
  const bool ok = file.isOpen() && dvrReadStoredRecord(file, at.offset, env_.pageFileSize, out);
  file.closeFile();
  return ok;
}

void dvrFileSystem::recoverUnindexed() {
  // Records written after the last index commit are on disk: index every
  // valid one that follows, in the order written (times never go back), and
  // follow the writer into the next page file when it had rolled over.
  dvrRecordPosition at = position();
  std::int64_t lastTime = lastIndexedTime_;
  const std::uint64_t pageSize = env_.pageFileSize;
  for (;;) {
    dvrStoredRecord record;
    if (readRecordAt(at, record) && record.extension.seconds >= lastTime) {
      queueStatement(dvrDatumInsertSql(dvrIndexRowOf(record, letterOf(at), at.page, at.offset)));
      at.offset += static_cast<std::uint32_t>(dvrRECORD_PREFIX_SIZE + record.header.payloadSize);
      lastTime = record.extension.seconds;
      ++recovered_;
      continue;
    }
    const bool couldRollOver = std::uint64_t{at.offset} + dvrFRAME_MAX_PAYLOAD + dvrROLLOVER_MARGIN > pageSize;
    const dvrRecordPosition next = nextPage(at);
    if (couldRollOver && !(next == at) && readRecordAt(next, record) && record.extension.seconds >= lastTime) {
      queueStatement(dvrFormat("DELETE FROM Datum WHERE phys_fn = %d AND phys_partition='%c'", next.page,
                               letterOf(next)));
      at = next;
      continue;
    }
    break;
  }
  if (recovered_ > 0)
    dvrLogMessage(dvrTr("[FILESYSTEM] Indexed %d frames that were written after the last index update.").c_str(),
                  recovered_);
  std::lock_guard<std::mutex> lock(positionLock_);
  position_ = at;
}

bool dvrFileSystem::enqueueFrame(const std::uint8_t* payload, const dvrFrameRecord& record) {
  std::lock_guard<std::mutex> lock(queueLock_);
  if (count_ >= kMaxQueued) return false;
  const std::uint32_t size = record.header.payloadSize;
  if (size >= 1 && size <= dvrFRAME_MAX_PAYLOAD && payload) {
    Slot& slot = slots_[(head_ + count_) % kQueueSlots];
    dvrEncodeFrameRecord(record, slot.record);
    std::memcpy(slot.payload, payload, size);
    slot.size = static_cast<std::int32_t>(size);
    ++count_;
    if (count_ == kWakeWriterAt) queued_.notify_one();
  }
  return true;
}

bool dvrFileSystem::put(const dvrFrameRecord& record, const std::uint8_t* payload, int size) {
  if (size < 0 || static_cast<std::uint32_t>(size) != record.header.payloadSize) return true;  // dropped
  return enqueueFrame(payload, record);
}

int dvrFileSystem::queuedFrames() const {
  std::lock_guard<std::mutex> lock(queueLock_);
  return count_;
}

void dvrFileSystem::pauseInserts() { ++readers_; }

void dvrFileSystem::resumeInserts() {
  int current = readers_.load();
  while (current > 0 && !readers_.compare_exchange_weak(current, current - 1)) {
  }
}

void dvrFileSystem::savePosition() {
  const dvrRecordPosition at = position();
  queueStatement(dvrFormat("UPDATE Pointer SET phys_partition = '%c', phys_fn = %d, phys_offset = %u WHERE type "
                           "LIKE 'record_store'",
                           letterOf(at), at.page, at.offset));
  lastSave_ = env_.now();
}

void dvrFileSystem::syncWrittenFiles() {
  std::set<std::string> paths;
  {
    std::lock_guard<std::mutex> lock(syncLock_);
    paths.swap(unsynced_);
  }
  for (const std::string& path : paths) dvrFile::syncPath(path);
}

bool dvrFileSystem::writeNext() {
  dvrFrameRecord record;
  std::int32_t size = 0;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    if (count_ == 0) return false;
    Slot& slot = slots_[head_];
    const bool decoded = dvrDecodeFrameRecord(slot.record, record);
    size = slot.size;
    std::memcpy(data_.get(), slot.payload, static_cast<std::size_t>(size));
    head_ = (head_ + 1) % kQueueSlots;
    --count_;
    if (!decoded) {
      dvrCountFrameEvent(dvrFrameEvent::storeLost);
      return true;
    }
  }
  dvrRecordPosition at = position();
  if (std::uint64_t{at.offset} + static_cast<std::uint64_t>(size) + dvrROLLOVER_MARGIN > env_.pageFileSize) {
    at = nextPage(at);
    queueStatement(dvrFormat("DELETE FROM Datum WHERE phys_fn = %d AND phys_partition='%c'", at.page, letterOf(at)));
    std::lock_guard<std::mutex> lock(positionLock_);
    position_ = at;
  }

  const std::string path = pageFilePath(at);
  // The writer keeps its page file open from frame to frame (one descriptor
  // shared with the readers of the same file) until the ring moves on.
  if (!current_ || current_->path() != path || !current_->isOpen()) current_ = std::make_unique<dvrFile>(path);
  dvrFile& file = *current_;
  if (!file.isOpen()) {
    current_.reset();
    dvrCountFrameEvent(dvrFrameEvent::storeLost);
    return true;  // the frame is lost; the open logged why
  }
  dvrFrameHeader header = record.header;
  header.flags |= dvrFRAME_FLAG_EXTENSION;
  header.extensionLength = dvrEXTENSION_SIZE;
  std::uint8_t prefix[dvrRECORD_PREFIX_SIZE];
  dvrEncodeFrameHeader(header, std::span<std::uint8_t, dvrFRAME_HEADER_SIZE>(prefix, dvrFRAME_HEADER_SIZE));
  dvrHeaderExtension extension;
  extension.seconds = record.seconds;
  extension.microseconds = record.milliseconds * 1000;
  extension.device = static_cast<std::uint8_t>(record.device);
  extension.input = static_cast<std::uint8_t>(record.input);
  dvrEncodeHeaderExtension(extension,
                           std::span<std::uint8_t, dvrEXTENSION_SIZE>(prefix + dvrFRAME_HEADER_SIZE, dvrEXTENSION_SIZE));
  // The payload goes first: a record whose header is on disk has its payload too.
  const auto payloadBytes = static_cast<std::size_t>(size);
  errno = 0;
  const bool written = file.write(data_.get(), payloadBytes, std::int64_t{at.offset} + dvrRECORD_PREFIX_SIZE) ==
                           payloadBytes &&
                       file.write(prefix, sizeof prefix, at.offset) == sizeof prefix;
  const int error = errno;
  if (!written) {
    current_.reset();  // reopened for the next frame: the drive may come back
    dvrCountFrameEvent(dvrFrameEvent::storeLost);
    // A full disk or a failing drive: the frame is dropped, the position
    // stays, and the next frame tries again. Logged once per failure streak.
    if (!writeFailureLogged_)
      dvrLogError(dvrTr("[FILESYSTEM] Could not write file %s: %s!").c_str(), path.c_str(),
                  std::strerror(error ? error : EIO));
    writeFailureLogged_ = true;
    return true;
  }
  if (writeFailureLogged_) dvrLogMessage(dvrTr("[FILESYSTEM] Writing %s again.").c_str(), path.c_str());
  writeFailureLogged_ = false;
  {
    std::lock_guard<std::mutex> lock(syncLock_);
    unsynced_.insert(path);
  }
  dvrIndexRow row;
  row.time = record.seconds;
  row.milliseconds = record.milliseconds;
  row.bytes = static_cast<std::uint32_t>(size);
  row.flags = header.flags;
  for (int i = 0; i < 4; ++i) row.codec[i] = header.fourcc[static_cast<std::size_t>(i)];
  row.device = record.device;
  row.input = record.input;
  row.drive = letterOf(at);
  row.page = at.page;
  row.offset = at.offset;
  queueStatement(dvrDatumInsertSql(row));
  {
    std::lock_guard<std::mutex> lock(positionLock_);
    position_.offset = at.offset + static_cast<std::uint32_t>(dvrRECORD_PREFIX_SIZE + payloadBytes);
  }
  lastWrite_ = env_.now();
  if (lastWrite_ - lastSave_ >= kSaveSeconds) savePosition();
  return true;
}

void dvrFileSystem::writerLoop() {
  dvrOKThread* watchdog = dvrWatchdog();
  const std::uint64_t key = dvrOKThread::threadKey();
  if (watchdog) watchdog->addModule(key, kWatchdogSeconds, "file system");
  while (!stopping_) {
    if (watchdog) watchdog->alive(key);
    bool any;
    {
      std::unique_lock<std::mutex> lock(queueLock_);
      queued_.wait_for(lock, std::chrono::milliseconds(5), [this] { return count_ > 0 || stopping_.load(); });
      any = count_ > 0;
    }
    if (any) {
      writeNext();
      continue;
    }
    // Nothing written for "recordwddelay" minutes with "recordwd" on: restart capture.
    dvrSettingSet* globals = dvrProcess().globals;
    dvrConsole* console = dvrProcess().console;
    const std::int64_t now = env_.now();
    if (globals && console && globals->getInt("recordwd") != 0 &&
        (now - lastWrite_) / 60 > globals->getInt("recordwddelay")) {
      lastWrite_ = now;
      console->enqueue("stop");
      console->enqueue("start");
    }
    if (now - lastSave_ >= kSaveSeconds && lastWrite_ > lastSave_) savePosition();
  }
  if (watchdog) watchdog->removeModule(key);
}
