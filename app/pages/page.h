// The base of every page: a modeless child dialog from its template, drawn
// in the window's grey with black text on a transparent background.
#pragma once
#include <windows.h>

#include "ui/window.h"

class Page : public Dialog {
 public:
  ~Page() override;

  // Creates the page from its template as a child of `parent`.
  HWND Create(HWND parent);

 protected:
  // The page's dialog template.
  virtual UINT TemplateId() const = 0;
  // The page's own handler table, asked before the colour handling (a page
  // may also override ProcessWindowMessage and call Page's at its end).
  virtual bool ProcessPageMessage(const WindowMessage& m, LRESULT& result);
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  HBRUSH background_ = nullptr;
};
