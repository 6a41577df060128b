#include "app/pages/create_page.h"

#include <commctrl.h>
#include <commdlg.h>
#include <uxtheme.h>

#include <utility>

#include "platform/file.h"
#include "resources/resource.h"

namespace {

constexpr uint32_t kMinSize = 1;
constexpr uint32_t kMaxSize = 999999;
constexpr int kInitialSize = 650;
constexpr COLORREF kProgressColor = RGB(49, 106, 197);

struct AlgorithmEntry {
  const char* name;
  int id;  // AlgorithmId
};
constexpr AlgorithmEntry kAlgorithms[] = {
    {"AES-128", 1}, {"AES-256", 2}, {"Blowfish-128", 3}, {"Blowfish-448", 4}};

constexpr char kVolumeFilter[] = "VMV Files (*.vmv)\0*.vmv\0All Files (*.*)\0*.*\0";
constexpr char kHeaderFilter[] = "EHB Files (*.ehb)\0*.ehb\0All Files (*.*)\0*.*\0";

}  // namespace

const MessageMapEntry<CreatePage> CreatePage::kMessages[] = {
    OnMessage<WM_INITDIALOG, &CreatePage::OnInitDialog>(),
    OnCommand<IDC_CREATE_BROWSE_VOLUME, &CreatePage::OnBrowseVolume>(),
    OnCommand<IDC_CREATE_BROWSE_HEADER, &CreatePage::OnBrowseHeader>(),
    OnCommand<IDC_CREATE_BUTTON, &CreatePage::OnCreate>(),
    OnMessage<kMsgCreationFinished, &CreatePage::OnCreationFinished>(),
};

CreatePage::~CreatePage() { CancelCreation(); }

void CreatePage::SetLastDirectory(const std::string& dir) { lastDirectory_ = dir; }
std::string CreatePage::LastDirectory() const { return lastDirectory_; }

UINT CreatePage::TemplateId() const { return IDD_CREATE_PAGE; }

bool CreatePage::ProcessPageMessage(const WindowMessage& m, LRESULT& result) {
  return DispatchMessageMap<CreatePage>(*this, kMessages, m, result);
}

bool CreatePage::OnInitDialog(HWND, LPARAM) {
  const HWND spin = GetDlgItem(Handle(), IDC_CREATE_SIZE_SPIN);
  SendMessageA(spin, UDM_SETRANGE32, kMinSize, kMaxSize);
  SendMessageA(spin, UDM_SETPOS, 0, MAKELPARAM(kInitialSize, 0));
  SetDlgItemInt(Handle(), IDC_CREATE_SIZE, kInitialSize, FALSE);
  InvalidateRect(spin, nullptr, TRUE);

  const HWND algorithms = GetDlgItem(Handle(), IDC_CREATE_ALGORITHM);
  for (const AlgorithmEntry& entry : kAlgorithms) {
    const LRESULT index =
        SendMessageA(algorithms, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.name));
    SendMessageA(algorithms, CB_SETITEMDATA, static_cast<WPARAM>(index), entry.id);
  }
  SendMessageA(algorithms, CB_SETCURSEL, 0, 0);

  // Visual styles ignore the bar's colour unless the theme is taken off this
  // one control.
  const HWND progressBar = GetDlgItem(Handle(), IDC_CREATE_PROGRESS);
  SetWindowTheme(progressBar, L"", L"");
  SendMessageA(progressBar, PBM_SETBARCOLOR, 0, kProgressColor);
  return true;
}

void CreatePage::Browse(int editId, const char* filter, const char* defaultExtension) {
  char path[MAX_PATH] = {};
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = GetActiveWindow();
  dialog.lpstrFilter = filter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof path;
  dialog.lpstrInitialDir = lastDirectory_.empty() ? nullptr : lastDirectory_.c_str();
  dialog.lpstrDefExt = defaultExtension;
  dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (GetSaveFileNameA(&dialog)) SetDlgItemTextA(Handle(), editId, path);
}

void CreatePage::OnBrowseVolume(UINT, UINT, HWND) {
  Browse(IDC_CREATE_VOLUME_PATH, kVolumeFilter, "vmv");
}

void CreatePage::OnBrowseHeader(UINT, UINT, HWND) {
  Browse(IDC_CREATE_HEADER_PATH, kHeaderFilter, "ehb");
}

