#include <gtest/gtest.h>
#include <wx/init.h>
#include <wx/translation.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/console.h"
#include "core/engine.h"
#include "core/language.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/settings.h"
#include "tests/support/fixture.h"

namespace {

using Log = dvrEngineTest;
using Paths = dvrEngineTest;
using LanguageScan = dvrEngineTest;

const std::regex kLogLine(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: (Error: |Warning: )?(.*)$)");

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Sets or unsets an environment variable for one test.
class EnvironmentScope {
 public:
  EnvironmentScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvironmentScope() {
    if (saved_)
      setenv(name_.c_str(), saved_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> saved_;
};


}  // namespace

// ---- log ----------------------------------------------------------------

TEST_F(Log, EachMessageIsOneStampedLineWithItsLevel) {
  dvrLogMessage("plain %d", 1);
  dvrLogWarning("careful with %s", "disk 2");
  dvrLogError("broken: %s", "camera 3");
  dvrLogMessage("a message ending in a line break\n");
  dvrLogError("%s", "");

  struct Expected {
    const char* prefix;
    const char* text;
  };
  const Expected expected[] = {
      {"", "plain 1"},
      {"Warning: ", "careful with disk 2"},
      {"Error: ", "broken: camera 3"},
      {"", "a message ending in a line break"},
      {"Error: ", ""},
  };
  std::vector<std::string> lines = splitLines(dir->read("tavel.log"));
  ASSERT_EQ(lines.size(), std::size(expected));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, kLogLine));
    EXPECT_EQ(m[1].str(), expected[i].prefix);
    EXPECT_EQ(m[2].str(), expected[i].text);
  }
  EXPECT_EQ(dir->read("tavel.log").find("\n\n"), std::string::npos);
}

TEST(LogFormat, LineAtAFixedLocalTime) {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 5;
  tm.tm_hour = 7;
  tm.tm_min = 8;
  tm.tm_sec = 9;
  tm.tm_isdst = -1;
  std::time_t when = std::mktime(&tm);
  struct Case {
    dvrLogLevel level;
    const char* text;
    const char* line;
  };
  const Case cases[] = {
      {dvrLogLevel::Plain, "Exiting.", "2024-03-05 07:08:09: Exiting.\n"},
      {dvrLogLevel::Warning, "low\n", "2024-03-05 07:08:09: Warning: low\n"},
      {dvrLogLevel::Error, "Log file could not be opened!",
       "2024-03-05 07:08:09: Error: Log file could not be opened!\n"},
      {dvrLogLevel::Verbose, "detail", "2024-03-05 07:08:09: detail\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(dvrLogFormatLine(when, c.level, c.text), c.line) << c.text;
}

TEST_F(Log, EveryLineIsInTheFileWhileItIsStillOpen) {
  for (int i = 1; i <= 3; ++i) {
    dvrLogMessage("line %d", i);
    // Read through a second handle: nothing may wait in the writer's buffer.
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(i));
    EXPECT_EQ(lines.back(), dvrFormat("line %d", i));
  }
  EXPECT_TRUE(dvrLogIsOpen());
}

TEST_F(Log, VerboseMessagesOnlyInVerboseMode) {
  ASSERT_FALSE(dvrLogIsVerbose());
  dvrLogVerbose("hidden %d", 1);
  EXPECT_TRUE(logLines().empty());

  dvrLogSetVerbose(true);
  dvrLogVerbose("shown %d", 2);
  dvrLogSetVerbose(false);
  dvrLogVerbose("hidden %d", 3);
  EXPECT_EQ(logLines(), (std::vector<std::string>{"shown 2"}));
}

TEST_F(Log, LinesFromSeveralThreadsDoNotInterleave) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  const std::string padding(80, 'p');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &padding] {
      for (int i = 0; i < kLines; ++i) dvrLogWarning("thread %d line %d %s", t, i, padding.c_str());
    });
  for (std::thread& th : threads) th.join();

  const std::regex one(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: Warning: thread \d line \d+ p{80}$)");
  std::vector<std::string> lines = splitLines(dir->read("tavel.log"));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, one)) << line;
}

