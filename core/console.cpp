#include "core/console.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/engine.h"
#include "core/language.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/settings.h"
#include "core/users.h"
#include "core/watchdog.h"

namespace {

// Serialises multi-line texts (settings dumps from remote recorders).
std::mutex g_textLock;

int runCommand(const dvrCommand& c, int) {
  dvrConsole* console = dvrProcess().console;
  if (!console) return 0;
  return dvrRunFile(*console, std::string(c.param(1))) ? 1 : 0;
}

// The global handler of Set: store, then the side effects of a few keys.
int setGlobal(const dvrCommand& c) {
  dvrSettingSet* g = dvrProcess().globals;
  if (!g) return 0;
  std::string_view key = c.param(3);
  std::string_view type = c.param(4);
  std::string_view value = c.param(5);
  if (dvrEqualNoCase(type, "int")) {
    int v = dvrParseInt(value);
    g->setInt(key, v);
    g->setText(key, dvrFormat("%d", v));
    // The automatic-reboot entry of the software watchdog follows both keys.
    // Serial ports (com1..com4) gain their effect with the serial port table.
    if (dvrEqualNoCase(key, "autoreboot"))
      dvrArmAutomaticReboot(v == 1, g->getInt("autorebootdelay"));
    else if (dvrEqualNoCase(key, "autorebootdelay") && g->getInt("autoreboot") != 0)
      dvrArmAutomaticReboot(true, v);
  } else if (dvrEqualNoCase(type, "string")) {
    g->setText(key, value);
  } else if (dvrEqualNoCase(type, "float")) {
    double x = dvrParseDouble(value);
    g->setFloat(key, static_cast<float>(x));
    g->setText(key, dvrFormat("%.4f", x));
  }
  return 1;
}

int setCommand(const dvrCommand& c, int flag) {
  std::string_view target = c.param(1);
  std::string_view object = c.param(2);
  dvrCore* core = dvrProcess().core;
  if (dvrEqualNoCase(target, "global")) return setGlobal(c);
  if (dvrEqualNoCase(target, "board") || dvrEqualNoCase(target, "camera")) {
    dvrCaptureSide* capture = core ? core->captureSide() : nullptr;
    if (!capture) return 0;
    dvrObject* o = dvrEqualNoCase(target, "board") ? capture->findBoard(object)
                                                   : capture->findCamera(object);
    return o ? o->applySetting(c, flag) : 0;
  }
  if (dvrEqualNoCase(target, "user")) {
    if (core && core->userSide()) core->userSide()->applyUserSetting(object, c);
    return 1;
  }
  return 1;  // "vcamera", "locale" and any other target: no effect
}

int refreshCommand(const dvrCommand&, int) {
  if (dvrCore* core = dvrProcess().core) core->refresh();
  if (dvrConsole* console = dvrProcess().console) console->drainQueue();
  return 1;
}

int quitCommand(const dvrCommand&, int) {
  dvrProcess().quitting = true;
  if (dvrProcess().onQuit) dvrProcess().onQuit();
  return 1;
}

}  // namespace

