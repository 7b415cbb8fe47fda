#include "pipeline/camera.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/command.h"
#include "core/console.h"
#include "core/settings.h"
#include "pipeline/board_container.h"
#include "pipeline/camera_container.h"
#include "pipeline/capture_engine.h"
#include "pipeline/codec.h"
#include "pipeline/image.h"
#include "tests/support/fixture.h"

namespace {

constexpr int kTestCameraType = 77;

// What the test boards and cameras did, in order.
std::vector<std::string>& journal() {
  static std::vector<std::string> calls;
  return calls;
}

class CamBoard : public dvrBoard {
 public:
  explicit CamBoard(int cameraCode) : cameraCode_(cameraCode) {}
  ~CamBoard() override { journal().push_back(std::string("delete board ") + name()); }
  const char* typeName() override { return "camboard"; }
  int cameraType(int) override { return cameraCode_; }
  int inputCount() override { return 4; }
  int setInputResolution(int input, int resolution) override {
    return dvrBoard::setInputResolution(input, resolution > maxResolution ? maxResolution : resolution);
  }
  bool setInputFormat(int input, int format) override {
    journal().push_back("format " + std::to_string(format));
    return dvrBoard::setInputFormat(input, format);
  }
  bool stopInput(int input) override {
    journal().push_back("stop input " + std::to_string(input));
    return true;
  }

  int maxResolution = 15;

 private:
  int cameraCode_;
};

// A camera kind with two sizes and two formats.
class TestCamera : public dvrCamera {
 public:
  explicit TestCamera(dvrBoard* board) : dvrCamera(board) {
    declareResolution();
    settings().addChoice("320x240", 0);
    settings().addChoice("640x480", 1);
    addResolution(320, 240);
    addResolution(640, 480);
    declareFormat();
    settings().addChoice("YUV420P", dvrFORMAT_YUV420P);
    settings().addChoice("UYVY", dvrFORMAT_UYVY);
    addFormat(dvrFORMAT_YUV420P);
    addFormat(dvrFORMAT_UYVY);
    settings().setInt("format", dvrFORMAT_YUV420P);
  }
  ~TestCamera() override { journal().push_back(std::string("delete camera ") + name()); }
  void onStart() override { journal().push_back(std::string("onstart ") + name()); }
  using dvrCamera::setForcedSize;
};

class CameraTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    journal().clear();
    dvrBoard::resetIdCounter();
    dvrBoardContainer::registerType("camboard",
                                    [] { return std::make_unique<CamBoard>(kTestCameraType); });
    dvrBoardContainer::registerType(
        "nocams", [] { return std::make_unique<CamBoard>(dvrCAMERA_TYPE_NONE); });
    dvrCameraContainer::registerType(kTestCameraType,
                                     [](dvrBoard* b) { return std::make_unique<TestCamera>(b); });
    dvrStartCapturePipeline();
  }
  void TearDown() override {
    core->setCaptureSide(nullptr);
    dvrCameraContainer::unregisterType(kTestCameraType);
    dvrBoardContainer::unregisterType("camboard");
    dvrBoardContainer::unregisterType("nocams");
    dvrEngineTest::TearDown();
  }
  dvrCameraContainer& cameras() { return dvrCapture()->cameras(); }
  dvrBoard* board(const char* name) { return dvrCapture()->boards().findBoard(name); }
  TestCamera* camera(const char* name) { return static_cast<TestCamera*>(cameras().findCamera(name)); }
};

