// Holds a drive open from a process of its own, for the tests of a dismount
// while another process uses the drive:
//   drive_holder LETTER
// opens "\\.\LETTER:", sets the event "vm-drive-held", and closes the drive
// and ends once the event "vm-drive-release" is set (or after 60 seconds).
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const char path[] = {'\\', '\\', '.', '\\', argv[1][0], ':', '\0'};
  HANDLE drive = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (drive == INVALID_HANDLE_VALUE) return 1;
  HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, "vm-drive-held");
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, "vm-drive-release");
  if (held == nullptr || release == nullptr) return 1;
  SetEvent(held);
  WaitForSingleObject(release, 60000);
  CloseHandle(drive);
  return 0;
}
