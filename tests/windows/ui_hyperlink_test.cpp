// The web link of the About page (static 1007 of template 216): its texts
// and tool tip, the browser's link colours from the registry, painting in
// the link, visited and grey colours, and what opens it.
#include <gtest/gtest.h>

#include <string>

#include "resources/resource.h"
#include "ui/hyperlink.h"
// after windows.h
#include <commctrl.h>

namespace {

constexpr char kSettingsKey[] = "Software\\Microsoft\\Internet Explorer\\Settings";
constexpr COLORREF kPageGrey = RGB(217, 217, 217);
constexpr char kOpens[] = "C:\\windows\\system32\\hostname.exe";
constexpr char kDoesNotOpen[] = "C:\\no\\such\\folder\\file.vmtest";

// Sets (or with a null value removes) one of the browser's colour values.
void SetColorValue(const char* name, const char* value, DWORD type = REG_SZ) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  if (value == nullptr) {
    RegDeleteValueA(key, name);
  } else {
    const auto size = static_cast<DWORD>(strlen(value) + 1);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(value), size),
              ERROR_SUCCESS);
  }
  RegCloseKey(key);
}

// The About page on a plain top-level window, answering the colour
// questions with its grey brush as the program's page does.
class AboutPage : public Dialog {
 public:
  ~AboutPage() override { DeleteObject(brush_); }
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override {
    static constexpr MessageMapEntry<AboutPage> kMap[] = {
        OnMessage<WM_INITDIALOG, &AboutPage::OnInitDialog>(),
        OnMessage<WM_CTLCOLORSTATIC, &AboutPage::OnColor>(),
        OnMessage<WM_CTLCOLORDLG, &AboutPage::OnColor>(),
    };
    return DispatchMessageMap<AboutPage>(*this, kMap, m, result);
  }
  bool OnInitDialog(HWND, LPARAM) {
    link.Attach(GetDlgItem(Handle(), IDC_ABOUT_WEB_LINK));
    return true;
  }
  HBRUSH OnColor(HDC dc, HWND) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    return brush_;
  }
  HyperLink link;

 private:
  HBRUSH brush_ = CreateSolidBrush(kPageGrey);
};

class HyperLinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetColorValue("Anchor Color", nullptr);
    SetColorValue("Anchor Color Visited", nullptr);
  }
  static void TearDownTestSuite() { SetUpTestSuite(); }

  void Open() {
    ASSERT_NE(frame_.Create(nullptr, RECT{60, 60, 560, 420}, "frame", WS_POPUP | WS_VISIBLE),
              nullptr);
    ASSERT_NE(page_.CreateModeless(IDD_ABOUT_PAGE, frame_.Handle()), nullptr);
    ShowWindow(page_.Handle(), SW_SHOW);
    UpdateWindow(frame_.Handle());
    link_ = page_.link.Handle();
    ASSERT_NE(link_, nullptr);
  }
  void TearDown() override {
    SetUpTestSuite();
    if (page_.Handle() != nullptr) DestroyWindow(page_.Handle());
  }

  // Pixels of the painted control exactly of `colour`.
  int Painted(COLORREF colour) {
    RedrawWindow(link_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT client;
    GetClientRect(link_, &client);
    const HDC dc = GetDC(link_);
    int n = 0;
    for (int y = 0; y < client.bottom; ++y) {
      for (int x = 0; x < client.right; ++x) n += GetPixel(dc, x, y) == colour;
    }
    ReleaseDC(link_, dc);
    return n;
  }
  void Mouse(UINT message, POINT at) {
    SendMessageA(link_, message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0,
                 MAKELPARAM(at.x, at.y));
  }
  POINT InsideLink() const {
    const RECT r = page_.link.LinkRect();
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }

  Window frame_;
  AboutPage page_;
  HWND link_ = nullptr;
};

