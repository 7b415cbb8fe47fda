#include "core/command.h"

void dvrCommand::parse(std::string_view line) {
  count = 0;
  reserved = 0;
  word = "";
  for (auto& p : params) p = "";

  // Tokens are gathered into a local buffer and then cut into their record
  // field; characters past a field's limit are still consumed.
  int tokens = 0;  // complete tokens so far
  std::string current;
  enum { kNone, kSet, kRuleNode } keepBlanksAfter = kNone;
  auto finishToken = [&]() {
    if (tokens == 0) {
      word = current;
      if (dvrEqualNoCase(current, "set")) keepBlanksAfter = kSet;
      else if (dvrEqualNoCase(current, "addrulenode")) keepBlanksAfter = kRuleNode;
    } else {
      params[tokens - 1] = current;
    }
    ++tokens;
    current.clear();
  };

  for (std::size_t i = 0; i <= line.size(); ++i) {
    bool end = i == line.size();
    char c = end ? '\0' : line[i];
    // A NUL inside the line ends it, as it would end a C string.
    if (c == '\0') {
      finishToken();
      break;
    }
    bool keepBlanks = (keepBlanksAfter == kSet && tokens >= 5) ||
                      (keepBlanksAfter == kRuleNode && tokens >= 6);
    if (c == ' ' && !keepBlanks) {
      finishToken();
      if (tokens > kMaxParams) break;
      continue;
    }
    if (current.size() < 512) current += c;  // the field keeps at most 511
  }
  count = tokens - 1;
  if (count > kMaxParams) count = kMaxParams;
}
