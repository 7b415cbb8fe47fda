// The recorder's log: "tavel.log" in the log directory.
//
// Each message becomes one line: "%Y-%m-%d %H:%M:%S", ": ", then "Error: " for
// errors or "Warning: " for warnings (nothing for plain messages), then the
// text. The file is flushed after every line so that nothing is lost when the
// process dies. Verbose messages are written only in verbose mode.
//
// Thread safety: every function may be called from any thread; lines from
// different threads never interleave. Without an open file the lines go to
// standard error (the default log target).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

enum class dvrLogLevel { Plain, Warning, Error, Verbose };

// Opens the log file in append mode; false (and the file stays closed) if it cannot be opened.
bool dvrLogOpen(const std::string& path);
void dvrLogClose();
bool dvrLogIsOpen();
void dvrLogSetVerbose(bool on);
bool dvrLogIsVerbose();

// Writes one message. A trailing line break of the text is dropped, since the
// line ends with one anyway.
void dvrLogWrite(dvrLogLevel level, std::string_view text);

void dvrLogMessage(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void dvrLogWarning(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void dvrLogError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void dvrLogVerbose(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The line for a message at the given local time, with its line break.
std::string dvrLogFormatLine(std::time_t when, dvrLogLevel level, std::string_view text);

// Routes the toolkit's own log messages (wxLogError and friends) into this log. Call once on the main thread after the toolkit is initialised.
void dvrLogInstallToolkitTarget();
