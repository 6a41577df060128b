// The main window's navigation: PageListBox, the owner-drawn list of pages
// on the left, and PageHolder, the area on the right that owns the page
// dialogs and shows one of them at a time. Both take over controls that a
// dialog template created. The list's owner-draw requests reach it through
// its parent's reflection (the parent must be a window object).
#pragma once
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <vector>

#include "ui/page_list_layout.h"
#include "ui/window.h"

class PageListBox : public Window {
 public:
  // Takes over a list box: clears its sort, multiple-selection and
  // has-strings styles, sets notify, and takes its colours from the system.
  bool Attach(HWND listBox);

  // The image lists and the subtext font are not owned.
  void SetImageLists(HIMAGELIST normal, HIMAGELIST selected);
  void SetSubtextFont(HFONT font) { subtextFont_ = font; }
  const PageListStyle& Style() const { return style_; }
  void SetStyle(const PageListStyle& style) { style_ = style; }

  // Inserts an owned copy of the masked fields at item.position; returns
  // the new index or the list's negative error (the copy is then freed).
  int AddItem(const PageListItem& item);
  // The list's copy of an entry, or null.
  const PageListItem* Item(int index) const;

 protected:
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  void OnDrawItem(const DRAWITEMSTRUCT& draw);
  void OnDeleteItem(const DELETEITEMSTRUCT& item);
  void OnMeasureItem(MEASUREITEMSTRUCT& measure);
  bool OnEraseBackground(HDC dc);
  void OnDestroy();

  PageListStyle style_;
  HIMAGELIST normal_ = nullptr;
  HIMAGELIST selected_ = nullptr;
  HFONT subtextFont_ = nullptr;
};

// The holder's notifications to its parent (WM_NOTIFY, code in the header).
inline constexpr int PHN_CREATED = -560;
inline constexpr int PHN_PAGEADDED = -561;
// Before and after a page change, with the tab control's codes. A non-zero
// answer to TCN_SELCHANGING vetoes the change.
inline constexpr int kPageChanging = TCN_SELCHANGING;
inline constexpr int kPageChanged = TCN_SELCHANGE;

class PageHolder : public Window {
 public:
  // Takes over the holder window, marks it a control parent (so that the
  // dialog manager's keyboard navigation enters the pages) and tells the
  // parent PHN_CREATED.
  bool Attach(HWND holder);

  // Appends a page (created as a child of the holder), hides it and returns
  // its index.
  int AddPage(HWND page);
  // Shows page `index` in the whole client area and hides the one before.
  // False, changing nothing, for an index outside the pages or when the
  // parent vetoes; true at once for the page already active.
  bool SetActivePage(int index);

  int PageCount() const { return static_cast<int>(pages_.size()); }
  int ActiveIndex() const { return activeIndex_; }
  HWND ActivePage() const { return active_; }
  HWND Page(int index) const;

 protected:
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  LRESULT Notify(int code);
  void OnSize(UINT type, SIZE client);
  void OnSetFocus(HWND previous);
  bool OnEraseBackground(HDC dc);
  bool OnCommand(const WindowMessage& m, LRESULT& result);

  std::vector<HWND> pages_;
  HWND active_ = nullptr;
  int activeIndex_ = -1;
};
