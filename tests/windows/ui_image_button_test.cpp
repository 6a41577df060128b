// The picture buttons of the main window (controls 1038 and 1039 of
// template 129): sizing, the cell painted in each state, clicks by mouse
// including drags and double clicks, and the swallowed space key.
#include <gtest/gtest.h>

#include <vector>

#include "resources/resource.h"
#include "ui/image_button.h"

namespace {

// The main window's template with its caption buttons; records clicks.
class Host : public Dialog {
 public:
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override {
    static constexpr MessageMapEntry<Host> kMap[] = {
        OnCommandRange<IDC_HELP_BUTTON, IDC_MINIMIZE_BUTTON, &Host::OnClick>(),
    };
    return DispatchMessageMap<Host>(*this, kMap, m, result);
  }
  void OnClick(UINT id, UINT code, HWND control) {
    EXPECT_EQ(code, static_cast<UINT>(BN_CLICKED));
    EXPECT_EQ(control, GetDlgItem(Handle(), static_cast<int>(id)));
    clicks.push_back(id);
  }
  std::vector<UINT> clicks;
};

// Colours of the help strip's cells at (5, 11): normal, pushed, lit.
constexpr COLORREF kNormalCell = RGB(9, 22, 50);
constexpr COLORREF kPushedCell = RGB(5, 13, 32);
constexpr COLORREF kLitCell = RGB(49, 106, 197);

class ImageButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(host_.CreateModeless(IDD_MAIN, nullptr), nullptr);
    button_ = GetDlgItem(host_.Handle(), IDC_HELP_BUTTON);
    GetWindowRect(button_, &before_);
    MapWindowPoints(nullptr, host_.Handle(), reinterpret_cast<POINT*>(&before_), 2);
    help_.SetImageList(ImageList_LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(IDB_HELP_BUTTON), 36,
                                            0, CLR_NONE, IMAGE_BITMAP, LR_CREATEDIBSECTION));
    help_.SetCells(0, 1, 2, -1);
    help_.SetExtendedStyle(ImageButton::kHoverMode | ImageButton::kSizeToPicture);
    ASSERT_TRUE(help_.Attach(button_));
    SetWindowPos(host_.Handle(), HWND_TOP, 30, 30, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    UpdateWindow(host_.Handle());
    // The pointer rests over the button, so the platform's leave tracking agrees.
    RECT screen;
    GetWindowRect(button_, &screen);
    SetCursorPos(screen.left + 10, screen.top + 10);
  }
  void TearDown() override { DestroyWindow(host_.Handle()); }

  void Mouse(UINT message, int x, int y) {
    SendMessageA(button_, message, message == WM_MOUSEMOVE ? 0 : MK_LBUTTON, MAKELPARAM(x, y));
  }
  COLORREF Painted() {
    RedrawWindow(button_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const HDC dc = GetDC(button_);
    const COLORREF colour = GetPixel(dc, 5, 11);
    ReleaseDC(button_, dc);
    return colour;
  }

  Host host_;
  ImageButton help_;
  HWND button_ = nullptr;
  RECT before_{};
};

