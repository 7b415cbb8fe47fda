#include "ui/small_dialogs.h"

#include <wx/button.h>
#include <wx/dcbuffer.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

dvrSliderDialog::dvrSliderDialog(wxWindow* parent, const wxString& text, const wxString& title,
                                 int minimum, int maximum, int value)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(new wxStaticText(this, wxID_ANY, text), 0, wxALL, 5);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  slider_ = new wxSlider(this, wxID_ANY, value, minimum, maximum, wxDefaultPosition,
                         wxSize(200, 20), wxSL_HORIZONTAL);
  field_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(40, 20),
                          wxTE_READONLY | wxTE_CENTRE);
  field_->SetBackgroundColour(wxColour(192, 192, 192));
  row->Add(slider_, 1, wxEXPAND | wxALL, 5);
  row->Add(field_, 0, wxALL, 5);
  column->Add(row, 0, wxEXPAND);
  column->Add(new wxStaticLine(this), 0, wxEXPAND | wxALL, 5);
  column->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxALL | wxALIGN_CENTRE, 5);
  SetSizerAndFit(column);
  slider_->Bind(wxEVT_SLIDER, [this](wxCommandEvent&) { showValue(); });
  showValue();
}

int dvrSliderDialog::value() const { return slider_->GetValue(); }

void dvrSliderDialog::showValue() { field_->SetValue(wxString::Format("%d", slider_->GetValue())); }

dvrBufferedText::dvrBufferedText(wxWindow* parent, wxWindowID id, const wxString& text,
                                 const wxPoint& position, const wxSize& size, const wxFont& font)
    : wxPanel(parent, id, position, size), text_(text), font_(font) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &dvrBufferedText::onPaint, this);
}

void dvrBufferedText::setText(const wxString& text) {
  text_ = text;
  Refresh(false);
}

void dvrBufferedText::setFont(const wxFont& font) {
  font_ = font;
  Refresh(false);
}

void dvrBufferedText::onPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  dc.SetBackground(wxBrush(GetBackgroundColour()));
  dc.Clear();
  dc.SetFont(font_);
  dc.SetTextForeground(wxColour(128, 128, 128));
  dc.DrawText(text_, 6, 1);
  dc.SetTextForeground(GetForegroundColour());
  dc.DrawText(text_, 5, 0);
}
