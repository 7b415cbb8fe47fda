#include "core/users.h"

#include <cstdint>
#include <utility>

#include "core/command.h"
#include "core/console.h"
#include "core/language.h"
#include "core/log.h"
#include "core/process.h"
#include "core/settings.h"
#include "core/sound.h"

using namespace dvrFlag;
using namespace dvrType;

namespace {

// The rights an administrator holds; every check box of the user set.
const char* const kAdministratorRights[] = {
    "c_live",   "c_rec",    "c_setup",     "c_gallery", "c_remote", "c_brdsetup", "c_brdadjust",
    "c_camsetup", "c_camadjust", "c_rules", "c_users",   "c_img",    "c_mpg",      "c_quit",
    "group1",   "group2",   "group3",      "group4",    "c_ptz",    "c_preset",   "admin",
};

// The hooks installed by the windowed interface. Main thread.
dvrLoginPrompt& loginPrompt() {
  static dvrLoginPrompt prompt;
  return prompt;
}

std::function<void()>& loginChanged() {
  static std::function<void()> hook;
  return hook;
}


void declareUser(dvrSettingSet& s, const char* key, const char* label, const char* help,
                 std::int32_t type, std::uint32_t flags) {
  s.declare(key, dvrTr(label), dvrTr(help), type, flags);
}

std::string errorText(const std::string& reason) {
  return dvrFormat(dvrTr("Error: %s").c_str(), reason.c_str());
}

}  // namespace

// ---- dvrUser ----------------------------------------------------------------

dvrUser::dvrUser(std::string_view login) : login_(login), settings_(std::make_unique<dvrSettingSet>()) {
  dvrSettingSet& s = *settings_;
  s.setKind("user");
  s.setObjectName(login_.view());
  declareUser(s, "name", "User name",
              "User's name which is shown on titlebars. Usually the full name of the user, eg. "
              "John Smith.",
              TEXT, STRING);
  declareUser(s, "pass", "Password", "Password for this user.", TEXT, STRING | PASSWORD);
  declareUser(s, "", "Program parts", "", GROUP, 0);
  declareUser(s, "c_live", "Live view", "The user may view live image.", CHECK, INT);
  declareUser(s, "c_rec", "Record viewing", "The user may view recordings.", CHECK, INT);
  declareUser(s, "c_setup", "Settings", "The user may change (some) settings; see below also.",
              CHECK, INT);
  declareUser(s, "c_gallery", "Gallery", "The usermay browse the gallery.", CHECK, INT);
  declareUser(s, "c_remote", "Remote access",
              "The user may connect to this computer through network.", CHECK, INT);
  declareUser(s, "", "Settings", "", GROUP, 0);
  declareUser(s, "c_brdsetup", "Add/Remove hardware  *",
              "The user may add or remove devices (boards, etc.)", CHECK, INT);
  declareUser(s, "c_brdadjust", "Adjust hardware",
              "The user may adjust hardware settings (eg. video standard).", CHECK, INT);
  declareUser(s, "c_camsetup", "Add/Remove cameras  *", "The user may add or remove cameras.",
              CHECK, INT);
  declareUser(s, "c_camadjust", "Adjust cameras",
              "The user may adjust camera settings (contrast, brightness, etc.)", CHECK, INT);
  declareUser(s, "c_rules", "Rule settings", "The user may adjust rule settings.", CHECK, INT);
  declareUser(s, "c_users", "User control  *",
              "The user may add or remove users, or modify existing ones.", CHECK, INT);
  declareUser(s, "", "Tasks", "", GROUP, 0);
  declareUser(s, "c_img", "Save image",
              "The user may save still images from the live view, or the recordings.", CHECK, INT);
  declareUser(s, "c_mpg", "Export video", "The user may save video clips to an external file.",
              CHECK, INT);
  declareUser(s, "c_quit", "Quit program  *",
              "The user may quit the program, and thus stop recording.", CHECK, INT);
  declareUser(s, "c_preset", "Camera preset control",
              "The user may control PTZ cameras with by calling presets", CHECK, INT);
  declareUser(s, "c_ptz", "Camera PTZ control", "The user may control PTZ cameras fully", CHECK,
              INT);
  declareUser(s, "", "Group access", "", GROUP, 0);
  declareUser(s, "",
              "Note! The user rights marked with a * should be granted to only the system "
              "administrators.",
              "", NOTE, NOSAVE);
  const std::string groupHelp =
      dvrTr("If a user is a member of the specified access group, he has rights to access "
            "cameras and devices restricted with that group definition.");
  const std::string groupLabel = dvrTr("Access group %d");
  for (int g = 1; g <= 4; ++g)
    s.declare(dvrFormat("group%d", g), dvrFormat(groupLabel.c_str(), g), groupHelp, CHECK, INT);
  declareUser(s, "admin", "", "", HIDDEN, INT);
  declareUser(s, "", "User settings", "", GROUP, 0);
  declareUser(s, "deflayout", "Default layout",
              "Default camera window layout in record viewer and live image.", LAYOUT, STRING);
}

