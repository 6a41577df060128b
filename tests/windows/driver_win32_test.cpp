// The program's side of the driver interface against the stand-in driver,
// installed through the service manager from the program's folder: the
// service lifecycle, the mount command over real files, the drive scan,
// sector I/O through the drive letter, the dismount sequence with a volume
// in use, and the automatic dismount's countdown.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "driver/auto_dismount.h"
#include "driver/dismount.h"
#include "driver/mount_command.h"
#include "driver/operations.h"
#include "driver/service.h"
#include "driver/win32_port.h"
#include "platform/file.h"
#include "standin-driver/standin_test_protocol.h"
#include "tests/windows/driver_support.h"
#include "volume/body_cipher.h"
#include "volume/header.h"

namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kBodySectors = 64;
constexpr int32_t kStatusDeviceBusy = static_cast<int32_t>(0x80000011);
const std::string kPassword = "driver test password";

// ---------------------------------------------------------------------------
// Folders, files and the service.

using driver_support::BuiltDriverPath;
using driver_support::TempFolder;

// The program's folder: the driver file lies beside the program.
const std::string& ProgramFolder() {
  static const std::string folder = [] {
    std::string path = TempFolder("vm-driver-program");
    CopyFileA(BuiltDriverPath().c_str(), (path + "\\velmorcrypt.sys").c_str(), FALSE);
    return path;
  }();
  return folder;
}

bool ServiceExists() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, kDriverServiceName, SERVICE_ALL_ACCESS);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

// Leaves a stopped service behind, as a run that ended without removing
// it would.
bool CreateStoppedService(const std::string& binaryPath) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service =
      CreateServiceA(manager, kDriverServiceName, kDriverServiceName, SERVICE_ALL_ACCESS,
                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                     binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

bool DriverAnswers() {
  DriverVersion version;
  return GetDriverVersion(SystemDriverPort(), &version);
}

// Passes everything to the system's service calls and notes which were made.
class WatchedServicePort : public ServicePort {
 public:
  std::vector<std::string> calls;

  bool CurrentDirectory(std::string* directory) override {
    calls.push_back("current-directory");
    return SystemServicePort().CurrentDirectory(directory);
  }
  bool FileOpens(const std::string& path) override {
    calls.push_back("file");
    return SystemServicePort().FileOpens(path);
  }
  std::unique_ptr<ServiceManager> OpenManager() override {
    calls.push_back("open-manager");
    return SystemServicePort().OpenManager();
  }
};

// Every test program starts and ends without the service; the program's
// folder is the current directory, as at the program's start.
class DriverEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    RemoveDriver(SystemServicePort());
    ASSERT_TRUE(SetCurrentDirectoryA(ProgramFolder().c_str()));
  }
  void TearDown() override { RemoveDriver(SystemServicePort()); }
};
testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(new DriverEnvironment);

// ---------------------------------------------------------------------------
// The stand-in driver's test control code.

// Takes the driver's log of the requests it received, which empties it.
std::vector<StandinLogEntry> TakeLog() {
  StandinTestRequest request = {kStandinTakeLog, 0, 0, 0, 0};
  std::vector<StandinLogEntry> entries(kStandinLogCapacity);
  HANDLE handle =
      CreateFileA(VD_CONTROL_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  DWORD returned = 0;
  DeviceIoControl(handle, IOCTL_VD_STANDIN_TEST, &request, sizeof request, entries.data(),
                  static_cast<DWORD>(entries.size() * sizeof(StandinLogEntry)), &returned, nullptr);
  CloseHandle(handle);
  entries.resize(returned / sizeof(StandinLogEntry));
  return entries;
}

// The device controls with `code` in a log.
std::vector<StandinLogEntry> Controls(const std::vector<StandinLogEntry>& log, uint32_t code) {
  std::vector<StandinLogEntry> found;
  for (const StandinLogEntry& entry : log) {
    if (entry.majorFunction == kStandinMajorDeviceControl && entry.controlCode == code) {
      found.push_back(entry);
    }
  }
  return found;
}

bool FailNextControl(uint32_t code, int32_t status) {
  std::unique_ptr<Device> control =
      SystemDriverPort().OpenDevice(VD_CONTROL_DEVICE_PATH, DeviceAccess::kReadWrite);
  StandinTestRequest request = {kStandinFailRequests, kStandinMajorDeviceControl, code, status, 1};
  return control &&
         control->Control(IOCTL_VD_STANDIN_TEST, &request, sizeof request, nullptr, 0) == kNoError;
}

// ---------------------------------------------------------------------------
// Volumes.

struct TestVolume {
  std::string path;
  std::string headerPath;  // empty: the header ends the volume file
  int algorithm = 0;
  std::vector<uint8_t> plain;  // the body's plaintext
};

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  EXPECT_EQ(written, bytes.size());
  CloseHandle(file);
}

