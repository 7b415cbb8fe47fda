#include "storage/index_db.h"

#include <sqlite3.h>

#include <cstring>

#include "core/language.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"

namespace {

// The value queryTimes appended last, process-wide; only touched under
// dvrDatabaseLock().
std::int32_t lastQueriedTime = 0;

void copyText(char* target, std::size_t size, const char* text) {
  std::memset(target, 0, size);
  if (text) std::strncpy(target, text, size - 1);
}

int columnsCallback(void* context, int count, char** values, char** names) {
  auto& table = *static_cast<dvrColumnTable*>(context);
  for (int i = 0; i < count; ++i) table[names[i] ? names[i] : ""].emplace_back(values[i] ? values[i] : "");
  return 0;
}

int rowsCallback(void* context, int count, char** values, char**) {
  auto& rows = *static_cast<std::vector<dvrDatumRow>*>(context);
  dvrDatumRow row{};
  auto number = [&](int i) { return i < count && values[i] ? dvrParseInt(values[i]) : 0; };
  row.id = number(0);
  row.time = number(1);
  row.milliseconds = number(2);
  row.bytes = number(3);
  row.flags = number(4);
  row.conditions = number(5);
  copyText(row.codec, sizeof row.codec, count > 6 ? values[6] : nullptr);
  row.from_device = number(7);
  row.from_input = number(8);
  copyText(row.phys_partition, sizeof row.phys_partition, count > 9 ? values[9] : nullptr);
  row.phys_fn = number(10);
  row.phys_offset = number(11);
  rows.push_back(row);
  return 0;
}

int timesCallback(void* context, int count, char** values, char**) {
  auto& times = *static_cast<std::vector<std::int32_t>*>(context);
  const std::int32_t value = count > 0 && values[0] ? dvrParseInt(values[0]) : 0;
  if (value != lastQueriedTime) {
    times.push_back(value);
    lastQueriedTime = value;
  }
  return 0;
}

}  // namespace

std::recursive_mutex& dvrDatabaseLock() {
  static std::recursive_mutex lock;
  return lock;
}

void dvrResetQueryTimesMemory() {
  std::lock_guard<std::recursive_mutex> lock(dvrDatabaseLock());
  lastQueriedTime = 0;
}

bool dvrDB_sql::hasRows(const dvrDBQuery&) { return false; }
bool dvrDB_sql::reserved() { return false; }
bool dvrDB_sql::hasTimes(const dvrDBQuery&, std::vector<std::int32_t>&) { return false; }
bool dvrDB_sql::queryColumns(const dvrDBQuery&, dvrColumnTable&) { return false; }
bool dvrDB_sql::queryRows(const dvrDBQuery&, std::vector<dvrDatumRow>&) { return false; }
bool dvrDB_sql::queryTimes(const dvrDBQuery&, std::vector<std::int32_t>&) { return false; }

dvrDB_sqlite::dvrDB_sqlite() : dvrDB_sqlite(dvrIndexDatabasePath()) {}

dvrDB_sqlite::dvrDB_sqlite(const std::string& path) : path_(path) {
  std::lock_guard<std::recursive_mutex> lock(dvrDatabaseLock());
  const std::size_t cut = path.find_last_of('/');
  if (cut != std::string::npos && cut > 0) dvrMakeDirectory(path.substr(0, cut));
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);  // a handle comes back even on failure
    dvrLogWarning(dvrTr("[DB] Couldn't open %s.").c_str(), path.c_str());
    return;
  }
  db_ = db;
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  dvrLogVerbose(dvrTr("DB %s opened").c_str(), path.c_str());
}

dvrDB_sqlite::~dvrDB_sqlite() {
  std::lock_guard<std::recursive_mutex> lock(dvrDatabaseLock());
  if (db_) sqlite3_close(db_);
}

bool dvrDB_sqlite::render(const dvrDBQuery& query, char* buffer) {
  std::memset(buffer, 0, kDvrQueryBufferSize);
  if (query.renderSql(buffer)) return true;
  dvrLogWarning("%s", dvrTr("[DB] Query too long for the 2047-character buffer; not executed.").c_str());
  return false;
}

bool dvrDB_sqlite::run(const char* sql, int (*callback)(void*, int, char**, char**), void* context) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, callback, context, &message) == SQLITE_OK) return true;
  dvrLogWarning(dvrTr("[DB] %s (%s)").c_str(), message ? message : sqlite3_errmsg(db_), sql);
  sqlite3_free(message);
  return false;
}

bool dvrDB_sqlite::queryColumns(const dvrDBQuery& query, dvrColumnTable& table) {
  std::lock_guard<std::recursive_mutex> lock(dvrDatabaseLock());
  if (!db_) return false;
  char sql[kDvrQueryBufferSize];
  if (!render(query, sql)) return false;
  return run(sql, columnsCallback, &table);
}

bool dvrDB_sqlite::hasRows(const dvrDBQuery& query) {
  std::lock_guard<std::recursive_mutex> lock(dvrDatabaseLock());
  dvrColumnTable table;
  if (!queryColumns(query, table)) return false;
  for (const auto& column : table) {
    if (!column.second.empty()) return true;
  }
  return false;
}

bool dvrDB_sqlite::queryRows(const dvrDBQuery& query, std::vector<dvrDatumRow>& rows) {
  std::lock_guard<std::recursive_mutex> lock(dvrDatabaseLock());
  if (!db_) return false;
  char sql[kDvrQueryBufferSize];
  if (!render(query, sql)) return false;
  return run(sql, rowsCallback, &rows);
}

bool dvrDB_sqlite::queryTimes(const dvrDBQuery& query, std::vector<std::int32_t>& times) {
  std::lock_guard<std::recursive_mutex> lock(dvrDatabaseLock());
  if (!db_) return false;
  char sql[kDvrQueryBufferSize];
  if (!render(query, sql)) return false;
  return run(sql, timesCallback, &times);
}

bool dvrDB_sqlite::hasTimes(const dvrDBQuery& query, std::vector<std::int32_t>& times) {
  std::lock_guard<std::recursive_mutex> lock(dvrDatabaseLock());
  if (!queryTimes(query, times)) return false;
  return !times.empty();
}

bool dvrDB_sqlite::execute(const std::string& sql) {
  dvrColumnTable ignored;
  return queryColumns(dvrDBQuery_sql(sql), ignored);
}

bool dvrEnsureIndexSchema(dvrDB_sqlite& db) {
  static const char* const statements[] = {
      "CREATE TABLE IF NOT EXISTS Datum (id INTEGER PRIMARY KEY, time INTEGER, milliseconds INTEGER, "
      "bytes INTEGER, flags INTEGER, conditions INTEGER, codec TEXT, from_device INTEGER, "
      "from_input INTEGER, phys_partition TEXT, phys_fn INTEGER, phys_offset INTEGER)",
      "CREATE TABLE IF NOT EXISTS Pointer (id INTEGER, type TEXT, phys_partition TEXT, "
      "phys_fn INTEGER, phys_offset INTEGER)",
      "CREATE INDEX IF NOT EXISTS Datum_time ON Datum (time)",
      "CREATE INDEX IF NOT EXISTS Datum_physical ON Datum (phys_partition, phys_fn)",
  };
  std::lock_guard<std::recursive_mutex> lock(dvrDatabaseLock());
  if (!db.isOpen()) return false;
  for (const char* statement : statements) {
    if (!db.execute(statement)) return false;
  }
  return true;
}