TEST_F(Log, OpenAppendsAndAClosedLogWritesToStandardError) {
  dvrLogMessage("before");
  EXPECT_FALSE(dvrLogOpen(dir->file("missing/tavel.log")));
  EXPECT_FALSE(dvrLogIsOpen());

  testing::internal::CaptureStderr();
  dvrLogWarning("nowhere else");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::regex_match(
      err, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: Warning: nowhere else\n$)")))
      << err;

  ASSERT_TRUE(dvrLogOpen(dir->file("tavel.log")));
  dvrLogMessage("after");
  EXPECT_EQ(logLines(), (std::vector<std::string>{"before", "after"}));
}

// ---- paths --------------------------------------------------------------

TEST_F(Paths, KeysExpandToTheirDirectories) {
  const std::string base = dir->path();
  struct Case {
    int key;
    std::string path;
  };
  const Case cases[] = {
      {dvrPATH_SETTINGS, base},
      {dvrPATH_HELP, base + "/help"},
      {dvrPATH_GALLERY, base + "/Gallery"},
      {dvrPATH_LAYOUTS, base + "/Layouts"},
      {dvrPATH_LANGUAGES, base + "/languages"},
      {dvrPATH_LOG, base},
      {dvrPATH_EMPTY, ""},
      {dvrPATH_IMAGES, base + "/resources/images"},
      {dvrPATH_ICONS, base + "/resources/icons"},
      {dvrPATH_BUTTONS, base + "/resources/buttons"},
      {dvrPATH_SOUNDS, base + "/resources/sounds"},
      {dvrPATH_POLL, base + "/__poll"},
      {dvrPATH_CAPTURE, "%s:/capture"},
      {dvrPATH_PAGEFILE, "%s:/capture/tvl%s.tt"},
      {100, ""},  // keys outside the table
      {113, ""},
      {116, ""},
      {-1, ""},
  };
  for (int round = 0; round < 2; ++round)  // the second round comes from the cache
    for (const Case& c : cases) EXPECT_EQ(dvrGetPath(c.key), c.path) << "key " << c.key;
}

