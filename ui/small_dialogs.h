// Two small building blocks of other windows: a dialog that asks for a number
// in a range, and a text label drawn with a grey shadow.
//
// Threads: main thread only.
#pragma once

#include <wx/dialog.h>
#include <wx/font.h>
#include <wx/panel.h>

class wxSlider;
class wxTextCtrl;

class dvrSliderDialog : public wxDialog {
 public:
  dvrSliderDialog(wxWindow* parent, const wxString& text, const wxString& title, int minimum,
                  int maximum, int value);
  // The slider's value; read after ShowModal() answered OK.
  int value() const;
  wxTextCtrl* valueField() const { return field_; }
  wxSlider* slider() const { return slider_; }

 private:
  void showValue();

  wxSlider* slider_;
  wxTextCtrl* field_;
};

class dvrBufferedText : public wxPanel {
 public:
  dvrBufferedText(wxWindow* parent, wxWindowID id, const wxString& text, const wxPoint& position,
                  const wxSize& size, const wxFont& font);
  void setText(const wxString& text);
  void setFont(const wxFont& font);
  const wxString& text() const { return text_; }

 private:
  void onPaint(wxPaintEvent& event);

  wxString text_;
  wxFont font_;
};
