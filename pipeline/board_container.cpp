#include "pipeline/board_container.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "core/language.h"
#include "core/log.h"
#include "core/text.h"

namespace {

struct Kind {
  std::string keyword;
  dvrBoardContainer::Factory factory;
};

std::mutex g_kindsLock;
std::vector<Kind>& kinds() {
  static std::vector<Kind> registered;
  return registered;
}

// The keywords of every board kind of the recorder; those whose kind is not
// registered (not built into this program) are reported as not handled.
dvrBoardContainer::Factory factoryFor(std::string_view keyword) {
  std::lock_guard<std::mutex> lock(g_kindsLock);
  for (const Kind& k : kinds())
    if (dvrEqualNoCase(k.keyword, keyword)) return k.factory;
  return {};
}

}  // namespace

dvrBoardContainer::~dvrBoardContainer() {
  deleteSingleInstanceBoards();
  boards_.clear();
}

void dvrBoardContainer::registerType(std::string keyword, Factory factory) {
  std::lock_guard<std::mutex> lock(g_kindsLock);
  for (Kind& k : kinds()) {
    if (dvrEqualNoCase(k.keyword, keyword)) {
      k.factory = std::move(factory);
      return;
    }
  }
  kinds().push_back({std::move(keyword), std::move(factory)});
}

void dvrBoardContainer::unregisterType(std::string_view keyword) {
  std::lock_guard<std::mutex> lock(g_kindsLock);
  auto& list = kinds();
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const Kind& k) { return dvrEqualNoCase(k.keyword, keyword); }),
             list.end());
}

bool dvrBoardContainer::addBoard(std::string_view keyword, std::string_view name) {
  const std::string word(keyword);
  Factory factory = factoryFor(keyword);
  std::unique_ptr<dvrBoard> board = factory ? factory() : nullptr;
  if (!board) {
    dvrLogMessage(dvrTr("[BOARD] Board type `%s' not handled in dvrBoardContainer::addBoard().").c_str(),
                  word.c_str());
    return false;
  }
  board->setKeyword(word);
  if (board->isSingleInstance()) {
    for (const auto& existing : boards_) {
      if (dvrEqualNoCase(existing->typeName(), keyword)) {
        dvrLogMessage(dvrTr("[BOARD] Cannot add 2 or more boards of type `%s'").c_str(), word.c_str());
        return false;
      }
    }
  }
  if (!board->open()) {
    dvrLogMessage(dvrTr("[BOARD] Board init failed for board of type `%s'.").c_str(), word.c_str());
    return false;
  }
  board->setName(name);
  board->close();
  boards_.push_back(std::move(board));
  return true;
}

dvrBoard* dvrBoardContainer::findBoard(std::string_view text) const {
  for (const auto& board : boards_)
    if (std::string_view(board->name()).find(text) != std::string_view::npos) return board.get();
  return nullptr;
}

int dvrBoardContainer::countBoards(std::string_view typeName) const {
  if (typeName.empty()) return static_cast<int>(boards_.size());
  int n = 0;
  for (const auto& board : boards_)
    if (dvrEqualNoCase(board->typeName(), typeName)) ++n;
  return n;
}

bool dvrBoardContainer::deleteBoard(std::string_view name) {
  for (auto it = boards_.begin(); it != boards_.end(); ++it) {
    if (dvrEqualNoCase((*it)->name(), name)) {
      boards_.erase(it);
      return true;
    }
  }
  return false;
}

bool dvrBoardContainer::deleteSingleInstanceBoards() {
  bool any = false;
  for (auto it = boards_.begin(); it != boards_.end();) {
    if ((*it)->isSingleInstance()) {
      it = boards_.erase(it);
      any = true;
    } else {
      ++it;
    }
  }
  return any;
}

bool dvrBoardContainer::deleteAllBoards() {
  bool any = deleteSingleInstanceBoards();
  any = any || !boards_.empty();
  boards_.clear();
  return any;
}

bool dvrBoardContainer::openAndStartAll() {
  for (const auto& board : boards_)
    if (!board->open() || !board->startCapture()) return false;
  return true;
}

void dvrBoardContainer::stopAll() {
  for (const auto& board : boards_) board->stopCapture();
}
