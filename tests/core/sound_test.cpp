#include "core/sound.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/paths.h"
#include "core/process.h"
#include "core/settings.h"
#include "tests/support/fixture.h"

namespace {

class RecordingPlayer : public dvrSoundPlayer {
 public:
  bool play(const std::string& wavePath) override {
    played.push_back(wavePath);
    return true;
  }
  std::vector<std::string> played;
};

class SoundTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    dvrProcess().sound = &player;
  }
  void TearDown() override {
    dvrProcess().sound = nullptr;
    dvrEngineTest::TearDown();
  }
  RecordingPlayer player;
};

TEST_F(SoundTest, PlaysTheNamedWaveOnlyWhenSoundEffectsAreOn) {
  dvrPlaySound("logon");
  EXPECT_TRUE(player.played.empty()) << "sfx defaults to 0";

  console->execute("set global global sfx int 1");
  dvrPlaySound("logon");
  dvrPlaySound("window_open");
  ASSERT_EQ(player.played.size(), 2u);
  EXPECT_EQ(player.played[0], dir->path() + "/resources/sounds/logon.wav");
  EXPECT_EQ(player.played[1], dir->path() + "/resources/sounds/window_open.wav");

  console->execute("set global global sfx int 0");
  dvrPlaySound("logoff");
  EXPECT_EQ(player.played.size(), 2u);
}

TEST(AudioPlayer, MissingWaveIsRefusedWithoutCrashing) {
  auto player = dvrMakeAudioPlayer();
  EXPECT_FALSE(player->play("/nonexistent/sound.wav"));
}

}  // namespace
