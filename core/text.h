// Fixed-capacity texts for the system's fixed-size records.
//
// Records such as setting descriptors and parsed command lines keep their
// texts in fixed arrays with stated limits (31, 127, 511, 4095 characters).
// dvrText enforces a limit by cutting on every assignment, so no caller can
// overrun a record. Plain value type: copying copies the array.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

template <std::size_t N>
class dvrText {
 public:
  static constexpr std::size_t capacity = N;

  dvrText() { buf_[0] = '\0'; }
  dvrText(std::string_view s) { assign(s); }  // NOLINT: implicit by design

  dvrText& operator=(std::string_view s) {
    assign(s);
    return *this;
  }

  // Stores at most N characters of s; the rest is dropped.
  void assign(std::string_view s) {
    len_ = s.size() < N ? s.size() : N;
    if (len_ > 0) std::memmove(buf_, s.data(), len_);
    buf_[len_] = '\0';
  }

  const char* c_str() const { return buf_; }
  std::string_view view() const { return {buf_, len_}; }
  std::string str() const { return {buf_, len_}; }
  std::size_t size() const { return len_; }
  bool empty() const { return len_ == 0; }

  operator std::string_view() const { return view(); }  // NOLINT

  friend bool operator==(const dvrText& a, std::string_view b) { return a.view() == b; }

 private:
  std::size_t len_ = 0;
  char buf_[N + 1];
};

// Case-insensitive (ASCII) comparison, used for command words and setting keys.
bool dvrEqualNoCase(std::string_view a, std::string_view b);

// Reads a decimal integer the way the settings code does everywhere: leading
// blanks, an optional sign, then digits; stops at the first other character;
// 0 when there are no digits. Saturates at the 32-bit range instead of overflowing.
int dvrParseInt(std::string_view s);

// Reads a real number (leading part, like strtod); 0 when there is none.
double dvrParseDouble(std::string_view s);

// printf into a std::string.
std::string dvrFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string dvrVFormat(const char* fmt, va_list ap);