// A volume sealed with the test password: the body encrypted with the
// header's body keys, the header after it or in an external header block.
TestVolume MakeVolume(const std::string& name, int algorithm, bool external) {
  TestVolume volume;
  volume.path = TempFolder("vm-driver-volumes") + "\\" + name + ".vmv";
  volume.algorithm = algorithm;
  uint8_t header[kHeaderSize];
  uint8_t sectorKey[kBodyKeySize];
  uint8_t sectorIvSeed[kBodyKeySize];
  EXPECT_TRUE(SealHeader(header, reinterpret_cast<const uint8_t*>(kPassword.data()),
                         static_cast<uint32_t>(kPassword.size()), algorithm, sectorKey,
                         sectorIvSeed));
  volume.plain.resize(kBodySectors * kSector);
  for (size_t i = 0; i < volume.plain.size(); ++i) {
    volume.plain[i] = static_cast<uint8_t>(i / kSector * 37 + i * 11 + algorithm);
  }
  std::vector<uint8_t> body = volume.plain;
  BodyCipher cipher;
  EXPECT_TRUE(BodyCipherInit(&cipher, algorithm, sectorKey, sectorIvSeed));
  BodyCipherEncrypt(&cipher, body.data(), 0, kBodySectors);
  BodyCipherWipe(&cipher);
  if (external) {
    volume.headerPath = volume.path.substr(0, volume.path.size() - 4) + ".ehb";
    WriteFileBytes(volume.headerPath, std::vector<uint8_t>(header, header + kHeaderSize));
  } else {
    body.insert(body.end(), header, header + kHeaderSize);
  }
  WriteFileBytes(volume.path, body);
  return volume;
}

// A letter that nothing maps, from the end of the alphabet.
char FreeLetter() {
  for (char letter = 'Y'; letter >= 'D'; --letter) {
    char name[3] = {letter, ':', '\0'};
    char target[256];
    if (QueryDosDeviceA(name, target, sizeof target) == 0) return letter;
  }
  return 0;
}

HANDLE OpenDrive(char letter, DWORD access) {
  return CreateFileA(DriveDevicePath(letter).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

// Reads and writes carry their offset in an OVERLAPPED: a device handle
// has no file pointer to move.
bool ReadAt(HANDLE drive, uint64_t offset, std::vector<uint8_t>* data) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  return ReadFile(drive, data->data(), static_cast<DWORD>(data->size()), &got, &at) &&
         got == data->size();
}

bool WriteAt(HANDLE drive, uint64_t offset, const std::vector<uint8_t>& data) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD written = 0;
  return WriteFile(drive, data.data(), static_cast<DWORD>(data.size()), &written, &at) &&
         written == data.size();
}

class TestTimer : public MinuteTimer {
 public:
  bool Start() override { return true; }
  void Stop() override {}
};

// The Win32 port with a lock that fails, as on a volume with open files,
// and no real pauses.
class VolumeInUsePort : public Win32DriverPort {
 public:
  int locks = 0;
  int waits = 0;
  bool LockVolume(Device&) override {
    ++locks;
    return false;
  }
  void Wait(uint32_t) override { ++waits; }
};

// The Win32 port, noting every device it opens.
class WatchedDriverPort : public Win32DriverPort {
 public:
  std::vector<std::string> opened;
  std::unique_ptr<Device> OpenDevice(const std::string& path, DeviceAccess access) override {
    opened.push_back(path);
    return Win32DriverPort::OpenDevice(path, access);
  }
};

