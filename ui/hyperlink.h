// HyperLink: turns a static text into a web link. The text is painted
// underlined in the link colour (the browser's "Anchor Color", blue by
// default), the hand pointer and a tool tip with the target show over it,
// and a click (or Enter or Space while it has the focus) opens the target
// with the shell; after a successful open it is painted in the visited
// colour for as long as the control lives. The parent answers
// WM_CTLCOLORSTATIC with the brush the background is filled with.
#pragma once
#include <windows.h>

#include <memory>

#include "ui/window.h"

class HyperLink : public Window {
 public:
  ~HyperLink() override;

  // Takes over a static (or other) window and initialises the control:
  // fonts, pointer, tool tip, label and target from the window text, and
  // the colours from the registry.
  bool Attach(HWND window);

  // Replace the owned texts; false (and no text) if the copy cannot be made.
  bool SetLabel(const char* text);
  bool SetHyperLink(const char* target);
  // Opens the target; true (and visited from then on) when the shell did.
  bool Open();

  COLORREF LinkColor() const { return linkColor_; }
  COLORREF VisitedColor() const { return visitedColor_; }
  bool Visited() const { return visited_; }
  RECT LinkRect() const { return linkRect_; }
  HWND ToolTip() const { return toolTip_; }
  const char* Label() const { return label_.get(); }
  const char* Target() const { return hyperlink_.get(); }

 protected:
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  const char* ShownText() const { return label_ ? label_.get() : hyperlink_.get(); }
  void ComputeLinkRect();
  void ReadColorsFromRegistry();
  bool PointerOnLink() const;
  bool RelayToToolTip(const WindowMessage& m, LRESULT& result);
  void OnPaint();
  bool OnEraseBackground(HDC dc);
  void OnMouseMove(UINT keys, POINT client);
  bool OnSetCursor(HWND window, UINT hitTest, UINT mouseMessage);
  void OnLeftButtonDown(UINT keys, POINT client);
  void OnLeftButtonUp(UINT keys, POINT client);
  UINT OnGetDlgCode(const MSG* msg);
  void OnChar(UINT code, UINT keyData);
  void OnFocusChange(HWND other);
  void OnEnable(bool enabled);
  void OnSetFont(HFONT font, bool redraw);
  HFONT OnGetFont();
  void OnDestroy();

  std::unique_ptr<char[]> label_;
  std::unique_ptr<char[]> hyperlink_;
  HFONT linkFont_ = nullptr;    // owned
  HFONT normalFont_ = nullptr;  // the parent's
  HCURSOR cursor_ = nullptr;
  RECT linkRect_{};
  HWND toolTip_ = nullptr;
  COLORREF linkColor_ = RGB(0, 0, 255);
  COLORREF visitedColor_ = RGB(128, 0, 128);
  bool visited_ = false;
};
