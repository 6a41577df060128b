// The Status page against the stand-in driver: the driver information, one
// row per mounted drive with its volume file, algorithm and size, and the two
// dismount buttons with their messages.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/pages/status_page.h"
#include "driver/operations.h"
#include "driver/records.h"
#include "driver/win32_port.h"
#include "resources/resource.h"
#include "tests/windows/app_frame_support.h"
#include "tests/windows/driver_support.h"
#include "tests/windows/test_support.h"

namespace {

using frame_test::CreateAndMount;
using frame_test::FreeDriveLetter;
using frame_test::TempFile;
using test_support::BoxAnswerer;
using test_support::Click;

testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new driver_support::InstalledDriver("vm-frame-program"));

std::string Cell(HWND list, int item, int column) {
  char text[300] = {};
  LVITEMA cell{};
  cell.iSubItem = column;
  cell.pszText = text;
  cell.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&cell));
  return text;
}

std::vector<std::string> Row(HWND list, int item) {
  return {Cell(list, item, 0), Cell(list, item, 1), Cell(list, item, 2), Cell(list, item, 3)};
}

int RowCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

class StatusPageTest : public testing::Test {
 protected:
  void SetUp() override {
    test_support::InitControls();
    host_ = test_support::CreateHostWindow();
    ASSERT_NE(page_.Create(host_), nullptr);
    list_ = GetDlgItem(page_.Handle(), IDC_STATUS_LIST);
  }
  void TearDown() override {
    for (char letter : mounted_) frame_test::Dismount(letter);
    DestroyWindow(host_);
  }

  char Mount(const std::string& name, uint32_t sizeMb) {
    const char letter = FreeDriveLetter();
    EXPECT_NE(letter, 0);
    EXPECT_TRUE(CreateAndMount(TempFile(name), sizeMb, letter));
    mounted_.push_back(letter);
    return letter;
  }

  HWND host_ = nullptr;
  StatusPage page_{SystemDriverPort()};
  HWND list_ = nullptr;
  std::vector<char> mounted_;
};

TEST_F(StatusPageTest, ColumnsAreDriveVolumeAlgorithmSizeWithFullRowSelection) {
  const char* const titles[] = {"Drive", "Velmorcrypt Volume", "Algorithm", "Size"};
  const int formats[] = {LVCFMT_CENTER, LVCFMT_LEFT, LVCFMT_CENTER, LVCFMT_RIGHT};
  const int widths[] = {40, 160, 90, 80};
  for (int i = 0; i < 4; ++i) {
    char title[64] = {};
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    column.pszText = title;
    column.cchTextMax = sizeof title;
    ASSERT_TRUE(SendMessageA(list_, LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(title, titles[i]);
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, formats[i]) << titles[i];
    EXPECT_EQ(column.cx, widths[i]) << titles[i];
  }
  LVCOLUMNA none{};
  none.mask = LVCF_WIDTH;
  EXPECT_FALSE(SendMessageA(list_, LVM_GETCOLUMNA, 4, reinterpret_cast<LPARAM>(&none)));
  EXPECT_TRUE(SendMessageA(list_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
  const HWND header = reinterpret_cast<HWND>(SendMessageA(list_, LVM_GETHEADER, 0, 0));
  EXPECT_FALSE(GetWindowLongPtrA(header, GWL_STYLE) & HDS_BUTTONS);
}

TEST_F(StatusPageTest, DriverInformationShowsTheRunningDriver) {
  DriverVersion version{};
  ASSERT_TRUE(GetDriverVersion(SystemDriverPort(), &version));
  EXPECT_EQ(test_support::ItemText(page_.Handle(), IDC_STATUS_DRIVER_STATUS), "Started");
  EXPECT_EQ(test_support::ItemText(page_.Handle(), IDC_STATUS_DRIVER_VERSION),
            FormatDriverVersion(version));
}

TEST_F(StatusPageTest, DriverThatDoesNotAnswerShowsUnknownAndNoRows) {
  ASSERT_TRUE(frame_test::RemoveDriverService());
  page_.Refresh();
  EXPECT_EQ(test_support::ItemText(page_.Handle(), IDC_STATUS_DRIVER_STATUS), "Unknown");
  EXPECT_EQ(test_support::ItemText(page_.Handle(), IDC_STATUS_DRIVER_VERSION), "Unknown");
  EXPECT_EQ(RowCount(list_), 0);
  ASSERT_TRUE(frame_test::StartDriver());
}

TEST_F(StatusPageTest, RowsShowPathAlgorithmAndWholeMegabytesInLetterOrder) {
  const char first = Mount("vm-status-ten.vmv", 10);
  const char second = Mount("vm-status-one.vmv", 1);
  page_.Refresh();
  ASSERT_EQ(RowCount(list_), 2);
  const std::vector<std::string> ten = {std::string(1, first) + ":", TempFile("vm-status-ten.vmv"),
                                        "AES-256", "10 MB"};
  const std::vector<std::string> one = {std::string(1, second) + ":", TempFile("vm-status-one.vmv"),
                                        "AES-256", "1 MB"};
  EXPECT_EQ(Row(list_, 0), ten);
  EXPECT_EQ(Row(list_, 1), one);
}

TEST_F(StatusPageTest, DismountAllWithNoRowsShowsNothing) {
  page_.Refresh();
  ASSERT_EQ(RowCount(list_), 0);
  // A message box would hold the click until answered.
  Click(page_.Handle(), IDC_STATUS_DISMOUNT_ALL);
  EXPECT_EQ(test_support::FindMessageBox(), nullptr);
}

TEST_F(StatusPageTest, DismountWithNoSelectionDoesNothing) {
  const char letter = Mount("vm-status-unselected.vmv", 1);
  page_.Refresh();
  Click(page_.Handle(), IDC_STATUS_DISMOUNT);
  EXPECT_EQ(test_support::FindMessageBox(), nullptr);
  EXPECT_TRUE(IsOwnDrive(SystemDriverPort(), letter));
}

TEST_F(StatusPageTest, DismountTheSelectedDriveTellsAndRefreshes) {
  const char letter = Mount("vm-status-selected.vmv", 1);
  page_.Refresh();
  ASSERT_TRUE(page_.SelectDrive(letter));
  BoxAnswerer answerer;
  Click(page_.Handle(), IDC_STATUS_DISMOUNT);
  const auto box = answerer.Take();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text, "Drive " + std::string(1, letter) + ": successfully dismounted.");
  EXPECT_EQ(box->caption, "Dismount");
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));
  EXPECT_EQ(RowCount(list_), 0);
}

TEST_F(StatusPageTest, DismountAllCountsTheDrives) {
  const char first = Mount("vm-status-all-1.vmv", 1);
  const char second = Mount("vm-status-all-2.vmv", 1);
  page_.Refresh();
  BoxAnswerer answerer;
  Click(page_.Handle(), IDC_STATUS_DISMOUNT_ALL);
  const auto box = answerer.Take();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text, "All 2 drive(s) successfully dismounted.");
  EXPECT_EQ(box->caption, "Dismount All");
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), first));
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), second));
  EXPECT_EQ(RowCount(list_), 0);
}

TEST_F(StatusPageTest, SelectDriveFindsOnlyListedDrives) {
  const char letter = Mount("vm-status-select.vmv", 1);
  page_.Refresh();
  EXPECT_TRUE(page_.SelectDrive(letter));
  EXPECT_EQ(SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 0);
  EXPECT_EQ(SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), 0);
  EXPECT_FALSE(page_.SelectDrive(letter == 'Z' ? 'Y' : 'Z'));
}

}  // namespace
