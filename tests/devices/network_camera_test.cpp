#include "devices/camera_network.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/engine.h"
#include "core/settings.h"
#include "devices/board_http.h"
#include "devices/device_kinds.h"
#include "pipeline/board_container.h"
#include "pipeline/camera_container.h"
#include "pipeline/capture_engine.h"
#include "pipeline/frame_sink.h"
#include "pipeline/image.h"
#include "tests/support/fixture.h"
#include "tests/support/test_camera_server.h"

namespace {

// Counts the recorded frames of each camera input.
class InputSink : public dvrFrameSink {
 public:
  bool put(const dvrFrameRecord& record, const std::uint8_t*, int) override {
    std::lock_guard<std::mutex> lock(lock_);
    ++frames_[record.input];
    arrived_.notify_all();
    return true;
  }
  int frames(int input) {
    std::lock_guard<std::mutex> lock(lock_);
    return frames_[input];
  }
  bool waitFor(int input, int count) {
    std::unique_lock<std::mutex> lock(lock_);
    return arrived_.wait_for(lock, std::chrono::seconds(20), [&] { return frames_[input] >= count; });
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::map<int, int> frames_;
};

class NetworkCameraTest : public dvrEngineTest {
 protected:
  void SetUp() override {
    dvrEngineTest::SetUp();
    globals->declare("globalrecordrule", "", dvrType::HIDDEN, dvrFlag::STRING);
    dvrRegisterDeviceKinds();
    dvrStartCapturePipeline();
    dvrSetFrameSink(&sink);
    console->execute("AddCard Network Net1");
  }
  void TearDown() override {
    core->stop();
    core->setCaptureSide(nullptr);
    dvrSetFrameSink(nullptr);
    dvrUnregisterDeviceKinds();
    dvrEngineTest::TearDown();
  }
  // Adds a camera of the type on the input, pointed at the server.
  dvrCamera_network* addCamera(int input, const char* name, int ctype, const dvrTestCameraServer& server) {
    console->execute(dvrFormat("AddCamera Net1 %d %s", input, name));
    auto* camera = dynamic_cast<dvrCamera_network*>(dvrCapture()->cameras().findCamera(name));
    if (!camera) return nullptr;
    dvrSettingSet& s = camera->settings();
    s.setInt("noclosewindow", 1);
    s.setInt("ctype", ctype);
    s.setText("host", "127.0.0.1");
    s.setText("port", server.portText());
    camera->reinit();
    return camera;
  }
  std::vector<std::uint8_t> picture(dvrCamera& camera) {
    std::lock_guard<std::recursive_mutex> lock(camera.imageLock());
    dvrImage* image = camera.image();
    const std::uint8_t* bytes = image->buffer(dvrBUF_CURRENT);
    return std::vector<std::uint8_t>(bytes, bytes + image->frameBytes());
  }

