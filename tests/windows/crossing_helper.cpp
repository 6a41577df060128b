// The Windows side of the crossing test (tests/e2e/crossing.sh): mounts a
// volume through the program's mount command and the stand-in driver, and
// writes a disk image to its drive or reads the drive into an image, sector
// by sector through "\\.\X:"; or types a password (one line of UTF-8 on
// standard input) into the program's Create page or Mount page as a user
// would, and presses its button.
//   crossing_helper write VOLUME HEADER|- PASSWORD IMAGE
//   crossing_helper read VOLUME HEADER|- PASSWORD IMAGE
//   crossing_helper create-in-window VOLUME < PASSWORD
//   crossing_helper mount-in-window VOLUME < PASSWORD
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <winioctl.h>

#include <string>
#include <vector>

#include "app/pages/create_page.h"
#include "app/pages/mount_page.h"
#include "resources/resource.h"
#include "standin_fault_support.h"
#include "tests/windows/test_support.h"

using namespace standin_fault;

namespace {

int Fail(const char* what) {
  fprintf(stderr, "crossing_helper: %s (error %lu)\n", what, GetLastError());
  return 1;
}

// Writes the image's sectors to the drive, or reads the drive's sectors
// into the image.
bool CopySectors(HANDLE drive, bool toDrive, const std::string& imagePath) {
  GET_LENGTH_INFORMATION length;
  DWORD returned = 0;
  if (!DeviceIoControl(drive, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                       &returned, nullptr)) {
    return false;
  }
  const uint64_t diskSize = static_cast<uint64_t>(length.Length.QuadPart);
  std::vector<uint8_t> image;
  if (toDrive) {
    image = ReadFileBytes(imagePath);
    if (image.empty() || image.size() > diskSize || image.size() % kSector != 0) return false;
  } else {
    image.resize(diskSize);
  }
  for (uint64_t offset = 0; offset < image.size(); offset += kSector) {
    const bool ok = toDrive ? WriteAt(drive, offset, image.data() + offset, kSector)
                            : ReadAt(drive, offset, image.data() + offset, kSector);
    if (!ok) return false;
  }
  if (!toDrive) WriteFileBytes(imagePath, image);
  return toDrive ? FlushFileBuffers(drive) != 0 : true;
}

// Creates a 1 MB volume on the Create page, or mounts one on the Mount page
// (and dismounts it), with the password typed into the page; true when the
// page answers with its success.
bool InWindow(bool create, const std::string& volume) {
  using namespace test_support;
  char password[256] = {};
  if (fgets(password, sizeof password, stdin) == nullptr) return false;
  password[strcspn(password, "\r\n")] = '\0';
  InitControls();
  const HWND host = CreateHostWindow();
  CreatePage createPage;
  MountPage mountPage;
  const HWND page = create ? createPage.Create(host) : mountPage.Create(host);
  uint32_t session = 0;
  GetLogonSessionId(&session);
  mountPage.SetLogonSessionId(session);
  for (const auto& [id, text] :
       create ? std::vector<std::pair<int, std::string>>{{IDC_CREATE_VOLUME_PATH, volume},
                                                         {IDC_CREATE_SIZE, "1"},
                                                         {IDC_CREATE_PASSWORD, password},
                                                         {IDC_CREATE_CONFIRM, password}}
              : std::vector<std::pair<int, std::string>>{{IDC_MOUNT_VOLUME_PATH, volume},
                                                         {IDC_MOUNT_PASSWORD, password}}) {
    SetItemText(page, id, text);
  }
  BoxAnswerer answer;
  Click(page, create ? IDC_CREATE_BUTTON : IDC_MOUNT_BUTTON);
  PumpUntil([&answer] { return answer.Done(); });
  const std::string said = answer.Take().value_or(SeenBox{}).text;
  DestroyWindow(host);
  fprintf(stderr, "crossing_helper: the page said: %s\n", said.c_str());
  for (const ScannedDrive& drive : ScanDrives(SystemDriverPort())) {
    DismountVolume(SystemDriverPort(), drive.letter, session, 1);
  }
  return said == (create ? "Velmorcrypt volume successfully created."
                         : "Velmorcrypt volume successfully mounted.");
}

}  // namespace

int main(int argc, char** argv) {
  const bool window = argc == 3 && (strcmp(argv[1], "create-in-window") == 0 ||
                                    strcmp(argv[1], "mount-in-window") == 0);
  if (!window && (argc != 6 || (strcmp(argv[1], "write") != 0 && strcmp(argv[1], "read") != 0))) {
    fprintf(stderr,
            "usage: crossing_helper write|read VOLUME HEADER|- PASSWORD IMAGE\n"
            "       crossing_helper create-in-window|mount-in-window VOLUME < PASSWORD\n");
    return 2;
  }
  if (window && strcmp(argv[1], "create-in-window") == 0) return InWindow(true, argv[2]) ? 0 : 1;
  const bool toDrive = strcmp(argv[1], "write") == 0;
  if (!driver_support::InstallFromProgramFolder("vm-crossing-program")) {
    return Fail("the stand-in driver could not be installed");
  }
  if (window) {
    const bool mounted = InWindow(false, argv[2]);
    RemoveDriver(SystemServicePort());
    return mounted ? 0 : 1;
  }

  uint32_t session = 0;
  GetLogonSessionId(&session);
  const std::vector<char> letters = FreeLetters(1);
  if (letters.empty()) return Fail("no free drive letter");
  MountPageState page;
  page.volumePath = argv[2];
  page.externalHeaderPath = strcmp(argv[3], "-") == 0 ? "" : argv[3];
  page.password = argv[4];
  page.readOnly = toDrive ? 0 : 1;
  page.driveText = DriveName(letters[0]);
  page.logonSessionId = session;
  TestTimer timer;
  const MountResult mounted = RunMountCommand(page, SystemFileSystem(), SystemDriverPort(), timer);
  if (!mounted.outcome.success) {
    fprintf(stderr, "crossing_helper: %s\n", mounted.outcome.message.c_str());
    RemoveDriver(SystemServicePort());
    return 1;
  }
  HANDLE drive = OpenDrive(mounted.driveLetter, GENERIC_READ | (toDrive ? GENERIC_WRITE : 0));
  const bool copied = drive != INVALID_HANDLE_VALUE && CopySectors(drive, toDrive, argv[5]);
  if (drive != INVALID_HANDLE_VALUE) CloseHandle(drive);
  const bool dismounted = DismountVolume(SystemDriverPort(), mounted.driveLetter, session, 0);
  RemoveDriver(SystemServicePort());
  if (!copied) return Fail(toDrive ? "writing the drive failed" : "reading the drive failed");
  if (!dismounted) return Fail("the drive did not dismount");
  printf("crossing_helper: %s %c: done\n", toDrive ? "wrote" : "read", mounted.driveLetter);
  return 0;
}
