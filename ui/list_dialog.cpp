#include "ui/list_dialog.h"

#include <wx/button.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>

#include "core/language.h"

namespace {
wxString wx(const std::string& text) { return wxString::FromUTF8(text); }
}  // namespace

dvrListDialog::dvrListDialog(wxWindow* parent, const wxString& title, bool single)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE) {
  auto* column = new wxBoxSizer(wxVERTICAL);
  list_ = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxSize(200, 300),
                         wxLC_LIST | (single ? wxLC_SINGLE_SEL : 0) | wxBORDER_SUNKEN);
  column->Add(list_, 1, wxEXPAND | wxALL, 5);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* ok = new wxButton(this, wxID_OK, wx(dvrTr("OK")));
  buttons->Add(ok, 0, wxALL, 5);
  buttons->Add(new wxButton(this, wxID_CANCEL, wx(dvrTr("Cancel"))), 0, wxALL, 5);
  column->Add(buttons, 0, wxALIGN_CENTER);
  SetSizerAndFit(column);
  ok->SetDefault();
  ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { confirm(); });
  list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { confirm(); });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(-1); }, wxID_CANCEL);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { EndModal(-1); });
}

bool dvrListDialog::addEntry(const wxString& text, int value) {
  if (static_cast<int>(entryValues_.size()) >= kMaxEntries) return false;
  list_->InsertItem(list_->GetItemCount(), text);
  entryValues_.push_back(value);
  return true;
}

void dvrListDialog::confirm() {
  selected_.clear();
  for (long item = list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); item != -1;
       item = list_->GetNextItem(item, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
    if (item < static_cast<long>(entryValues_.size())) selected_.push_back(entryValues_[static_cast<std::size_t>(item)]);
  if (selected_.empty()) {
    wxMessageDialog box(this, wx(dvrTr("Please make a selection before clicking OK.")), "Tavel DVR", wxOK);
    box.ShowModal();
  }
  if (IsModal()) EndModal(static_cast<int>(selected_.size()));
}
