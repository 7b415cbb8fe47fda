#include "core/command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TokenCase {
  const char* label;
  std::string line;
  std::string word;
  int count;
  std::vector<std::string> params;  // parameters 1.. given; the rest must be empty
};

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

}  // namespace

TEST(Tokeniser, SplitsLinesIntoWordAndParameters) {
  const std::string setPrefix = "set global global customer string ";
  const TokenCase cases[] = {
      // Long lines first: every row reuses one record, so a parse that does
      // not clear what the previous line left behind shows up as stale fields.
      {"other commands lose everything after the eighth parameter",
       "addcamera 1 2 3 4 5 6 7 8 9 10 11",
       "addcamera",
       8,
       {"1", "2", "3", "4", "5", "6", "7", "8"}},
      {"blanks after the eighth parameter are ignored",
       "x 1 2 3 4 5 6 7 8   ",
       "x",
       8,
       {"1", "2", "3", "4", "5", "6", "7", "8"}},
      {"a word that only starts like set splits normally",
       "settings a b c d e f g h i",
       "settings",
       8,
       {"a", "b", "c", "d", "e", "f", "g", "h"}},
      {"blanks split", "addcard brisa Brisa1", "addcard", 2, {"brisa", "Brisa1"}},
      {"two blanks give an empty token", "dome  Cam1", "dome", 2, {"", "Cam1"}},
      {"a leading blank gives an empty word", " start", "", 1, {"start"}},
      {"two leading blanks give an empty word and an empty parameter",
       "  start",
       "",
       2,
       {"", "start"}},
      {"a trailing blank gives an empty last parameter", "stop ", "stop", 1, {""}},
      {"tabs are ordinary characters", "run\tsettings a\tb", "run\tsettings", 1, {"a\tb"}},
      {"set keeps the blanks of its value",
       "set camera Cam1 name string Front door",
       "set",
       5,
       {"camera", "Cam1", "name", "string", "Front door"}},
      {"SET in capitals keeps leading, inner and trailing blanks of the value",
       "SET GLOBAL global customer string  two  blanks ",
       "SET",
       5,
       {"GLOBAL", "global", "customer", "string", " two  blanks "}},
      {"a set value of many words is one parameter",
       "set a b c d 1 2 3 4 5 6 7 8 9",
       "set",
       5,
       {"a", "b", "c", "d", "1 2 3 4 5 6 7 8 9"}},
      {"get splits its value at blanks",
       "get global global customer string Back door",
       "get",
       6,
       {"global", "global", "customer", "string", "Back", "door"}},
      {"set without its value",
       "set camera Cam1 name string",
       "set",
       4,
       {"camera", "Cam1", "name", "string"}},
      {"addrulenode keeps the blanks of parameter 6",
       "addrulenode R1 a b c d e f g h i",
       "addrulenode",
       6,
       {"R1", "a", "b", "c", "d", "e f g h i"}},
      {"AddRuleNode in mixed case",
       "AddRuleNode R1 1 2 3 4 x  y",
       "AddRuleNode",
       6,
       {"R1", "1", "2", "3", "4", "x  y"}},
      {"exactly eight parameters",
       "x 1 2 3 4 5 6 7 8",
       "x",
       8,
       {"1", "2", "3", "4", "5", "6", "7", "8"}},
      {"an over-long word is cut to 31 characters",
       repeat('w', 40) + " p",
       repeat('w', 31),
       1,
       {"p"}},
      {"an over-long parameter is cut to 511 characters and the next one still splits",
       "run " + repeat('p', 600) + " q",
       "run",
       2,
       {repeat('p', 511), "q"}},
      {"an over-long set value is cut to 511 characters",
       setPrefix + repeat('v', 700),
       "set",
       5,
       {"global", "global", "customer", "string", repeat('v', 511)}},
      {"a NUL inside the line ends it", std::string("run a\0b c", 9), "run", 1, {"a"}},
      {"a word alone", "refresh", "refresh", 0, {}},
      {"an empty line", "", "", 0, {}},
  };

  dvrCommand command;
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(c.label);
    command.parse(c.line);
    EXPECT_EQ(command.word.view(), c.word);
    EXPECT_EQ(command.count, c.count);
    EXPECT_EQ(command.reserved, 0u);
    for (int n = 1; n <= dvrCommand::kMaxParams; ++n) {
      std::string expected =
          n <= static_cast<int>(c.params.size()) ? c.params[static_cast<std::size_t>(n - 1)] : "";
      EXPECT_EQ(command.param(n), expected) << "parameter " << n;
    }
  }
}

TEST(Tokeniser, ParameterAccessOutsideOneToEightIsEmpty) {
  dvrCommand command;
  command.parse("x 1 2 3 4 5 6 7 8");
  EXPECT_EQ(command.param(0), "");
  EXPECT_EQ(command.param(-1), "");
  EXPECT_EQ(command.param(9), "");
  EXPECT_EQ(command.param(8), "8");
}
