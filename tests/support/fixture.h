// Shared test fixtures: a temporary base directory and the process-wide
// engine objects (interpreter, core, global settings) set up and torn down
// around each test.
#pragma once

#include <gtest/gtest.h>
#include <wx/init.h>

#include <memory>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/engine.h"
#include "core/settings.h"

// A fresh directory under the system's temporary folder, removed at the end.
class dvrTempDir {
 public:
  dvrTempDir();
  ~dvrTempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;

 private:
  std::string path_;
};

// Reads a whole file; empty when it cannot be opened.
std::string dvrReadFile(const std::string& path);

// The engine of a running recorder without its windows: base directory in a
// temporary folder, interpreter, core and declared global settings, all
// registered as the process's objects. The log goes to "tavel.log" there.
class dvrEngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The lines of the log file written so far, without their time stamps.
  std::vector<std::string> logLines() const;
  // Executes a command line and answers the log lines it added.
  std::vector<std::string> linesLoggedBy(const std::string& line);

  std::unique_ptr<dvrTempDir> dir;
  std::unique_ptr<dvrConsole> console;
  std::unique_ptr<dvrCore> core;
  std::unique_ptr<dvrSettingSet> globals;
};

// Switches the interface language for one test and puts the previous state
// back. Loading catalogues needs the toolkit's application object, which the
// recorder has and a test program does not, so the toolkit is initialised here.
class dvrLanguageScope {
 public:
  explicit dvrLanguageScope(int id);
  ~dvrLanguageScope();

 private:
  wxInitializer toolkit_;
  int previous_;
  bool hadTranslations_;
};
