#include "core/log.h"

#include <wx/log.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "core/console_text.h"
#include "core/text.h"

namespace {

std::mutex g_logMutex;
std::FILE* g_logFile = nullptr;  // guarded by g_logMutex
bool g_verbose = false;

// Forwards the toolkit's messages. The toolkit buffers messages of secondary
// threads until the main thread flushes them; our own threads use dvrLog* directly.
class ToolkitTarget : public wxLog {
 protected:
  void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo&) override {
    dvrLogLevel l = dvrLogLevel::Plain;
    switch (level) {
      case wxLOG_FatalError:
      case wxLOG_Error:
        l = dvrLogLevel::Error;
        break;
      case wxLOG_Warning:
        l = dvrLogLevel::Warning;
        break;
      case wxLOG_Info:
      case wxLOG_Debug:
      case wxLOG_Trace:
        l = dvrLogLevel::Verbose;
        break;
      default:
        break;
    }
    dvrLogWrite(l, msg.utf8_string());
  }
};

}  // namespace

bool dvrLogOpen(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "a");
  std::lock_guard<std::mutex> lock(g_logMutex);
  if (g_logFile) std::fclose(g_logFile);
  g_logFile = f;
  return f != nullptr;
}

void dvrLogClose() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  if (g_logFile) std::fclose(g_logFile);
  g_logFile = nullptr;
}

bool dvrLogIsOpen() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  return g_logFile != nullptr;
}

void dvrLogSetVerbose(bool on) { g_verbose = on; }
bool dvrLogIsVerbose() { return g_verbose; }

std::string dvrLogFormatLine(std::time_t when, dvrLogLevel level, std::string_view text) {
  char stamp[32];
  std::tm tm{};
  localtime_r(&when, &tm);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  std::string line(stamp);
  line += ": ";
  if (level == dvrLogLevel::Error) line += "Error: ";
  if (level == dvrLogLevel::Warning) line += "Warning: ";
  line += text;
  line += '\n';
  return line;
}

void dvrLogWrite(dvrLogLevel level, std::string_view text) {
  if (level == dvrLogLevel::Verbose && !g_verbose) return;
  std::string line = dvrLogFormatLine(std::time(nullptr), level, text);
  dvrConsoleTextAppend(line);
  std::lock_guard<std::mutex> lock(g_logMutex);
  std::FILE* out = g_logFile ? g_logFile : stderr;
  std::fwrite(line.data(), 1, line.size(), out);
  std::fflush(out);
}

#define DVR_LOG_FN(name, level)        \
  void name(const char* fmt, ...) {    \
    va_list ap;                        \
    va_start(ap, fmt);                 \
    std::string text = dvrVFormat(fmt, ap); \
    va_end(ap);                        \
    dvrLogWrite(level, text);          \
  }

DVR_LOG_FN(dvrLogMessage, dvrLogLevel::Plain)
DVR_LOG_FN(dvrLogWarning, dvrLogLevel::Warning)
DVR_LOG_FN(dvrLogError, dvrLogLevel::Error)
DVR_LOG_FN(dvrLogVerbose, dvrLogLevel::Verbose)

void dvrLogInstallToolkitTarget() {
  // The toolkit deletes the active target at its clean-up, so it is heap-allocated.
  delete wxLog::SetActiveTarget(new ToolkitTarget);
  wxLog::SetTimestamp("%Y-%m-%d %H:%M:%S");
  wxLog::SetVerbose(g_verbose);
}
