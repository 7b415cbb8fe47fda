#include "devices/camera_network.h"

#include "core/language.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "devices/board_http.h"
#include "pipeline/image.h"

namespace {

struct Model {
  const char* text;
  int code;
};

// The camera-type choices, in the order the setup lists them.
constexpr Model kModels[] = {
    {"Axis 2100 series", 102100},
    {"Axis 2400 series server", 102400},
    {"Axis 200/200+", 100200},
    {"Axis 205/206", 100205},
    {"Tavel DVR", 700000},
    {"Mobotix M1", 400001},
    {"Mobotix M10", 400010},
    {"Panasonic WV-NM100", 200100},
    {"Panasonic KX / BL series", 200010},
    {"Pixord (generic)", 500000},
    {"Sony (generic)", 600000},
    {"VivoTek (generic)", 300000},
    {"VivoTek VS2402 IP server", 302402},
};

}  // namespace

dvrCamera_network::dvrCamera_network(dvrBoard* board) : dvrCamera(board) {
  declareResolution();
  settings().addChoice(dvrTr("Low"), 0);
  settings().addChoice(dvrTr("High"), 1);
  addResolution(320, 240);
  addResolution(640, 480);
  declareFormat();
  settings().addChoice("RGB24", dvrFORMAT_RGB24);
  addFormat(dvrFORMAT_RGB24);
  settings().setInt("format", dvrFORMAT_RGB24);
  declareNetworkSettings();

  dvrSettingSet& s = settings();
  for (const char* key : {"brightness", "contrast", "sharpness", "color"}) s.setInt(key, 128);
  s.setInt("compress", 80);
  s.setInt("framerate", setFrameRate(1));
  s.setInt("resolution", 0);
}

dvrCamera_network::~dvrCamera_network() {
  // The thread calls this kind's prepareGrab: abort its fetch and join it
  // while the kind still exists.
  stop();
}

void dvrCamera_network::declareNetworkSettings() {
  using namespace dvrType;
  using namespace dvrFlag;
  dvrSettingSet& s = settings();
  s.declare("", dvrTr("Network camera settings"), GROUP, 0);
  s.declare("ctype", dvrTr("Camera type"),
            dvrTr("If your exact model is not found, try first the generic support for the camera brand. "
                  "If it doesn't work, you'll have to use the Generic URL method."),
            CHOICE, INT | SHOWTEXT);
  for (const Model& model : kModels) s.addChoice(model.text, model.code);
  s.addChoice(dvrTr("Generic URL"), 0);
  s.declare("host", dvrTr("Address"),
            dvrTr("IP address or host of the network camera, or the full URL if using generic URL"), TEXT,
            STRING);
  s.declare("port", dvrTr("Port (if not 80)"), dvrTr("Port (usually 80 or 8080) of the cameras http server"),
            TEXT, STRING);
  s.declare("username", dvrTr("Username"), dvrTr("Username to log on to the camera with"), TEXT, STRING);
  s.declare("password", dvrTr("Password"), dvrTr("Password to log on to the camera with"), TEXT, STRING);
  s.declare("channel", dvrTr("Channel"), dvrTr("Channel (usually 1)"), CHOICE, INT | SHOWTEXT);
  for (int c = 1; c <= 16; ++c) s.addChoice(std::to_string(c), c);
  s.setInt("channel", 1);
  s.declare("enable", dvrTr("Enable"), dvrTr("Enable the camera"), CHECK, INT);
  s.setInt("enable", 1);
  s.declare("quality", dvrTr("Quality"), dvrTr("Image compression quality. 1 = worst, 100 = best"), SLIDER,
            INT, 1, 100);
  s.setInt("quality", 80);
  s.declare("path", dvrTr("Image path"), dvrTr("The full image path"), TEXT, STRING | READONLY);
  s.declare("unique_id", "", HIDDEN, INT);
  s.setInt("unique_id", -1);
  s.declare("wd_override", "", HIDDEN, INT);
  s.setInt("wd_override", -1);
}

dvrSnapshotAddress dvrCamera_network::address() const {
  const dvrSettingSet& s = settings();
  dvrSnapshotAddress a;
  a.ctype = s.getInt("ctype");
  a.host = s.getText("host");
  a.port = s.getText("port");
  a.username = s.getText("username");
  a.password = s.getText("password");
  a.channel = s.getInt("channel");
  a.resolution = s.getInt("resolution");
  a.quality = s.getInt("quality");
  return a;
}

void dvrCamera_network::reportProblem(dvrSnapshotProblem problem, const std::string& value) {
  // Once per change, not once per frame.
  if (problem == reported_) return;
  reported_ = problem;
  switch (problem) {
    case dvrSnapshotProblem::badHost:
      dvrLogMessage(dvrTr("[NETWORK CAMERA] Camera `%s': `%s' is not a host name or address.").c_str(), name(),
                    value.c_str());
      break;
    case dvrSnapshotProblem::badPort:
      dvrLogMessage(dvrTr("[NETWORK CAMERA] Camera `%s': port `%s' is not a number from 1 to 65535.").c_str(),
                    name(), value.c_str());
      break;
    case dvrSnapshotProblem::badScheme:
      dvrLogMessage(dvrTr("[NETWORK CAMERA] Camera `%s': `%s' is not an http or https address.").c_str(),
                    name(), dvrMaskUrlPassword(value).c_str());
      break;
    default: break;
  }
}

bool dvrCamera_network::prepareGrab() {
  fetched_ = false;
  dvrSettingSet& s = settings();
  if (s.getInt("enable") == 0) return false;
  const dvrSnapshotAddress a = address();
  dvrSnapshotUrl url;
  const dvrSnapshotProblem problem = dvrBuildSnapshotUrl(a, url);
  reportProblem(problem, problem == dvrSnapshotProblem::badPort ? a.port : a.host);
  if (problem != dvrSnapshotProblem::none) return false;
  if (url.shown != s.getText("path")) s.setText("path", url.shown);
  auto* board = dynamic_cast<dvrBoard_http*>(this->board());
  fetched_ = board && board->fetchImage(url.url, *this);
  return fetched_;
}

bool dvrCamera_network::grab() {
  if (!fetched_) return false;
  fetched_ = false;
  stampFrameTime();
  return true;
}

void dvrCamera_network::endCaptureThread() {
  // The abort holds from before the join until the thread is gone, so that a
  // fetch the thread begins meanwhile ends at once as well.
  fetcher_.abort();
  dvrCamera::endCaptureThread();
  fetcher_.clearAbort();
}
