#include "devices/board_brisa.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/engine.h"
#include "core/paths.h"
#include "core/settings.h"
#include "devices/camera_brisa.h"
#include "devices/device_kinds.h"
#include "pipeline/board_container.h"
#include "pipeline/camera_container.h"
#include "pipeline/capture_engine.h"
#include "pipeline/frame_sink.h"
#include "pipeline/image.h"
#include "platform/cat3di/cat3di.h"
#include "tests/support/fixture.h"

namespace {

TEST(BrisaScheduleTest, SpreadsEachRateOverTheEmptySlots) {
  struct Case {
    const char* label;
    int slots;
    std::vector<int> rates;
    std::vector<int> schedule;
  };
  const int E = dvrBoard_brisa::kEmptySlot;
  const Case cases[] = {
      {"rates 10 and 5 of 25 slots",
       25,
       {10, 5},
       {E, E, 0, 1, 0, E, E, 0, 1, 0, E, E, 0, 1, 0, E, E, 0, 1, 0, E, E, 0, 1, 0}},
      {"largest first, then the lowest member of equal rates", 6, {1, 3, 1}, {E, 1, 2, 1, 0, 1}},
      {"members not in use stay out", 5, {0, 5, 0}, {1, 1, 1, 1, 1}},
      {"nothing in use", 4, {0, 0}, {E, E, E, E}},
      {"more asked than slots: capped", 3, {5}, {0, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(dvrBrisaSchedule(c.slots, c.rates), c.schedule) << c.label;
}

TEST(BrisaTextTest, NamesInTheBoardsCharacterSet) {
  struct Case {
    const char* text;
    std::vector<unsigned char> codes;
  };
  const Case cases[] = {
      {"AZaz09", {49, 74, 81, 106, 32, 41}},
      {"\xC3\x84\xC3\x85\xC3\xA4\xC3\xA5", {49, 49, 81, 81}},  // Ä Å ä å
      {"\xC3\x96\xC3\xB6", {63, 95}},                          // Ö ö
      {"\xC3\xA9\xC3\xA7", {76, 107}},                         // é ç: letters of the set itself
      {"a b", {81, 127, 82}},                                  // no blank in the set
      {"\xE2\x82\xAC", {127}},                                 // € is not in the set
      {"{}", {9, 16}},
  };
  for (const Case& c : cases) EXPECT_EQ(dvrBrisaEncodeText(c.text), c.codes) << c.text;
}

// A board whose monitor clock the test sets.
class ClockedBrisa : public dvrBoard_brisa {
 public:
  std::int64_t now = 0;

 protected:
  std::int64_t milliseconds() override { return now; }
};

class BrisaBoardTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    globals->declare("globalrecordrule", "", dvrType::HIDDEN, dvrFlag::STRING);
    dvrRegisterDeviceKinds();
    dvrBoardContainer::registerType("clockedbrisa", [] { return std::make_unique<ClockedBrisa>(); });
    dvrStartCapturePipeline();
  }
  void TearDown() override {
    core->stop();
    core->setCaptureSide(nullptr);
    dvrSetFrameSink(nullptr);
    dvrBoardContainer::unregisterType("clockedbrisa");
    dvrUnregisterDeviceKinds();
    dvrEngineTest::TearDown();
  }
  // The simulated board's control folder.
  void control(const std::string& name, const std::string& value) {
    std::filesystem::create_directories(dir->file("sim/brisa0"));
    dir->write("sim/brisa0/" + name, value + "\n");
  }
  std::string observed(const std::string& name) { return dir->read("sim/brisa0/" + name); }
  dvrBoard_brisa* addBoard(const char* kind = "brisa") {
    console->execute(std::string("AddCard ") + kind + " Brisa1");
    return dynamic_cast<dvrBoard_brisa*>(dvrCapture()->boards().findBoard("Brisa1"));
  }
  dvrCamera* addCamera(int input, const std::string& name) {
    console->execute("AddCamera Brisa1 " + std::to_string(input) + " " + name);
    dvrCamera* camera = dvrCapture()->cameras().findCamera(name);
    if (camera) camera->settings().setInt("noclosewindow", 1);
    return camera;
  }
};

TEST_F(BrisaBoardTest, ModelFiveHasEightGroupsOfFour) {
  control("model", "5");
  control("inputs", "32");
  dvrBoard_brisa* board = addBoard();
  ASSERT_NE(board, nullptr);
  EXPECT_EQ(board->inputCount(), 32);
  EXPECT_EQ(board->groups(), 8);
  for (int input : {3, 11, 19, 27}) ASSERT_NE(addCamera(input, "Cam" + std::to_string(input)), nullptr);
  for (int input : {3, 11, 19}) console->execute("set camera Cam" + std::to_string(input) + " framerate int 8");
  console->execute("set camera Cam27 framerate int 10");
  EXPECT_EQ(dvrCapture()->cameras().findCamera("Cam27")->settings().getInt("framerate"), 1)
      << "three others of the group take 24 of the 25 slots";
  EXPECT_STREQ(dvrCapture()->cameras().findCamera("Cam3")->settings().getText("framesleft"), "0 frames");
  console->execute("Start");
  std::vector<int> members;
  for (int entry : board->schedule(3))
    if (entry != dvrBoard_brisa::kEmptySlot) members.push_back(entry);
  EXPECT_EQ(members.size(), 25u);
  for (int input : {3, 11, 19, 27})
    EXPECT_EQ(std::count(members.begin(), members.end(), input), input == 27 ? 1 : 8) << input;
}

TEST_F(BrisaBoardTest, ResolutionBudgetFallsBackToCif) {
  control("model", "3");  // two groups: a capacity of 100
  control("inputs", "8");
  dvrBoard_brisa* board = addBoard();
  ASSERT_NE(board, nullptr);
  ASSERT_EQ(board->groups(), 2);
  std::vector<dvrCamera*> cameras;
  for (int input = 0; input < 4; ++input) cameras.push_back(addCamera(input, "Cam" + std::to_string(input)));
  const int rates[] = {10, 10, 5, 5};
  for (int i = 0; i < 4; ++i)
    console->execute("set camera Cam" + std::to_string(i) + " framerate int " + std::to_string(rates[i]));
  // The capacity of two groups is 100: weight x rate summed over the other
  // inputs with a resolution, plus this input's own.
  struct Step {
    const char* label;
    int camera;
    int asked;
    int granted;
  };
  const Step steps[] = {
      {"4CIF (weight 4) at 10: 40", 0, 2, 2},
      {"another 4CIF at 10: 80", 1, 2, 2},
      {"CIF (weight 1) at 5: 85", 3, 8, 8},
      {"4CIF at 5 would make 105: CIF instead", 2, 2, 8},
      {"2CIF (weight 2) at 5 makes 95", 2, 5, 5},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.label);
    dvrCamera* camera = cameras[static_cast<std::size_t>(step.camera)];
    EXPECT_EQ(camera->setResolution(step.asked), step.asked == step.granted);
    EXPECT_EQ(camera->settings().getInt("resolution"), step.granted) << "the granted index is stored";
    EXPECT_EQ(board->requestedResolution(step.camera), step.granted);
  }
}

TEST_F(BrisaBoardTest, MonitorSwitchingPassesOverNoswitchInputs) {
  auto* board = dynamic_cast<ClockedBrisa*>(addBoard("clockedbrisa"));
  ASSERT_NE(board, nullptr);
  ASSERT_TRUE(board->open());
  for (int input : {0, 1, 3}) addCamera(input, "Cam" + std::to_string(input));
  console->execute("set camera Cam1 noswitch int 1");
  console->execute("set board Brisa1 switch int 1");
  console->execute("set board Brisa1 switchtime int 5");
  std::vector<int> shown;
  for (std::int64_t t = 0; t <= 20000; t += 2500) {
    board->now = t;
    board->tick();
    if (t % 5000 == 0) shown.push_back(board->shownInput());
  }
  EXPECT_EQ(shown, (std::vector<int>{0, 3, 0, 3, 0}));
  EXPECT_EQ(observed("tvout"), "0\n");
}

TEST_F(BrisaBoardTest, DigitalIoIndexesStayInTheirTables) {
  dvrBoard_brisa* board = addBoard();
  ASSERT_NE(board, nullptr);
  console->execute("set board Brisa1 dio_enable int 1");
  ASSERT_TRUE(board->reopen()) << "opened again with the DI/O extension";
  EXPECT_EQ(board->setDigitalOutput(31, 1), 1);
  EXPECT_EQ(board->setDigitalOutput(32, 1), 0);
  EXPECT_EQ(board->setDigitalOutput(-1, 1), 0);
  EXPECT_EQ(board->getDigitalInput(32), 0);
  control("din4", "0");
  board->refreshDigitalIO();
  EXPECT_EQ(board->getDigitalInput(4), 1) << "an input pulled low is active";
  EXPECT_EQ(board->getDigitalInput(5), 0);
  EXPECT_EQ(observed("dout31"), "1\n");
  // Monitor input 0 (numbered from 1) selects nothing rather than input -1.
  console->execute("set board Brisa1 rt_tvout1 int 4");
  EXPECT_EQ(board->shownInput(), 3);
  console->execute("set board Brisa1 rt_tvout1 int 0");
  EXPECT_EQ(board->shownInput(), 3);
}

TEST_F(BrisaBoardTest, DisplayTextShowsTheCameraNameInTwentyFourCells) {
  dvrBoard_brisa* board = addBoard();
  ASSERT_NE(board, nullptr);
  ASSERT_TRUE(board->open());
  addCamera(0, "Door");
  addCamera(1, "Long");
  console->execute("set camera Door name string \xC3\x84ussere T\xC3\xBCr");
  console->execute("set camera Long name string A very long camera name beyond the cells");
  console->execute("set board Brisa1 rt_tvOSD int 2");
  console->execute("set board Brisa1 rt_tvout1 int 1");
  board->tick();
  // The control folder shows the plane decoded from the board's character set;
  // characters outside it (the blank among them, and ü) are code 127, shown blank.
  EXPECT_EQ(observed("osd1.txt").substr(0, 24), "Aussere T r" + std::string(13, ' '));
  console->execute("set board Brisa1 rt_tvout1 int 2");
  board->tick();
  const std::string text = observed("osd1.txt");
  EXPECT_EQ(text.substr(0, 24), "A very long camera name ") << "cut at 24 cells";
  EXPECT_EQ(text.substr(25, 24), std::string(24, ' ')) << "the next line untouched";
}

TEST_F(BrisaBoardTest, Rs485PortAndWatchdog) {
  dvrBoard_brisa* board = addBoard();
  ASSERT_NE(board, nullptr);
  ASSERT_TRUE(board->open());
  console->execute("set board Brisa1 rs_speed int 3");
  EXPECT_FALSE(board->openRS485()) << "no DI/O extension";
  EXPECT_NE(logLines().back().find("BR_RS485 is not available! The DI/O extension has not been enabled."),
            std::string::npos);
  console->execute("set board Brisa1 dio_enable int 1");
  ASSERT_TRUE(board->reopen());
  EXPECT_NE(logLines().back().find("BR_RS485 inited with 9600 bps [3]"), std::string::npos) << logLines().back();
  EXPECT_EQ(observed("rs485speed"), "3\n");
  const std::uint8_t bytes[] = {0xA0, 0x01, 0xFF};
  EXPECT_EQ(board->writeRS485(bytes, 3), 3);
  EXPECT_EQ(observed("rs485.log"), "A0 01 FF\n");
  std::vector<std::uint8_t> tooMany(1025, 0);
  EXPECT_EQ(board->writeRS485(tooMany.data(), 1025), 0) << "more than 1024 bytes are refused";
  EXPECT_EQ(board->enableHardwareWatchdog(30), 1);
  EXPECT_EQ(observed("watchdog"), "enabled 30\n");
  EXPECT_EQ(board->disableHardwareWatchdog(), 1);
  EXPECT_EQ(observed("watchdog"), "disabled\n");
}

class CountingSink : public dvrFrameSink {
 public:
  bool put(const dvrFrameRecord& record, const std::uint8_t*, int) override {
    std::lock_guard<std::mutex> lock(lock_);
    ++frames_[record.input & 31];
    arrived_.notify_all();
    return true;
  }
  bool waitFor(int input, int count) {
    std::unique_lock<std::mutex> lock(lock_);
    return arrived_.wait_for(lock, std::chrono::seconds(20), [&] { return frames_[input] >= count; });
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  int frames_[32] = {};
};

TEST_F(BrisaBoardTest, CamerasRecordTheMovingPatternAndSeeTheirSignal) {
  CountingSink sink;
  dvrSetFrameSink(&sink);
  dvrBoard_brisa* board = addBoard();
  ASSERT_NE(board, nullptr);
  for (int input : {0, 5}) {
    dvrCamera* camera = addCamera(input, "Cam" + std::to_string(input));
    ASSERT_NE(camera, nullptr);
    camera->settings().setInt("framerate", 25);
    console->execute("set camera Cam" + std::to_string(input) + " framerate int 25");
  }
  console->execute("Start");
  EXPECT_TRUE(sink.waitFor(0, 5));
  EXPECT_TRUE(sink.waitFor(5, 5));
  EXPECT_TRUE(board->hasSignal(5));
  EXPECT_EQ(board->signalChange(5), 0);
  control("signal5", "0");
  EXPECT_FALSE(board->hasSignal(5));
  EXPECT_FALSE(board->hasSignal(-1));
  EXPECT_EQ(board->signalChange(5), -1);
  control("signal5", "1");
  EXPECT_EQ(board->signalChange(5), 1);
  console->execute("Stop");
}

}  // namespace
