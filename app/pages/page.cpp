#include "app/pages/page.h"

Page::~Page() {
  if (background_ != nullptr) DeleteObject(background_);
}

HWND Page::Create(HWND parent) { return CreateModeless(TemplateId(), parent); }

bool Page::ProcessWindowMessage(const WindowMessage& m, LRESULT& result) {
  return ProcessPageMessage(m, result);
}

bool Page::ProcessPageMessage(const WindowMessage&, LRESULT&) { return false; }