dvrConsole::dvrConsole() {
  auto core = [](auto fn) {
    return [fn](const dvrCommand& c, int) -> int {
      dvrCore* core = dvrProcess().core;
      return core ? fn(*core, c) : 0;
    };
  };
  table_ = {
      {"Run", 1, runCommand},
      {"OpenWindow", 1, {}},
      {"CloseWindow", 1, {}},
      {"ReOpenWindow", 1, {}},
      {"EnlargeWindow", 2, {}},
      {"DeEnlargeWindow", 1, {}},
      {"Language", 1,
       [](const dvrCommand& c, int) {
         dvrSwitchLanguage(dvrParseInt(c.param(1)));
         return 1;
       }},
      {"Help", 1, {}},
      {"Beep", 0, {}},
      {"Quit", 0, quitCommand},
      {"AddCard", 2, {}},
      {"DelCard", 1,
       core([](dvrCore& k, const dvrCommand& c) { return k.deleteBoard(c.param(1)) ? 1 : 0; })},
      {"DelCards", 0,
       core([](dvrCore& k, const dvrCommand&) {
         if (k.deleteAllBoards())
           dvrLogMessage("%s", dvrTr("All boards deleted.\n").c_str());
         else
           dvrLogMessage("%s", dvrTr("Board delete failed!\n").c_str());
         return 1;
       })},
      {"AddCamera", 3, {}},
      {"DelCamera", 1, {}},
      {"DelCameras", 0, {}},
      {"AddUser", 2, {}},
      {"DelUser", 1, {}},
      {"DelUsers", 0, {}},
      {"Dome", 2, {}},
      {"Start", 0, core([](dvrCore& k, const dvrCommand&) { return k.start() ? 1 : 0; })},
      {"Stop", 0, core([](dvrCore& k, const dvrCommand&) { return k.stop() ? 1 : 0; })},
      {"SaveSettings", 1,
       [](const dvrCommand& c, int) { return dvrSaveSettings(std::string(c.param(1))) ? 1 : 0; }},
      // Only Get hands the caller's flag on to the objects.
      {"Set", 5, [](const dvrCommand& c, int) { return setCommand(c, 0); }},
      {"Get", 3, setCommand},
      {"Refresh", 0, refreshCommand},
      {"Logout", 0, {}},
      {"AddRule", 1, {}},
      {"AddRuleNode", 1, {}},
  };
  dvrBindUserCommands(*this);
}

bool dvrConsole::bind(std::string_view word, Handler handler) {
  for (Entry& e : table_) {
    if (dvrEqualNoCase(e.word, word)) {
      e.handler = std::move(handler);
      return true;
    }
  }
  return false;
}

void dvrConsole::execute(std::string_view line, int flag) {
  dvrCommand command;
  command.parse(line);
  dispatch(command, flag);
}

void dvrConsole::dispatch(const dvrCommand& command, int flag) {
  if (command.word.empty()) return;
  for (const Entry& e : table_) {
    if (!dvrEqualNoCase(e.word, command.word.view())) continue;
    if (command.count < e.minParams) {
      dvrLogMessage(dvrTr("%s: not enough parameters.\n").c_str(), command.word.c_str());
      return;
    }
    if (e.handler) e.handler(command, flag);
    return;
  }
}

void dvrConsole::executeText(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_textLock);
  if (!text.empty()) text.remove_suffix(1);
  while (!text.empty()) {
    std::size_t cut = text.find('\n');
    std::string_view piece = text.substr(0, cut);
    if (!piece.empty()) execute(piece, 0);
    if (cut == std::string_view::npos) break;
    text.remove_prefix(cut + 1);
  }
}

void dvrConsole::enqueue(std::string_view line) {
  std::lock_guard<std::mutex> lock(queueLock_);
  if (size_ == ring_.size()) {
    // Grow: unroll the ring into a larger one with the front at 0.
    std::vector<dvrCommand> larger(ring_.empty() ? 16 : ring_.size() * 2);
    for (std::size_t i = 0; i < size_; ++i) larger[i] = ring_[(head_ + i) % ring_.size()];
    ring_.swap(larger);
    head_ = 0;
  }
  ring_[(head_ + size_) % ring_.size()].parse(line);
  ++size_;
}

void dvrConsole::drainQueue() {
  std::size_t n;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    n = size_;
  }
  dvrCommand command;
  for (std::size_t i = 0; i < n; ++i) {
    {
      std::lock_guard<std::mutex> lock(queueLock_);
      if (size_ == 0) return;
      command = ring_[head_];
      head_ = (head_ + 1) % ring_.size();
      --size_;
    }
    dispatch(command, 0);
  }
}

std::size_t dvrConsole::queued() const {
  std::lock_guard<std::mutex> lock(queueLock_);
  return size_;
}

