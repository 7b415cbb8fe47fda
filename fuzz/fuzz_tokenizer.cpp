// Fuzz target: any byte string tokenised as a command line must stay within
// the record's limits and never read or write outside its buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dvrCommand command;
  command.parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (command.count < 0 || command.count > dvrCommand::kMaxParams) std::abort();
  if (command.word.size() > 31) std::abort();
  for (int i = 1; i <= dvrCommand::kMaxParams; ++i) {
    if (command.param(i).size() > 511) std::abort();
    if (i > command.count && !command.param(i).empty()) std::abort();
  }
  return 0;
}