TEST_F(ImageButtonTest, AttachingMakesItOwnerDrawnOneCellInSizeWithAToolTip) {
  EXPECT_EQ(GetWindowLongPtrA(button_, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
  RECT client, now;
  GetClientRect(button_, &client);
  EXPECT_EQ(client.right, 36);
  EXPECT_EQ(client.bottom, 22);
  GetWindowRect(button_, &now);
  MapWindowPoints(nullptr, host_.Handle(), reinterpret_cast<POINT*>(&now), 2);
  EXPECT_EQ(now.left, before_.left);  // the position stays
  EXPECT_EQ(now.top, before_.top);
  ASSERT_NE(help_.ToolTip(), nullptr);
  char className[32] = {};
  GetClassNameA(help_.ToolTip(), className, sizeof className);
  EXPECT_STREQ(className, "tooltips_class32");
  EXPECT_EQ(SendMessageA(help_.ToolTip(), TTM_GETTOOLCOUNT, 0, 0), 0);  // no text, no tool
}

TEST_F(ImageButtonTest, CellsFollowTheMouse) {
  EXPECT_EQ(help_.CurrentCell(), 0);
  EXPECT_EQ(Painted(), kNormalCell);
  Mouse(WM_MOUSEMOVE, 10, 10);
  EXPECT_TRUE(help_.IsMouseOver());
  EXPECT_EQ(help_.CurrentCell(), 2);
  EXPECT_EQ(Painted(), kLitCell);
  Mouse(WM_LBUTTONDOWN, 10, 10);
  EXPECT_TRUE(help_.IsPressed());
  EXPECT_EQ(GetCapture(), button_);
  EXPECT_EQ(help_.CurrentCell(), 1);
  EXPECT_EQ(Painted(), kPushedCell);
  Mouse(WM_LBUTTONUP, 10, 10);
  EXPECT_FALSE(help_.IsPressed());
  EXPECT_EQ(GetCapture(), nullptr);
  SendMessageA(button_, WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(help_.IsMouseOver());
  EXPECT_EQ(help_.CurrentCell(), 0);
  EXPECT_EQ(Painted(), kNormalCell);
  EXPECT_EQ(host_.clicks, (std::vector<UINT>{IDC_HELP_BUTTON}));
}

TEST_F(ImageButtonTest, DraggingOffCancelsAndDraggingBackClicks) {
  Mouse(WM_MOUSEMOVE, 10, 10);
  Mouse(WM_LBUTTONDOWN, 10, 10);
  Mouse(WM_MOUSEMOVE, 80, 40);  // off the button, still captured
  EXPECT_FALSE(help_.IsPressed());
  EXPECT_EQ(help_.CurrentCell(), 2);
  Mouse(WM_LBUTTONUP, 80, 40);
  EXPECT_TRUE(host_.clicks.empty());
  EXPECT_EQ(GetCapture(), nullptr);

  Mouse(WM_LBUTTONDOWN, 10, 10);
  Mouse(WM_MOUSEMOVE, -5, 10);
  EXPECT_FALSE(help_.IsPressed());
  Mouse(WM_MOUSEMOVE, 12, 12);
  EXPECT_TRUE(help_.IsPressed());
  Mouse(WM_LBUTTONUP, 12, 12);
  EXPECT_EQ(host_.clicks, (std::vector<UINT>{IDC_HELP_BUTTON}));
}

TEST_F(ImageButtonTest, ADoubleClickIsTwoClicks) {
  Mouse(WM_LBUTTONDOWN, 10, 10);
  Mouse(WM_LBUTTONUP, 10, 10);
  Mouse(WM_LBUTTONDBLCLK, 10, 10);
  EXPECT_TRUE(help_.IsPressed());
  Mouse(WM_LBUTTONUP, 10, 10);
  EXPECT_EQ(host_.clicks, (std::vector<UINT>{IDC_HELP_BUTTON, IDC_HELP_BUTTON}));
}

TEST_F(ImageButtonTest, AReleaseWithoutAPressSendsNothing) {
  Mouse(WM_LBUTTONUP, 10, 10);
  EXPECT_TRUE(host_.clicks.empty());
}

TEST_F(ImageButtonTest, PressingDoesNotTakeTheFocus) {
  const HWND other = GetDlgItem(host_.Handle(), IDC_MINIMIZE_BUTTON);
  SetFocus(other);
  ASSERT_EQ(GetFocus(), other);
  Mouse(WM_LBUTTONDOWN, 10, 10);
  Mouse(WM_LBUTTONUP, 10, 10);
  EXPECT_EQ(GetFocus(), other);
  EXPECT_EQ(host_.clicks, (std::vector<UINT>{IDC_HELP_BUTTON}));
}

TEST_F(ImageButtonTest, TheSpaceKeyIsSwallowed) {
  SetFocus(button_);
  ASSERT_EQ(GetFocus(), button_);
  EXPECT_TRUE(help_.HasFocus());
  SendMessageA(button_, WM_KEYDOWN, VK_SPACE, 0x00390001);
  EXPECT_FALSE(help_.IsPressed());
  SendMessageA(button_, WM_CHAR, ' ', 0x00390001);
  SendMessageA(button_, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0390001));
  EXPECT_FALSE(help_.IsPressed());
  EXPECT_EQ(help_.CurrentCell(), 0);
  EXPECT_TRUE(host_.clicks.empty());
  // A plain push button clicks on the same keys: the minimize button, not
  // yet attached here.
  const HWND plain = GetDlgItem(host_.Handle(), IDC_MINIMIZE_BUTTON);
  SetFocus(plain);
  SendMessageA(plain, WM_KEYDOWN, VK_SPACE, 0x00390001);
  SendMessageA(plain, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0390001));
  EXPECT_EQ(host_.clicks, (std::vector<UINT>{IDC_MINIMIZE_BUTTON}));
}

TEST_F(ImageButtonTest, DisabledWithoutADisabledCellShowsTheNormalCell) {
  EnableWindow(button_, FALSE);
  EXPECT_EQ(help_.CurrentCell(), 0);
  EXPECT_EQ(Painted(), kNormalCell);
  help_.SetCells(0, 1, 2, 1);
  EXPECT_EQ(help_.CurrentCell(), 1);
  EnableWindow(button_, TRUE);
  EXPECT_EQ(help_.CurrentCell(), 0);
}

TEST(ImageButton, ResizesWhenTheListComesAfterAttachingAndKeepsASharedList) {
  Host host;
  ASSERT_NE(host.CreateModeless(IDD_MAIN, nullptr), nullptr);
  const HWND hwnd = GetDlgItem(host.Handle(), IDC_MINIMIZE_BUTTON);
  HIMAGELIST strip = ImageList_LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(IDB_MINIMIZE_BUTTON),
                                          61, 0, CLR_NONE, IMAGE_BITMAP, LR_CREATEDIBSECTION);
  ASSERT_NE(strip, nullptr);
  EXPECT_EQ(ImageList_GetImageCount(strip), 3);
  {
    ImageButton button;
    button.SetExtendedStyle(ImageButton::kSizeToPicture | ImageButton::kSharedImageList);
    ASSERT_TRUE(button.Attach(hwnd));
    EXPECT_EQ(button.SetImageList(strip), nullptr);
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 61);
    EXPECT_EQ(client.bottom, 22);
    DestroyWindow(host.Handle());
  }
  // A shared list outlives the button.
  EXPECT_EQ(ImageList_GetImageCount(strip), 3);
  ImageList_Destroy(strip);
}

}  // namespace
