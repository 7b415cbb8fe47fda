#include "storage/page_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/fixture.h"

namespace {

class PageFileTest : public dvrEngineTest {};

TEST_F(PageFileTest, HandlesOfAPathShareOneDescriptor) {
  const std::string path = dir->file("tvl0000.tt");
  dvrFile writer(path);
  ASSERT_TRUE(writer.isOpen());
  EXPECT_EQ(writer.write("abcdef", 6, 10), 6u);
  {
    dvrFile reader(path);
    char text[7] = {};
    EXPECT_EQ(reader.read(text, 6, 10), 6u);
    EXPECT_STREQ(text, "abcdef");
    EXPECT_EQ(reader.tell(), 16);
    reader.closeFile();
    EXPECT_TRUE(writer.isOpen()) << "the writer still holds the descriptor";
  }
  EXPECT_EQ(writer.write("XY", 2), 2u) << "at the shared position after the read";
  char text[9] = {};
  EXPECT_EQ(writer.read(text, 8, 10), 8u);
  EXPECT_STREQ(text, "abcdefXY");
  writer.closeFile();
  EXPECT_FALSE(writer.isOpen());
  writer.closeFile();  // a second close does nothing
  EXPECT_EQ(dvrReadFile(path).size(), 18u);
}

TEST_F(PageFileTest, ReadsStopAtTheEndAndFailuresDoNotLoop) {
  const std::string path = dir->file("short.tt");
  dir->write("short.tt", "12345");
  dvrFile file(path);
  char buffer[64];
  EXPECT_EQ(file.read(buffer, sizeof buffer, 0), 5u) << "end of file";
  EXPECT_EQ(file.read(buffer, sizeof buffer, 100), 0u);

  const std::size_t before = logLines().size();
  dvrFile missing(dir->file("no/such/dir/tvl0001.tt"));
  EXPECT_FALSE(missing.isOpen());
  EXPECT_FALSE(missing.openFile());
  EXPECT_EQ(missing.write("x", 1, 0), 0u);
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), before + 1) << "logged once, not per attempt";
  EXPECT_NE(lines.back().find("[FILESYSTEM] Could not open file "), std::string::npos);
  EXPECT_NE(lines.back().find("No such file or directory!"), std::string::npos);
}

}  // namespace
