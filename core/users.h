// Users, their rights and the login state.
//
// While no user exists everybody may do everything. Each user has a login
// name, a scrambled password and rights (one check box per program part plus
// four camera access groups) in a setting set of kind "user". The first user
// added becomes the administrator with every right and a locked set. Users
// change only through commands (AddUser, DelUser, DelUsers, Logout and Set
// with the target "user"), so they are saved in the settings file.
//
// Threads: users are created, changed and deleted on the main thread.
// hasRight() may also run on protocol connection threads: it reads the
// per-thread user map (guarded here) and plain integer values.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "core/engine.h"
#include "core/text.h"

class dvrConsole;
class dvrSettingSet;

// One user: login name (at most 31 characters) and an owned setting set of
// kind "user" whose object name is the login name; the set has no owner object.
class dvrUser {
 public:
  explicit dvrUser(std::string_view login);
  ~dvrUser();
  dvrUser(const dvrUser&) = delete;
  dvrUser& operator=(const dvrUser&) = delete;

  const char* login() const { return login_.c_str(); }
  dvrSettingSet& settings() { return *settings_; }
  const dvrSettingSet& settings() const { return *settings_; }
  // Unlocks the set, grants every right and every group, sets admin, locks the set.
  void makeAdministrator();
  bool isAdministrator() const;

 private:
  dvrText<31> login_;
  std::unique_ptr<dvrSettingSet> settings_;
};

// The scrambled form of a password: kept as it is when it already begins with
// "]"; otherwise "]" and, per character (taken as signed 8-bit and widened to
// 32 bits), the value XORed with the fixed key, written with "%02x". At most
// 255 characters: a longer result is cut.
std::string dvrScramblePassword(std::string_view password);

// The fixed one-byte key of the password scrambling. Settings files depend on
// it: it never changes.
inline constexpr int dvrPASSWORD_KEY = 0x5C;

// The user list of the core: 128 slots in order of creation. Implements the
// user side of the interpreter (Set with the target "user", the user section
// of the settings file) and the login state.
class dvrUserList : public dvrUserSide {
 public:
  static constexpr int kMaxUsers = 128;

  dvrUserList();
  ~dvrUserList() override;

  int count() const { return count_; }
  dvrUser* at(int index) const;
  // By exact login name (case counts); null when none.
  dvrUser* find(std::string_view login) const;

  // AddUser: nothing (null) when the login exists exactly or the list is full;
  // the first user becomes "DVR Administrator" with every right. The password
  // is stored scrambled. Logins longer than 31 characters are cut, here and in find().
  dvrUser* add(std::string_view login, std::string_view password);
  // DelUser: the first user whose login equals the name without regard to
  // case; the gap is closed. A deleted user is no longer current nor in the
  // per-thread map.
  bool remove(std::string_view login);
  // DelUsers; nobody is logged in afterwards.
  void removeAll();

  // The logged-in user, or null.
  dvrUser* current() const { return current_; }
  void setCurrent(dvrUser* user) { current_ = user; }
  // Logout: logs "User %s logged out." when somebody is logged in, plays
  // "logoff", clears the current user and tells the interface.
  void logout();

  // The per-thread user map: threads acting for a remote user.
  void setThreadUser(std::thread::id thread, dvrUser* user);
  void clearThreadUser(std::thread::id thread);
  dvrUser* threadUser(std::thread::id thread) const;

  // dvrUserSide
  void applyUserSetting(std::string_view login, const dvrCommand& command) override;
  std::string userSettingsText() override;

 private:
  dvrUser* users_[kMaxUsers] = {};
  int count_ = 0;
  dvrUser* current_ = nullptr;
  mutable std::mutex threadLock_;
  std::unordered_map<std::thread::id, dvrUser*> threadUsers_;  // guarded by threadLock_
};

// The user list of the process's core, or null before the core exists (or
// when the core carries another user side). Any thread.
dvrUserList* dvrUsers();

// Binds AddUser, DelUser, DelUsers and Logout to the process's user list.
void dvrBindUserCommands(dvrConsole& console);

// ---- rights -------------------------------------------------------------

// Whether the calling thread's user (remote threads), else the current user,
// holds the right; yes while no users exist, no while nobody is logged in.
bool hasRight(std::string_view key);

// What a guarded operation asks before it acts: yes when hasRight(), when no
// users exist or when the current user holds the right; else, with a login
// prompt installed (the windowed interface), asks for a user who has the
// right ("logon" is played on success) and then, whatever the outcome, tells
// the interface that the login may have changed. Without a prompt (headless)
// the answer is no. The prompt gets the parent window (opaque here) and the
// right key and answers whether a login succeeded.
using dvrLoginPrompt = std::function<bool(void* parent, std::string_view key)>;
void dvrSetLoginPrompt(dvrLoginPrompt prompt);
bool requireRight(void* parent, std::string_view key);

// Whether the current user may see the camera: no for an unknown camera, yes
// without users, no when nobody is logged in, yes for "group" 0, else the
// user's group%d right.
bool hasGroupAccess(std::string_view cameraName);

// Called whenever the login state changes (the main window updates its menu and title).
void dvrSetLoginChanged(std::function<void()> onChange);
void dvrNotifyLoginChanged();

// ---- login checks (used by the login dialog) -----------------------------

// The outcome of checking what was typed into a login dialog.
struct dvrLoginCheck {
  bool accepted = false;
  bool focusLogin = false;  // move the focus back to the login field
  std::string errorText;    // shown in the dialog's status line; may be empty
};

// LoginChecker for a right: the user by exact login, the typed password
// scrambled and compared with the stored one; a user with the right becomes
// the current user ("User %s logged in."). Refusals are logged.
dvrLoginCheck dvrCheckLogin(std::string_view right, std::string_view login,
                            std::string_view password);

// PasswdCheck for the add-user dialog: new login of at least 2 characters,
// password of at least 4.
dvrLoginCheck dvrCheckNewUser(std::string_view login, std::string_view password);