TEST_F(CameraTest, DeclaresTheCommonSettingsInOrderWithDefaults) {
  using namespace dvrFlag;
  using namespace dvrType;
  struct Row {
    const char* key;
    int type;
    unsigned flags;
    int minimum, maximum, value;
  };
  const Row rows[] = {
      {"name", TEXT, STRING, 0, 0, 0},
      {"codec", CHOICE, ADVANCED | INT | SHOWTEXT, 0, 0, 0},
      {"compress", SLIDER, INT, 10, 100, 50},
      {"framerate", SLIDER, INT, 1, 25, 1},
      {"brightness", SLIDER, INT, 0, 255, 0},
      {"contrast", SLIDER, INT, 0, 255, 0},
      {"sharpness", SLIDER, ADVANCED | INT, 0, 255, 0},
      {"color", SLIDER, ADVANCED | INT, 0, 255, 0},
      {"mot_sens1", SLIDER, INT, 1, 16, 4},
      {"mot_sens2", SLIDER, ADVANCED | INT, 1, 32, 8},
      {"mot_edge", SLIDER, INT, 3, 7, 5},
      {"mot_tol", SLIDER, ADVANCED | INT, 1, 64, 7},
      {"md_type", CHOICE, ADVANCED | INT | SHOWTEXT, 0, 0, 0},
      {"noclosewindow", HIDDEN, NOSAVE | INT, 0, 0, 0},
      {"group", CHOICE, ADVANCED | INT | SHOWTEXT, 0, 0, 0},
      {"dometype", CHOICE, INT | SHOWTEXT, 0, 0, 0},
      {"domecom", PORT, STRING | SHOWTEXT, 0, 0, 0},
      {"domeaddr", CHOICE, INT | SHOWTEXT, 0, 0, 0},
      {"domexspeed", SLIDER, ADVANCED | INT, 1, 10, 5},
      {"domeyspeed", SLIDER, ADVANCED | INT, 1, 10, 5},
      {"domezspeed", SLIDER, ADVANCED | INT, 1, 10, 5},
      {"domecontrol", HIDDEN, STRING, 0, 0, 0},
      {"rt_motion", CHECK, RUNTIME | INT, 0, 0, 0},
      {"rt_mask", CHECK, ADVANCED | RUNTIME | INT, 0, 0, 0},
      {"rt_status", CHECK, ADVANCED | RUNTIME | INT, 0, 0, 0},
      {"rt_updateicon", CHECK, ADVANCED | RUNTIME | INT, 0, 0, 0},
      {"rt_colR", SLIDER, ADVANCED | RUNTIME | INT, 0, 255, 255},
      {"rt_colG", SLIDER, ADVANCED | RUNTIME | INT, 0, 255, 255},
      {"rt_colB", SLIDER, ADVANCED | RUNTIME | INT, 0, 255, 255},
      {"rt_colI", SLIDER, ADVANCED | RUNTIME | INT, 0, 255, 128},
      {"rt_flipH", CHECK, ADVANCED | RUNTIME | INT, 0, 0, 0},
      {"rt_flipV", CHECK, ADVANCED | RUNTIME | INT, 0, 0, 0},
      {"activity", HIDDEN, NOSAVE | INT, 0, 0, 0},
      {"needrestart", HIDDEN, NOSAVE | INT, 0, 0, 0},
      {"restartnow", HIDDEN, NOSAVE | INT, 0, 0, 0},
      {"mask0", HIDDEN, STRING, 0, 0, 0},
      {"mask5", HIDDEN, STRING, 0, 0, 0},
      {"domepresetname1", HIDDEN, STRING, 0, 0, 0},
      {"domepresetname16", HIDDEN, STRING, 0, 0, 0},
      {"recordbyrule", RULE, ADVANCED | STRING, 0, 0, 0},
      {"recordbyruleC", RULE, ADVANCED | STRING, 0, 0, 0},
      {"framerate_c", SLIDER, INT, 0, 25, 0},
      {"framerate_m", SLIDER, INT, 0, 25, 0},
      {"postframes", SLIDER, ADVANCED | INT, 0, 20, 0},
      {"restart", HIDDEN, NOSAVE | INT, 0, 0, 0},
      {"force_size", HIDDEN, NOSAVE | INT, 0, 0, 0},
      {"streaming", HIDDEN, NOSAVE | INT, 0, 0, 0},
  };
  dvrCamera cam(nullptr);
  const dvrSettingSet& s = cam.settings();
  EXPECT_STREQ(s.kind(), "camera");
  EXPECT_STREQ(s.objectName(), "temporary");
  int previous = -1;
  for (const Row& r : rows) {
    int index = s.find(r.key);
    ASSERT_GE(index, 0) << r.key;
    EXPECT_GT(index, previous) << r.key << " out of order";
    previous = index;
    const dvrSetting& d = s.at(index);
    EXPECT_EQ(d.type, r.type) << r.key;
    EXPECT_EQ(d.flags, r.flags) << r.key;
    if (r.type == dvrType::SLIDER) {
      EXPECT_EQ(d.minimum, r.minimum) << r.key;
      EXPECT_EQ(d.maximum, r.maximum) << r.key;
    }
    EXPECT_EQ(d.intValue, r.value) << r.key;
  }
  EXPECT_STREQ(s.getText("domecontrol"), "relative");
  EXPECT_EQ(s.choiceCount(s.find("domeaddr")), 65);
  EXPECT_EQ(s.choiceValue(s.find("dometype"), 3), 99);
  EXPECT_EQ(s.find("resolution"), -1) << "the kinds declare resolution and format";
  EXPECT_EQ(cam.input(), -1);
  EXPECT_EQ(cam.deviceNumber(), -1);
  EXPECT_EQ(cam.maxFrameRate(), 25);
  EXPECT_EQ((std::vector<int>{cam.motionSensA(), cam.motionSensB(), cam.motionNoiseFilter(),
                              cam.motionTolerance()}),
            (std::vector<int>{4, 8, 5, 7}));
}

