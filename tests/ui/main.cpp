// Test program for the windows: runs the tests inside an initialised toolkit
// application on the display given by DISPLAY (the suite runs it under Xvfb).
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

namespace {

// A failed toolkit assertion fails the test instead of opening a dialog.
void failOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
  ADD_FAILURE() << "toolkit assertion " << cond.utf8_string() << " in " << func.utf8_string()
                << " at " << file.utf8_string() << ":" << line << ": " << msg.utf8_string();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv)) return 1;
  wxTheApp->CallOnInit();
  wxSetAssertHandler(failOnAssert);
  int rc = RUN_ALL_TESTS();
  wxTheApp->OnExit();
  wxEntryCleanup();
  return rc;
}
