// A modal dialog that lets the user pick entries from a list: the rule
// dialogs, the first-run wizard and the add-device and add-camera flows use
// it. Each entry is a text with an integer value; up to 512 entries.
//
// ShowModal answers the number of entries picked (values() holds their
// values in list order), 0 when OK was pressed with nothing selected (the
// user is told; callers treat it as cancelled), and -1 for Cancel or a
// closed window.
//
// Threads: main thread only.
#pragma once

#include <wx/dialog.h>

#include <vector>

class wxListCtrl;
class wxListEvent;

class dvrListDialog : public wxDialog {
 public:
  static constexpr int kMaxEntries = 512;

  dvrListDialog(wxWindow* parent, const wxString& title, bool single);
  // Appends an entry; false when the list is full.
  bool addEntry(const wxString& text, int value);
  const std::vector<int>& values() const { return selected_; }
  wxListCtrl* list() const { return list_; }
  // What OK and a double click do: collects the selection and ends the dialog.
  void confirm();

 private:
  std::vector<int> entryValues_;
  std::vector<int> selected_;
  wxListCtrl* list_;
};