  InputSink sink;
};

TEST_F(NetworkCameraTest, TheBoardAndTheCameraDefaults) {
  dvrBoard* board = dvrCapture()->boards().findBoard("Net1");
  ASSERT_NE(dynamic_cast<dvrBoard_http*>(board), nullptr);
  EXPECT_STREQ(board->typeName(), "Network");
  dvrInputList list;
  ASSERT_EQ(board->listFreeInputs(list), 8);
  EXPECT_STREQ(list.names[0], "Network [1]");
  EXPECT_STREQ(list.names[7], "Network [8]");

  console->execute("AddCamera Net1 0 Cam");
  dvrCamera* camera = dvrCapture()->cameras().findCamera("Cam");
  ASSERT_NE(dynamic_cast<dvrCamera_network*>(camera), nullptr);
  camera->settings().setInt("noclosewindow", 1);
  const dvrSettingSet& s = camera->settings();
  const std::map<std::string, int> ints = {{"brightness", 128}, {"contrast", 128}, {"sharpness", 128},
                                           {"color", 128},      {"compress", 80},   {"framerate", 1},
                                           {"resolution", 0},   {"format", 3},      {"ctype", 0},
                                           {"channel", 1},      {"quality", 80},    {"unique_id", -1},
                                           {"wd_override", -1}};
  for (const auto& [key, value] : ints) EXPECT_EQ(s.getInt(key), value) << key;
  // The network settings follow the base settings, in this order.
  const char* order[] = {"ctype", "host", "port", "username", "password", "channel",
                         "enable", "quality", "path", "unique_id", "wd_override"};
  int previous = s.find("resolution");
  for (const char* key : order) {
    EXPECT_GT(s.find(key), previous) << key;
    previous = s.find(key);
  }
  const int ctype = s.find("ctype");
  EXPECT_EQ(s.choiceCount(ctype), 14);
  EXPECT_EQ(s.choiceText(ctype, 4), "Tavel DVR");
  EXPECT_EQ(s.choiceValue(ctype, 13), 0);
  EXPECT_EQ(s.choiceText(ctype, 13), "Generic URL");
  ASSERT_TRUE(camera->reinit());
  std::lock_guard<std::recursive_mutex> lock(camera->imageLock());
  EXPECT_EQ(camera->image()->width(), 320);
  EXPECT_EQ(camera->image()->format(), dvrFORMAT_RGB24);
}

// Every camera family and option, compared with the request line the camera
// server received and with the URL shown in "path".
TEST_F(NetworkCameraTest, SnapshotUrlOfEveryCameraType) {
  dvrTestCameraServer server;
  ASSERT_TRUE(server.ok());
  dvrCamera_network* camera = addCamera(0, "Cam", 100205, server);
  ASSERT_NE(camera, nullptr);
  const std::string host = "127.0.0.1:" + server.portText();
  struct Row {
    const char* label;
    int ctype;
    int resolution;
    int quality;
    int channel;
    const char* user;
    const char* password;
    const char* path;     // as the server logs it
    const char* shownAs;  // what "path" shows before the host ("" none)
  };
  const Row rows[] = {
      {"Axis 205 low", 100205, 0, 80, 1, "", "", "/jpg/image.jpg?resolution=320x240&compression=20", ""},
      {"Axis 205 high", 100205, 1, 80, 1, "", "", "/jpg/image.jpg?resolution=640x480&compression=20", ""},
      {"Axis 205 quality 0", 100205, 1, 0, 1, "", "", "/jpg/image.jpg?resolution=640x480", ""},
      {"Axis 205 quality 101", 100205, 0, 101, 1, "", "", "/jpg/image.jpg?resolution=320x240", ""},
      {"Axis 205 quality 100", 100205, 0, 100, 1, "", "", "/jpg/image.jpg?resolution=320x240&compression=0", ""},
      {"Axis 2100", 102100, 0, 80, 1, "", "", "/jpg/fullsize.jpg?compression=20", ""},
      {"Axis 200 low", 100200, 0, 80, 1, "", "", "/fullsize.jpg?compression=20", ""},
      {"Axis 200 high", 100200, 1, 30, 1, "", "", "/hugesize.jpg?compression=70", ""},
      {"Axis 2400 channel 2 high", 102400, 1, 80, 2, "", "",
       "/axis-cgi/jpg/image.cgi?camera=2&resolution=4CIF&compression=20", ""},
      {"Axis 2400 low", 102400, 0, 80, 1, "", "", "/axis-cgi/jpg/image.cgi?camera=1&resolution=CIF&compression=20",
       ""},
      {"Axis code without a model", 150000, 0, 80, 1, "", "", "/?compression=20", ""},
      {"Axis with a user name", 100205, 0, 80, 1, "admin", "pw", "/jpg/image.jpg?resolution=320x240&compression=20",
       ""},
      {"Panasonic KX quality 32", 200010, 0, 32, 1, "", "", "/SnapshotJPEG?Resolution=320x240&Quality=Motion", ""},
      {"Panasonic KX quality 33", 200010, 1, 33, 1, "", "", "/SnapshotJPEG?Resolution=640x480&Quality=Standard",
       ""},
      {"Panasonic KX quality 65", 200010, 0, 65, 1, "", "", "/SnapshotJPEG?Resolution=320x240&Quality=Standard",
       ""},
      {"Panasonic KX quality 66", 200010, 0, 66, 1, "user", "pw",
       "/SnapshotJPEG?Resolution=320x240&Quality=Clarity", ""},
      {"Panasonic NM100", 200100, 0, 80, 1, "", "", "/cgi-bin/camera?Session=0", ""},
      {"VivoTek quality 1", 300000, 0, 1, 1, "", "", "/cgi-bin/video.jpg?quality=1&size=2", ""},
      {"VivoTek quality 19", 300000, 0, 19, 1, "", "", "/cgi-bin/video.jpg?quality=1&size=2", ""},
      {"VivoTek quality 80", 300000, 1, 80, 1, "", "", "/cgi-bin/video.jpg?quality=5&size=3", ""},
      {"VivoTek quality 100", 300000, 0, 100, 1, "", "", "/cgi-bin/video.jpg?quality=6&size=2", ""},
      {"VivoTek VS2402 channel 3 with user", 302402, 0, 80, 3, "admin", "secret",
       "/cgi-bin/video3.jpg?quality=5&size=2", "admin:****@"},
      {"VivoTek code without a model", 350000, 0, 80, 1, "", "", "/?quality=5&size=2", ""},
      {"Mobotix M1", 400001, 0, 80, 1, "", "", "/record/current.jpg", ""},
      {"Mobotix M10 user without password", 400010, 1, 80, 1, "viewer", "", "/record/current.jpg", "viewer:@"},
      {"Pixord low channel 2", 500000, 0, 80, 2, "", "", "/images2sif", ""},
      {"Pixord high", 500000, 1, 80, 1, "", "", "/images1full", ""},
      {"Sony", 600000, 1, 80, 1, "root", "pw", "/oneshotimage.jpg", "root:****@"},
      {"recorder high", 700000, 1, 75, 4, "", "", "/camera/4.jpg?width=704&height=576&quality=75", ""},
      {"recorder low", 700000, 0, 80, 1, "", "", "/camera/1.jpg?width=352&height=288&quality=80", ""},
  };
  dvrSettingSet& s = camera->settings();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    s.setInt("ctype", r.ctype);
    s.setInt("resolution", r.resolution);
    s.setInt("quality", r.quality);
    s.setInt("channel", r.channel);
    s.setText("username", r.user);
    s.setText("password", r.password);
    const std::size_t before = server.requests().size();
    camera->prepareGrab();
    const auto lines = server.requests();
    ASSERT_EQ(lines.size(), before + 1) << "one request per capture";
    EXPECT_EQ(lines.back(), std::string("GET ") + r.path + " HTTP/1.1");
    // A code without a model of its own has no path at all: the client asks for "/".
    const std::string tail = std::string(r.path).rfind("/?", 0) == 0 ? r.path + 1 : r.path;
    EXPECT_EQ(std::string(s.getText("path")), std::string("http://") + r.shownAs + host + tail);
  }

