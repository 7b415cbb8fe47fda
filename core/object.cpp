#include "core/object.h"

#include <wx/defs.h>
#include <wx/windowid.h>

#include <vector>

#include "core/command.h"
#include "core/settings.h"

// ---- dvrObserver -------------------------------------------------------

dvrObserver::~dvrObserver() {
  // Copy first and detach without our own lock held: detach takes the
  // notifier's lock, and the order is always notifier before observer.
  std::vector<dvrNotifier*> notifiers;
  {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    notifiers.assign(attached_.begin(), attached_.end());
  }
  for (dvrNotifier* n : notifiers) n->detach(this);
  std::lock_guard<std::recursive_mutex> lock(lock_);
  attached_.clear();
}

void dvrObserver::update(dvrNotifier* notifier, std::uint32_t codes) {
  bool known;
  {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    known = attached_.count(notifier) != 0;
    if (codes & dvrNOTIFY_ATTACHED) attached_.insert(notifier);
    if (codes & (dvrNOTIFY_DESTROYED | dvrNOTIFY_DETACHED)) attached_.erase(notifier);
  }
  if (!known && !(codes & dvrNOTIFY_ATTACHED)) notifier->detach(this);
}

bool dvrObserver::isAttachedTo(const dvrNotifier* notifier) const {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  return attached_.count(const_cast<dvrNotifier*>(notifier)) != 0;
}

std::size_t dvrObserver::attachedCount() const {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  return attached_.size();
}

// ---- dvrNotifier -------------------------------------------------------

dvrNotifier::~dvrNotifier() {
  // Code 2 goes to every entry, whatever the enabled flags and the mask: an
  // observer that missed it would keep this notifier in its attached set and
  // detach from freed memory later. Same walk as notify(), so observers may
  // still detach inside update().
  std::lock_guard<std::recursive_mutex> lock(lock_);
  Cursor frame{observers_.begin(), false, cursor_};
  cursor_ = &frame;
  while (frame.it != observers_.end()) {
    frame.advanced = false;
    frame.it->first->update(this, dvrNOTIFY_DESTROYED);
    if (!frame.advanced) ++frame.it;
  }
  cursor_ = frame.outer;
  observers_.clear();
}

void dvrNotifier::attach(dvrObserver* observer, std::uint32_t mask) {
  if (!observer || mask == 0) return;
  std::lock_guard<std::recursive_mutex> lock(lock_);
  observers_[observer] |= mask | dvrNOTIFY_DESTROYED | dvrNOTIFY_ATTACHED;
  observer->update(this, dvrNOTIFY_ATTACHED);
}

void dvrNotifier::detach(dvrObserver* observer, std::uint32_t mask) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  auto it = observers_.find(observer);
  if (it == observers_.end()) return;
  it->second &= ~mask;
  if (it->second != 0) return;
  // Every notification in progress whose cursor stands on this entry moves on first.
  for (Cursor* c = cursor_; c; c = c->outer) {
    if (c->it == it) {
      ++c->it;
      c->advanced = true;
    }
  }
  observers_.erase(it);
  observer->update(this, dvrNOTIFY_DETACHED);
}

void dvrNotifier::notify(std::uint32_t codes) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  Cursor frame{observers_.begin(), false, cursor_};
  cursor_ = &frame;
  while (frame.it != observers_.end()) {
    frame.advanced = false;
    dvrObserver* observer = frame.it->first;
    std::uint32_t mask = frame.it->second;
    if ((mask & codes) && enabled_ && observer->isEnabled()) observer->update(this, codes & mask);
    if (!frame.advanced) ++frame.it;
  }
  cursor_ = frame.outer;
}

std::uint32_t dvrNotifier::maskOf(const dvrObserver* observer) const {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  auto it = observers_.find(const_cast<dvrObserver*>(observer));
  return it == observers_.end() ? 0 : it->second;
}

std::size_t dvrNotifier::observerCount() const {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  return observers_.size();
}

// ---- dvrObject ---------------------------------------------------------

dvrObject::dvrObject() : id_(wxIdManager::ReserveId(1)), settings_(new dvrSettingSet) {
  settings_->setOwner(this);
}

dvrObject::~dvrObject() {
  delete settings_;
  settings_ = nullptr;
  wxIdManager::UnreserveId(id_, 1);
}

void dvrObject::setName(std::string_view name) {
  name_ = name;
  settings_->setObjectName(name_.view());
  if (settings_->find("name") >= 0 && settings_->getText("name")[0] == '\0')
    settings_->setText("name", name_.view());
}

int dvrObject::applySetting(const dvrCommand& command, int) {
  std::string_view key = command.param(3);
  std::string_view type = command.param(4);
  std::string_view value = command.param(5);
  if (settings_->find(key) < 0) return 1;
  if (dvrEqualNoCase(type, "int"))
    settings_->setInt(key, dvrParseInt(value));
  else if (dvrEqualNoCase(type, "string"))
    settings_->setText(key, value);
  else if (dvrEqualNoCase(type, "float"))
    settings_->setFloat(key, static_cast<float>(dvrParseDouble(value)));
  return 1;
}
