// ImageButton: a push button drawn entirely from one cell of an image list
// (normal, pushed, lit, disabled), lit while the mouse is over it in hover
// mode, reporting a click to its parent like an ordinary push button
// (WM_COMMAND with BN_CLICKED). It takes over an existing button.
#pragma once
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include "ui/image_button_cells.h"
#include "ui/window.h"

class ImageButton : public Window {
 public:
  // Extended style bits.
  static constexpr DWORD kHoverMode = 0x01;        // the mouse decides when the lit cell shows
  static constexpr DWORD kSizeToPicture = 0x08;    // the client area becomes one cell
  static constexpr DWORD kSharedImageList = 0x10;  // the image list is not destroyed with it

  ~ImageButton() override;

  // Returns the previous list. Resizes an attached button at once with
  // kSizeToPicture.
  HIMAGELIST SetImageList(HIMAGELIST list);
  void SetCells(int normal, int pushed, int lit, int disabled);
  void SetExtendedStyle(DWORD style) { extendedStyle_ = style; }

  // Takes over a button: makes it owner-drawn (the platform no longer
  // paints it), creates its tool tip window and sizes it to a cell.
  bool Attach(HWND button);

  // The cell that a paint would draw now.
  int CurrentCell() const;
  bool IsPressed() const { return pressed_; }
  bool IsMouseOver() const { return mouseOver_; }
  bool HasFocus() const { return hasFocus_; }
  HWND ToolTip() const { return toolTip_; }

 protected:
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  void SizeToCell();
  void Repaint();
  bool RelayToToolTip(const WindowMessage& m, LRESULT& result);
  void OnPaint();
  bool OnEraseBackground(HDC dc);
  void OnMouseMove(UINT keys, POINT client);
  void OnMouseLeave();
  void OnLeftButtonDown(UINT keys, POINT client);
  void OnLeftButtonUp(UINT keys, POINT client);
  void OnCaptureChanged(HWND other);
  bool OnKey(const WindowMessage& m, LRESULT& result);
  void OnSetFocus(HWND other);
  void OnKillFocus(HWND other);
  void OnEnable(bool enabled);
  void OnDestroy();

  DWORD extendedStyle_ = kSizeToPicture;
  HIMAGELIST imageList_ = nullptr;
  ImageButtonCells cells_;
  HWND toolTip_ = nullptr;
  bool mouseOver_ = false;
  bool hasFocus_ = false;
  bool pressed_ = false;
};