TEST_F(CameraTest, NtscBoardRaisesTheFrameRateLimit) {
  console->execute("addcard camboard Gate");
  console->execute("set board Gate videostd int 0");
  console->execute("set board Gate ID int 9");
  console->execute("AddCamera Gate 1 Cam1");
  ASSERT_NE(camera("Cam1"), nullptr);
  EXPECT_EQ(camera("Cam1")->maxFrameRate(), 30);
  EXPECT_EQ(camera("Cam1")->deviceNumber(), 9);
  EXPECT_EQ(cameras().findCameraByDeviceInput(9, 1), camera("Cam1"));
  EXPECT_EQ(cameras().findCameraByDeviceInput(9, 0), nullptr);
  console->execute("set camera Cam1 framerate int 99");
  EXPECT_EQ(camera("Cam1")->settings().getInt("framerate"), 30);
}

TEST_F(CameraTest, AddCameraRefusals) {
  console->execute("addcard camboard Gate");
  console->execute("addcard nocams Plain");
  console->execute("AddCamera Gate 0 Cam1");
  ASSERT_NE(camera("Cam1"), nullptr);
  journal().clear();
  struct Case {
    const char* line;
    const char* logged;
  };
  const Case cases[] = {
      {"AddCamera Nowhere 0 X", nullptr},
      {"AddCamera Plain 0 X", "[CAMERA] Unhandled camera type 99 in dvrCameraContainer::addCamera!"},
      {"AddCamera Gate 4 X", nullptr},
      {"AddCamera Gate -1 X", nullptr},
      {"AddCamera Gate 0 X", nullptr},
  };
  for (const Case& c : cases) {
    std::vector<std::string> expected;
    if (c.logged) expected.push_back(c.logged);
    EXPECT_EQ(linesLoggedBy(c.line), expected) << c.line;
    EXPECT_EQ(cameras().cameras().size(), 1u) << c.line;
  }
  EXPECT_TRUE(board("Gate")->inputInUse(0)) << "the first camera keeps its input";
  EXPECT_EQ(camera("Cam1")->input(), 0);
}

TEST_F(CameraTest, InputsAreClaimedAndReleased) {
  console->execute("addcard camboard Gate");
  console->execute("AddCamera Gate 2 Cam1");
  EXPECT_TRUE(board("Gate")->inputInUse(2));
  EXPECT_EQ(camera("Cam1")->board(), board("Gate"));
  console->execute("DelCamera Cam1");
  EXPECT_EQ(camera("Cam1"), nullptr);
  EXPECT_FALSE(board("Gate")->inputInUse(2));
  console->execute("AddCamera Gate 2 Cam2");
  EXPECT_NE(camera("Cam2"), nullptr) << "a released input can be claimed again";
}

TEST_F(CameraTest, LookupIsBySubstringAndDeletionByExactName) {
  console->execute("addcard camboard Gate");
  console->execute("AddCamera Gate 0 Front1");
  console->execute("AddCamera Gate 1 Front2");
  console->execute("AddCamera Gate 2 Back");
  EXPECT_EQ(cameras().findCamera("ront"), cameras().cameras()[0].get()) << "first match wins";
  EXPECT_EQ(cameras().findCamera("front"), nullptr) << "lookups are case-sensitive";
  EXPECT_EQ(dvrCapture()->findCamera("Back"), cameras().cameras()[2].get());
  EXPECT_FALSE(cameras().deleteCamera("Front"));
  EXPECT_FALSE(cameras().deleteCamera("front2"));
  EXPECT_TRUE(cameras().deleteCamera("Front2"));
  ASSERT_EQ(cameras().cameras().size(), 2u);
  EXPECT_STREQ(cameras().cameras()[1]->name(), "Back") << "the gap is closed";
  console->execute("DelCameras");
  EXPECT_TRUE(cameras().cameras().empty());
  EXPECT_FALSE(board("Gate")->inputInUse(0));
  EXPECT_FALSE(board("Gate")->inputInUse(2));
}

