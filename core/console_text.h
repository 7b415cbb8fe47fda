// The console text: what the console window shows. Every log line is
// appended to it; the window shows the part added since it last looked.
//
// Only the newest kLimit characters are kept, so a recorder that runs for
// months does not grow without bound; positions count every character ever
// appended, so a reader never sees a piece twice.
//
// Threads: any thread appends; readers are on the main thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

void dvrConsoleTextAppend(std::string_view text);
// Empties the text and restarts the positions at 0 (start-up).
void dvrConsoleTextClear();
// The characters appended after position `from` that are still kept; stores
// the position after them (the total appended so far) in *next.
std::string dvrConsoleTextSince(std::uint64_t from, std::uint64_t* next);
std::uint64_t dvrConsoleTextLength();
