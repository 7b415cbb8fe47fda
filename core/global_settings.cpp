#include "core/global_settings.h"

#include <wx/datetime.h>

#include "core/language.h"
#include "core/settings.h"
#include "core/text.h"

using namespace dvrFlag;
using namespace dvrType;

namespace {

// Declares one setting with a translated label and help text and stores its default.
void declareInt(dvrSettingSet& s, const char* key, const char* label, const char* help,
                std::int32_t type, std::uint32_t flags, int value, int min = 0, int max = 0) {
  s.declare(key, dvrTr(label), dvrTr(help), type, flags, min, max);
  s.setInt(key, value);
}

void presentation(dvrSettingSet& s, std::int32_t type, const char* label) {
  s.declare("", dvrTr(label), type, 0);
}

}  // namespace

void dvrDeclareGlobalSettings(dvrSettingSet& g) {
  presentation(g, GROUP, "Visual settings");
  g.declare("customer", dvrTr("Recorder name"),
            dvrTr("Name of this digital video recorder. The name is shown on titlebars."), TEXT,
            STRING);
  g.setText("customer", "Unnamed");

  declareInt(g, "stmode", "Live view mode", "Default number of cameras shown in the live view.",
             CHOICE, INT, 16);
  for (int v : {1, 4, 6, 8, 9, 10, 13, 16, 25, 36}) g.addChoice("", v);
  // The integer set before the choices existed gave the text "16"; keep it so.

  declareInt(g, "lastmode", "Restore last view",
             "If this is selected, the camera views will open as the were last closed.", CHECK, INT,
             0);
  declareInt(g, "drawmode", "Draw mode", "Choosing OpenGL is usually a good idea.", CHOICE,
             INT | SHOWTEXT | ADVANCED, 0);
  g.addChoice(dvrTr("OpenGL"), 0);
  g.addChoice(dvrTr("GDI"), 1);
  g.setInt("drawmode", 0);
  declareInt(g, "showcamnum", "Show camera number",
             "Show camera number on camera windows' titlebars.", CHECK, INT, 1);
  declareInt(g, "showcamrec", "Show record light",
             "Show a little red square in the camera window when recording.", CHECK, INT, 1);
  declareInt(g, "showstatus", "Show camera status",
             "Show camera capture and compression information on top of the image.", CHECK,
             INT | ADVANCED, 0);
  declareInt(g, "showcamptz", "Show PTZ overlay",
             "Show Pan/Tilt/Zoom information and control overlay on the camera image.", CHECK,
             INT | ADVANCED, 0);
  declareInt(g, "showicons", "Image icons",
             "Show the current camera image also as the window icon.", CHECK, INT | ADVANCED, 0);
  declareInt(g, "lockaspect", "Lock aspect ratio",
             "Selecting this will force the image windows to be locked to the correct aspect ratio.",
             CHECK, INT, 0);
  declareInt(g, "tooltips_enabled", "Show tooltips",
             "You can completely disable all tooltips by unchecking this checkbox.", CHECK,
             INT | ADVANCED, 1);
  declareInt(g, "bgwindow", "Show background window",
             "This option enables the background window and background image that covers the "
             "Windows desktop",
             CHECK, INT | ADVANCED, 1);
  declareInt(g, "quickcammenu", "Show quick camera settings menu",
             "Enabling this shows all camera settings in the popup menu of a camera window", CHECK,
             INT | ADVANCED, 0);
  presentation(g, BREAK, "");

  presentation(g, GROUP, "Program settings");
  declareInt(g, "savemode", "Save settings ",
             "Should the settings be saved on exit.\nIf `Manually', the settings will not be saved "
             "at exit without explicitly saving them.",
             CHOICE, INT | SHOWTEXT, 0);
  g.addChoice(dvrTr("Manually"), 0);
  g.addChoice(dvrTr("Ask on exit"), 1);
  g.addChoice(dvrTr("Automatically"), 2);
  g.setInt("savemode", 0);
  g.declare("firstrun", "", HIDDEN, INT);
  g.setInt("firstrun", 1);
  declareInt(g, "sfx", "Sound effects", "Play sound effects.", CHECK, INT | ADVANCED, 0);
  declareInt(g, "keyinterval", "Keyframe interval",
             "Smaller value for more precise searching,\nLarger value for smaller compressed image "
             "size.",
             SLIDER, INT | ADVANCED, 5, 1, 10);
  declareInt(g, "startmode", "Startup mode", "What to show when the program is started.", CHOICE,
             INT | SHOWTEXT, 1);
  g.addChoice(dvrTr("Live view"), 0);
  g.addChoice(dvrTr("Main menu"), 1);
  g.addChoice(dvrTr("Settings"), 2);
  g.addChoice(dvrTr("Start locked"), 3);
  g.setInt("startmode", 1);
  declareInt(g, "mainmode", "Main window",
             "What to do with the main window when another window is opened. It can either be "
             "hidden or kept always visible.",
             CHOICE, INT | SHOWTEXT, 0);
  g.addChoice(dvrTr("Auto hide"), 0);
  g.addChoice(dvrTr("Always on top"), 1);
  g.setInt("mainmode", 0);
  declareInt(g, "mpgres", "Video export resolution",
             "The resolution to use when saving to an external video file.", CHOICE,
             INT | SHOWTEXT, 0);
  g.addChoice(dvrTr("352x288 (PAL)"), 0);
  g.addChoice(dvrTr("704x576 (PAL)"), 1);
  g.addChoice(dvrTr("352x240 (NTSC)"), 2);
  g.addChoice(dvrTr("704x480 (NTSC)"), 3);
  g.setInt("mpgres", 0);
  g.declare("globalrecordrule", dvrTr("Global recording rule"),
            dvrTr("Use this rule to control recording on/off globally.\nLeave blank to ignore."),
            RULE, STRING | ADVANCED);
  declareInt(g, "videostandard", "Global video standard",
             "Which settings should normally be applied to capturing devices - this also affects "
             "image aspect ratios globally.",
             CHOICE, INT | SHOWTEXT, 1);
  g.addChoice(dvrTr("NTSC"), 0);
  g.addChoice(dvrTr("PAL"), 1);
  g.setInt("videostandard", 1);
  declareInt(g, "swwatchdog", "Software watchdog",
             "Let the program monitor and restart itself if a problem occurs. NOTE! The program "
             "must be restarted when this setting is changed.",
             CHECK, INT, 0);
  declareInt(g, "autoreboot", "Automatic reboot", "", CHECK, INT, 0);
  declareInt(g, "autorebootdelay", "Automatic reboot delay (days)", "", SLIDER, INT | ADVANCED, 7,
             3, 30);
  declareInt(g, "recordwd", "Recording watchdog",
             "Restart capturing if nothing has been recorded in a certain period", CHECK, INT, 1);
  declareInt(g, "recordwddelay", "Recording watchdog delay (minutes)",
             "How many minutes to wait before restarting capturing", SLIDER, INT | ADVANCED, 30, 5,
             60);
  declareInt(g, "advanced", "Enable advanced mode",
             "Activates the advanced settings mode. You may have to close the settings window "
             "before the changes are applied.",
             CHECK, INT, 0);
  presentation(g, BREAK, "");

  presentation(g, GROUP, "Viewer settings");
  declareInt(g, "view_buffer", "Show buffer state",
             "Show buffering status on the timeline of the record viewer.", CHECK, INT | ADVANCED, 0);
  declareInt(g, "view_snap", "Snap to closest recording",
             "Allows the viewer to jump over gaps of non-recorded time.", CHECK, INT, 1);
  declareInt(g, "view_timestamp", "Show timestamps in title bars",
             "Shows the time of last shown image on every title bar.", CHECK, INT, 1);
  declareInt(g, "eyecandy", "Miscellaneous effects", "Entertaining special effects.", CHECK,
             INT | ADVANCED, 0);
  declareInt(g, "sundayfirst", "Week begins on",
             "In record viewer there is a calendar. This setting sets the first day of a week.",
             CHOICE, INT | SHOWTEXT | ADVANCED, 0);
  g.addChoice(wxDateTime::GetWeekDayName(wxDateTime::Mon).utf8_string(), 0);
  g.addChoice(wxDateTime::GetWeekDayName(wxDateTime::Sun).utf8_string(), 1);
  g.setInt("sundayfirst", 0);
  presentation(g, BREAK, "");
  presentation(g, BREAK, "");

  presentation(g, GROUP, "Communications");
  const std::string disabled = dvrTr("Disabled");
  for (int port = 1; port <= 4; ++port) {
    std::string key = dvrFormat("com%d", port);
    std::string label = dvrFormat(dvrTr("COM %d").c_str(), port);
    std::string help =
        dvrFormat(dvrTr("Communication speed for serial port `%s', or `%s'.").c_str(),
                  label.c_str(), disabled.c_str());
    g.declare(key, label, help, CHOICE, INT | SHOWTEXT);
    g.addChoice(disabled, 0);
    for (int bps : {1200, 2400, 4800, 9600, 14400, 38400, 57600, 115200})
      g.addChoice(dvrFormat(dvrTr("%d bps").c_str(), bps), bps);
    g.setInt(key, 0);
  }
}