TEST_F(CameraTest, SetCameraLinesAndTheirSideEffects) {
  console->execute("addcard camboard Gate");
  console->execute("AddCamera Gate 0 Cam1");
  TestCamera* cam = camera("Cam1");
  ASSERT_NE(cam, nullptr);
  struct Case {
    const char* line;
    const char* key;
    int expected;
  };
  const Case cases[] = {
      {"set camera Cam1 format int 0", "format", dvrFORMAT_UYVY},
      {"set camera Cam1 framerate int 99", "framerate", 25},
      {"set camera Cam1 framerate int 0", "framerate", 1},
      {"set camera Cam1 framerate int 12", "framerate", 12},
      {"set camera Cam1 framerate_c int 20", "framerate_c", 12},
      {"set camera Cam1 framerate_c int 6", "framerate_c", 6},
      {"set camera Cam1 FRAMERATE_M int 3", "framerate_m", 3},
      {"set camera Cam1 brightness int 200", "brightness", 200},
  };
  for (const Case& c : cases) {
    console->execute(c.line);
    EXPECT_EQ(cam->settings().getInt(c.key), c.expected) << c.line;
  }
  console->execute("set camera Cam1 mot_sens1 int 9");
  console->execute("set camera Cam1 mot_sens2 int 10");
  console->execute("set camera Cam1 mot_edge int 3");
  console->execute("set camera Cam1 mot_tol int 11");
  EXPECT_EQ((std::vector<int>{cam->motionSensA(), cam->motionSensB(), cam->motionNoiseFilter(),
                              cam->motionTolerance()}),
            (std::vector<int>{9, 10, 3, 11}));
  console->execute("set camera Cam1 name string Front door");
  EXPECT_STREQ(cam->settings().getText("name"), "Front door");
  EXPECT_STREQ(cam->name(), "Cam1") << "the title is not the object name";
  EXPECT_EQ(linesLoggedBy("Dome Cam1 zoom 1"), std::vector<std::string>{})
      << "without a dome controller nothing happens";
}