bool dvrRunFile(dvrConsole& console, const std::string& name) {
  const std::string dir = dvrGetPath(dvrPATH_SETTINGS);
  const std::string candidates[] = {name, name + ".tvl", dir + "/" + name, dir + "/" + name + ".tvl"};
  std::FILE* f = nullptr;
  for (const std::string& path : candidates)
    if ((f = std::fopen(path.c_str(), "r"))) break;
  if (!f) return false;
  // Lines of at most 1022 characters. The rest of a longer line is dropped:
  // read as a line of its own it would run as a command nobody wrote.
  char buf[1023];
  bool continuation = false;
  while (std::fgets(buf, sizeof buf, f)) {
    std::size_t n = std::strlen(buf);
    bool skip = continuation;
    continuation = n > 0 && buf[n - 1] != '\n' && !std::feof(f);
    if (skip || n == 0 || buf[0] == '#') continue;
    if (buf[n - 1] == '\n') buf[--n] = '\0';
    if (n > 0 && buf[n - 1] == '\r') buf[--n] = '\0';
    if (n == 0) continue;
    console.execute(std::string_view(buf, n), 0);
  }
  std::fclose(f);
  return true;
}

std::string dvrCommentForm(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (i == 0 || out[i - 1] == '\n') {
      char c = out[i];
      if (c != '#' && c != '\n' && c != '\f' && c != '\r') out[i] = '#';
    }
  }
  if (out.empty() || out.back() != '\n') out += '\n';
  return out;
}

std::string dvrSettingsText() {
  dvrProcessObjects& p = dvrProcess();
  dvrCore* core = p.core;
  auto comment = [](const std::string& text) { return dvrCommentForm(text); };
  std::string out;
  out += comment(dvrFormat(dvrTr("###### Configuration file for %s\n# Written automatically by the "
                                 "program, please do not\n# alter unless you really know what "
                                 "you're doing.\n# In emergencies, contact your nearest "
                                 "support.\n\n")
                               .c_str(),
                           "Tavel DVR"));
  out += comment(dvrTr("# Global settings\n"));
  if (p.globals) out += p.globals->dump();
  out += "\n\n\n";
  out += comment(dvrTr("# Capturing board settings\n"));
  if (core && core->captureSide()) out += core->captureSide()->boardSettingsText();
  out += comment(dvrTr("# Camera settings\n"));
  if (core && core->captureSide()) out += core->captureSide()->cameraSettingsText();
  out += comment(dvrTr("# User settings\n"));
  if (core && core->userSide()) out += core->userSide()->userSettingsText();
  out += comment(dvrTr("# Rules\n"));
  if (core && core->ruleSide()) out += core->ruleSide()->ruleText();
  out += "\n\n";
  out += comment(dvrTr("# Locale setting (defines eg. what language to use)\n"));
  std::string name = dvrLanguageCanonicalName(dvrCurrentLanguage());
  out += dvrFormat("set locale %s%s a b c\n", name.empty() ? "default" : name.c_str(), "");
  return out;
}

bool dvrSaveSettings(const std::string& file) {
  std::string text = dvrSettingsText();
  // The text goes to a temporary file beside the target, which then replaces
  // the target in one step: a crash or power cut while writing leaves the
  // previous settings file whole instead of a truncated one.
  const std::string temporary = file + ".tmp";
  auto writeTo = [&text](const std::string& path, bool sync) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    if (sync) ok = fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok;
  };
  if (writeTo(temporary, true) && std::rename(temporary.c_str(), file.c_str()) == 0) return true;
  std::remove(temporary.c_str());
  // A directory that takes no new files may still let the file itself be rewritten.
  if (writeTo(file, false)) return true;
  dvrLogMessage(dvrTr("[CORE] Error!!! Cannot save settings to %s!\n").c_str(), file.c_str());
  return false;
}