TEST_F(HyperLinkTest, TheWindowTextIsLabelAndTargetWithAToolTip) {
  Open();
  // The template's text, the web address, is both what shows and what opens.
  ASSERT_NE(page_.link.Label(), nullptr);
  ASSERT_NE(page_.link.Target(), nullptr);
  const std::string address = page_.link.Label();
  EXPECT_NE(address.find("kestrane"), std::string::npos);
  EXPECT_EQ(address, page_.link.Target());
  EXPECT_NE(GetWindowLongPtrA(link_, GWL_STYLE) & SS_NOTIFY, 0);
  EXPECT_EQ(SendMessageA(link_, WM_GETDLGCODE, 0, 0), DLGC_WANTCHARS);
  EXPECT_EQ(SendMessageA(link_, WM_GETFONT, 0, 0), SendMessageA(page_.Handle(), WM_GETFONT, 0, 0));

  RECT client;
  GetClientRect(link_, &client);
  const RECT r = page_.link.LinkRect();
  EXPECT_EQ(r.left, 0);  // a left-aligned static
  EXPECT_EQ(r.top, 0);
  EXPECT_GT(r.right, 0);
  EXPECT_LE(r.right, client.right);
  EXPECT_GT(r.bottom, 0);

  ASSERT_NE(page_.link.ToolTip(), nullptr);
  EXPECT_EQ(SendMessageA(page_.link.ToolTip(), TTM_GETTOOLCOUNT, 0, 0), 1);
  char tip[64] = {};
  TTTOOLINFOA tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = link_;
  tool.uId = 1;
  tool.lpszText = tip;
  SendMessageA(page_.link.ToolTip(), TTM_GETTEXTA, sizeof tip, reinterpret_cast<LPARAM>(&tool));
  EXPECT_EQ(tip, address);

  ASSERT_TRUE(page_.link.SetHyperLink(kDoesNotOpen));
  SendMessageA(page_.link.ToolTip(), TTM_GETTEXTA, sizeof tip, reinterpret_cast<LPARAM>(&tool));
  EXPECT_STREQ(tip, kDoesNotOpen);
  EXPECT_EQ(SendMessageA(page_.link.ToolTip(), TTM_GETTOOLCOUNT, 0, 0), 1);
  ASSERT_TRUE(page_.link.SetLabel("web"));
  char text[16] = {};
  GetWindowTextA(link_, text, sizeof text);
  EXPECT_STREQ(text, "web");
  EXPECT_LT(page_.link.LinkRect().right, r.right);
}

struct ColorCase {
  const char* name;
  const char* value;  // null: no value
  DWORD type;
  COLORREF expected;
};

class HyperLinkColors : public HyperLinkTest, public ::testing::WithParamInterface<ColorCase> {};

TEST_P(HyperLinkColors, LinkColourFromTheRegistry) {
  const ColorCase& c = GetParam();
  SetColorValue("Anchor Color", c.value, c.type);
  Open();
  EXPECT_EQ(page_.link.LinkColor(), c.expected) << c.name;
  EXPECT_EQ(page_.link.VisitedColor(), RGB(128, 0, 128));
}

INSTANTIATE_TEST_SUITE_P(
    Values, HyperLinkColors,
    ::testing::Values(ColorCase{"missing", nullptr, REG_SZ, RGB(0, 0, 255)},
                      ColorCase{"green", "0,128,0", REG_SZ, RGB(0, 128, 0)},
                      ColorCase{"expandable", "0,128,0", REG_EXPAND_SZ, RGB(0, 128, 0)},
                      ColorCase{"low bits", "300,0,0", REG_SZ, RGB(44, 0, 0)},
                      ColorCase{"longest", "255,255,255", REG_SZ, RGB(255, 255, 255)},
                      ColorCase{"too long", "255,255,2550", REG_SZ, RGB(0, 0, 255)},
                      ColorCase{"binary", "0,128,0", REG_BINARY, RGB(0, 0, 255)},
                      ColorCase{"one comma", "0,128", REG_SZ, RGB(0, 0, 255)},
                      ColorCase{"nothing after", "0,128,", REG_SZ, RGB(0, 0, 255)}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& ch : name) ch = ch == ' ' ? '_' : ch;
      return name;
    });

TEST_F(HyperLinkTest, VisitedColourFromTheRegistry) {
  SetColorValue("Anchor Color Visited", "300,0,0");
  Open();
  EXPECT_EQ(page_.link.VisitedColor(), RGB(44, 0, 0));
  EXPECT_EQ(page_.link.LinkColor(), RGB(0, 0, 255));
}

