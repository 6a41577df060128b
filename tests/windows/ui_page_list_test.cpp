// The page list and the page holder in a real main window (template 129)
// with the five page templates: attaching, page activation and its
// notifications, vetoes, focus, the list's notification and its owner
// drawing, checked by pixels. The last test shows the whole window and can
// be held open for a screenshot:
//   VM_UI_SHOWCASE_SECONDS=20 VM_UI_SHOWCASE_PAGE=2 ui_windows_test.exe
//       --gtest_filter=PageListShowcase.*
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "ui/hyperlink.h"
#include "ui/image_button.h"
#include "ui/page_list.h"

namespace {

constexpr COLORREF kPageGrey = RGB(217, 217, 217);
constexpr UINT kPageTemplates[kPageCount] = {IDD_STATUS_PAGE, IDD_CREATE_PAGE, IDD_MOUNT_PAGE,
                                             IDD_OPTIONS_PAGE, IDD_ABOUT_PAGE};

// A page as the program's pages look: grey, black text, transparent text
// background; the About page's web address is a HyperLink.
class Page : public Dialog {
 public:
  ~Page() override { DeleteObject(brush_); }
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override {
    static constexpr MessageMapEntry<Page> kMap[] = {
        OnMessage<WM_INITDIALOG, &Page::OnInitDialog>(),
        OnMessage<WM_CTLCOLORDLG, &Page::OnColor>(),
        OnMessage<WM_CTLCOLORBTN, &Page::OnColor>(),
        OnMessage<WM_CTLCOLORSTATIC, &Page::OnColor>(),
        OnMessage<WM_COMMAND, &Page::OnAnyCommand>(),
    };
    return DispatchMessageMap<Page>(*this, kMap, m, result);
  }
  bool OnInitDialog(HWND, LPARAM) {
    if (const HWND link = GetDlgItem(Handle(), IDC_ABOUT_WEB_LINK)) link_.Attach(link);
    return true;
  }
  HBRUSH OnColor(HDC dc, HWND) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    return brush_;
  }
  void OnAnyCommand(UINT id, UINT, HWND) { commands.push_back(id); }

  std::vector<UINT> commands;

 private:
  HBRUSH brush_ = CreateSolidBrush(kPageGrey);
  HyperLink link_;
};

HIMAGELIST LoadStrip(UINT bitmap, int cell) {
  return ImageList_LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(bitmap), cell, 0, CLR_NONE,
                              IMAGE_BITMAP, LR_CREATEDIBSECTION);
}

// The main window's navigation, built the way the application frame builds it.
class Frame : public Dialog {
 public:
  explicit Frame(bool activateFirstPage = true) : activateFirstPage_(activateFirstPage) {}
  ~Frame() override {
    if (Handle() != nullptr) DestroyWindow(Handle());
    ImageList_Destroy(normal_);
    ImageList_Destroy(selected_);
    DeleteObject(background_);
  }

  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override {
    static constexpr MessageMapEntry<Frame> kMap[] = {
        OnMessage<WM_INITDIALOG, &Frame::OnInitDialog>(),
        OnCommandCode<LBN_SELCHANGE, &Frame::OnPageSelected>(),
        OnNotify<IDC_PAGE_HOLDER, kAnyCode, &Frame::OnHolderNotify>(),
        OnMessage<WM_CTLCOLORDLG, &Frame::OnBackground>(),
    };
    return DispatchMessageMap<Frame>(*this, kMap, m, result);
  }

  bool OnInitDialog(HWND, LPARAM) {
    SetWindowTextA(Handle(), "Velmorcrypt Vozeri");
    const auto bitmap = static_cast<HBITMAP>(
        LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, 0));
    background_ = CreatePatternBrush(bitmap);
    DeleteObject(bitmap);