dvrUser::~dvrUser() = default;

void dvrUser::makeAdministrator() {
  settings_->setLocked(false);
  for (const char* key : kAdministratorRights) settings_->setInt(key, 1);
  settings_->setLocked(true);
}

bool dvrUser::isAdministrator() const { return settings_->getInt("admin") != 0; }

// ---- password scrambling ------------------------------------------------------

std::string dvrScramblePassword(std::string_view password) {
  constexpr std::size_t kLimit = 255;
  if (!password.empty() && password.front() == ']') return std::string(password.substr(0, kLimit));
  std::string out = "]";
  for (char c : password) {
    std::int32_t v = static_cast<std::int32_t>(static_cast<std::int8_t>(c)) ^ dvrPASSWORD_KEY;
    out += dvrFormat("%02x", static_cast<unsigned>(v));
    if (out.size() >= kLimit) break;
  }
  if (out.size() > kLimit) out.resize(kLimit);
  return out;
}

// ---- dvrUserList --------------------------------------------------------------

dvrUserList::dvrUserList() = default;

dvrUserList::~dvrUserList() { removeAll(); }

dvrUser* dvrUserList::at(int index) const {
  return index >= 0 && index < count_ ? users_[index] : nullptr;
}

dvrUser* dvrUserList::find(std::string_view login) const {
  // Stored logins are cut to their limit; the name asked for is cut alike.
  const dvrText<31> wanted(login);
  for (int i = 0; i < count_; ++i)
    if (users_[i]->login() == wanted.view()) return users_[i];
  return nullptr;
}

dvrUser* dvrUserList::add(std::string_view login, std::string_view password) {
  if (find(login) || count_ >= kMaxUsers) return nullptr;
  auto* user = new dvrUser(login);
  if (count_ == 0) {
    user->settings().setText("name", dvrTr("DVR Administrator"));
    user->makeAdministrator();
  }
  user->settings().setText("pass", dvrScramblePassword(password));
  users_[count_++] = user;
  return user;
}

bool dvrUserList::remove(std::string_view login) {
  const dvrText<31> wanted(login);
  for (int i = 0; i < count_; ++i) {
    dvrUser* user = users_[i];
    if (!dvrEqualNoCase(user->login(), wanted.view())) continue;
    for (int j = i + 1; j < count_; ++j) users_[j - 1] = users_[j];
    users_[--count_] = nullptr;
    if (current_ == user) current_ = nullptr;
    {
      std::lock_guard<std::mutex> lock(threadLock_);
      for (auto it = threadUsers_.begin(); it != threadUsers_.end();)
        it = it->second == user ? threadUsers_.erase(it) : std::next(it);
    }
    delete user;
    return true;
  }
  return false;
}

void dvrUserList::removeAll() {
  current_ = nullptr;
  {
    std::lock_guard<std::mutex> lock(threadLock_);
    threadUsers_.clear();
  }
  for (int i = 0; i < count_; ++i) {
    delete users_[i];
    users_[i] = nullptr;
  }
  count_ = 0;
}

void dvrUserList::logout() {
  if (!current_) return;  // nobody to log out: no message, no sound
  dvrLogMessage(dvrTr("User %s logged out.").c_str(), current_->login());
  dvrPlaySound("logoff");
  current_ = nullptr;
  dvrNotifyLoginChanged();
}

void dvrUserList::setThreadUser(std::thread::id thread, dvrUser* user) {
  std::lock_guard<std::mutex> lock(threadLock_);
  threadUsers_[thread] = user;
}

void dvrUserList::clearThreadUser(std::thread::id thread) {
  std::lock_guard<std::mutex> lock(threadLock_);
  threadUsers_.erase(thread);
}

dvrUser* dvrUserList::threadUser(std::thread::id thread) const {
  std::lock_guard<std::mutex> lock(threadLock_);
  auto it = threadUsers_.find(thread);
  return it == threadUsers_.end() ? nullptr : it->second;
}

void dvrUserList::applyUserSetting(std::string_view login, const dvrCommand& command) {
  dvrUser* user = find(login);
  if (!user) return;
  dvrSettingSet& s = user->settings();
  std::string_view key = command.param(3);
  std::string_view type = command.param(4);
  std::string_view value = command.param(5);
  if (dvrEqualNoCase(type, "int")) {
    int v = dvrParseInt(value);
    s.setInt(key, v);
    if (dvrEqualNoCase(key, "admin") && v == 1) user->makeAdministrator();
  } else if (dvrEqualNoCase(type, "string")) {
    if (dvrEqualNoCase(key, "pass") && (value.empty() || value.front() != ']'))
      s.setText(key, dvrScramblePassword(value));
    else
      s.setText(key, value);
  } else if (dvrEqualNoCase(type, "float")) {
    s.setFloat(key, static_cast<float>(dvrParseDouble(value)));
  }
}