// ---------------------------------------------------------------------------
// Service lifecycle.

class ServiceLifecycle : public testing::Test {
 protected:
  void SetUp() override {
    RemoveDriver(SystemServicePort());
    ASSERT_FALSE(ServiceExists());
    ASSERT_TRUE(SetCurrentDirectoryA(ProgramFolder().c_str()));
  }
  void TearDown() override { SetCurrentDirectoryA(ProgramFolder().c_str()); }
};

TEST_F(ServiceLifecycle, InstallsFromTheProgramsFolderAndRemovesAgain) {
  ASSERT_FALSE(DriverAnswers());
  ASSERT_TRUE(InstallDriver(SystemDriverPort(), SystemServicePort()));
  EXPECT_TRUE(DriverAnswers());
  EXPECT_TRUE(ServiceExists());

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, kDriverServiceName, SERVICE_ALL_ACCESS);
  std::vector<uint8_t> buffer(8192);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(service, config, static_cast<DWORD>(buffer.size()), &needed));
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_STRCASEEQ(config->lpBinaryPathName, (ProgramFolder() + "\\velmorcrypt.sys").c_str());
  CloseServiceHandle(service);
  CloseServiceHandle(manager);

  EXPECT_TRUE(RemoveDriver(SystemServicePort()));
  EXPECT_FALSE(ServiceExists());
  EXPECT_FALSE(DriverAnswers());
  EXPECT_FALSE(RemoveDriver(SystemServicePort()));
}

TEST_F(ServiceLifecycle, MissingDriverFileFailsBeforeTheManagerIsOpened) {
  ASSERT_TRUE(SetCurrentDirectoryA(TempFolder("vm-driver-empty").c_str()));
  WatchedServicePort services;
  EXPECT_FALSE(InstallDriver(SystemDriverPort(), services));
  EXPECT_EQ(services.calls, (std::vector<std::string>{"current-directory", "file"}));
  EXPECT_FALSE(ServiceExists());
}

TEST_F(ServiceLifecycle, ServiceLeftByAnEarlierRunIsReusedAndRemoved) {
  ASSERT_TRUE(CreateStoppedService(ProgramFolder() + "\\velmorcrypt.sys"));
  ASSERT_FALSE(DriverAnswers());
  EXPECT_TRUE(InstallDriver(SystemDriverPort(), SystemServicePort()));
  EXPECT_TRUE(DriverAnswers());
  EXPECT_TRUE(RemoveDriver(SystemServicePort()));
  EXPECT_FALSE(ServiceExists());
}

TEST_F(ServiceLifecycle, RunningDriverIsLeftAlone) {
  ASSERT_TRUE(InstallDriver(SystemDriverPort(), SystemServicePort()));
  WatchedServicePort services;
  EXPECT_TRUE(InstallDriver(SystemDriverPort(), services));
  EXPECT_TRUE(services.calls.empty());
  EXPECT_TRUE(DriverAnswers());
}

TEST_F(ServiceLifecycle, LogonSessionIdentifierIsReadable) {
  uint32_t session = 0xFFFFFFFFu;
  EXPECT_TRUE(GetLogonSessionId(&session));
}

// ---------------------------------------------------------------------------
// Mounted volumes.

class DriverTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InstallDriver(SystemDriverPort(), SystemServicePort()));
    ASSERT_TRUE(GetLogonSessionId(&session));
    letter = FreeLetter();
    ASSERT_NE(letter, 0);
    TakeLog();
  }
  void TearDown() override {
    for (const ScannedDrive& drive : ScanDrives(SystemDriverPort())) {
      DismountVolume(SystemDriverPort(), drive.letter, session, 1);
    }
  }

  MountPageState PageFor(const TestVolume& volume) {
    MountPageState page;
    page.volumePath = volume.path;
    page.externalHeaderPath = volume.headerPath;
    page.password = kPassword;
    page.driveText = DriveName(letter);
    page.logonSessionId = session;
    return page;
  }

  MountResult Mount(MountPageState& page) {
    return RunMountCommand(page, SystemFileSystem(), SystemDriverPort(), timer);
  }

  void ExpectRefused(MountPageState page, const std::string& message) {
    const MountResult result = Mount(page);
    EXPECT_FALSE(result.outcome.success);
    EXPECT_EQ(result.outcome.message, message);
    EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));
  }

  uint32_t session = 0;
  char letter = 0;
  TestTimer timer;
};

