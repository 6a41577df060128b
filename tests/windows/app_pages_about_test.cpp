// The About page and the colours every page shares: the product line from
// the project's version, the web link, and the grey brush with transparent
// black text that lives as long as the page's window.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/pages/about_page.h"
#include "app/version.h"
#include "resources/resource.h"
#include "tests/windows/fake_html_help.h"
#include "tests/windows/test_support.h"

namespace {

using namespace test_support;

std::vector<std::string> StaticTexts(HWND page) {
  std::vector<std::string> texts;
  for (HWND child = GetWindow(page, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char name[16] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0) texts.push_back(WindowText(child));
  }
  return texts;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  for (const std::string& t : texts) {
    if (t == text) return true;
  }
  return false;
}

class AboutPageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { InitControls(); }
  void SetUp() override {
    host = CreateHostWindow();
    ASSERT_NE(host, nullptr);
    ASSERT_NE(page.Create(host), nullptr);
    ShowWindow(page.Handle(), SW_SHOW);
    PumpPending();
  }
  void TearDown() override {
    DestroyWindow(host);
    PumpPending();
  }

  HWND host = nullptr;
  AboutPage page;
};

TEST_F(AboutPageTest, ShowsTheProductLineWithTheProjectsVersion) {
  const std::vector<std::string> texts = StaticTexts(page.Handle());
  EXPECT_TRUE(Contains(texts, std::string("Velmorcrypt Vozeri ") + VM_PRODUCT_VERSION));
  EXPECT_TRUE(Contains(texts, "Website:"));
}

TEST_F(AboutPageTest, TheWebAddressIsALiveLink) {
  const HWND link = GetDlgItem(page.Handle(), IDC_ABOUT_WEB_LINK);
  EXPECT_EQ(WindowObject::FromHandle(link), &page.WebLink());
  EXPECT_STREQ(page.WebLink().Target(), "https://www.kestrane.example/velmorcrypt");
  EXPECT_STREQ(page.WebLink().Label(), WindowText(link).c_str());
}

// Help loads the library registered for the HTML Help control (here a
// stand-in that notes the call) and opens the file at its default topic,
// owned by the desktop; nothing is shown when the file does not exist.
TEST_F(AboutPageTest, HelpOpensTheHelpFileAtItsDefaultTopic) {
  FakeHtmlHelpRegistration viewer;
  ASSERT_TRUE(viewer.Ready());
  page.SetHelpFilePath("C:\\nowhere\\Velmorcrypt.chm");
  Click(page.Handle(), IDC_ABOUT_HELP);
  PumpPending();
  EXPECT_EQ(FindMessageBox(), nullptr);
  const std::vector<HtmlHelpCall> calls = viewer.TakeCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].owner, GetDesktopWindow());
  EXPECT_STREQ(calls[0].file, "C:\\nowhere\\Velmorcrypt.chm");
  EXPECT_EQ(calls[0].command, 0u);  // HH_DISPLAY_TOPIC
  EXPECT_EQ(calls[0].data, 0u);     // the file's default topic
}

TEST_F(AboutPageTest, AnswersTheColourMessagesWithTheGreyBrushAndTransparentBlackText) {
  const HWND label = GetDlgItem(page.Handle(), IDC_ABOUT_WEB_LINK);
  for (UINT message : {WM_CTLCOLORDLG, WM_CTLCOLORBTN, WM_CTLCOLORSTATIC}) {
    SCOPED_TRACE(message);
    const HDC dc = GetDC(label);
    SetBkMode(dc, OPAQUE);
    SetTextColor(dc, RGB(1, 2, 3));
    const HBRUSH brush = reinterpret_cast<HBRUSH>(SendMessageA(
        page.Handle(), message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
    ReleaseDC(label, dc);
    ASSERT_NE(brush, nullptr);
    EXPECT_EQ(brush, page.BackgroundBrush());
    LOGBRUSH info{};
    ASSERT_EQ(GetObjectA(brush, sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(info.lbColor, RGB(217, 217, 217));
  }
}

TEST_F(AboutPageTest, TheBrushGoesWithTheWindow) {
  const HBRUSH brush = page.BackgroundBrush();
  ASSERT_NE(brush, nullptr);
  DestroyWindow(page.Handle());
  EXPECT_EQ(GetObjectType(brush), 0u);
  EXPECT_EQ(page.BackgroundBrush(), nullptr);
}

}  // namespace
