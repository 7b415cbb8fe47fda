// The core object that the commands act on: the capture side (boards and
// cameras), the user list, the started flag and the rule values of the
// previous Refresh.
//
// The boards and cameras live in the capture pipeline and the rules in the
// rule subsystem, both built on top of this library; they implement the small
// interfaces below and register them with the core at start-up. Without a
// registration the core behaves as with no devices and no rules.
//
// Threads: main thread only (commands run there).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class dvrObject;
struct dvrCommand;

// What the interpreter needs of the boards and cameras.
class dvrCaptureSide {
 public:
  virtual ~dvrCaptureSide() = default;
  virtual dvrObject* findBoard(std::string_view name) = 0;
  virtual dvrObject* findCamera(std::string_view name) = 0;
  // Start: initialise every camera, then open and start every device; false when a device failed.
  virtual void initCameras() = 0;
  virtual bool openAndStartBoards() = 0;
  virtual void startCameras() = 0;
  // Stop: false when the cameras could not all be stopped.
  virtual bool stopCameras() = 0;
  virtual void stopBoards() = 0;
  // DelCard: deletes the device's cameras and then the device; false when no device has the name.
  virtual bool deleteBoardAndCameras(std::string_view name) = 0;
  virtual void deleteAllCameras() = 0;
  virtual bool deleteAllBoards() = 0;
  // Refresh: the periodic tick of every device, then the restart of cameras
  // whose "restartnow" is set.
  virtual void tickBoards() = 0;
  virtual void restartFlaggedCameras() = 0;
  // SaveSettings: the board and camera sections (without their headings).
  virtual std::string boardSettingsText() = 0;
  virtual std::string cameraSettingsText() = 0;
  // Core deletion: single-instance devices first, then everything else.
  virtual void shutdown() = 0;
};

// What the interpreter needs of the rules.
class dvrRuleSide {
 public:
  virtual ~dvrRuleSide() = default;
  // Evaluates every rule in order; when a rule's value differs from
  // lastValues[index], stores it there and performs the rule's change actions.
  virtual void evaluate(std::vector<std::uint8_t>& lastValues) = 0;
  // The rule section of the settings file (without its heading).
  virtual std::string ruleText() = 0;
};

// What the interpreter needs of the users (the user list of this library).
class dvrUserSide {
 public:
  virtual ~dvrUserSide() = default;
  // Set/Get with the target "user": the user by exact login name, then its handler.
  virtual void applyUserSetting(std::string_view login, const dvrCommand& command) = 0;
  virtual std::string userSettingsText() = 0;
};

class dvrCore {
 public:
  // Creates the user list (the core's user side), empty.
  dvrCore();
  // Stops capture if it runs, then shuts the capture side down.
  ~dvrCore();

  // The core owns the capture side and the users; the rule set belongs to the application.
  void setCaptureSide(std::unique_ptr<dvrCaptureSide> side) { capture_ = std::move(side); }
  void setUserSide(std::unique_ptr<dvrUserSide> side) { users_ = std::move(side); }
  void setRuleSide(dvrRuleSide* side) { rules_ = side; }
  dvrCaptureSide* captureSide() const { return capture_.get(); }
  dvrUserSide* userSide() const { return users_.get(); }
  dvrRuleSide* ruleSide() const { return rules_; }

  bool isStarted() const { return started_; }
  // The Start and Stop commands.
  bool start();
  bool stop();
  // The DelCard and DelCards commands.
  bool deleteBoard(std::string_view name);
  bool deleteAllBoards();
  // The Refresh command (without the queue drain, which the interpreter owns).
  void refresh();

  std::vector<std::uint8_t>& lastRuleValues() { return lastRuleValues_; }

 private:
  std::unique_ptr<dvrCaptureSide> capture_;
  std::unique_ptr<dvrUserSide> users_;
  dvrRuleSide* rules_ = nullptr;
  bool started_ = false;
  int lastTooltips_ = -1;  // the global tooltips_enabled seen at the previous Refresh
  std::vector<std::uint8_t> lastRuleValues_;
};