TEST_F(DriverTest, EveryAlgorithmAndLayoutMountsServesItsBodyAndDismounts) {
  for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
    for (bool external : {false, true}) {
      SCOPED_TRACE(testing::Message() << "algorithm " << algorithm << " external " << external);
      TakeLog();
      const TestVolume volume = MakeVolume(
          "mount" + std::to_string(algorithm) + (external ? "e" : "i"), algorithm, external);
      MountPageState page = PageFor(volume);
      const MountResult result = Mount(page);
      ASSERT_TRUE(result.outcome.success) << result.outcome.message;
      EXPECT_EQ(result.outcome.message, "Velmorcrypt volume successfully mounted.");
      EXPECT_EQ(result.driveLetter, letter);
      EXPECT_TRUE(IsOwnDrive(SystemDriverPort(), letter));

      std::vector<ScannedDrive> drives = ScanDrives(SystemDriverPort());
      ASSERT_EQ(drives.size(), 1u);
      EXPECT_EQ(drives[0].letter, letter);
      ASSERT_TRUE(drives[0].queried);
      EXPECT_STRCASEEQ(drives[0].volume.volumePath.c_str(), volume.path.c_str());
      EXPECT_EQ(drives[0].volume.algorithm, algorithm);
      EXPECT_EQ(drives[0].volume.volumeSize, uint64_t{kBodySectors} * kSector);

      const std::vector<StandinLogEntry> mounts = Controls(TakeLog(), IOCTL_VD_MOUNT);
      ASSERT_EQ(mounts.size(), 1u);
      EXPECT_EQ(mounts[0].headerPlacement, external ? 2 : 1);
      EXPECT_EQ(mounts[0].algorithm, algorithm);
      EXPECT_EQ(mounts[0].readOnly, 0);
      EXPECT_EQ(mounts[0].logonSessionId, session);

      HANDLE drive = OpenDrive(letter, GENERIC_READ | GENERIC_WRITE);
      ASSERT_NE(drive, INVALID_HANDLE_VALUE);
      std::vector<uint8_t> sectors(3 * kSector);
      ASSERT_TRUE(ReadAt(drive, 5 * kSector, &sectors));
      EXPECT_TRUE(std::equal(sectors.begin(), sectors.end(), volume.plain.begin() + 5 * kSector));
      std::vector<uint8_t> written(2 * kSector, 0xC3);
      written[0] = static_cast<uint8_t>(algorithm);
      ASSERT_TRUE(WriteAt(drive, 40 * kSector, written));
      std::vector<uint8_t> back(2 * kSector);
      ASSERT_TRUE(ReadAt(drive, 40 * kSector, &back));
      EXPECT_EQ(back, written);
      CloseHandle(drive);

      EXPECT_TRUE(DismountVolume(SystemDriverPort(), letter, session, 0));
      EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));
      EXPECT_TRUE(ScanDrives(SystemDriverPort()).empty());
      const std::vector<StandinLogEntry> dismounts = Controls(TakeLog(), IOCTL_VD_DISMOUNT);
      ASSERT_EQ(dismounts.size(), 1u);
      EXPECT_EQ(dismounts[0].driveLetter, letter);
      EXPECT_EQ(dismounts[0].status, 0);

      // Mounted again, the written sectors are still there.
      MountPageState again = PageFor(volume);
      ASSERT_TRUE(Mount(again).outcome.success);
      drive = OpenDrive(letter, GENERIC_READ);
      ASSERT_TRUE(ReadAt(drive, 40 * kSector, &back));
      EXPECT_EQ(back, written);
      CloseHandle(drive);
      EXPECT_TRUE(DismountVolume(SystemDriverPort(), letter, session, 0));
    }
  }
}

