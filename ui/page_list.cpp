#include "ui/page_list.h"

namespace {

RECT ToRect(const PixelRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

void FillSolid(HDC dc, const RECT& r, COLORREF colour) {
  const HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

// Draws one line of text (step of the entry drawing): measured in an empty
// rectangle, drawn into `area`; returns the measured height.
int DrawTextLine(HDC dc, const std::string& text, RECT area, UINT format) {
  RECT measured{0, 0, 0, 0};
  DrawTextA(dc, text.c_str(), -1, &measured, format | DT_CALCRECT);
  DrawTextA(dc, text.c_str(), -1, &area, format);
  return measured.bottom - measured.top;
}

}  // namespace

// ---- PageListBox ----

bool PageListBox::Attach(HWND listBox) {
  if (!Window::Attach(listBox)) return false;
  const LONG_PTR style = GetWindowLongPtrA(listBox, GWL_STYLE);
  SetWindowLongPtrA(listBox, GWL_STYLE,
                    (style & ~LONG_PTR{LBS_SORT | LBS_MULTIPLESEL | LBS_HASSTRINGS}) | LBS_NOTIFY);
  style_.textColor = GetSysColor(COLOR_WINDOWTEXT);
  style_.backgroundColor = GetSysColor(COLOR_WINDOW);
  style_.selectedFillColor = GetSysColor(COLOR_HIGHLIGHT);
  style_.selectedTextColor = GetSysColor(COLOR_HIGHLIGHTTEXT);
  style_.frameColor = GetSysColor(COLOR_HIGHLIGHT);
  return true;
}

void PageListBox::SetImageLists(HIMAGELIST normal, HIMAGELIST selected) {
  normal_ = normal;
  selected_ = selected;
}

int PageListBox::AddItem(const PageListItem& item) {
  auto* copy = new PageListItem(CopyMaskedFields(item));
  const auto index = static_cast<int>(
      SendMessageA(Handle(), LB_INSERTSTRING, item.position, reinterpret_cast<LPARAM>(copy)));
  if (index < 0) {
    delete copy;
    return index;
  }
  SendMessageA(Handle(), LB_SETITEMDATA, index, reinterpret_cast<LPARAM>(copy));
  return index;
}

const PageListItem* PageListBox::Item(int index) const {
  const LRESULT data = SendMessageA(Handle(), LB_GETITEMDATA, index, 0);
  return data == LB_ERR ? nullptr : reinterpret_cast<const PageListItem*>(data);
}

bool PageListBox::ProcessWindowMessage(const WindowMessage& m, LRESULT& result) {
  static constexpr MessageMapEntry<PageListBox> kMap[] = {
      OnReflected<WM_DRAWITEM, &PageListBox::OnDrawItem>(),
      OnReflected<WM_DELETEITEM, &PageListBox::OnDeleteItem>(),
      OnReflected<WM_MEASUREITEM, &PageListBox::OnMeasureItem>(),
      OnMessage<WM_ERASEBKGND, &PageListBox::OnEraseBackground>(),
      OnMessage<WM_DESTROY, &PageListBox::OnDestroy>(),
  };
  return DispatchMessageMap<PageListBox>(*this, kMap, m, result);
}

void PageListBox::OnDrawItem(const DRAWITEMSTRUCT& draw) {
  if (draw.itemID == static_cast<UINT>(-1) || draw.itemData == 0) return;
  const auto& item = *reinterpret_cast<const PageListItem*>(draw.itemData);
  const HDC dc = draw.hDC;
  const bool selected = (draw.itemState & ODS_SELECTED) != 0;

  PixelPoint cell;
  if ((item.mask & PLIF_IMAGE) && normal_ != nullptr) {
    int cx = 0, cy = 0;
    ImageList_GetIconSize(normal_, &cx, &cy);
    cell = {cx, cy};
  }
  const PixelRect entry{draw.rcItem.left, draw.rcItem.top, draw.rcItem.right, draw.rcItem.bottom};
  const PageListEntryLayout layout = LayoutPageListEntry(entry, selected, item, style_, cell);

  FillSolid(dc, draw.rcItem, layout.bandColor);
  if (layout.roundFrame) {
    const HPEN pen = CreatePen(PS_SOLID, 1, style_.frameColor);
    const HBRUSH brush = CreateSolidBrush(style_.selectedFillColor);
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    const HGDIOBJ oldBrush = SelectObject(dc, brush);
    RoundRect(dc, layout.frame.left, layout.frame.top, layout.frame.right, layout.frame.bottom,
              style_.cornerWidth, style_.cornerHeight);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
  }

  const auto font = reinterpret_cast<HFONT>(SendMessageA(Handle(), WM_GETFONT, 0, 0));
  const HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColour = SetTextColor(dc, layout.textColor);

  if (layout.drawImage) {
    const HIMAGELIST list = layout.selectedLook ? selected_ : normal_;
    if (list != nullptr) {
      ImageList_Draw(list, layout.imageIndex, dc, layout.imageAt.x, layout.imageAt.y, ILD_NORMAL);
    }
  }
  PixelRect r = layout.content;
  if (item.mask & PLIF_TEXT) {
    r = TextArea(r, style_);
    r.top += DrawTextLine(dc, item.text, ToRect(r), layout.format);
  }
  if (item.mask & PLIF_SUBTEXT) {
    if (subtextFont_ != nullptr) SelectObject(dc, subtextFont_);
    r = SubtextArea(r, style_);
    DrawTextLine(dc, item.subtext, ToRect(r), layout.format);
  }

  SetTextColor(dc, oldColour);
  SetBkMode(dc, oldMode);
  if (oldFont != nullptr) SelectObject(dc, oldFont);
}

void PageListBox::OnDeleteItem(const DELETEITEMSTRUCT& item) {
  delete reinterpret_cast<PageListItem*>(item.itemData);
}

void PageListBox::OnMeasureItem(MEASUREITEMSTRUCT& measure) {
  // Only an answer for completeness: the page list's height is set after
  // attaching (LB_SETITEMHEIGHT) and this plays no part in it.
  if (measure.CtlType == ODT_MENU) {
    measure.itemHeight = static_cast<UINT>(GetSystemMetrics(SM_CYMENU));
    return;
  }
  const HDC dc = GetDC(Handle());
  const auto font = reinterpret_cast<HFONT>(SendMessageA(Handle(), WM_GETFONT, 0, 0));
  const HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  if (old != nullptr) SelectObject(dc, old);
  ReleaseDC(Handle(), dc);
  measure.itemHeight = static_cast<UINT>(metrics.tmHeight);
}

bool PageListBox::OnEraseBackground(HDC dc) {
  RECT client;
  GetClientRect(Handle(), &client);
  FillSolid(dc, client, style_.backgroundColor);
  return true;
}

void PageListBox::OnDestroy() {
  // The list box raises a delete-item request for each entry, which frees
  // the copies while the parent can still reflect it.
  SendMessageA(Handle(), LB_RESETCONTENT, 0, 0);
  DefaultProcessing({Handle(), WM_DESTROY, 0, 0});
}

// ---- PageHolder ----

bool PageHolder::Attach(HWND holder) {
  if (!Window::Attach(holder)) return false;
  SetWindowLongPtrA(holder, GWL_EXSTYLE,
                    GetWindowLongPtrA(holder, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  Notify(PHN_CREATED);
  return true;
}

HWND PageHolder::Page(int index) const {
  return index >= 0 && index < PageCount() ? pages_[index] : nullptr;
}

int PageHolder::AddPage(HWND page) {
  pages_.push_back(page);
  ShowWindow(page, SW_HIDE);
  SetWindowLongPtrA(page, GWL_EXSTYLE, GetWindowLongPtrA(page, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  Notify(PHN_PAGEADDED);
  return PageCount() - 1;
}

bool PageHolder::SetActivePage(int index) {
  if (index < 0 || index >= PageCount()) return false;
  if (index == activeIndex_) return true;
  if (Notify(kPageChanging) != 0) return false;

  const HWND old = active_;
  const HWND page = pages_[index];
  activeIndex_ = index;
  active_ = page;

  if (old != nullptr) ShowWindow(old, SW_HIDE);
  RECT client;
  GetClientRect(Handle(), &client);
  SetWindowPos(page, nullptr, 0, 0, client.right, client.bottom, SWP_NOACTIVATE | SWP_NOZORDER);
  ShowWindow(page, SW_SHOWNA);

  if (old != nullptr) {
    const HWND focus = GetFocus();
    if (focus != nullptr && IsChild(Handle(), focus)) {
      const HWND first = GetWindow(page, GW_CHILD);
      if (first != nullptr) SetFocus(first);
    }
  } else {
    SetFocus(Handle());
  }
  Notify(kPageChanged);
  return true;
}

LRESULT PageHolder::Notify(int code) {
  NMHDR header{};
  header.hwndFrom = Handle();
  header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(Handle()));
  header.code = static_cast<UINT>(code);
  return SendMessageA(GetParent(Handle()), WM_NOTIFY, header.idFrom,
                      reinterpret_cast<LPARAM>(&header));
}

bool PageHolder::ProcessWindowMessage(const WindowMessage& m, LRESULT& result) {
  static constexpr MessageMapEntry<PageHolder> kMap[] = {
      OnMessage<WM_SIZE, &PageHolder::OnSize>(),
      OnMessage<WM_SETFOCUS, &PageHolder::OnSetFocus>(),
      OnMessage<WM_ERASEBKGND, &PageHolder::OnEraseBackground>(),
      OnMessage<WM_COMMAND, &PageHolder::OnCommand>(),
  };
  return DispatchMessageMap<PageHolder>(*this, kMap, m, result);
}

void PageHolder::OnSize(UINT, SIZE client) {
  if (active_ != nullptr) {
    SetWindowPos(active_, nullptr, 0, 0, client.cx, client.cy, SWP_NOACTIVATE | SWP_NOZORDER);
  }
}

void PageHolder::OnSetFocus(HWND) {
  if (active_ == nullptr) return;
  const HWND first = GetNextDlgTabItem(active_, nullptr, FALSE);
  if (first != nullptr) SetFocus(first);
}

bool PageHolder::OnEraseBackground(HDC) { return true; }

bool PageHolder::OnCommand(const WindowMessage& m, LRESULT&) {
  if (active_ != nullptr) SendMessageA(active_, WM_COMMAND, m.wParam, m.lParam);
  return false;  // then handled as usual
}