    help.SetImageList(LoadStrip(IDB_HELP_BUTTON, 36));
    help.SetCells(0, 1, 2, -1);
    help.SetExtendedStyle(0x09);
    help.Attach(GetDlgItem(Handle(), IDC_HELP_BUTTON));
    minimize.SetImageList(LoadStrip(IDB_MINIMIZE_BUTTON, 61));
    minimize.SetCells(0, 1, 2, -1);
    minimize.SetExtendedStyle(0x09);
    minimize.Attach(GetDlgItem(Handle(), IDC_MINIMIZE_BUTTON));

    normal_ = LoadStrip(IDB_PAGE_PICTURES, kPageNavigatorCellSize);
    selected_ = LoadStrip(IDB_PAGE_PICTURES_SELECTED, kPageNavigatorCellSize);
    list.Attach(GetDlgItem(Handle(), IDC_PAGE_LIST));
    list.SetImageLists(normal_, selected_);
    SendMessageA(list.Handle(), LB_SETITEMHEIGHT, 0, kPageNavigatorItemHeight);
    list.SetStyle(kPageNavigatorStyle);
    for (const PageListItem& item : PageNavigatorItems()) list.AddItem(item);
    SendMessageA(list.Handle(), LB_SETCURSEL, 0, 0);

    holder.Attach(GetDlgItem(Handle(), IDC_PAGE_HOLDER));
    for (int i = 0; i < kPageCount; ++i) {
      pages[i].CreateModeless(kPageTemplates[i], holder.Handle());
      holder.AddPage(pages[i].Handle());
    }
    if (activateFirstPage_) holder.SetActivePage(0);
    return true;
  }

  void OnPageSelected(UINT, UINT, HWND) {
    const auto index = static_cast<int>(SendMessageA(list.Handle(), LB_GETCURSEL, 0, 0));
    if (index == -1) return;
    ++prepared[index];
    holder.SetActivePage(index);
  }

  LRESULT OnHolderNotify(NMHDR& header) {
    const int code = static_cast<int>(header.code);
    EXPECT_EQ(header.hwndFrom, holder.Handle());
    EXPECT_EQ(header.idFrom, static_cast<UINT_PTR>(IDC_PAGE_HOLDER));
    holderCodes.push_back(code);
    return code == kPageChanging && vetoChanges ? 1 : 0;
  }

  HBRUSH OnBackground(HDC, HWND) { return background_; }

  HWND Control(int id) const { return GetDlgItem(Handle(), id); }

  PageListBox list;
  PageHolder holder;
  ImageButton help;
  ImageButton minimize;
  Page pages[kPageCount];
  std::vector<int> holderCodes;
  int prepared[kPageCount] = {};
  bool vetoChanges = false;

 private:
  bool activateFirstPage_;
  HIMAGELIST normal_ = nullptr;
  HIMAGELIST selected_ = nullptr;
  HBRUSH background_ = nullptr;
};

class PageListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(frame_.CreateModeless(IDD_MAIN, nullptr), nullptr);
    frame_.holderCodes.clear();
  }
  void Show() {
    SetWindowPos(frame_.Handle(), HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(frame_.Handle());
    UpdateWindow(frame_.Handle());
  }
  // Shown in the holder (the frame itself may be hidden).
  bool Visible(int page) const {
    return (GetWindowLongPtrA(frame_.pages[page].Handle(), GWL_STYLE) & WS_VISIBLE) != 0;
  }
  // Clicks an entry of the list as the user would.
  void ClickEntry(int index) {
    const LPARAM at = MAKELPARAM(20, index * kPageNavigatorItemHeight + 20);
    SendMessageA(frame_.list.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(frame_.list.Handle(), WM_LBUTTONUP, 0, at);
  }

  Frame frame_;
};

TEST_F(PageListTest, AttachingAndBuildingAsTheFrameDoes) {
  const HWND list = frame_.list.Handle();
  const LONG_PTR style = GetWindowLongPtrA(list, GWL_STYLE);
  EXPECT_EQ(style & (LBS_SORT | LBS_MULTIPLESEL | LBS_HASSTRINGS), 0);
  EXPECT_NE(style & LBS_NOTIFY, 0);
  EXPECT_NE(style & LBS_OWNERDRAWFIXED, 0);
  EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), kPageCount);
  EXPECT_EQ(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0), kPageNavigatorItemHeight);
  EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 0);
  const char* texts[] = {"Status", "Create", "Mount", "Options", "About"};
  for (int i = 0; i < kPageCount; ++i) {
    const PageListItem* item = frame_.list.Item(i);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text, texts[i]);
    EXPECT_EQ(item->image, i);
    EXPECT_EQ(item->mask, 0x3Du);
  }

  EXPECT_NE(GetWindowLongPtrA(frame_.holder.Handle(), GWL_EXSTYLE) & WS_EX_CONTROLPARENT, 0);
  EXPECT_EQ(frame_.holder.PageCount(), kPageCount);
  EXPECT_EQ(frame_.holder.ActiveIndex(), 0);
  EXPECT_EQ(frame_.holder.ActivePage(), frame_.pages[0].Handle());
  for (int i = 0; i < kPageCount; ++i) {
    const HWND page = frame_.pages[i].Handle();
    EXPECT_EQ(frame_.holder.Page(i), page);
    EXPECT_EQ(GetParent(page), frame_.holder.Handle());
    EXPECT_NE(GetWindowLongPtrA(page, GWL_EXSTYLE) & WS_EX_CONTROLPARENT, 0);
    EXPECT_EQ(Visible(i), i == 0) << i;
  }
  RECT holderClient, pageRect;
  GetClientRect(frame_.holder.Handle(), &holderClient);
  GetWindowRect(frame_.pages[0].Handle(), &pageRect);
  MapWindowPoints(nullptr, frame_.holder.Handle(), reinterpret_cast<POINT*>(&pageRect), 2);
  EXPECT_EQ(pageRect.left, 0);
  EXPECT_EQ(pageRect.top, 0);
  EXPECT_EQ(pageRect.right, holderClient.right);
  EXPECT_EQ(pageRect.bottom, holderClient.bottom);
}

TEST(PageHolderNotifications, CreatedThenOnePerPageThenTheFirstActivation) {
  Frame frame;
  ASSERT_NE(frame.CreateModeless(IDD_MAIN, nullptr), nullptr);
  EXPECT_EQ(frame.holderCodes,
            (std::vector<int>{PHN_CREATED, PHN_PAGEADDED, PHN_PAGEADDED, PHN_PAGEADDED,
                              PHN_PAGEADDED, PHN_PAGEADDED, kPageChanging, kPageChanged}));
  EXPECT_EQ(PHN_CREATED, -560);
  EXPECT_EQ(PHN_PAGEADDED, -561);
  EXPECT_EQ(kPageChanging, -552);
  EXPECT_EQ(kPageChanged, -551);
}

TEST_F(PageListTest, OutOfRangeOrVetoedChangesNothing) {
  EXPECT_FALSE(frame_.holder.SetActivePage(-1));
  EXPECT_FALSE(frame_.holder.SetActivePage(kPageCount));
  EXPECT_TRUE(frame_.holderCodes.empty());
  frame_.vetoChanges = true;
  EXPECT_FALSE(frame_.holder.SetActivePage(2));
  EXPECT_EQ(frame_.holderCodes, (std::vector<int>{kPageChanging}));
  EXPECT_EQ(frame_.holder.ActiveIndex(), 0);
  EXPECT_TRUE(Visible(0));
  EXPECT_FALSE(Visible(2));
}

TEST_F(PageListTest, ActivatingTheActivePageDoesNothing) {
  EXPECT_TRUE(frame_.holder.SetActivePage(0));
  EXPECT_TRUE(frame_.holderCodes.empty());
  EXPECT_TRUE(Visible(0));
}

TEST_F(PageListTest, ActivationSwapsThePagesAndNotifiesAroundIt) {
  EXPECT_TRUE(frame_.holder.SetActivePage(3));
  EXPECT_EQ(frame_.holderCodes, (std::vector<int>{kPageChanging, kPageChanged}));
  EXPECT_EQ(frame_.holder.ActiveIndex(), 3);
  for (int i = 0; i < kPageCount; ++i) EXPECT_EQ(Visible(i), i == 3) << i;
}