CreateVolumeInput CreatePage::ReadInput() {
  CreateVolumeInput input;
  const HWND page = Handle();
  input.volumePath = ControlText(GetDlgItem(page, IDC_CREATE_VOLUME_PATH));
  input.headerPath = ControlText(GetDlgItem(page, IDC_CREATE_HEADER_PATH));
  // A size that is not an unsigned number reads as 0 with a warning beep;
  // the engine's range check then refuses it.
  if (!ParseVolumeSize(ControlText(GetDlgItem(page, IDC_CREATE_SIZE)), &input.sizeMb)) {
    MessageBeep(static_cast<UINT>(-1));
  }
  const PasswordBytes password = ControlPassword(GetDlgItem(page, IDC_CREATE_PASSWORD));
  const PasswordBytes confirmation = ControlPassword(GetDlgItem(page, IDC_CREATE_CONFIRM));
  input.password = password.bytes;
  input.confirmation = confirmation.bytes;
  input.passwordRefusal = NewPasswordRefusal(password, confirmation, SystemCodePageText());
  const HWND algorithms = GetDlgItem(page, IDC_CREATE_ALGORITHM);
  const LRESULT selected = SendMessageA(algorithms, CB_GETCURSEL, 0, 0);
  if (selected != CB_ERR) {
    input.algorithm = static_cast<int>(
        SendMessageA(algorithms, CB_GETITEMDATA, static_cast<WPARAM>(selected), 0));
  }
  return input;
}

void CreatePage::OnCreate(UINT, UINT, HWND) {
  if (worker_.joinable()) return;  // one creation at a time
  const HWND button = GetDlgItem(Handle(), IDC_CREATE_BUTTON);
  EnableWindow(button, FALSE);
  cancel_ = false;
  const HWND page = Handle();
  const HWND progressBar = GetDlgItem(page, IDC_CREATE_PROGRESS);
  FileSystem& files = *files_;
  worker_ = std::thread([&files, this, page, progressBar, input = ReadInput()]() mutable {
    // The bar is moved by posted messages only, so the worker never waits
    // for the interface thread.
    const CreateProgress progress = [progressBar](uint32_t done, uint32_t total) {
      if (done == 0) {
        PostMessageA(progressBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
        PostMessageA(progressBar, PBM_SETPOS, 0, 0);
        PostMessageA(progressBar, PBM_SETSTEP, 1, 0);
      } else {
        PostMessageA(progressBar, PBM_STEPIT, 0, 0);
      }
    };
    CreateVolumeOutcome outcome = CreateVolume(files, input, progress, &cancel_);
    WipeString(input.password);
    WipeString(input.confirmation);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_ = std::move(outcome);
    }
    PostMessageA(page, kMsgCreationFinished, 0, 0);
  });
}

std::optional<CreateVolumeOutcome> CreatePage::TakeFinishedOutcome() {
  std::optional<CreateVolumeOutcome> outcome;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    outcome.swap(finished_);
  }
  // The worker stores its outcome as its last step but one, so joining it
  // here waits at most for its final PostMessage.
  if (outcome && worker_.joinable()) worker_.join();
  return outcome;
}

LRESULT CreatePage::OnCreationFinished(WPARAM, LPARAM) {
  std::optional<CreateVolumeOutcome> finished = TakeFinishedOutcome();
  if (!finished) return 0;  // cancelled and already taken by CancelCreation
  const HWND page = Handle();
  if (finished->outcome.success) {
    lastDirectory_ = finished->lastDirectory;
    for (int id : {IDC_CREATE_VOLUME_PATH, IDC_CREATE_HEADER_PATH, IDC_CREATE_PASSWORD,
                   IDC_CREATE_CONFIRM}) {
      SetDlgItemTextA(page, id, "");
    }
  }
  SendMessageA(GetDlgItem(page, IDC_CREATE_PROGRESS), PBM_SETPOS, 0, 0);
  EnableWindow(GetDlgItem(page, IDC_CREATE_BUTTON), TRUE);
  if (!finished->cancelled) {
    MessageBoxA(page, finished->outcome.message.c_str(), finished->outcome.caption.c_str(), MB_OK);
  }
  return 0;
}

void CreatePage::CancelCreation() {
  if (!worker_.joinable()) return;
  cancel_ = true;
  worker_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.reset();
  }
  const HWND page = Handle();
  if (page != nullptr) {
    // Posted, so that it comes after the progress steps the worker posted.
    PostMessageA(GetDlgItem(page, IDC_CREATE_PROGRESS), PBM_SETPOS, 0, 0);
    EnableWindow(GetDlgItem(page, IDC_CREATE_BUTTON), TRUE);
  }
}
