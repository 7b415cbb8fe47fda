#include "rules/rule_cameras.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/console.h"
#include "pipeline/board_container.h"
#include "pipeline/camera.h"
#include "pipeline/camera_container.h"
#include "pipeline/capture_engine.h"
#include "rules/rule_set.h"
#include "tests/support/fixture.h"

namespace {

constexpr int kCameraType = 78;

class SignalBoard : public dvrBoard {
 public:
  const char* typeName() override { return "signalboard"; }
  int cameraType(int) override { return kCameraType; }
  bool hasSignal(int input) override { return input != 2; }  // input 2 has lost its signal
};

class PlainCamera : public dvrCamera {
 public:
  explicit PlainCamera(dvrBoard* board) : dvrCamera(board) {}
};

// The rule set over the real capture engine: cameras found by name, motion
// from their recording state, signal from their board.
class RuleCamerasTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    dvrBoardContainer::registerType("signalboard", [] { return std::make_unique<SignalBoard>(); });
    dvrCameraContainer::registerType(kCameraType,
                                     [](dvrBoard* b) { return std::make_unique<PlainCamera>(b); });
    dvrStartCapturePipeline();
    rules = std::make_unique<dvrRuleSet>();
    rules->install();
    console->execute("addcard signalboard Yard");
    console->execute("addcamera Yard 1 Gate");
    console->execute("addcamera Yard 2 Fence");
  }
  void TearDown() override {
    rules.reset();
    core->setCaptureSide(nullptr);
    dvrCameraContainer::unregisterType(kCameraType);
    dvrBoardContainer::unregisterType("signalboard");
    dvrEngineTest::TearDown();
  }
  std::unique_ptr<dvrRuleSet> rules;
};

TEST_F(RuleCamerasTest, CameraConditionsReadTheCaptureEngine) {
  dvrRuleCameras& cameras = dvrCaptureCameras();
  struct Case {
    const char* label;
    int motion;
    int signalLost;
    const char* camera;
  };
  const Case cases[] = {
      {"camera with signal, no motion", 0, 0, "Gate"},
      {"camera whose input lost its signal", 0, 1, "Fence"},
      {"no such camera", -1, -1, "Nowhere"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cameras.motion(c.camera), c.motion) << c.label;
    EXPECT_EQ(cameras.signalLost(c.camera), c.signalLost) << c.label;
  }
  dvrCapture()->cameras().findCamera("Gate")->statistics().motionRecording = 1;
  EXPECT_EQ(cameras.motion("Gate"), 1);

  console->execute("AddRule Moving");
  console->execute("AddRuleNode Moving 9 0 0 0 Gate");
  console->execute("AddRule Dark");
  console->execute("AddRuleNode Dark 7 0 0 0 Fence");
  EXPECT_EQ(rules->evaluate("Moving"), std::optional<bool>(true));
  EXPECT_EQ(rules->evaluate("Dark"), std::optional<bool>(true));
  dvrCapture()->cameras().findCamera("Gate")->statistics().motionRecording = 0;
  EXPECT_EQ(rules->evaluate("Moving"), std::optional<bool>(false));

  // The capture threads ask through the lookup the rule set installs.
  ASSERT_EQ(dvrRuleLookupInstance(), rules.get());
  EXPECT_EQ(dvrRuleLookupInstance()->ruleValue("Dark"), 1);
  EXPECT_EQ(dvrRuleLookupInstance()->ruleValue("Moving"), 0);
  EXPECT_EQ(dvrRuleLookupInstance()->ruleValue("Nothing"), -1);
  rules.reset();
  EXPECT_EQ(dvrRuleLookupInstance(), nullptr);
}

}  // namespace
