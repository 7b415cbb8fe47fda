// Fuzz target: any mask text loaded into any row group keeps every mask value
// within 0..8, and saving gives back a text of 264 letters "A".."I" (the text
// itself when it was already made of such letters); other groups stay clear.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pipeline/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the group; as a signed byte it also reaches -128..-1.
  const int group = static_cast<std::int8_t>(data[0]);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  dvrImage image(16, 8, dvrFORMAT_UYVY);
  image.loadMask(group, text);

  const bool validGroup = group >= 0 && group < 6;
  const bool loaded = validGroup && text.size() == static_cast<std::size_t>(dvrMASK_TEXT_LENGTH);
  const std::uint8_t* mask = image.buffer(dvrBUF_MASK);
  for (int cell = 0; cell < dvrGRID_CELLS; ++cell) {
    if (mask[cell] > 8) std::abort();
    const bool inGroup = loaded && cell / (6 * dvrGRID_COLUMNS) == group;
    if (!inGroup && mask[cell] != 0) std::abort();
  }

  for (int g = -1; g <= 6; ++g) {
    const std::string saved = image.saveMask(g);
    if (g < 0 || g >= 6) {
      if (!saved.empty()) std::abort();
      continue;
    }
    if (saved.size() != static_cast<std::size_t>(dvrMASK_TEXT_LENGTH)) std::abort();
    for (char ch : saved)
      if (ch < 'A' || ch > 'I') std::abort();
    if (g != group || !loaded) {
      if (saved != std::string(dvrMASK_TEXT_LENGTH, 'A')) std::abort();
      continue;
    }
    bool letters = true;
    for (char ch : text) letters = letters && ch >= 'A' && ch <= 'I';
    if (letters && saved != text) std::abort();
    // Saved text loads back to the same mask.
    dvrImage again(16, 8, dvrFORMAT_UYVY);
    again.loadMask(g, saved);
    if (again.saveMask(g) != saved) std::abort();
  }
  return 0;
}