TEST_F(CameraTest, CameraSectionRoundTripsThroughTheSettingsFile) {
  console->execute("addcard camboard Gate");
  console->execute("set board Gate ID int 3");
  console->execute("AddCamera Gate 1 Cam1");
  console->execute("AddCamera Gate 2 Hidden");
  console->execute("set camera Cam1 name string Front door");
  console->execute("set camera Cam1 compress int 70");
  console->execute("set camera Cam1 resolution int 1");
  console->execute("set camera Cam1 framerate int 4");
  camera("Hidden")->settings().setNoSave(true);
  ASSERT_TRUE(dvrSaveSettings(dir->file("first.tvl")));
  std::string first = dir->read("first.tvl");
  // The fourth number of the line is the camera's frame rate.
  EXPECT_NE(first.find("addcamera Gate 1 Cam1 4\nset camera Cam1 name string Front door\n"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("set camera Cam1 compress int 70\n"), std::string::npos);
  EXPECT_EQ(first.find("Hidden"), std::string::npos) << "cameras not to be saved are skipped";

  console->execute("DelCards");
  ASSERT_TRUE(cameras().cameras().empty());
  ASSERT_TRUE(dvrRunFile(*console, dir->file("first.tvl")));
  ASSERT_NE(camera("Cam1"), nullptr);
  EXPECT_EQ(camera("Cam1")->deviceNumber(), 3);
  EXPECT_EQ(camera("Cam1")->settings().getInt("resolution"), 1);
  ASSERT_TRUE(dvrSaveSettings(dir->file("second.tvl")));
  EXPECT_EQ(dir->read("second.tvl"), first);
}

TEST_F(CameraTest, RefreshRestartsFlaggedCameras) {
  console->execute("addcard camboard Gate");
  console->execute("AddCamera Gate 0 Cam1");
  console->execute("AddCamera Gate 1 Cam2");
  console->execute("Start");
  ASSERT_TRUE(camera("Cam1")->isRunning());
  ASSERT_NE(camera("Cam1")->image(), nullptr);
  journal().clear();
  camera("Cam2")->settings().setInt("restartnow", 1);
  console->execute("Refresh");
  EXPECT_EQ(journal(), (std::vector<std::string>{"stop input 1", "format 9", "format 9", "onstart Cam2"}));
  EXPECT_EQ(camera("Cam2")->settings().getInt("restartnow"), 0);
  EXPECT_TRUE(camera("Cam2")->isRunning());
  journal().clear();
  console->execute("Refresh");
  EXPECT_TRUE(journal().empty()) << "the flag was cleared";
  console->execute("AddCamera Gate 2 Cam3");
  ASSERT_NE(camera("Cam3"), nullptr);
  EXPECT_TRUE(camera("Cam3")->isRunning()) << "a camera added while capturing starts at once";
  EXPECT_NE(camera("Cam3")->image(), nullptr);
  console->execute("Stop");
  EXPECT_FALSE(camera("Cam1")->isRunning());
  EXPECT_FALSE(camera("Cam3")->isRunning());
}

TEST_F(CameraTest, ChangingTheResolutionOfARunningCameraRestarts) {
  struct Case {
    const char* label;
    int needRestart;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"this camera only", 0, {"stop input 0", "format 9", "format 9", "onstart Cam1"}},
      {"all capture", 1,
       {"stop input 0", "stop input 1", "format 9", "format 9", "format 9", "format 9",
        "onstart Cam1", "onstart Cam2"}},
  };
  for (const Case& c : cases) {
    console->execute("DelCards");
    console->execute("addcard camboard Gate");
    console->execute("AddCamera Gate 0 Cam1");
    console->execute("AddCamera Gate 1 Cam2");
    console->execute("Start");
    camera("Cam1")->settings().setInt("needrestart", c.needRestart);
    journal().clear();
    console->execute("set camera Cam1 resolution int 1");
    EXPECT_EQ(journal(), c.expected) << c.label;
    EXPECT_TRUE(camera("Cam1")->isRunning()) << c.label;
    ASSERT_NE(camera("Cam1")->image(), nullptr) << c.label;
    EXPECT_EQ(camera("Cam1")->image()->width(), 640) << c.label;
    console->execute("Stop");
  }
}

TEST_F(CameraTest, ReinitFallsBackFromRefusedValues) {
  struct Case {
    const char* label;
    bool withBoard;
    int format, resolution, boardMaxResolution, forceSize;
    int width, height, expectedFormat, storedResolution;
  };
  const Case cases[] = {
      {"accepted values", true, dvrFORMAT_UYVY, 1, 15, 0, 640, 480, dvrFORMAT_UYVY, 1},
      {"format not in the list", true, dvrFORMAT_RGB32, 1, 15, 0, 640, 480, dvrFORMAT_YUV420P, 1},
      {"index beyond the table", true, dvrFORMAT_UYVY, 9, 15, 0, 320, 240, dvrFORMAT_UYVY, 0},
      {"negative index", true, dvrFORMAT_UYVY, -3, 15, 0, 320, 240, dvrFORMAT_UYVY, 0},
      {"board refuses the index", true, dvrFORMAT_UYVY, 1, 0, 0, 320, 240, dvrFORMAT_UYVY, 0},
      {"forced size", true, dvrFORMAT_UYVY, 1, 15, 1, 64, 48, dvrFORMAT_UYVY, 1},
      {"no board, index beyond the table", false, 0, 14, 15, 0, 320, 240, dvrFORMAT_YUV420P, 0},
  };
  for (const Case& c : cases) {
    console->execute("DelCards");
    console->execute("addcard camboard Gate");
    auto* gate = static_cast<CamBoard*>(board("Gate"));
    gate->maxResolution = c.boardMaxResolution;
    std::unique_ptr<TestCamera> loose;
    TestCamera* cam = nullptr;
    if (c.withBoard) {
      console->execute("AddCamera Gate 0 Cam1");
      cam = camera("Cam1");
    } else {
      loose = std::make_unique<TestCamera>(nullptr);
      loose->settings().setInt("noclosewindow", 1);
      cam = loose.get();
    }
    ASSERT_NE(cam, nullptr) << c.label;
    cam->setForcedSize(64, 48);
    cam->settings().setInt("format", c.format);
    cam->settings().setInt("resolution", c.resolution);
    cam->settings().setInt("force_size", c.forceSize);
    EXPECT_EQ(cam->reinit(), c.withBoard) << c.label;
    ASSERT_NE(cam->image(), nullptr) << c.label;
    EXPECT_EQ(cam->image()->width(), c.width) << c.label;
    EXPECT_EQ(cam->image()->height(), c.height) << c.label;
    EXPECT_EQ(cam->image()->format(), c.expectedFormat) << c.label;
    EXPECT_EQ(cam->settings().getInt("format"), c.expectedFormat) << c.label;
    EXPECT_EQ(cam->settings().getInt("resolution"), c.storedResolution) << c.label;
    EXPECT_EQ(cam->grab(), true) << c.label;
    // In UYVY the board's test pattern is motion against the blank
    // reference; the frame it was found in becomes the reference.
    if (c.withBoard && c.expectedFormat == dvrFORMAT_UYVY) {
      EXPECT_GT(cam->detectMotion(), 0) << c.label;
    }
    EXPECT_EQ(cam->detectMotion(), 0) << c.label;
  }
}

