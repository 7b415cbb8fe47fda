// The command interpreter: every change to the configuration is a command line.
//
// execute() parses a line and dispatches it at once on the calling thread:
// the word is looked up without regard to case in a fixed table, in table
// order; an unknown word does nothing, a known word with too few parameters
// logs "%s: not enough parameters." and does nothing else. The interpreter
// checks no rights: callers acting for a user check them first.
//
// Every word of the language is in the table from the start; the subsystem
// that implements a word binds its handler at start-up. A word whose handler
// is not bound is accepted and has no effect.
//
// Threads: execute() takes no lock and belongs to the main thread; other
// threads use enqueue(), and the next Refresh drains the queue on the main thread.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/command.h"

class dvrConsole {
 public:
  // A handler gets the parsed line and the caller's flag; its result is ignored
  // by dispatch (only Get passes the flag on to objects).
  using Handler = std::function<int(const dvrCommand&, int flag)>;

  struct Entry {
    const char* word;
    int minParams;
    Handler handler;
  };

  // Creates the table with the core's own commands bound (Run, SaveSettings,
  // Set, Get, Refresh, Start, Stop, DelCard, DelCards, Quit, Language, and
  // the user commands AddUser, DelUser, DelUsers, Logout).
  dvrConsole();

  void execute(std::string_view line, int flag = 0);
  void dispatch(const dvrCommand& command, int flag);
  // Drops the last character (the closing line break of a settings dump),
  // splits at line breaks, skips empty pieces and executes each; serialised
  // by a process-wide lock.
  void executeText(std::string_view text);
  // Parses the line and queues it; any thread.
  void enqueue(std::string_view line);
  // Dispatches the records queued before the call, each outside the lock.
  void drainQueue();
  std::size_t queued() const;

  // Binds the handler of a table word; false for a word not in the table.
  bool bind(std::string_view word, Handler handler);
  const std::vector<Entry>& table() const { return table_; }

 private:
  std::vector<Entry> table_;
  mutable std::mutex queueLock_;
  // A ring of records that grows when full and is reused afterwards, so a
  // steady stream of queued lines allocates nothing. Guarded by queueLock_.
  std::vector<dvrCommand> ring_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

// Runs a command file: the name as given, then with ".tvl", then in the
// settings directory, then there with ".tvl". Lines of at most 1022
// characters (the rest of a longer line is dropped); empty lines and lines beginning with "#" are skipped; one
// trailing line feed, then one carriage return, is removed. Missing: false, silently.
bool dvrRunFile(dvrConsole& console, const std::string& name);

// Writes the settings file; false after logging "[CORE] Error!!! Cannot save settings to %s!".
bool dvrSaveSettings(const std::string& file);

// The text of a settings file as SaveSettings writes it.
std::string dvrSettingsText();

// Turns a (translated) comment text into comment lines: the first character of
// the text and of every line after a line feed becomes "#" unless it is "#",
// a line feed, a form feed, a carriage return or the end; the text ends with a line break.
std::string dvrCommentForm(std::string_view text);
