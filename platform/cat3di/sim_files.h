// The control files of the simulated boards: small text files read on every
// call that depends on them and written whole, so that a reader never sees
// half of a write.
//
// Threads: any thread; two writers of one file must not run at the same time
// (the callers serialise them by board).
#pragma once

#include <optional>
#include <string>

namespace cat3disim {

// The integer at the start of the file (after blanks); nullopt when the file
// is missing or does not start with a number.
std::optional<long long> readNumber(const std::string& path);
// The number clamped to [low, high]; `fallback` when there is none.
int readInt(const std::string& path, int fallback, int low, int high);
// Replaces the file's content, making its folder when missing.
bool writeText(const std::string& path, const std::string& text);
// Adds the text at the end of the file, making its folder when missing.
bool appendText(const std::string& path, const std::string& text);
// Makes the folder and its parents when missing.
bool makeDirectory(const std::string& path);

}  // namespace cat3disim