TEST_F(PageListTest, TheUsersPickPreparesAndActivatesEvenTwice) {
  ClickEntry(2);
  EXPECT_EQ(SendMessageA(frame_.list.Handle(), LB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(frame_.prepared[2], 1);
  EXPECT_EQ(frame_.holder.ActiveIndex(), 2);
  EXPECT_TRUE(Visible(2));
  EXPECT_FALSE(Visible(0));
  frame_.holderCodes.clear();
  // The same entry again: the page is prepared again, the holder does nothing.
  ClickEntry(2);
  EXPECT_EQ(frame_.prepared[2], 2);
  EXPECT_TRUE(frame_.holderCodes.empty());
  // Selecting by request sends nothing.
  SendMessageA(frame_.list.Handle(), LB_SETCURSEL, 4, 0);
  EXPECT_EQ(frame_.prepared[4], 0);
  EXPECT_EQ(frame_.holder.ActiveIndex(), 2);
}

TEST_F(PageListTest, FocusOnTheListStaysThere) {
  Show();
  SetFocus(frame_.list.Handle());
  ASSERT_EQ(GetFocus(), frame_.list.Handle());
  EXPECT_TRUE(frame_.holder.SetActivePage(2));
  EXPECT_EQ(GetFocus(), frame_.list.Handle());
}

TEST_F(PageListTest, FocusInsideTheOldPageMovesToTheNewPagesFirstChild) {
  Show();
  SetFocus(GetDlgItem(frame_.pages[0].Handle(), IDC_STATUS_DISMOUNT));
  ASSERT_EQ(GetFocus(), GetDlgItem(frame_.pages[0].Handle(), IDC_STATUS_DISMOUNT));
  EXPECT_TRUE(frame_.holder.SetActivePage(4));
  EXPECT_EQ(GetFocus(), GetWindow(frame_.pages[4].Handle(), GW_CHILD));  // the banner
}

TEST(PageHolderFocus, TheFirstActivationFocusesTheFirstTabStopOfThePage) {
  Frame frame(false);
  ASSERT_NE(frame.CreateModeless(IDD_MAIN, nullptr), nullptr);
  ShowWindow(frame.Handle(), SW_SHOW);
  SetForegroundWindow(frame.Handle());
  SetFocus(frame.list.Handle());
  EXPECT_EQ(frame.holder.ActiveIndex(), -1);
  EXPECT_TRUE(frame.holder.SetActivePage(0));
  EXPECT_EQ(GetFocus(), GetDlgItem(frame.pages[0].Handle(), IDC_STATUS_LIST));
  EXPECT_TRUE(IsWindowVisible(frame.pages[0].Handle()));
  // The holder hands the focus it gets to the active page the same way.
  SetFocus(frame.list.Handle());
  SetFocus(frame.holder.Handle());
  EXPECT_EQ(GetFocus(), GetDlgItem(frame.pages[0].Handle(), IDC_STATUS_LIST));
}

TEST_F(PageListTest, TheHolderSizesTheActivePageAndPassesCommandsOn) {
  SetWindowPos(frame_.holder.Handle(), nullptr, 0, 0, 200, 120, SWP_NOMOVE | SWP_NOZORDER);
  RECT page;
  GetWindowRect(frame_.pages[0].Handle(), &page);
  EXPECT_EQ(page.right - page.left, 200);
  EXPECT_EQ(page.bottom - page.top, 120);
  SendMessageA(frame_.holder.Handle(), WM_COMMAND, MAKEWPARAM(4321, 0), 0);
  EXPECT_EQ(frame_.pages[0].commands, (std::vector<UINT>{4321}));
  EXPECT_TRUE(frame_.pages[1].commands.empty());
}

TEST_F(PageListTest, ARefusedInsertCreatesNoEntry) {
  PageListItem item = PageNavigatorItems()[0];
  item.position = 99;
  EXPECT_LT(frame_.list.AddItem(item), 0);
  EXPECT_EQ(SendMessageA(frame_.list.Handle(), LB_GETCOUNT, 0, 0), kPageCount);
  item.position = 1;
  item.text = "Extra";
  EXPECT_EQ(frame_.list.AddItem(item), 1);
  EXPECT_EQ(frame_.list.Item(1)->text, "Extra");
  EXPECT_EQ(frame_.list.Item(2)->text, "Create");
  EXPECT_EQ(SendMessageA(frame_.list.Handle(), LB_DELETESTRING, 1, 0), kPageCount);
  EXPECT_EQ(frame_.list.Item(1)->text, "Create");
}

// ---- Drawing ----

// A memory device context to let the list draw into.
class Canvas {
 public:
  Canvas(int width, int height) {
    const HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bitmap_);
    const RECT all{0, 0, width, height};
    FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }
  int Count(const RECT& area, COLORREF colour) const {
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y) {
      for (int x = area.left; x < area.right; ++x) n += At(x, y) == colour;
    }
    return n;
  }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
};

