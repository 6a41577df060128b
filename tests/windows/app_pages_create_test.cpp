// The Create page driven through its controls: its initial state, the
// refusals in their order, a creation with its progress and cleared fields,
// a cancelled creation, and the Browse dialog.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <memory>
#include <string>

#include "app/pages/create_page.h"
#include "platform/file.h"
#include "resources/resource.h"
#include "tests/windows/test_support.h"

namespace {

using namespace test_support;

std::string TempFolder(const char* name) {
  char buffer[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  std::string folder = std::string(buffer, length) + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

class CreatePageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { InitControls(); }

  void SetUp() override {
    host = CreateHostWindow();
    ASSERT_NE(host, nullptr);
    ASSERT_NE(page.Create(host), nullptr);
    ShowWindow(page.Handle(), SW_SHOW);
    PumpPending();
    folder = TempFolder("vm-pages-create");
  }
  void TearDown() override {
    page.CancelCreation();
    DestroyWindow(host);
    PumpPending();
  }

  HWND Item(int id) const { return GetDlgItem(page.Handle(), id); }
  std::string Text(int id) const { return ItemText(page.Handle(), id); }
  void Set(int id, const std::string& text) { SetItemText(page.Handle(), id, text); }
  int ProgressPosition() const {
    return static_cast<int>(SendMessageA(Item(IDC_CREATE_PROGRESS), PBM_GETPOS, 0, 0));
  }

  // Presses "&Create" and answers the message box that ends the creation.
  SeenBox CreateAndAnswer() {
    BoxAnswerer answer;
    Click(page.Handle(), IDC_CREATE_BUTTON);
    EXPECT_TRUE(PumpUntil([&] { return answer.Done(); }));
    std::optional<SeenBox> seen = answer.Take();
    EXPECT_TRUE(seen.has_value()) << "no message box";
    PumpPending();
    return seen.value_or(SeenBox{});
  }

  HWND host = nullptr;
  CreatePage page;
  std::string folder;
};

TEST_F(CreatePageTest, StartsWith650MegabytesAes128AndTheProgressColour) {
  EXPECT_EQ(Text(IDC_CREATE_SIZE), "650");
  int low = 0, high = 0;
  SendMessageA(Item(IDC_CREATE_SIZE_SPIN), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
               reinterpret_cast<LPARAM>(&high));
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 999999);

  const HWND list = Item(IDC_CREATE_ALGORITHM);
  const char* names[] = {"AES-128", "AES-256", "Blowfish-128", "Blowfish-448"};
  ASSERT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0), 4);
  for (int i = 0; i < 4; ++i) {
    char text[32] = {};
    SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, names[i]);
    EXPECT_EQ(SendMessageA(list, CB_GETITEMDATA, i, 0), i + 1);
  }
  EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(static_cast<COLORREF>(SendMessageA(Item(IDC_CREATE_PROGRESS), PBM_GETBARCOLOR, 0, 0)),
            RGB(49, 106, 197));
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_CREATE_BUTTON)));
}

TEST_F(CreatePageTest, RefusesInputInItsCheckOrderAndKeepsTheFields) {
  const std::string volume = folder + "refused.vmv";
  DeleteFileA(volume.c_str());
  struct Step {
    std::string path, size, password, confirmation, message;
  };
  const std::string long65(65, 'p');
  const Step steps[] = {
      {"", "0", "", "x", "Please specify Velmorcrypt volume file to create."},
      {volume, "0", "", "x", "Volume size must be from 1 to 999999 MB"},
      {volume, "1000000", "", "x", "Volume size must be from 1 to 999999 MB"},
      {volume, "1", "", "x", "Please specify volume password."},
      {volume, "1", "secret", "Secret", "Passwords do not match."},
      {volume, "1", long65, long65, "Passwords cannot be longer than 64 characters."},
      // Cyrillic on this code-page-1252 system: no volume (earlier versions
      // made one whose password was "??????"), and no cut-off letters.
      {volume, "1", "Пароль", "Пароль",
       "Letters 1 to 6 of the password cannot be used on this system (code page 1252)."},
      {volume, "1", "secret", "secrеt",  // a Cyrillic "е"
       "Letter 5 of the confirmation cannot be used on this system (code page 1252)."},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.message);
    Set(IDC_CREATE_VOLUME_PATH, step.path);
    Set(IDC_CREATE_SIZE, step.size);
    Set(IDC_CREATE_PASSWORD, step.password);
    Set(IDC_CREATE_CONFIRM, step.confirmation);
    const SeenBox box = CreateAndAnswer();
    EXPECT_EQ(box.text, step.message);
    EXPECT_EQ(box.caption, "Create Error");
    EXPECT_EQ(box.owner, host);  // owned by the page (its top-level window)
    EXPECT_EQ(Text(IDC_CREATE_VOLUME_PATH), step.path);
    EXPECT_EQ(Text(IDC_CREATE_SIZE), step.size);
    EXPECT_EQ(Text(IDC_CREATE_PASSWORD), step.password);
    EXPECT_EQ(Text(IDC_CREATE_CONFIRM), step.confirmation);
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_CREATE_BUTTON)));
    EXPECT_FALSE(FileExists(volume));
  }
}

