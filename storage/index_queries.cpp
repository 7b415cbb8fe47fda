#include "storage/index_queries.h"

#include <cstring>

#include "core/text.h"
#include "storage/index_db.h"

bool dvrDBQuery::copyOut(const std::string& text, char* buffer) {
  if (text.size() > kDvrQueryBufferSize - 1) {
    buffer[0] = '\0';
    return false;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

dvrDBQuery_sql::dvrDBQuery_sql(std::string_view text) {
  if (text.size() > kDvrQueryBufferSize - 1) {
    refused_ = true;
    return;
  }
  text_.assign(text);
}

bool dvrDBQuery_sql::renderSql(char* buffer) const {
  if (refused_) {
    buffer[0] = '\0';
    return false;
  }
  return copyOut(text_, buffer);
}

void dvrDBQuery_recordings::setRange(std::int32_t from, std::int32_t to) {
  this->from = from;
  this->to = to;
}

void dvrDBQuery_recordings::addCameraFilter(std::int32_t device, std::int32_t input) {
  cameras.emplace(device, input);
}

std::string dvrDBQuery_recordings::withFilter(std::string text) const {
  if (cameras.empty()) return text;
  bool first = true;
  for (const auto& [device, input] : cameras) {
    text = dvrFormat("%s %s (from_device=%d AND from_input=%d)", text.c_str(), first ? "AND (" : "OR",
                     device, input);
    first = false;
  }
  return dvrFormat("%s)", text.c_str());
}

bool dvrDBQuery_recordings::renderSql(char* buffer) const {
  return copyOut(withFilter(dvrFormat("SELECT * FROM Datum WHERE time >= %ld AND time < %ld",
                                      static_cast<long>(from), static_cast<long>(to))),
                 buffer);
}

bool dvrDBQuery_minutes::renderSql(char* buffer) const {
  return copyOut(
      withFilter(dvrFormat("SELECT time as minute FROM Datum WHERE time >= %lu AND time <= %lu",
                           static_cast<unsigned long>(from), static_cast<unsigned long>(to))),
      buffer);
}

namespace {

std::time_t localSecond(int day, int month, int year, int hour, int minute, int second) {
  std::tm t{};
  t.tm_sec = second;
  t.tm_min = minute;
  t.tm_hour = hour;
  t.tm_mday = day;
  t.tm_mon = month - 1;
  t.tm_year = year - 1900;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

}  // namespace

std::time_t dvrDBQuery_day::firstSecond() const { return localSecond(day, month, year, 0, 0, 0); }
std::time_t dvrDBQuery_day::lastSecond() const { return localSecond(day, month, year, 23, 59, 59); }

bool dvrDBQuery_day::renderSql(char* buffer) const {
  std::string text = withFilter(dvrFormat("SELECT time FROM Datum WHERE time >= %ld AND time <= %ld",
                                          static_cast<long>(firstSecond()),
                                          static_cast<long>(lastSecond())));
  return copyOut(text + " LIMIT 1", buffer);
}

namespace {

template <class Query>
std::unique_ptr<Query> buildRangeQuery(std::int32_t from, std::int32_t to, bool allCameras,
                                       const std::vector<std::pair<int, int>>& selected) {
  auto query = std::make_unique<Query>(from, to);
  if (!allCameras) {
    for (const auto& [device, input] : selected) query->addCameraFilter(device, input);
  }
  return query;
}

}  // namespace

std::unique_ptr<dvrDBQuery_recordings> dvrBuildRecordingsQuery(
    std::int32_t from, std::int32_t to, bool allCameras,
    const std::vector<std::pair<int, int>>& selected) {
  return buildRangeQuery<dvrDBQuery_recordings>(from, to, allCameras, selected);
}

std::unique_ptr<dvrDBQuery_minutes> dvrBuildMinutesQuery(
    std::int32_t from, std::int32_t to, bool allCameras,
    const std::vector<std::pair<int, int>>& selected) {
  return buildRangeQuery<dvrDBQuery_minutes>(from, to, allCameras, selected);
}

int dvrDaysInMonth(int month, int year) {
  switch (month) {
    case 1: case 3: case 5: case 7: case 8: case 10: case 12:
      return 31;
    case 4: case 6: case 9: case 11:
      return 30;
    case 2:
      if (year % 4 != 0 || (year % 100 == 0 && year % 400 != 0)) return 28;
      return 29;
    default:
      return 0;
  }
}

bool dvrDayList(int month, int year, dvrDB_sql& db, std::vector<std::tm>& days,
                const std::vector<std::pair<int, int>>& cameras) {
  const int count = dvrDaysInMonth(month, year);
  for (int day = 1; day <= count; ++day) {
    dvrDBQuery_day query(day, month, year);
    for (const auto& [device, input] : cameras) query.addCameraFilter(device, input);
    if (!db.hasRows(query)) continue;
    std::tm t{};
    t.tm_mday = day;
    t.tm_mon = month - 1;
    t.tm_year = year - 1900;
    t.tm_wday = -1;
    t.tm_yday = -1;
    t.tm_isdst = -1;
    days.push_back(t);
  }
  return true;
}
