// Tavel DVR: a digital video recorder for video surveillance.
//
//   tavel             the windowed recorder (headless when there is no display)
//   tavel --headless  no windows; command lines are read from standard input
//   tavel --verbose   also write verbose messages to the log
#include <wx/init.h>

#include <cstdlib>
#include <cstring>

#include "app/gui.h"
#include "app/headless.h"
#include "core/log.h"
#include "core/run_statistics.h"

int main(int argc, char** argv) {
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless") == 0) headless = true;
    if (std::strcmp(argv[i], "--verbose") == 0) dvrLogSetVerbose(true);
  }
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!headless && (!display || !*display) && (!wayland || !*wayland)) headless = true;

  int status = 1;
  if (!headless) {
    status = dvrRunWindowed(argc, argv);
  } else {
    // The toolkit's non-window parts (strings, translations, images) without a display.
    wxInitializer toolkit(argc, argv);
    if (toolkit.IsOk()) status = dvrRunHeadless();
  }
  dvrWriteRunStatistics();
  return status;
}
