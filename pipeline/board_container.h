// The boards of the recorder, in the order they were added, created from
// the type keyword of "AddCard".
//
// The board kinds live in the device and network libraries, which register
// a factory for their keyword at start-up; a keyword without a factory is
// not handled.
//
// Threads: the command thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/board.h"

class dvrBoardContainer {
 public:
  using Factory = std::function<std::unique_ptr<dvrBoard>()>;

  dvrBoardContainer() = default;
  ~dvrBoardContainer();

  // Registers the board kind of a keyword (compared without regard to case).
  static void registerType(std::string keyword, Factory factory);
  static void unregisterType(std::string_view keyword);

  // Creates, opens (to prove it works), names, closes and appends a board.
  bool addBoard(std::string_view keyword, std::string_view name);
  // The first board whose name contains the text (case-sensitive), or null.
  dvrBoard* findBoard(std::string_view text) const;
  const std::vector<std::unique_ptr<dvrBoard>>& boards() const { return boards_; }
  // Boards whose type name equals the text without regard to case; all for an empty text.
  int countBoards(std::string_view typeName) const;
  // Deletes the first board whose name equals the name without regard to case.
  bool deleteBoard(std::string_view name);
  // Single-instance boards first, then the others; true if any was deleted.
  bool deleteAllBoards();
  bool deleteSingleInstanceBoards();
  // open and startCapture on every board in order; false at the first failure.
  bool openAndStartAll();
  void stopAll();

 private:
  std::vector<std::unique_ptr<dvrBoard>> boards_;
};
