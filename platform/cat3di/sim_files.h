// The control files of the simulated boards: small text files, written whole
// so that a reader never sees half of a write. A call that depends on one
// reads it then, except the reads made with every picture (the board count,
// an input's stall and signal files), which go through a CachedNumber: at
// hundreds of pictures a second those would otherwise open the same few
// files over and over, which capture hardware has no counterpart of.
//
// Threads: any thread; two writers of one file must not run at the same time
// (the callers serialise them by board).
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

namespace cat3disim {

// The integer at the start of the file (after blanks); nullopt when the file
// is missing or does not start with a number.
std::optional<long long> readNumber(const std::string& path);
// The number clamped to [low, high]; `fallback` when there is none.
int clampNumber(std::optional<long long> value, int fallback, int low, int high);
// readNumber clamped as clampNumber does.
int readInt(const std::string& path, int fallback, int low, int high);
// Replaces the file's content, making its folder when missing.
bool writeText(const std::string& path, const std::string& text);
// Adds the text at the end of the file, making its folder when missing.
bool appendText(const std::string& path, const std::string& text);
// Makes the folder and its parents when missing.
bool makeDirectory(const std::string& path);

// The number of one control file as read at most `maxAge` ago: a change of
// the file shows within that time, and at once after refresh().
// Threads: any; a read that began before another's does not replace it.
class CachedNumber {
 public:
  using Clock = std::chrono::steady_clock;

  CachedNumber(std::string path, Clock::duration maxAge)
      : path_(std::move(path)), maxAge_(maxAge) {}
  CachedNumber(const CachedNumber&) = delete;
  CachedNumber& operator=(const CachedNumber&) = delete;

  // What was read last, or the file's number now when that is too old.
  std::optional<long long> get();
  // Reads the file now and keeps the number.
  std::optional<long long> refresh();

 private:
  const std::string path_;
  const Clock::duration maxAge_;
  std::mutex mutex_;
  bool read_ = false;
  Clock::time_point readAt_;  // when the read of value_ began
  std::optional<long long> value_;
};

}  // namespace cat3disim