TEST_F(DriverTest, ReadOnlyMountRefusesWrites) {
  const TestVolume volume = MakeVolume("readonly", kAes128, false);
  MountPageState page = PageFor(volume);
  page.readOnly = 1;
  ASSERT_TRUE(Mount(page).outcome.success);
  EXPECT_EQ(Controls(TakeLog(), IOCTL_VD_MOUNT).at(0).readOnly, 1);
  HANDLE drive = OpenDrive(letter, GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(drive, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> sector(kSector);
  EXPECT_TRUE(ReadAt(drive, 0, &sector));
  EXPECT_TRUE(std::equal(sector.begin(), sector.end(), volume.plain.begin()));
  EXPECT_FALSE(WriteAt(drive, 0, std::vector<uint8_t>(kSector, 0)));
  CloseHandle(drive);
}

TEST_F(DriverTest, FileThatOpensOnlyForReadingMountsOnlyReadOnly) {
  const TestVolume volume = MakeVolume("readonlyfile", kAes256, true);
  // Another handle keeps writers out (a read-only attribute would not stop
  // a test that runs as root under Wine).
  HANDLE reader = CreateFileA(volume.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ExpectRefused(PageFor(volume), "Error opening Velmorcrypt volume.");
  MountPageState page = PageFor(volume);
  page.readOnly = 1;
  EXPECT_TRUE(Mount(page).outcome.success);
  EXPECT_TRUE(DismountVolume(SystemDriverPort(), letter, session, 0));
  CloseHandle(reader);
}

TEST_F(DriverTest, ChecksOfRealFilesInTheirOrder) {
  TestVolume volume = MakeVolume("checks", kBlowfish128, true);
  MountPageState page = PageFor(volume);
  page.password = std::string(65, 'p');
  ExpectRefused(page, "Passwords should not be longer than 64 characters.");
  page = PageFor(volume);
  page.password = "not the password";
  ExpectRefused(page, "Error decrypting header information with the supplied password.");

  std::vector<uint8_t> block(kHeaderSize - 1, 0);
  WriteFileBytes(volume.headerPath, block);
  ExpectRefused(PageFor(volume), "Error reading external header block.");
  block.resize(kHeaderSize + 1);
  WriteFileBytes(volume.headerPath, block);
  ExpectRefused(PageFor(volume), "Error reading external header block.");
  DeleteFileA(volume.headerPath.c_str());
  ExpectRefused(PageFor(volume), "Error opening external header block.");

  volume.headerPath.clear();
  WriteFileBytes(volume.path, std::vector<uint8_t>(kHeaderSize, 0));
  ExpectRefused(PageFor(volume), "Error reading Velmorcrypt volume.");
  DeleteFileA(volume.path.c_str());
  ExpectRefused(PageFor(volume), "Error opening Velmorcrypt volume.");

  page = PageFor(volume);
  page.volumePath = "C:\\" + std::string(253, 'v');
  ExpectRefused(page, "The volume path is too long.");
  EXPECT_TRUE(Controls(TakeLog(), IOCTL_VD_MOUNT).empty());
}

TEST_F(DriverTest, PasswordOf64BytesMounts) {
  TestVolume volume = MakeVolume("password64", kAes128, false);
  const std::string password(64, 'k');
  std::vector<uint8_t> bytes(kBodySectors * kSector + kHeaderSize);
  uint8_t sectorKey[kBodyKeySize];
  uint8_t sectorIvSeed[kBodyKeySize];
  ASSERT_TRUE(SealHeader(bytes.data() + kBodySectors * kSector,
                         reinterpret_cast<const uint8_t*>(password.data()), 64, kAes128, sectorKey,
                         sectorIvSeed));
  WriteFileBytes(volume.path, bytes);
  MountPageState page = PageFor(volume);
  page.password = password;
  EXPECT_TRUE(Mount(page).outcome.success);
}

TEST_F(DriverTest, VolumeInUseStaysMountedUntilTheForcedDismount) {
  const TestVolume volume = MakeVolume("inuse", kAes128, false);
  MountPageState page = PageFor(volume);
  ASSERT_TRUE(Mount(page).outcome.success);
  TakeLog();

  VolumeInUsePort inUse;
  EXPECT_FALSE(DismountVolume(inUse, letter, session, 0));
  EXPECT_EQ(inUse.locks, 20);
  EXPECT_EQ(inUse.waits, 20);
  EXPECT_TRUE(IsOwnDrive(SystemDriverPort(), letter));
  EXPECT_TRUE(Controls(TakeLog(), IOCTL_VD_DISMOUNT).empty());

  inUse.locks = inUse.waits = 0;
  EXPECT_TRUE(DismountVolume(inUse, letter, session, 1));
  EXPECT_EQ(inUse.locks, 20);
  EXPECT_EQ(inUse.waits, 20);
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));
  EXPECT_EQ(Controls(TakeLog(), IOCTL_VD_DISMOUNT).size(), 1u);
}

// A drive that another process holds open is in use: the driver refuses
// the plain dismount (the volume stays, with its letter), and takes it away
// when the dismount is forced. (Wine's own lock never fails: the driver is
// what sees the other process here.)
TEST_F(DriverTest, DriveHeldByAnotherProcessDismountsOnlyWhenForced) {
  const TestVolume volume = MakeVolume("held", kBlowfish128, true);
  MountPageState page = PageFor(volume);
  ASSERT_TRUE(Mount(page).outcome.success);
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, "vm-drive-held");
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "vm-drive-release");
  std::string command = "\"" + driver_support::DosPath(VM_DRIVE_HOLDER_PATH) + "\" ";
  command += letter;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION holder{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &holder));
  ASSERT_EQ(WaitForSingleObject(held, 20000), WAIT_OBJECT_0);
  TakeLog();

  EXPECT_FALSE(DismountVolume(SystemDriverPort(), letter, session, 0));
  EXPECT_TRUE(IsOwnDrive(SystemDriverPort(), letter));
  std::vector<StandinLogEntry> refused = Controls(TakeLog(), IOCTL_VD_DISMOUNT);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].status, kStatusDeviceBusy);
  EXPECT_TRUE(DismountVolume(SystemDriverPort(), letter, session, 1));
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));

  SetEvent(release);
  EXPECT_EQ(WaitForSingleObject(holder.hProcess, 20000), WAIT_OBJECT_0);
  for (HANDLE handle : {holder.hProcess, holder.hThread, held, release}) CloseHandle(handle);
}

