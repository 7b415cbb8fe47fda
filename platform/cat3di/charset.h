/* The character set of the boards' display text planes: the ISO 8859-1 code
 * point shown by each of the 128 codes (code 127 is the blank). The board
 * kind encodes names with it; the simulation decodes the planes with it. */
#ifndef TAVEL_PLATFORM_CAT3DI_CHARSET_H
#define TAVEL_PLATFORM_CAT3DI_CHARSET_H

#ifdef __cplusplus
#include <array>

inline const std::array<int, 128>& cat3diCharacterSet() {
  static const std::array<int, 128> set = [] {
    std::array<int, 128> s{};
    int n = 0;
    for (int c : {174, 176, 189, 191, 185, 162, 163, 126, 224, 123, 232, 226, 234, 238, 244, 251, 125}) s[n++] = c;
    for (int c = 33; c <= 41; ++c) s[n++] = c;
    s[n++] = 225;
    for (int c = 43; c <= 90; ++c) s[n++] = c;
    for (int c : {91, 233, 93, 237, 243, 250}) s[n++] = c;
    for (int c = 97; c <= 122; ++c) s[n++] = c;
    for (int c : {231, 61, 209, 241, 124, 188, 161, 171, 187}) s[n++] = c;
    for (int c = 200; c <= 205; ++c) s[n++] = c;
    for (int c : {205, 207, 208, 209, 210, 211}) s[n++] = c;
    return s;
  }();
  return set;
}
#endif

#endif