TEST_F(Paths, TemplatesExpandTheirFirstCharacter) {
  EnvironmentScope home("HOME", "/home/tester");
  dvrSetProgramDirectory("/opt/tavel\\bin");
  const std::string base = dir->path();
  struct Case {
    const char* pathTemplate;
    std::string expanded;
  };
  const Case cases[] = {
      {"$", base},
      {"$/x/y", base + "/x/y"},
      {"$$", base + "$"},
      {"x$", "x$"},
      {"@/tavel.png", "/opt/tavel/bin/tavel.png"},
      {"~", "/home/tester"},
      {"~/x", "/home/tester/x"},
      {"/~/x", "/~/x"},
      {"plain/path", "plain/path"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(dvrExpandPath(c.pathTemplate), c.expanded) << c.pathTemplate;

  // Without an override "@" is the directory of the running program.
  dvrSetProgramDirectory("");
  EXPECT_EQ(dvrExpandPath("@"),
            std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
}

TEST_F(Paths, TildeIsTheRootWhenHomeIsUnset) {
  EnvironmentScope home("HOME", nullptr);
  EXPECT_EQ(dvrExpandPath("~"), "/");
  EXPECT_EQ(dvrExpandPath("~/x"), "//x");
}

TEST_F(Paths, ANewBaseDirectoryReplacesCachedPaths) {
  ASSERT_EQ(dvrGetPath(dvrPATH_HELP), dir->path() + "/help");
  dvrSetBaseDirectory("C:\\dvr\\data");
  EXPECT_EQ(dvrBaseDirectory(), "C:/dvr/data");
  EXPECT_EQ(dvrGetPath(dvrPATH_HELP), "C:/dvr/data/help");
  EXPECT_EQ(dvrGetPath(dvrPATH_SETTINGS), "C:/dvr/data");

  // An empty base gives an empty settings path, which is not kept.
  dvrSetBaseDirectory("");
  EXPECT_EQ(dvrGetPath(dvrPATH_SETTINGS), "");
  dvrSetBaseDirectory(dir->path());
  EXPECT_EQ(dvrGetPath(dvrPATH_SETTINGS), dir->path());
  EXPECT_EQ(dvrGetPath(dvrPATH_HELP), dir->path() + "/help");
}

TEST_F(Paths, MustAllocRefusesZeroBytesWithAnError) {
  EXPECT_EQ(dvrMustAlloc("camera buffer", 0), nullptr);
  EXPECT_EQ(logLines(),
            (std::vector<std::string>{
                "Error: [MUSTMALLOC] Trying to allocate 0 bytes! No way! [camera buffer]"}));

  auto* block = static_cast<unsigned char*>(dvrMustAlloc("frame", 4096));
  ASSERT_NE(block, nullptr);
  std::memset(block, 0xAB, 4096);  // the whole block is usable
  EXPECT_EQ(block[4095], 0xAB);
  dvrMustFree("frame", block);
  dvrMustFree("frame", nullptr);
  EXPECT_EQ(logLines().size(), 1u);

  // The zeroed variant, for small blocks and for large ones the system maps.
  for (std::size_t size : {std::size_t{24}, std::size_t{4} << 20}) {
    auto* zeroed = static_cast<unsigned char*>(dvrMustAllocZeroed("convertbuf", size));
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(std::count(zeroed, zeroed + size, 0), static_cast<std::ptrdiff_t>(size)) << size;
    dvrMustFree("convertbuf", zeroed);
  }
  EXPECT_EQ(dvrMustAllocZeroed("convertbuf", 0), nullptr);
  EXPECT_EQ(logLines().size(), 2u) << "zero bytes refused with the same error";
}

TEST_F(Paths, FileSizeProbeOpensAndMeasures) {
  dir->write("empty", "");
  dir->write("small", std::string(1234, 's'));
  {
    // Sparse, so it costs no disk space; its size needs more than 32 bits.
    dir->write("big", "");
    std::filesystem::resize_file(dir->file("big"), 5'000'000'000ull);
  }
  struct Case {
    const char* name;
    bool opens;
    std::int64_t size;
  };
  const Case cases[] = {
      {"empty", true, 0},
      {"small", true, 1234},
      {"big", true, 5'000'000'000ll},
      {"missing", false, -7},  // the size is left alone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::int64_t size = -7;
    EXPECT_EQ(dvrFileSize(dir->file(c.name), &size), c.opens);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(dvrFileSize(dir->file(c.name)), c.opens);
  }
}

// ---- language -----------------------------------------------------------

TEST(LanguageLookup, FindsByNameDescriptionOrLanguageCode) {
  int french = dvrFindLanguage("fr_FR");
  int frenchAny = dvrFindLanguage("fr");
  int tagalog = dvrFindLanguage("tl_PH");
  ASSERT_GT(french, 0);
  ASSERT_GT(frenchAny, 0);
  ASSERT_GT(tagalog, 0);
  EXPECT_EQ(dvrLanguageCanonicalName(french), "fr_FR");
  EXPECT_EQ(dvrLanguageCanonicalName(frenchAny), "fr");
  EXPECT_EQ(dvrLanguageCanonicalName(tagalog), "tl_PH");
  struct Case {
    const char* word;
    int id;
  };
  const Case cases[] = {
      {"default", 0},
      {"DEFAULT", 0},
      {"FR_fr", french},
      {"French (France)", french},  // descriptions count as names
      {"french", frenchAny},
      {"tl", tagalog},  // no entry is named "tl": the first whose code is "tl"
      {"", -1},
      {"xx_NOWHERE", -1},
      {"fr_", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(dvrFindLanguage(c.word), c.id) << c.word;

  // A bare language code gives the first entry of that language.
  int finnish = dvrFindLanguage("fi");
  ASSERT_GT(finnish, 0);
  std::string name = dvrLanguageCanonicalName(finnish);
  EXPECT_EQ(name.substr(0, 2), "fi") << name;
  for (int id = 1; id < finnish; ++id) {
    std::string other = dvrLanguageCanonicalName(id);
    EXPECT_NE(other.substr(0, other.find('_')), "fi") << "earlier entry " << other;
  }
}

TEST_F(LanguageScan, FindsTheLocaleLineOnlyInTheSecondHalf) {
  std::string filler;
  for (int i = 0; i < 40; ++i) filler += dvrFormat("set global global key%d int %d\n", i, i);
  int french = dvrFindLanguage("fr_FR");
  int german = dvrFindLanguage("de_DE");
  ASSERT_GT(french, 0);
  ASSERT_GT(german, 0);
  struct Case {
    const char* label;
    std::string content;
    int id;
  };
  const Case cases[] = {
      {"last line", filler + "set locale fr_FR a b c\n", french},
      {"with carriage return", filler + "set locale fr_FR a b c\r\n", french},
      {"without the three extra words or line break", filler + "set locale fr_FR", french},
      {"the last of several wins", filler + "set locale de_DE a b c\nset locale fr_FR a b c\n",
       french},
      {"first half is not read", "set locale fr_FR a b c\n" + filler, 0},
      {"first half ignored, second half found",
       "set locale fr_FR a b c\n" + filler + "set locale de_DE a b c\n", german},
      {"default", filler + "set locale default a b c\n", 0},
      {"unknown language", filler + "set locale xx_NOWHERE a b c\n", 0},
      {"indented line is not a locale line", filler + " set locale fr_FR a b c\n", 0},
      {"empty file", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dir->write("settings.tvl", c.content);
    EXPECT_EQ(dvrScanSettingsLanguage(dir->file("settings.tvl")), c.id);
  }
  EXPECT_EQ(dvrScanSettingsLanguage(dir->file("missing.tvl")), 0);
}

TEST_F(LanguageScan, FindsTheLanguageOfAWrittenSettingsFile) {
  int french = dvrFindLanguage("fr_FR");
  ASSERT_GT(french, 0);
  {
    dvrLanguageScope language(french);
    ASSERT_TRUE(dvrSaveSettings(dir->file("settings.tvl")));
  }
  EXPECT_EQ(dvrScanSettingsLanguage(dir->file("settings.tvl")), french);
}

TEST_F(Paths, DriveLettersMapToDirectoriesUnderTheBase) {
  dvrSetBaseDirectory("/rec");
  struct Row {
    std::string path;
    std::string mapped;
  };
  const Row rows[] = {
      {"D:/capture/tvl0007.tt", "/rec/drives/D/capture/tvl0007.tt"},
      {"d:/capture/index.db", "/rec/drives/D/capture/index.db"},
      {"e:capture", "/rec/drives/E/capture"},
      {"/var/log/x", "/var/log/x"},
      {"1:/x", "1:/x"},
      {"", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(dvrDrivePath(r.path), r.mapped) << r.path;
  EXPECT_EQ(dvrPageFilePath('D', 7), "/rec/drives/D/capture/tvl0007.tt");
  EXPECT_EQ(dvrPageFilePath('e', 12345), "/rec/drives/E/capture/tvl12345.tt");
  EXPECT_EQ(dvrCaptureDirectory('f'), "/rec/drives/F/capture");
  EXPECT_EQ(dvrIndexDatabasePath(), "/rec/drives/D/capture/index.db");
}
