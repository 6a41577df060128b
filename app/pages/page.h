// The base of every page: a modeless child dialog from its template. It
// answers WM_CTLCOLORDLG, WM_CTLCOLORBTN and WM_CTLCOLORSTATIC with a
// transparent text background, black text and a solid grey brush
// (RGB 217, 217, 217) made at initialisation and deleted with the window.
#pragma once
#include <windows.h>

#include <string>

#include "platform/password_text.h"
#include "ui/window.h"

class Page : public Dialog {
 public:
  ~Page() override;

  HBRUSH BackgroundBrush() const { return background_; }

  // Creates the page from its template as a child of `parent`.
  HWND Create(HWND parent);

 protected:
  // The page's dialog template.
  virtual UINT TemplateId() const = 0;
  // The page's own handler table. The base answers the colour messages
  // itself and passes every other message here (WM_INITDIALOG once the
  // brush exists).
  virtual bool ProcessPageMessage(const WindowMessage& m, LRESULT& result);
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  void DeleteBrush();
  void FitBanner();

  HBRUSH background_ = nullptr;
  HBITMAP banner_ = nullptr;  // the picture the banner shows, owned
};

// The text of a control.
std::string ControlText(HWND control);
// The password typed into an edit control, read as Unicode and turned into
// the system's ANSI code page.
PasswordBytes ControlPassword(HWND control);
// Where a password's letters go, as messages name it: "on this system (code
// page 1252)".
std::string SystemCodePageText();
// Wipes a string that held a password and empties it.
void WipeString(std::string& text);