  // The recorder type without a port asks port 8080 (no request reaches our server).
  s.setInt("ctype", 700000);
  s.setText("port", "");
  s.setText("username", "");
  const std::size_t before = server.requests().size();
  camera->prepareGrab();
  EXPECT_EQ(std::string(s.getText("path")), "http://127.0.0.1:8080/camera/1.jpg?width=352&height=288&quality=80");

  // Generic URL: the address is the whole URL; the other settings play no part.
  s.setInt("ctype", 0);
  s.setText("port", "1");
  s.setText("username", "nobody");
  s.setText("host", "http://127.0.0.1:" + server.portText() + "/record/current.jpg?from=generic");
  camera->prepareGrab();
  auto lines = server.requests();
  ASSERT_EQ(lines.size(), before + 1);
  EXPECT_EQ(lines.back(), "GET /record/current.jpg?from=generic HTTP/1.1");

  // A type outside the families and a disabled camera make no request.
  s.setInt("ctype", 99999);
  EXPECT_FALSE(camera->prepareGrab());
  s.setInt("ctype", 600000);
  s.setText("host", "127.0.0.1");
  s.setText("port", server.portText());
  s.setInt("enable", 0);
  EXPECT_FALSE(camera->prepareGrab());
  EXPECT_EQ(server.requests().size(), before + 1);
}

TEST_F(NetworkCameraTest, CredentialsReachTheCameraOnlyForFamiliesThatTakeThem) {
  dvrTestCameraServer server({"--auth", "admin:s3cr:et"});
  ASSERT_TRUE(server.ok());
  dvrCamera_network* camera = addCamera(0, "Cam", 300000, server);
  ASSERT_NE(camera, nullptr);
  dvrSettingSet& s = camera->settings();
  struct Row {
    const char* label;
    int ctype;
    const char* password;
    bool fetched;
  };
  const Row rows[] = {
      {"VivoTek with the right password", 300000, "s3cr:et", true},
      {"VivoTek with a wrong password", 300000, "wrong", false},
      {"Axis sends none", 100205, "s3cr:et", false},
  };
  s.setText("username", "admin");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    s.setInt("ctype", r.ctype);
    s.setText("password", r.password);
    EXPECT_EQ(camera->prepareGrab(), r.fetched);
  }
  const std::string log = dvrReadFile(dir->file("tavel.log"));
  EXPECT_EQ(log.find("s3cr"), std::string::npos) << "the password never reaches the log";
}

TEST_F(NetworkCameraTest, ASnapshotOfAnotherSizeRestartsTheCameraInThatSize) {
  dvrTestCameraServer server({"--size", "704x576"});
  ASSERT_TRUE(server.ok());
  dvrCamera_network* camera = addCamera(0, "Cam", 100205, server);
  ASSERT_NE(camera, nullptr);
  EXPECT_FALSE(camera->prepareGrab()) << "the first snapshot does not fit the 320 x 240 buffer";
  EXPECT_EQ(camera->settings().getInt("force_size"), 1);
  EXPECT_EQ(camera->settings().getInt("restartnow"), 1);
  console->execute("Refresh");
  EXPECT_EQ(camera->settings().getInt("restartnow"), 0);
  EXPECT_TRUE(camera->isRunning()) << "the restart starts the camera";
  camera->stop();  // the fetches below are this test's own
  {
    std::lock_guard<std::recursive_mutex> lock(camera->imageLock());
    EXPECT_EQ(camera->image()->width(), 704);
    EXPECT_EQ(camera->image()->height(), 576);
  }
  EXPECT_TRUE(camera->prepareGrab());
  EXPECT_TRUE(camera->grab());
  EXPECT_GT(camera->frameSeconds(), 0);
}

