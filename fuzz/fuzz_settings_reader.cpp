// Fuzz target: any settings file is read and executed without crashing or
// overrunning, the global settings stay readable, and the settings text can
// be written afterwards. Commands that touch other files (Run, SaveSettings)
// are bound to harmless stand-ins so the fuzzer cannot write anywhere.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/console.h"
#include "core/engine.h"
#include "core/global_settings.h"
#include "core/language.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/settings.h"

namespace {

struct Engine {
  Engine() {
    char dir[] = "/tmp/tavel-fuzz-XXXXXX";
    base = mkdtemp(dir) ? dir : "/tmp";
    dvrSetBaseDirectory(base);
    dvrLogOpen("/dev/null");
    dvrProcess().console = &console;
    dvrProcess().core = &core;
    dvrProcess().globals = &globals;
    dvrDeclareGlobalSettings(globals);
    console.bind("Run", [](const dvrCommand&, int) { return 1; });
    console.bind("SaveSettings", [](const dvrCommand&, int) {
      return dvrSettingsText().empty() ? 0 : 1;
    });
    file = base + "/settings.tvl";
  }
  std::string base;
  std::string file;
  dvrConsole console;
  dvrCore core;
  dvrSettingSet globals;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Engine engine;
  std::FILE* f = std::fopen(engine.file.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  dvrRunFile(engine.console, engine.file);
  dvrScanSettingsLanguage(engine.file);
  engine.console.drainQueue();
  std::string text = dvrSettingsText();
  if (text.rfind("###### ", 0) != 0) std::abort();
  return 0;
}
