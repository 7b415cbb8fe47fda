// The recording index database: one SQLite file ("index.db" in the capture
// directory of drive D, dvrIndexDatabasePath()) with a row per recorded
// frame telling where in the page files its payload lies.
//
// Table Datum (columns in this order): id INTEGER PRIMARY KEY (given by the
// database), time (seconds since 1970 UTC), milliseconds (0..999), bytes
// (payload size), flags (32768, or 32769 for a key frame), conditions
// (always 0), codec (4 characters), from_device, from_input, phys_partition
// (the drive letter), phys_fn (page file number), phys_offset (byte offset
// in the page file). Table Pointer: id, type, phys_partition, phys_fn,
// phys_offset. Indexes on Datum(time) and Datum(phys_partition, phys_fn).
//
// Locking: every statement of every connection in the process runs under
// the one recursive dvrDatabaseLock(), so statements never interleave, and
// a connection may be used from any thread. A long query holds the lock for
// its whole run. Connections wait up to kBusyTimeoutMs for a file locked by
// another process (the tools open the file while the recorder runs) instead
// of failing at once.
//
// This file and index_db.cpp are the only places that talk to SQLite.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "storage/index_queries.h"

struct sqlite3;

// Serialises every statement of every connection in the process.
std::recursive_mutex& dvrDatabaseLock();

// Column name -> the column's values in row order (NULL as "").
using dvrColumnTable = std::map<std::string, std::vector<std::string>>;

// One Datum row, read by column position from "SELECT *".
struct dvrDatumRow {
  std::int32_t id;
  std::int32_t time;
  std::int32_t milliseconds;
  std::int32_t bytes;
  std::int32_t flags;
  std::int32_t conditions;
  char codec[8];           // 4 characters and the NUL
  std::int32_t from_device;
  std::int32_t from_input;
  char phys_partition[4];  // the drive letter and the NUL
  std::int32_t phys_fn;
  std::int32_t phys_offset;
};

class dvrDB {
 public:
  virtual ~dvrDB() = default;
};

// The operations of an SQL index. Every one answers false here; a
// connection class gives them their meaning.
class dvrDB_sql : public dvrDB {
 public:
  ~dvrDB_sql() override = default;
  // Whether the query brought back at least one value.
  virtual bool hasRows(const dvrDBQuery& query);
  virtual bool reserved();
  // queryTimes, then whether times is not empty.
  virtual bool hasTimes(const dvrDBQuery& query, std::vector<std::int32_t>& times);
  // Appends every value of every row to its column in table.
  virtual bool queryColumns(const dvrDBQuery& query, dvrColumnTable& table);
  // Appends one dvrDatumRow per result row.
  virtual bool queryRows(const dvrDBQuery& query, std::vector<dvrDatumRow>& rows);
  // Appends the first column of each row as a number, skipping a value equal
  // to the one appended last by any queryTimes call in the process.
  virtual bool queryTimes(const dvrDBQuery& query, std::vector<std::int32_t>& times);
};

// One SQLite connection. Without a connection (the file could not be
// opened) every operation answers false.
//
// The read operations answer false, and log "[DB] %s (%s)" with SQLite's
// message and the SQL text, when SQLite reports an error; values appended
// before the error stay. A query whose text does not fit the 2047-character
// buffer is not run: they log "[DB] Query too long for the 2047-character
// buffer; not executed." and answer false.
class dvrDB_sqlite : public dvrDB_sql {
 public:
  static constexpr int kBusyTimeoutMs = 5000;

  // Opens dvrIndexDatabasePath().
  dvrDB_sqlite();
  // Opens the file at path. The directory holding it is created (with its
  // parents) when missing, and SQLite creates the file. Logs "[DB] Couldn't
  // open %s." as a warning on failure, "DB %s opened" (verbose) on success.
  explicit dvrDB_sqlite(const std::string& path);
  // Closes the connection.
  ~dvrDB_sqlite() override;
  dvrDB_sqlite(const dvrDB_sqlite&) = delete;
  dvrDB_sqlite& operator=(const dvrDB_sqlite&) = delete;

  bool hasRows(const dvrDBQuery& query) override;
  bool hasTimes(const dvrDBQuery& query, std::vector<std::int32_t>& times) override;
  bool queryColumns(const dvrDBQuery& query, dvrColumnTable& table) override;
  bool queryRows(const dvrDBQuery& query, std::vector<dvrDatumRow>& rows) override;
  bool queryTimes(const dvrDBQuery& query, std::vector<std::int32_t>& times) override;

  bool isOpen() const { return db_ != nullptr; }
  const std::string& path() const { return path_; }
  // Runs one statement; true when it ran without an SQLite error (whatever
  // it returned). Errors are logged as for the queries.
  bool execute(const std::string& sql);

 private:
  // Renders the query into buffer, logging a refused text. Called under the lock.
  bool render(const dvrDBQuery& query, char* buffer);
  // Runs sql with the row callback; logs and answers false on error. Called under the lock.
  bool run(const char* sql, int (*callback)(void*, int, char**, char**), void* context);

  std::string path_;
  sqlite3* db_ = nullptr;
};

// Creates the tables and indexes that are missing; answers whether every
// statement worked (false without a connection).
bool dvrEnsureIndexSchema(dvrDB_sqlite& db);

// For tests only: forgets the last value appended by queryTimes, so that a
// test starts from the state of a fresh process (0). The recorder never
// calls it.
void dvrResetQueryTimesMemory();