TEST_F(CameraTest, CodecFollowsTheCodecSetting) {
  struct Case {
    int setting;
    const char* name;
  };
  const Case cases[] = {{0, "MPG4"}, {1, "MJPG"}, {5, "THEO"}, {4, "MPG4"}};
  console->execute("addcard camboard Gate");
  console->execute("AddCamera Gate 0 Cam1");
  TestCamera* cam = camera("Cam1");
  for (const Case& c : cases) {
    cam->settings().setInt("codec", c.setting);
    EXPECT_TRUE(cam->reinit()) << c.setting;
    ASSERT_NE(cam->codec(), nullptr) << c.setting;
    EXPECT_STREQ(cam->codec()->fourcc(), c.name) << c.setting;
    EXPECT_EQ(cam->codecName(), c.name) << c.setting;
    EXPECT_TRUE(cam->codec()->isOpened()) << c.setting;
    EXPECT_EQ(cam->codec()->quality(), 50) << c.setting;
  }
  console->execute("set camera Cam1 compress int 90");
  EXPECT_EQ(cam->codec()->quality(), 90);
}

TEST_F(CameraTest, DelCardDeletesTheBoardsCamerasFirst) {
  console->execute("addcard camboard Gate");
  console->execute("addcard camboard Yard");
  console->execute("AddCamera Gate 0 Cam1");
  console->execute("AddCamera Yard 0 Cam2");
  console->execute("AddCamera Gate 1 Cam3");
  journal().clear();
  console->execute("DelCard gate");
  EXPECT_EQ(journal(), (std::vector<std::string>{"delete camera Cam1", "delete camera Cam3",
                                                 "delete board Gate"}));
  ASSERT_EQ(cameras().cameras().size(), 1u);
  EXPECT_STREQ(cameras().cameras()[0]->name(), "Cam2");
  journal().clear();
  console->execute("DelCards");
  EXPECT_EQ(journal(), (std::vector<std::string>{"delete camera Cam2", "delete board Yard"}));
}

TEST_F(CameraTest, StatisticsWindows) {
  dvrCamera cam(nullptr);
  cam.settings().setInt("noclosewindow", 1);
  for (std::uint32_t ms = 1000; ms < 5000; ms += 100) cam.countFrame(ms);
  EXPECT_EQ(cam.statistics().framesPerSecond, 0.0f) << "the window has not ended";
  cam.countFrame(5000);
  EXPECT_FLOAT_EQ(cam.statistics().framesPerSecond, 41 / 5.0f);
  for (std::uint32_t ms = 5100; ms < 9995; ms += 500) cam.countFrame(ms);
  cam.countFrame(9995);
  EXPECT_FLOAT_EQ(cam.statistics().framesPerSecond, 11 / 5.0f);
  cam.countCompressedSize(2000);
  cam.countCompressedSize(4000);
  EXPECT_EQ(cam.statistics().lastCompressedSize, 4000);
  EXPECT_EQ(cam.statistics().averageCompressedSize, (4000 + 19 * 100) / 20);
  EXPECT_TRUE(cam.takeNewFrame());
  EXPECT_FALSE(cam.takeNewFrame());
  cam.markNewFrame();
  EXPECT_TRUE(cam.takeNewFrame());
}

}  // namespace
