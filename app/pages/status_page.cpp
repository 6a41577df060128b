#include "app/pages/status_page.h"

#include <commctrl.h>

#include <string>
#include <vector>

#include "driver/dismount.h"
#include "driver/operations.h"
#include "driver/records.h"
#include "resources/resource.h"
#include "volume/header.h"

namespace {

constexpr uint64_t kBytesPerMegabyte = 1048576;

struct Column {
  const char* title;
  int format;
  int width;
};
// Left to right; the index is the column's sub-item.
constexpr Column kColumns[] = {
    {"Drive", LVCFMT_CENTER, 40},
    {"Velmorcrypt Volume", LVCFMT_LEFT, 160},
    {"Algorithm", LVCFMT_CENTER, 90},
    {"Size", LVCFMT_RIGHT, 80},
};

void InsertColumn(HWND list, int index, const char* title, int format, int width, int subItem) {
  LVCOLUMNA column{};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<char*>(title);
  column.iSubItem = subItem;
  SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

void SetCell(HWND list, int item, int subItem, const std::string& text) {
  LVITEMA cell{};
  cell.iSubItem = subItem;
  cell.pszText = const_cast<char*>(text.c_str());
  SendMessageA(list, LVM_SETITEMTEXTA, item, reinterpret_cast<LPARAM>(&cell));
}

// The size column: whole megabytes, rounded down.
std::string SizeText(uint64_t bytes) { return std::to_string(bytes / kBytesPerMegabyte) + " MB"; }

}  // namespace

StatusPage::StatusPage(DriverPort& port) : port_(port) {}

UINT StatusPage::TemplateId() const { return IDD_STATUS_PAGE; }

bool StatusPage::ProcessPageMessage(const WindowMessage& m, LRESULT& result) {
  static constexpr MessageMapEntry<StatusPage> kMap[] = {
      OnMessage<WM_INITDIALOG, &StatusPage::OnInitDialog>(),
      OnCommand<IDC_STATUS_DISMOUNT, &StatusPage::OnDismount>(),
      OnCommand<IDC_STATUS_DISMOUNT_ALL, &StatusPage::OnDismountAll>(),
  };
  return DispatchMessageMap<StatusPage>(*this, kMap, m, result);
}

HWND StatusPage::List() const { return GetDlgItem(Handle(), IDC_STATUS_LIST); }

// Sets up the list and fills the page; declines the message so that the
// page's common initialisation runs as well.
bool StatusPage::OnInitDialog(const WindowMessage&, LRESULT&) {
  const HWND list = List();
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  // A first column is always left-aligned: the centred "Drive" column goes
  // behind a placeholder, which is then deleted.
  // The widths are the pixels of 96 DPI with the font the page was laid out
  // for; they grow with the page's dialog units (267 of them are 400 pixels
  // there), so that a larger font or display scaling does not cut the titles.
  RECT units = {0, 0, 267, 0};
  MapDialogRect(Handle(), &units);
  InsertColumn(list, 0, "DUMMY", LVCFMT_LEFT, 1, 0);
  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
    InsertColumn(list, i + 1, kColumns[i].title, kColumns[i].format,
                 MulDiv(kColumns[i].width, units.right, 400), i);
  }
  SendMessageA(list, LVM_DELETECOLUMN, 0, 0);
  const HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  SetWindowLongPtrA(header, GWL_STYLE,
                    GetWindowLongPtrA(header, GWL_STYLE) & ~LONG_PTR{HDS_BUTTONS});
  Refresh();
  return false;
}

void StatusPage::Refresh() {
  DriverVersion version{};
  const bool started = GetDriverVersion(port_, &version);
  SetDlgItemTextA(Handle(), IDC_STATUS_DRIVER_STATUS, started ? "Started" : "Unknown");
  SetDlgItemTextA(Handle(), IDC_STATUS_DRIVER_VERSION,
                  started ? FormatDriverVersion(version).c_str() : "Unknown");

  const HWND list = List();
  SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
  for (const ScannedDrive& drive : ScanDrives(port_)) {
    const std::string driveText = DriveName(drive.letter);
    LVITEMA row{};
    row.mask = LVIF_TEXT;
    row.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    row.pszText = const_cast<char*>(driveText.c_str());
    const auto item =
        static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row)));
    if (item < 0) continue;
    if (drive.queried) {
      const char* algorithm = AlgorithmName(drive.volume.algorithm);
      SetCell(list, item, 1, drive.volume.volumePath);
      SetCell(list, item, 2, algorithm != nullptr ? algorithm : "");
      SetCell(list, item, 3, SizeText(drive.volume.volumeSize));
    } else {
      for (int column = 1; column <= 3; ++column) SetCell(list, item, column, "Unknown");
    }
  }
}

bool StatusPage::SelectDrive(char letter) {
  const HWND list = List();
  const std::string wanted = DriveName(letter);
  const auto count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int item = 0; item < count; ++item) {
    if (DriveTextOf(item) != wanted) continue;
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
    SendMessageA(list, LVM_ENSUREVISIBLE, item, FALSE);
    return true;
  }
  return false;
}

// The drive column of a row: a letter and a colon.
std::string StatusPage::DriveTextOf(int item) const {
  char text[3] = {};
  LVITEMA cell{};
  cell.iSubItem = 0;
  cell.pszText = text;
  cell.cchTextMax = sizeof text;
  SendMessageA(List(), LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&cell));
  return text;
}

void StatusPage::OnDismount(UINT, UINT, HWND) {
  const auto item = static_cast<int>(
      SendMessageA(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (item < 0) return;
  const std::string driveText = DriveTextOf(item);
  const DismountReply reply = DismountSelected(port_, driveText, logonSessionId_);
  switch (reply.step) {
    case DismountStep::kNothing:
      return;
    case DismountStep::kDismounted:
      MessageBoxA(Handle(), reply.message.c_str(), reply.caption.c_str(), MB_OK);
      break;
    case DismountStep::kAskForce:
      if (MessageBoxA(Handle(), reply.message.c_str(), reply.caption.c_str(),
                      MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDYES) {
        ForceDismount(port_, driveText, logonSessionId_);
      }
      break;
  }
  Refresh();
}

void StatusPage::OnDismountAll(UINT, UINT, HWND) {
  const auto count = static_cast<int>(SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0));
  std::vector<std::string> driveTexts;
  for (int item = 0; item < count; ++item) driveTexts.push_back(DriveTextOf(item));
  const std::optional<Outcome> outcome = DismountAll(port_, driveTexts, logonSessionId_);
  if (!outcome) return;
  Refresh();
  MessageBoxA(Handle(), outcome->message.c_str(), outcome->caption.c_str(), MB_OK);
}
