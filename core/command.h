// One parsed command line of the command language.
//
// Tokenising: a blank (the space character only) ends a token, and so does
// the end of the line; two blanks give an empty token. Once the command word
// is "set" and five tokens are complete, or "addrulenode" and six, blanks no
// longer end tokens: that parameter takes the rest of the line. After the
// eighth parameter the rest of the line is ignored. Texts longer than their
// limits (word 31, parameters 511 characters) are cut.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.h"

struct dvrCommand {
  static constexpr int kMaxParams = 8;

  std::int32_t count = 0;     // parameters after the command word (0 to 8)
  std::uint32_t reserved = 0;  // always 0
  dvrText<31> word;
  dvrText<511> params[kMaxParams];

  // Replaces this record with the tokens of line.
  void parse(std::string_view line);
  // Parameter n, counted from 1; empty when not given.
  std::string_view param(int n) const {
    return n >= 1 && n <= kMaxParams ? params[n - 1].view() : std::string_view();
  }
};
