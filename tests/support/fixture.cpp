#include "tests/support/fixture.h"

#include <unistd.h>
#include <wx/translation.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/console.h"
#include "core/engine.h"
#include "core/global_settings.h"
#include "core/language.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/settings.h"

dvrTempDir::dvrTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavel-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path_ = made ? made : "";
}

dvrTempDir::~dvrTempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void dvrTempDir::write(const std::string& name, const std::string& content) const {
  std::ofstream out(file(name), std::ios::binary);
  out << content;
}

std::string dvrTempDir::read(const std::string& name) const { return dvrReadFile(file(name)); }

std::string dvrReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void dvrEngineTest::SetUp() {
  dir = std::make_unique<dvrTempDir>();
  dvrSetBaseDirectory(dir->path());
  ASSERT_TRUE(dvrLogOpen(dir->file("tavel.log")));
  console = std::make_unique<dvrConsole>();
  core = std::make_unique<dvrCore>();
  globals = std::make_unique<dvrSettingSet>();
  dvrDeclareGlobalSettings(*globals);
  dvrProcess().console = console.get();
  dvrProcess().core = core.get();
  dvrProcess().globals = globals.get();
  dvrProcess().quitting = false;
}

void dvrEngineTest::TearDown() {
  dvrProcess().console = nullptr;
  dvrProcess().core = nullptr;
  dvrProcess().globals = nullptr;
  dvrProcess().onQuit = nullptr;
  dvrProcess().onTooltips = nullptr;
  core.reset();
  console.reset();
  globals.reset();
  dvrLogClose();
  dir.reset();
}

std::vector<std::string> dvrEngineTest::logLines() const {
  std::vector<std::string> lines;
  std::istringstream in(dir->read("tavel.log"));
  std::string line;
  // "YYYY-MM-DD HH:MM:SS: " is 21 characters.
  while (std::getline(in, line)) lines.push_back(line.size() >= 21 ? line.substr(21) : line);
  return lines;
}

std::vector<std::string> dvrEngineTest::linesLoggedBy(const std::string& line) {
  std::size_t before = logLines().size();
  console->execute(line);
  std::vector<std::string> lines = logLines();
  return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end());
}

dvrLanguageScope::dvrLanguageScope(int id)
    : previous_(dvrCurrentLanguage()), hadTranslations_(wxTranslations::Get() != nullptr) {
  dvrSwitchLanguage(id);
}

dvrLanguageScope::~dvrLanguageScope() {
  dvrSwitchLanguage(previous_);
  if (!hadTranslations_) wxTranslations::Set(nullptr);
}
