// The questions asked of the recording index: which frames lie in a time
// range (for playback), which seconds of a range hold recordings (for the
// minute bars of the timeline) and which days of a month hold any (for the
// calendar).
//
// A query renders itself as one SQL text into a 2048-byte buffer; the
// database layer (storage/index_db.h) runs it. A text that would not fit in
// 2047 characters is refused as a whole (renderSql answers false) and never
// cut into different SQL: a camera filter of about fifty cameras or more
// does not fit.
//
// Threads: a query object is plain data, used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class dvrDB_sql;

// Size of the buffer every query renders into, including the closing NUL.
inline constexpr std::size_t kDvrQueryBufferSize = 2048;

class dvrDBQuery {
 public:
  virtual ~dvrDBQuery() = default;
  // Writes the NUL-terminated SQL text into buffer (kDvrQueryBufferSize
  // bytes). False, with an empty text in buffer, when the text would need
  // more than kDvrQueryBufferSize - 1 characters.
  virtual bool renderSql(char* buffer) const = 0;

 protected:
  // Copies text out when it fits; the shared end of every renderSql.
  static bool copyOut(const std::string& text, char* buffer);
};

// One literal SQL text, copied in at construction. A text longer than 2047
// characters is kept as refused: renderSql answers false.
class dvrDBQuery_sql : public dvrDBQuery {
 public:
  explicit dvrDBQuery_sql(std::string_view text);
  bool renderSql(char* buffer) const override;

 private:
  std::string text_;
  bool refused_ = false;
};

// The frames of a time range, whole rows in id order of the table:
// "SELECT * FROM Datum WHERE time >= from AND time < to" (to excluded),
// narrowed to the filter's cameras when the filter is not empty.
class dvrDBQuery_recordings : public dvrDBQuery {
 public:
  dvrDBQuery_recordings() = default;
  dvrDBQuery_recordings(std::int32_t from, std::int32_t to) : from(from), to(to) {}
  ~dvrDBQuery_recordings() override = default;
  bool renderSql(char* buffer) const override;
  virtual void setRange(std::int32_t from, std::int32_t to);
  // Adds one camera (device, input) to the filter; a pair already there is
  // not added again. The filter renders in device, then input order.
  virtual void addCameraFilter(std::int32_t device, std::int32_t input);

  std::int32_t from = 0;  // seconds since 1970 UTC
  std::int32_t to = 0;
  std::set<std::pair<std::int32_t, std::int32_t>> cameras;  // empty: every camera

 protected:
  // text followed by the camera filter (unchanged when the filter is empty).
  std::string withFilter(std::string text) const;
};

// The recorded seconds of a range, one row per frame, "time" renamed
// "minute": "SELECT time as minute FROM Datum WHERE time >= from AND time <=
// to" (to included) plus the camera filter. The bounds are written as
// unsigned numbers; ranges are never before 1970.
class dvrDBQuery_minutes : public dvrDBQuery_recordings {
 public:
  dvrDBQuery_minutes(std::int32_t from, std::int32_t to) : dvrDBQuery_recordings(from, to) {}
  bool renderSql(char* buffer) const override;
};

// Whether a local calendar day holds any frame: "SELECT time FROM Datum
// WHERE time >= first AND time <= last LIMIT 1", first and last being the
// first (00:00:00) and last (23:59:59) second of the day in local time, as
// mktime gives them (daylight saving decided by the zone). A camera filter,
// when set, goes before the LIMIT.
class dvrDBQuery_day : public dvrDBQuery_recordings {
 public:
  // day 1..31, month 1..12, year with four digits.
  dvrDBQuery_day(int day, int month, int year) : day(day), month(month), year(year) {}
  bool renderSql(char* buffer) const override;
  // First and last second of the day (both included).
  std::time_t firstSecond() const;
  std::time_t lastSecond() const;

  int day;
  int month;
  int year;
};

// A recordings (or minutes) query over from..to: for every camera when
// allCameras, else for the selected (device, input) pairs.
std::unique_ptr<dvrDBQuery_recordings> dvrBuildRecordingsQuery(
    std::int32_t from, std::int32_t to, bool allCameras,
    const std::vector<std::pair<int, int>>& selected);
std::unique_ptr<dvrDBQuery_minutes> dvrBuildMinutesQuery(
    std::int32_t from, std::int32_t to, bool allCameras,
    const std::vector<std::pair<int, int>>& selected);

// Days of a month (1..12) in the Gregorian calendar; 0 for any other month.
int dvrDaysInMonth(int month, int year);

// The calendar of a month: asks db, day by day, whether the local day holds
// a frame (of the given cameras; every camera when the list is empty), and
// appends a tm for every day that does: seconds, minutes and hours 0, mday,
// mon (0..11), year - 1900, and wday, yday and isdst -1. A month outside
// 1..12 has no days. Always answers true. Runs on the calling thread.
bool dvrDayList(int month, int year, dvrDB_sql& db, std::vector<std::tm>& days,
                const std::vector<std::pair<int, int>>& cameras = {});
