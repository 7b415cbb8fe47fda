// Observers, notifiers and the common object base of boards and cameras.
//
// A notifier keeps a map from observer to subscription mask and calls
// update(notifier, codes) on every observer whose mask shares bits with the
// codes of a notification. Every attachment is also subscribed to codes 2
// (notifier destroyed) and 4 (observer attached).
//
// Threads: notifications come from many threads. update() runs on the
// notifying thread with the notifier's lock held; observers that touch
// windows must only record the fact and act later on the main thread. Locks
// are recursive, so an observer may attach, detach or notify from inside
// update(). Lock order is always notifier, then observer.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "core/text.h"

// Notification codes (bit values; a notification may carry several).
enum dvrNotifyCode : std::uint32_t {
  dvrNOTIFY_CONSTRUCTED = 1,
  dvrNOTIFY_DESTROYED = 2,
  dvrNOTIFY_ATTACHED = 4,
  dvrNOTIFY_DETACHED = 8,
  dvrNOTIFY_SETTING = 16,
  dvrNOTIFY_RECORDING = 32,
  dvrNOTIFY_VIEW_CACHE = 64,
  dvrNOTIFY_VIEW_POSITION = 128,
  dvrNOTIFY_LIVE_REFRESHED = 256,
};

class dvrNotifier;
class dvrSettingSet;
struct dvrCommand;

class dvrObserver {
 public:
  dvrObserver() = default;
  dvrObserver(const dvrObserver&) = delete;
  dvrObserver& operator=(const dvrObserver&) = delete;
  // Detaches from every notifier still in the attached set.
  virtual ~dvrObserver();

  // Base behaviour, which overrides call first: keeps the attached set in step
  // with codes 4 (add), 2 and 8 (remove). A notification from a notifier that
  // is unknown (without code 4) detaches this observer from it completely.
  virtual void update(dvrNotifier* notifier, std::uint32_t codes);

  bool isEnabled() const { return enabled_; }
  void setEnabled(bool on) { enabled_ = on; }
  bool isAttachedTo(const dvrNotifier* notifier) const;
  std::size_t attachedCount() const;

 protected:
  std::recursive_mutex& observerLock() const { return lock_; }

 private:
  std::set<dvrNotifier*> attached_;  // guarded by lock_
  mutable std::recursive_mutex lock_;
  bool enabled_ = true;
};

class dvrNotifier {
 public:
  dvrNotifier() = default;
  dvrNotifier(const dvrNotifier&) = delete;
  dvrNotifier& operator=(const dvrNotifier&) = delete;
  // Notifies 2 to every observer, then drops the map.
  virtual ~dvrNotifier();

  // Subscribes the observer to mask | 2 | 4 and calls observer->update(this, 4).
  // A null observer or a zero mask does nothing.
  void attach(dvrObserver* observer, std::uint32_t mask);
  // Clears the mask bits of the observer's subscription (all ones: every
  // bit); when nothing is left the entry goes and observer->update(this, 8) is called.
  void detach(dvrObserver* observer, std::uint32_t mask = 0xFFFFFFFFu);
  // Calls update(this, codes & mask) on every observer whose mask shares bits
  // with codes, in observer-address order, while both are enabled. Observers
  // may detach themselves (or others) and nest notifications inside update().
  void notify(std::uint32_t codes);

  bool isEnabled() const { return enabled_; }
  void setEnabled(bool on) { enabled_ = on; }
  std::uint32_t maskOf(const dvrObserver* observer) const;
  std::size_t observerCount() const;

 protected:
  std::recursive_mutex& notifierLock() const { return lock_; }

 private:
  using ObserverMap = std::map<dvrObserver*, std::uint32_t>;
  // One frame per notification in progress on this notifier (nested ones
  // form a stack), so that a detach can move every cursor off the erased entry.
  struct Cursor {
    ObserverMap::iterator it;
    bool advanced;
    Cursor* outer;
  };

  ObserverMap observers_;  // guarded by lock_
  Cursor* cursor_ = nullptr;  // innermost notification in progress; guarded by lock_
  mutable std::recursive_mutex lock_;
  bool enabled_ = true;
};

// The common base of every board and camera: observer and notifier at once,
// addressed by name in commands, owning its setting set.
class dvrObject : public dvrObserver, public dvrNotifier {
 public:
  dvrObject();
  // Deletes the setting set first; then the notifier part tells observers (2)
  // and the observer part detaches from everything it watched.
  ~dvrObject() override;

  // Stores the name, makes it the set's object name, and fills the set's
  // "name" descriptor when that is empty (a display name always exists).
  void setName(std::string_view name);
  const char* name() const { return name_.c_str(); }
  const char* secondText() const { return second_.c_str(); }
  void setSecondText(std::string_view text) { second_ = text; }
  int id() const { return id_; }
  dvrSettingSet& settings() { return *settings_; }
  const dvrSettingSet& settings() const { return *settings_; }

  // Base behaviour of a parsed "set" line: parameter 3 is the key, 4 the type
  // word ("int", "string", "float", any case) and 5 the value. Unknown keys
  // and type words change nothing. The flag comes from Get and is ignored.
  // Returns 1. Boards and cameras add per-key side effects.
  virtual int applySetting(const dvrCommand& command, int flag);

 private:
  int id_;
  dvrText<31> name_;
  dvrText<127> second_;
  dvrSettingSet* settings_;
};
