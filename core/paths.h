// Standard paths of the recorder, reached through numeric keys.
//
// The first request for a key expands its template and caches the result;
// later requests return the cached text (an empty result is rebuilt every
// time). Templates: "$" at the start is the base directory (the working
// directory at start-up), "@" the program's directory, "~" the HOME
// variable ("/" when unset). Keys not in the table give the empty text.
//
// Thread safety: lookups may come from any thread.
#pragma once

#include <cstdint>
#include <string>

enum dvrPathKey : int {
  dvrPATH_SETTINGS = 101,
  dvrPATH_HELP = 102,
  dvrPATH_GALLERY = 103,
  dvrPATH_LAYOUTS = 104,
  dvrPATH_LANGUAGES = 105,
  dvrPATH_LOG = 106,
  dvrPATH_EMPTY = 107,
  dvrPATH_IMAGES = 108,
  dvrPATH_ICONS = 109,
  dvrPATH_BUTTONS = 110,
  dvrPATH_SOUNDS = 111,
  dvrPATH_POLL = 112,
  dvrPATH_CAPTURE = 114,
  dvrPATH_PAGEFILE = 115,
};

// Fixes the base directory (backslashes become "/") and forgets cached paths.
void dvrSetBaseDirectory(const std::string& dir);
std::string dvrBaseDirectory();

// Overrides the program directory used for "@" (tests); forgets cached paths.
void dvrSetProgramDirectory(const std::string& dir);

// The path for a key (see the table in paths.cpp).
std::string dvrGetPath(int key);

// The expansion of one template with the current base and program directories.
std::string dvrExpandPath(const std::string& pathTemplate);

// Drive paths: "X:/rest" (X a letter of either case) is the directory
// "<base>/drives/X/rest" with X in upper case; any other path is returned
// as it is. The only place that knows about drive letters.
std::string dvrDrivePath(const std::string& path);
// The capture directory of a drive ("%s:/capture" with the letter), mapped.
std::string dvrCaptureDirectory(char drive);
// A page file of a drive ("%s:/capture/tvl%s.tt" with the letter and the
// number as at least four digits), mapped.
std::string dvrPageFilePath(char drive, int number);
// The recording index: "index.db" in the capture directory of drive "d", mapped.
std::string dvrIndexDatabasePath();

// Must-allocate: a block of n bytes, retried until it succeeds. A count of 0
// logs "[MUSTMALLOC] Trying to allocate 0 bytes! No way! [%s]" with the
// caller's name and returns null.
void* dvrMustAlloc(const char* caller, std::size_t n);
// The same, with the block's bytes all zero. Large blocks come zeroed from the
// system without being written, so pages never used take no memory.
void* dvrMustAllocZeroed(const char* caller, std::size_t n);
// Frees a block from dvrMustAlloc; null is fine. The name is only for symmetry.
void dvrMustFree(const char* caller, void* block);

// Opens the file for reading; stores its size in *size when given. Answers
// whether the file could be opened.
bool dvrFileSize(const std::string& path, std::int64_t* size = nullptr);

// Creates a directory and its parents when missing; false if it does not exist afterwards.
bool dvrMakeDirectory(const std::string& path);