constexpr COLORREF kBlue = RGB(49, 106, 197);
constexpr COLORREF kLightGrey = RGB(240, 240, 240);
constexpr COLORREF kSelectedInk = RGB(22, 52, 112);  // the selected pictures' ink

// Asks the list's parent to draw entry `index` into `canvas`, as the list box does.
void DrawEntry(Frame& frame, int index, bool selected, const Canvas& canvas, int width) {
  DRAWITEMSTRUCT draw{};
  draw.CtlType = ODT_LISTBOX;
  draw.CtlID = IDC_PAGE_LIST;
  draw.itemID = static_cast<UINT>(index);
  draw.itemAction = ODA_DRAWENTIRE;
  draw.itemState = selected ? ODS_SELECTED | ODS_FOCUS : 0;
  draw.hwndItem = frame.list.Handle();
  draw.hDC = canvas.dc();
  draw.rcItem = RECT{0, 0, width, kPageNavigatorItemHeight};
  draw.itemData =
      static_cast<ULONG_PTR>(SendMessageA(frame.list.Handle(), LB_GETITEMDATA, index, 0));
  EXPECT_TRUE(
      SendMessageA(frame.Handle(), WM_DRAWITEM, IDC_PAGE_LIST, reinterpret_cast<LPARAM>(&draw)));
}

TEST_F(PageListTest, UnselectedEntriesAreWhiteOnBlue) {
  constexpr int kWidth = 72;
  Canvas canvas(kWidth, kPageNavigatorItemHeight);
  DrawEntry(frame_, 0, false, canvas, kWidth);
  EXPECT_EQ(canvas.At(1, 1), kBlue);
  EXPECT_EQ(canvas.At(kWidth - 1, kPageNavigatorItemHeight - 1), kBlue);
  // The picture: 30 x 30 from 9 pixels below the top, centred; the Status
  // picture's frame runs down its left side at x = 4..5.
  const int left = kWidth / 2 - 15;
  EXPECT_EQ(canvas.At(left + 4, 9 + 15), RGB(255, 255, 255));
  EXPECT_EQ(canvas.At(left + 1, 9 + 15), kBlue);  // the cell's own background
  // The caption: white text under the picture, nothing but blue and white there.
  const RECT caption{0, 39, kWidth, kPageNavigatorItemHeight};
  EXPECT_GT(canvas.Count(caption, RGB(255, 255, 255)), 10);
  EXPECT_EQ(canvas.Count(caption, RGB(0, 0, 0)), 0);
  // No focus rectangle even with the focus: the top row is plain blue.
  EXPECT_EQ(canvas.Count(RECT{0, 0, kWidth, 1}, kBlue), kWidth);
}