TEST_F(DriverTest, RefusedFileSystemDismountFailsThePlainDismountOnly) {
  const TestVolume volume = MakeVolume("busy", kAes256, false);
  MountPageState page = PageFor(volume);
  ASSERT_TRUE(Mount(page).outcome.success);

  ASSERT_TRUE(FailNextControl(VD_FSCTL_DISMOUNT_VOLUME, kStatusDeviceBusy));
  EXPECT_FALSE(DismountVolume(SystemDriverPort(), letter, session, 0));
  EXPECT_TRUE(IsOwnDrive(SystemDriverPort(), letter));
  EXPECT_TRUE(Controls(TakeLog(), IOCTL_VD_DISMOUNT).empty());

  ASSERT_TRUE(FailNextControl(VD_FSCTL_DISMOUNT_VOLUME, kStatusDeviceBusy));
  EXPECT_TRUE(DismountVolume(SystemDriverPort(), letter, session, 1));
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));
}

TEST_F(DriverTest, AcceptedFileSystemDismountIsReadAsSuccess) {
  const TestVolume volume = MakeVolume("fsdismount", kAes128, true);
  MountPageState page = PageFor(volume);
  ASSERT_TRUE(Mount(page).outcome.success);
  std::unique_ptr<Device> drive =
      SystemDriverPort().OpenDevice(DriveDevicePath(letter), DeviceAccess::kReadWrite);
  ASSERT_TRUE(drive);
  // Windows answers success, Wine ERROR_BAD_DEV_TYPE after the driver's success.
  const uint32_t error = drive->Control(VD_FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0);
  EXPECT_TRUE(error == kNoError || error == kErrorBadDevType) << error;
  EXPECT_TRUE(SystemDriverPort().DismountFileSystem(*drive));
  const std::vector<StandinLogEntry> seen = Controls(TakeLog(), VD_FSCTL_DISMOUNT_VOLUME);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].status, 0);
}