TEST_F(HyperLinkTest, PaintedInTheLinkColourOnThePageGrey) {
  SetColorValue("Anchor Color", "0,128,0");
  Open();
  EXPECT_GT(Painted(RGB(0, 128, 0)), 10);
  EXPECT_EQ(Painted(RGB(0, 0, 255)), 0);
  RECT client;
  GetClientRect(link_, &client);
  const HDC dc = GetDC(link_);
  EXPECT_EQ(GetPixel(dc, client.right - 1, client.bottom - 1), kPageGrey);
  ReleaseDC(link_, dc);
}

TEST_F(HyperLinkTest, VisitedOnlyAfterASuccessfulOpen) {
  Open();
  ASSERT_TRUE(page_.link.SetHyperLink(kDoesNotOpen));
  Mouse(WM_LBUTTONDOWN, InsideLink());
  EXPECT_EQ(GetCapture(), link_);
  Mouse(WM_LBUTTONUP, InsideLink());
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_FALSE(page_.link.Visited());
  EXPECT_GT(Painted(RGB(0, 0, 255)), 10);

  ASSERT_TRUE(page_.link.SetHyperLink(kOpens));
  Mouse(WM_LBUTTONDOWN, InsideLink());
  Mouse(WM_LBUTTONUP, InsideLink());
  EXPECT_TRUE(page_.link.Visited());
  EXPECT_GT(Painted(RGB(128, 0, 128)), 10);
  EXPECT_EQ(Painted(RGB(0, 0, 255)), 0);
  // A later failure does not take it back.
  ASSERT_TRUE(page_.link.SetHyperLink(kDoesNotOpen));
  EXPECT_FALSE(page_.link.Open());
  EXPECT_TRUE(page_.link.Visited());
}

TEST_F(HyperLinkTest, ClicksCountOnlyWhenPressedAndReleasedOnTheText) {
  Open();
  ASSERT_TRUE(page_.link.SetLabel("web"));
  ASSERT_TRUE(page_.link.SetHyperLink(kOpens));
  RECT client;
  GetClientRect(link_, &client);
  const POINT outside{client.right - 1, 1};
  const RECT link = page_.link.LinkRect();
  ASSERT_FALSE(PtInRect(&link, outside));

  Mouse(WM_LBUTTONDOWN, outside);  // inside the control, beside the text
  EXPECT_EQ(GetCapture(), nullptr);
  Mouse(WM_LBUTTONUP, InsideLink());
  EXPECT_FALSE(page_.link.Visited());

  Mouse(WM_LBUTTONDOWN, InsideLink());
  EXPECT_EQ(GetFocus(), link_);
  Mouse(WM_LBUTTONUP, outside);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_FALSE(page_.link.Visited());
}

TEST_F(HyperLinkTest, EnterAndSpaceOpenOtherCharactersDoNot) {
  Open();
  ASSERT_TRUE(page_.link.SetHyperLink(kOpens));
  SendMessageA(link_, WM_CHAR, 'a', 0);
  EXPECT_FALSE(page_.link.Visited());
  SendMessageA(link_, WM_CHAR, VK_RETURN, 0);
  EXPECT_TRUE(page_.link.Visited());
}

TEST_F(HyperLinkTest, SpaceOpensToo) {
  Open();
  ASSERT_TRUE(page_.link.SetHyperLink(kOpens));
  SendMessageA(link_, WM_CHAR, VK_SPACE, 0);
  EXPECT_TRUE(page_.link.Visited());
}

TEST_F(HyperLinkTest, DisabledPaintsGreyEvenWhenVisited) {
  SetColorValue("Anchor Color", "0,128,0");
  Open();
  ASSERT_TRUE(page_.link.SetHyperLink(kOpens));
  ASSERT_TRUE(page_.link.Open());
  EnableWindow(link_, FALSE);
  const COLORREF grey = GetSysColor(COLOR_GRAYTEXT);
  EXPECT_GT(Painted(grey), 10);
  EXPECT_EQ(Painted(RGB(128, 0, 128)), 0);
  EnableWindow(link_, TRUE);
  EXPECT_GT(Painted(RGB(128, 0, 128)), 10);
}

TEST_F(HyperLinkTest, SetFontReplacesTheNormalFont) {
  Open();
  const auto font = reinterpret_cast<WPARAM>(GetStockObject(ANSI_VAR_FONT));
  SendMessageA(link_, WM_SETFONT, font, TRUE);
  EXPECT_EQ(static_cast<WPARAM>(SendMessageA(link_, WM_GETFONT, 0, 0)), font);
}

}  // namespace