TEST_F(PageListTest, SelectedEntriesAreBlackOnLightGreyWithTheSelectedPicture) {
  constexpr int kWidth = 72;
  Canvas canvas(kWidth, kPageNavigatorItemHeight);
  DrawEntry(frame_, 0, true, canvas, kWidth);
  EXPECT_EQ(canvas.At(1, 1), kLightGrey);
  EXPECT_EQ(canvas.Count(RECT{0, 0, kWidth, 1}, kLightGrey), kWidth);  // no focus rectangle
  const int left = kWidth / 2 - 15;
  EXPECT_EQ(canvas.At(left + 4, 9 + 15), kSelectedInk);
  const RECT caption{0, 39, kWidth, kPageNavigatorItemHeight};
  EXPECT_GT(canvas.Count(caption, RGB(0, 0, 0)), 10);
  EXPECT_EQ(canvas.Count(caption, RGB(255, 255, 255)), 0);
}

TEST_F(PageListTest, TheSpaceBelowTheLastEntryIsBlue) {
  Canvas canvas(40, 40);
  EXPECT_TRUE(
      SendMessageA(frame_.list.Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc()), 0));
  EXPECT_EQ(canvas.Count(RECT{0, 0, 40, 40}, kBlue), 40 * 40);
}

TEST_F(PageListTest, OnScreenTheSelectedEntryIsGreyAndTheOthersBlue) {
  // Room below the last entry, inside the window.
  SetWindowPos(frame_.Handle(), nullptr, 0, 0, 600, 600, SWP_NOMOVE | SWP_NOZORDER);
  SetWindowPos(frame_.list.Handle(), nullptr, 0, 0, 80, kPageCount * kPageNavigatorItemHeight + 40,
               SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_TRUE(frame_.holder.SetActivePage(1));
  SendMessageA(frame_.list.Handle(), LB_SETCURSEL, 1, 0);
  Show();
  RedrawWindow(frame_.list.Handle(), nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  const HDC dc = GetDC(frame_.list.Handle());
  EXPECT_EQ(GetPixel(dc, 2, 2), kBlue);
  EXPECT_EQ(GetPixel(dc, 2, kPageNavigatorItemHeight + 2), kLightGrey);
  EXPECT_EQ(GetPixel(dc, 2, 2 * kPageNavigatorItemHeight + 2), kBlue);
  EXPECT_EQ(GetPixel(dc, 2, kPageCount * kPageNavigatorItemHeight + 20), kBlue);
  ReleaseDC(frame_.list.Handle(), dc);
}

// ---- The whole window, for a look ----

int EnvironmentNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::atoi(text) : fallback;
}

TEST(PageListShowcase, MainWindowWithTheFivePages) {
  const int page = EnvironmentNumber("VM_UI_SHOWCASE_PAGE", 0);
  const int seconds = EnvironmentNumber("VM_UI_SHOWCASE_SECONDS", 0);
  ASSERT_GE(page, 0);
  ASSERT_LT(page, kPageCount);
  Frame frame;
  ASSERT_NE(frame.CreateModeless(IDD_MAIN, nullptr), nullptr);
  SendMessageA(frame.list.Handle(), LB_SETCURSEL, page, 0);
  EXPECT_TRUE(frame.holder.SetActivePage(page));
  SetWindowPos(frame.Handle(), HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  UpdateWindow(frame.Handle());
  // The caption buttons took the size of their pictures.
  RECT help, minimize;
  GetClientRect(frame.help.Handle(), &help);
  GetClientRect(frame.minimize.Handle(), &minimize);
  EXPECT_EQ(help.right, 36);
  EXPECT_EQ(help.bottom, 22);
  EXPECT_EQ(minimize.right, 61);
  EXPECT_EQ(minimize.bottom, 22);
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsDialogMessageA(frame.Handle(), &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    Sleep(20);
  } while (static_cast<LONG>(end - GetTickCount()) > 0);
  EXPECT_TRUE(IsWindowVisible(frame.Handle()));
  EXPECT_EQ(frame.holder.ActivePage(), frame.pages[frame.holder.ActiveIndex()].Handle());
}

}  // namespace