TEST_F(DriverTest, DismountSelectedAndDismountAllReport) {
  const TestVolume first = MakeVolume("all1", kAes128, false);
  const TestVolume second = MakeVolume("all2", kBlowfish448, true);
  MountPageState page = PageFor(first);
  ASSERT_TRUE(Mount(page).outcome.success);
  const char firstLetter = letter;
  letter = FreeLetter();
  page = PageFor(second);
  ASSERT_TRUE(Mount(page).outcome.success);

  std::vector<std::string> texts;
  for (const ScannedDrive& drive : ScanDrives(SystemDriverPort())) {
    texts.push_back(DriveName(drive.letter));
  }
  ASSERT_EQ(texts.size(), 2u);
  const std::optional<Outcome> outcome = DismountAll(SystemDriverPort(), texts, session);
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(outcome->message, "All 2 drive(s) successfully dismounted.");
  EXPECT_TRUE(ScanDrives(SystemDriverPort()).empty());

  page = PageFor(first);
  ASSERT_TRUE(Mount(page).outcome.success);
  const DismountReply reply = DismountSelected(SystemDriverPort(), DriveName(letter), session);
  EXPECT_EQ(reply.step, DismountStep::kDismounted);
  EXPECT_EQ(reply.message, "Drive " + DriveName(letter) + " successfully dismounted.");
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), firstLetter));
}

TEST_F(DriverTest, SubstitutedLetterIsNeverSentToTheDriver) {
  const std::string name = DriveName(letter);
  ASSERT_TRUE(DefineDosDeviceA(0, name.c_str(), ProgramFolder().c_str()));
  WatchedDriverPort port;
  EXPECT_FALSE(IsOwnDrive(port, letter));
  EXPECT_TRUE(ScanDrives(port).empty());
  AutoDismountState state;
  state.appliedTimeout = 1;
  IdleTimerTick(port, state, session);
  EXPECT_TRUE(port.opened.empty());
  EXPECT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, name.c_str(), nullptr));
}

TEST_F(DriverTest, IdleCountdownDismountsAtTheTthTickAndHonoursRearm) {
  const TestVolume volume = MakeVolume("idle", kAes128, false);
  MountPageState page = PageFor(volume);
  ASSERT_TRUE(Mount(page).outcome.success);
  AutoDismountState state;
  ASSERT_EQ(ApplyIdleTimeout(SystemDriverPort(), state, timer, 3), 3u);

  IdleTimerTick(SystemDriverPort(), state, session);  // 2 left
  IdleTimerTick(SystemDriverPort(), state, session);  // 1: run out
  EXPECT_TRUE(IsOwnDrive(SystemDriverPort(), letter));

  // A read marks the volume used: the driver asks for a rearm.
  HANDLE drive = OpenDrive(letter, GENERIC_READ);
  std::vector<uint8_t> sector(kSector);
  ASSERT_TRUE(ReadAt(drive, 0, &sector));
  CloseHandle(drive);
  IdleCounter counter = 0;
  ASSERT_TRUE(GetIdleCounter(SystemDriverPort(), letter, &counter));
  EXPECT_EQ(counter, VD_IDLE_REARM);

  IdleTimerTick(SystemDriverPort(), state, session);  // rearmed with 3
  ASSERT_TRUE(GetIdleCounter(SystemDriverPort(), letter, &counter));
  EXPECT_EQ(counter, 3);
  IdleTimerTick(SystemDriverPort(), state, session);
  IdleTimerTick(SystemDriverPort(), state, session);
  EXPECT_TRUE(IsOwnDrive(SystemDriverPort(), letter));
  IdleTimerTick(SystemDriverPort(), state, session);
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));
}

TEST_F(DriverTest, MountArmsTheNewDriveWithTheAppliedTimeout) {
  const TestVolume volume = MakeVolume("armed", kBlowfish128, false);
  MountPageState page = PageFor(volume);
  page.autoDismount.appliedTimeout = 7;
  ASSERT_TRUE(Mount(page).outcome.success);
  IdleCounter counter = 0;
  ASSERT_TRUE(GetIdleCounter(SystemDriverPort(), letter, &counter));
  EXPECT_EQ(counter, 7);
}

}  // namespace