std::string dvrUserList::userSettingsText() {
  std::string out;
  for (int i = 0; i < count_; ++i) {
    const dvrUser& user = *users_[i];
    out += dvrFormat("adduser %s %s\n", user.login(), user.settings().getText("pass"));
    out += user.settings().dump();
    out += "\n\n";
  }
  return out;
}

dvrUserList* dvrUsers() {
  dvrCore* core = dvrProcess().core;
  // A core may carry another user side (tests register stand-ins); that is not a list.
  return core ? dynamic_cast<dvrUserList*>(core->userSide()) : nullptr;
}

void dvrBindUserCommands(dvrConsole& console) {
  console.bind("AddUser", [](const dvrCommand& c, int) {
    if (dvrUserList* users = dvrUsers()) users->add(c.param(1), c.param(2));
    return 1;
  });
  console.bind("DelUser", [](const dvrCommand& c, int) {
    if (dvrUserList* users = dvrUsers()) users->remove(c.param(1));
    return 1;
  });
  console.bind("DelUsers", [](const dvrCommand&, int) {
    if (dvrUserList* users = dvrUsers()) users->removeAll();
    return 1;
  });
  console.bind("Logout", [](const dvrCommand&, int) {
    if (dvrUserList* users = dvrUsers()) users->logout();
    return 1;
  });
}

// ---- rights -------------------------------------------------------------------

bool hasRight(std::string_view key) {
  dvrUserList* users = dvrUsers();
  if (!users) return true;
  if (dvrUser* remote = users->threadUser(std::this_thread::get_id()))
    return remote->settings().getInt(key) != 0;
  if (users->count() == 0) return true;
  dvrUser* current = users->current();
  return current && current->settings().getInt(key) != 0;
}

void dvrSetLoginPrompt(dvrLoginPrompt prompt) { loginPrompt() = std::move(prompt); }

bool requireRight(void* parent, std::string_view key) {
  if (hasRight(key)) return true;
  dvrUserList* users = dvrUsers();
  if (!users || users->count() == 0) return true;
  if (dvrUser* current = users->current(); current && current->settings().getInt(key) != 0)
    return true;
  // Headless: nobody can be asked.
  if (!loginPrompt()) return false;
  bool accepted = loginPrompt()(parent, key);
  if (accepted) dvrPlaySound("logon");
  dvrNotifyLoginChanged();
  return accepted;
}

bool hasGroupAccess(std::string_view cameraName) {
  dvrCore* core = dvrProcess().core;
  dvrCaptureSide* capture = core ? core->captureSide() : nullptr;
  dvrObject* camera = capture ? capture->findCamera(cameraName) : nullptr;
  if (!camera) return false;
  dvrUserList* users = dvrUsers();
  if (!users || users->count() == 0) return true;
  dvrUser* current = users->current();
  if (!current) return false;
  int group = camera->settings().getInt("group");
  if (group == 0) return true;
  return current->settings().getInt(dvrFormat("group%d", group)) != 0;
}

void dvrSetLoginChanged(std::function<void()> onChange) { loginChanged() = std::move(onChange); }

void dvrNotifyLoginChanged() {
  if (loginChanged()) loginChanged()();
}

// ---- login checks ---------------------------------------------------------------

dvrLoginCheck dvrCheckLogin(std::string_view right, std::string_view login,
                            std::string_view password) {
  dvrLoginCheck result;
  const dvrText<31> name(login);
  dvrUserList* users = dvrUsers();
  dvrUser* user = users ? users->find(login) : nullptr;
  if (user && dvrScramblePassword(password) == user->settings().getText("pass")) {
    if (user->settings().getInt(right) != 0) {
      users->setCurrent(user);
      dvrLogMessage(dvrTr("User %s logged in.").c_str(), user->login());
      result.accepted = true;
      return result;
    }
    result.errorText = errorText(dvrTr("The user has no rights for this command."));
    dvrLogMessage(dvrTr("The user %s tried to access '%s' with no rights.").c_str(), user->login(),
                  std::string(right).c_str());
    result.focusLogin = true;
    return result;
  }
  dvrLogMessage(dvrTr("Incorrect login (user %s)").c_str(), name.c_str());
  result.errorText = errorText(dvrTr("Login failed! Please check your username and password."));
  return result;
}

dvrLoginCheck dvrCheckNewUser(std::string_view login, std::string_view password) {
  dvrLoginCheck result;
  dvrUserList* users = dvrUsers();
  if (users && users->find(login)) {
    const dvrText<31> name(login);
    result.errorText =
        errorText(dvrFormat(dvrTr("User `%s' already exists.").c_str(), name.c_str()));
    result.focusLogin = true;
    return result;
  }
  if (login.size() < 2) {
    result.errorText = errorText(dvrTr("Login name is too short."));
    result.focusLogin = true;
    return result;
  }
  if (password.size() < 4) {
    result.errorText = errorText(dvrTr("Password is too short."));
    return result;
  }
  result.accepted = true;
  return result;
}