TEST_F(CreatePageTest, CreatesTheVolumeAndHeaderThenClearsTheFields) {
  const std::string volume = folder + "made.vmv";
  const std::string header = folder + "made.ehb";
  DeleteFileA(volume.c_str());
  DeleteFileA(header.c_str());
  Set(IDC_CREATE_VOLUME_PATH, volume);
  Set(IDC_CREATE_HEADER_PATH, header);
  Set(IDC_CREATE_SIZE, "2");
  SendMessageA(Item(IDC_CREATE_ALGORITHM), CB_SETCURSEL, 3, 0);
  Set(IDC_CREATE_PASSWORD, "page password");
  Set(IDC_CREATE_CONFIRM, "page password");

  const SeenBox box = CreateAndAnswer();
  EXPECT_EQ(box.text, "Velmorcrypt volume successfully created.");
  EXPECT_EQ(box.caption, "Create");
  EXPECT_EQ(box.owner, host);
  EXPECT_EQ(FileSize(volume), 2u * 1048576u);
  EXPECT_EQ(FileSize(header), 1044u);
  for (int id :
       {IDC_CREATE_VOLUME_PATH, IDC_CREATE_HEADER_PATH, IDC_CREATE_PASSWORD, IDC_CREATE_CONFIRM}) {
    EXPECT_EQ(Text(id), "") << id;
  }
  EXPECT_EQ(Text(IDC_CREATE_SIZE), "2");
  EXPECT_EQ(SendMessageA(Item(IDC_CREATE_ALGORITHM), CB_GETCURSEL, 0, 0), 3);
  EXPECT_EQ(ProgressPosition(), 0);
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_CREATE_BUTTON)));
  EXPECT_STRCASEEQ(page.LastDirectory().c_str(), folder.c_str());
}

TEST_F(CreatePageTest, RunsOnAWorkerWithTheButtonDisabledAndCancelsWithoutFiles) {
  test_support::SlowFileSystem slowFiles;
  page.SetFileSystem(slowFiles);
  const std::string volume = folder + "cancelled.vmv";
  DeleteFileA(volume.c_str());
  Set(IDC_CREATE_VOLUME_PATH, volume);
  Set(IDC_CREATE_SIZE, "300");
  Set(IDC_CREATE_PASSWORD, "pw");
  Set(IDC_CREATE_CONFIRM, "pw");
  Click(page.Handle(), IDC_CREATE_BUTTON);
  // The interface thread is free while the worker writes.
  EXPECT_FALSE(IsWindowEnabled(Item(IDC_CREATE_BUTTON)));
  ASSERT_TRUE(PumpUntil([&] { return ProgressPosition() >= 2; }));
  EXPECT_FALSE(IsWindowEnabled(Item(IDC_CREATE_BUTTON)));
  PBRANGE range = {};
  SendMessageA(Item(IDC_CREATE_PROGRESS), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 300);
  EXPECT_TRUE(FileExists(volume));

  page.CancelCreation();
  EXPECT_FALSE(FileExists(volume));
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_CREATE_BUTTON)));
  PumpUntil([&] { return ProgressPosition() == 0; }, 5000);
  EXPECT_EQ(ProgressPosition(), 0);
  EXPECT_EQ(FindMessageBox(), nullptr);  // nothing is shown for a cancellation
  EXPECT_EQ(Text(IDC_CREATE_VOLUME_PATH), volume);
  page.CancelCreation();  // nothing runs: returns at once
}

TEST_F(CreatePageTest, BrowseOpensInTheLastDirectoryAndAddsTheExtension) {
  page.SetLastDirectory(folder);
  bool chosen = false;
  Helper chooser([&] { chosen = AnswerFileDialog("Save As", "chosen"); });
  Click(page.Handle(), IDC_CREATE_BROWSE_VOLUME);
  chooser.Join();
  EXPECT_TRUE(chosen);
  EXPECT_STRCASEEQ(Text(IDC_CREATE_VOLUME_PATH).c_str(), (folder + "chosen.vmv").c_str());

  Helper canceller([] { AnswerFileDialog("Save As", ""); });
  Click(page.Handle(), IDC_CREATE_BROWSE_HEADER);
  canceller.Join();
  EXPECT_EQ(Text(IDC_CREATE_HEADER_PATH), "");
}

}  // namespace
