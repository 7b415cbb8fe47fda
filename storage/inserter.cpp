#include "storage/inserter.h"

#include <chrono>

#include "core/language.h"
#include "core/log.h"
#include "storage/index_db.h"

dvrInserterThread::dvrInserterThread(std::string databasePath, Environment env)
    : path_(std::move(databasePath)), env_(std::move(env)) {
  if (!env_.readers) env_.readers = [] { return 0; };
}

dvrInserterThread::~dvrInserterThread() { stop(); }

void dvrInserterThread::start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  db_ = std::make_unique<dvrDB_sqlite>(path_);
  if (db_->isOpen()) {
    db_->execute("PRAGMA journal_mode=WAL");
    db_->execute("PRAGMA synchronous=NORMAL");
    dvrEnsureIndexSchema(*db_);
  }
  thread_ = std::thread([this] { run(); });
}

void dvrInserterThread::stop() {
  {
    std::lock_guard<std::mutex> lock(waitLock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool dvrInserterThread::queueStatement(std::string_view text) {
  if (text.size() > kMaxStatement) {
    dvrLogWarning("%s", dvrTr("[DB] Statement too long; not queued.").c_str());
    return false;
  }
  std::string line(text);
  std::lock_guard<std::mutex> lock(queueLock_);
  queue_.push_back(std::move(line));
  return true;
}

std::size_t dvrInserterThread::queued() const {
  std::lock_guard<std::mutex> lock(queueLock_);
  return queue_.size();
}

bool dvrInserterThread::takeLine(std::string& line) {
  std::lock_guard<std::mutex> lock(queueLock_);
  if (queue_.empty()) return false;
  line = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

void dvrInserterThread::pause(int milliseconds) {
  if (env_.sleep) {
    env_.sleep(milliseconds);
    return;
  }
  std::unique_lock<std::mutex> lock(waitLock_);
  wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_.load(); });
}

void dvrInserterThread::runBatch(bool final) {
  if (final && queued() == 0) return;
  db_->execute("BEGIN TRANSACTION");
  int executed = 0;
  std::string line;
  for (;;) {
    if (!final && env_.readers() > 0) break;
    if (!takeLine(line)) break;
    db_->execute(line);
    ++executed;
  }
  if (executed > 0 && env_.beforeCommit) env_.beforeCommit();
  db_->execute("COMMIT");
}

void dvrInserterThread::run() {
  while (!stopping_) {
    if (env_.readers() >= 1) {
      pause(kReaderWaitMs);
      continue;
    }
    runBatch(false);
    for (int i = 0; i < kPauses && !stopping_; ++i) pause(kPauseMs);
  }
  runBatch(true);
  db_.reset();
}