TEST_F(NetworkCameraTest, ABadAnswerIsAFailedGrabThatLeavesThePicture) {
  dvrTestCameraServer server;
  ASSERT_TRUE(server.ok());
  dvrCamera_network* camera = addCamera(0, "Cam", 100205, server);
  ASSERT_NE(camera, nullptr);
  ASSERT_TRUE(camera->prepareGrab());
  ASSERT_TRUE(camera->grab());
  const auto good = picture(*camera);
  const std::int64_t stamped = camera->frameSeconds();
  const char* modes[] = {"fail", "garbage", "huge", "close", "truncated"};
  for (const char* mode : modes) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(server.control(std::string("mode=") + mode));
    EXPECT_FALSE(camera->prepareGrab());
    EXPECT_FALSE(camera->grab()) << "no new frame to stamp";
    EXPECT_EQ(picture(*camera), good);
    EXPECT_EQ(camera->frameSeconds(), stamped);
  }
  ASSERT_TRUE(server.control("mode=ok"));
  EXPECT_TRUE(camera->prepareGrab()) << "and the camera recovers";

  camera->settings().setText("port", std::to_string(dvrClosedLoopbackPort()));
  EXPECT_FALSE(camera->prepareGrab()) << "a refused connection";
}

TEST_F(NetworkCameraTest, StoppingOrDeletingACameraAbortsItsStalledFetch) {
  dvrTestCameraServer server({"--mode", "stall"});
  ASSERT_TRUE(server.ok());
  for (const char* how : {"Stop", "DelCamera"}) {
    SCOPED_TRACE(how);
    dvrCamera_network* camera = addCamera(0, "Cam", 100205, server);
    ASSERT_NE(camera, nullptr);
    const std::size_t before = server.requests().size();
    ASSERT_TRUE(camera->start());
    ASSERT_TRUE(server.waitForRequestsBeyond(before)) << "the fetch is under way and will not end by itself";
    {
      // The windows and the snapshot server read the picture meanwhile.
      std::unique_lock<std::recursive_mutex> image(camera->imageLock(), std::try_to_lock);
      EXPECT_TRUE(image.owns_lock()) << "the transfer does not hold the image lock";
      std::unique_lock<std::recursive_mutex> codec(camera->codecLock(), std::try_to_lock);
      EXPECT_TRUE(codec.owns_lock()) << "nor the codec lock";
    }
    const auto started = std::chrono::steady_clock::now();
    if (std::string(how) == "Stop") {
      camera->stop();
      EXPECT_FALSE(camera->isRunning());
      ASSERT_TRUE(camera->start()) << "a stopped camera starts again";
      ASSERT_TRUE(server.waitForRequestsBeyond(before + 1));
      camera->stop();
    }
    console->execute("DelCamera Cam");
    EXPECT_EQ(dvrCapture()->cameras().findCamera("Cam"), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
        << "well within the 10 s transfer limit";
  }
}

// A recorder with three network cameras on one board: a moving picture, a
// still one and a camera that never answers.
TEST_F(NetworkCameraTest, RecordsMotionOfTheMovingCameraOnly) {
  dvrTestCameraServer moving;
  dvrTestCameraServer still({"--still"});
  dvrTestCameraServer stalled({"--mode", "stall"});
  ASSERT_TRUE(moving.ok() && still.ok() && stalled.ok());
  dvrCamera_network* a = addCamera(0, "Moving", 100205, moving);
  dvrCamera_network* b = addCamera(1, "Still", 100205, still);
  dvrCamera_network* c = addCamera(2, "Stalled", 100205, stalled);
  ASSERT_TRUE(a && b && c);
  for (const char* name : {"Moving", "Still", "Stalled"}) console->execute(dvrFormat("set camera %s framerate int 10", name));
  console->execute("Start");
  ASSERT_TRUE(sink.waitFor(0, 8)) << "motion frames of the moving camera are recorded";
  ASSERT_TRUE(still.waitForRequestsBeyond(8));
  EXPECT_GE(b->statistics().framesProcessed, 5);
  EXPECT_LE(sink.frames(1), 1) << "the still camera records at most its first picture";
  EXPECT_EQ(sink.frames(2), 0);
  EXPECT_EQ(stalled.requests().size(), 1u) << "the stalled camera waits on its one request";
  EXPECT_TRUE(a->isRunning() && b->isRunning());
  console->execute("Stop");
  EXPECT_FALSE(c->isRunning());
}

}  // namespace
