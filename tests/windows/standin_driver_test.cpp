// The stand-in driver velmorcrypt.sys, installed through the service manager
// and driven through raw device requests: the control device, volume devices
// behind a drive letter, sector reads and writes against volume files that
// the tests build themselves, and the driver's test log and failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>
// windows.h first
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "standin-driver/standin_test_protocol.h"
#include "tests/windows/driver_support.h"
#include "volume/body_cipher.h"
#include "volume/header.h"

namespace {

constexpr char kServiceName[] = "Velmorcrypt";
constexpr uint32_t kSector = 512;
constexpr uint32_t kSession = 0x1234;
constexpr int32_t kStatusSuccess = 0;
constexpr int32_t kStatusDeviceBusy = static_cast<int32_t>(0x80000011);
constexpr int32_t kStatusAccessDenied = static_cast<int32_t>(0xC0000022);

// ---------------------------------------------------------------------------
// Handles and the service.

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = INVALID_HANDLE_VALUE; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// A driver's path in the form the service manager takes: under Wine the
// build tree's Unix path is turned into a DOS path. By default the test
// variant's.
std::string DriverPath(const char* unixPath = VM_STANDIN_DRIVER_PATH) {
  return driver_support::DosPath(unixPath);
}

// Stops and deletes the service; a service left by an earlier run included.
void RemoveService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return;
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (service != nullptr) {
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

bool StartDriverService(const std::string& path = DriverPath()) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    service = CreateServiceA(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                             SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  bool started = service != nullptr && (StartServiceA(service, 0, nullptr) ||
                                        GetLastError() == ERROR_SERVICE_ALREADY_RUNNING);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return started;
}

// The driver runs for the whole test program.
class DriverService : public testing::Environment {
 public:
  void SetUp() override {
    RemoveService();
    ASSERT_TRUE(StartDriverService()) << "error " << GetLastError() << " for " << DriverPath();
  }
  void TearDown() override { RemoveService(); }
};
testing::Environment* const kDriverService = testing::AddGlobalTestEnvironment(new DriverService);

Handle OpenControlDevice(DWORD access = GENERIC_READ | GENERIC_WRITE) {
  return Handle(CreateFileA(VD_CONTROL_DEVICE_PATH, access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr));
}

Handle OpenDrive(char letter, DWORD access = GENERIC_READ | GENERIC_WRITE) {
  char path[8];
  snprintf(path, sizeof path, VD_DRIVE_DEVICE_FORMAT, letter);
  return Handle(CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr));
}

// One device request; the Win32 error on failure, 0 on success.
DWORD Control(const Handle& device, DWORD code, const void* in, DWORD inSize, void* out,
              DWORD outSize, DWORD* returned = nullptr) {
  DWORD bytes = 0;
  BOOL ok = DeviceIoControl(device.get(), code, const_cast<void*>(in), inSize, out, outSize, &bytes,
                            nullptr);
  if (returned != nullptr) *returned = bytes;
  return ok ? 0 : GetLastError();
}

// ---------------------------------------------------------------------------
// The test control code.

std::vector<StandinLogEntry> TakeLog() {
  Handle control = OpenControlDevice();
  StandinTestRequest request = {kStandinTakeLog, 0, 0, 0, 0};
  std::vector<StandinLogEntry> entries(kStandinLogCapacity);
  DWORD returned = 0;
  EXPECT_EQ(0u, Control(control, IOCTL_VD_STANDIN_TEST, &request, sizeof request, entries.data(),
                        static_cast<DWORD>(entries.size() * sizeof(StandinLogEntry)), &returned));
  entries.resize(returned / sizeof(StandinLogEntry));
  return entries;
}

DWORD FailRequests(uint8_t major, uint32_t code, int32_t status, uint32_t count) {
  Handle control = OpenControlDevice();
  StandinTestRequest request = {kStandinFailRequests, major, code, status, count};
  return Control(control, IOCTL_VD_STANDIN_TEST, &request, sizeof request, nullptr, 0);
}

// The requests that follow come, as far as the driver can tell, from a
// caller in logon session `session` (every token has the same one under
// Wine); with `chosen` false from the callers' tokens again.
DWORD ChooseCaller(bool chosen, uint64_t session = 0, bool administrator = false) {
  Handle control = OpenControlDevice();
  StandinTestRequest request = {kStandinChooseCaller, 0, 0, 0, 0, chosen, administrator, session};
  return Control(control, IOCTL_VD_STANDIN_TEST, &request, sizeof request, nullptr, 0);
}

// The requests of one major function (and control code) in a log.
std::vector<StandinLogEntry> Entries(const std::vector<StandinLogEntry>& log, uint8_t major,
                                     uint32_t code = 0) {
  std::vector<StandinLogEntry> found;
  for (const StandinLogEntry& entry : log) {
    if (entry.deviceKind != kStandinVolumeFile && entry.majorFunction == major &&
        (code == 0 || entry.controlCode == code)) {
      found.push_back(entry);
    }
  }
  return found;
}

// The volume files mounted from now on are taken as on a disk of
// `sectorSize`-byte sectors (0: as reported) and as carrying `attributes`.
DWORD ChooseVolumeFile(uint32_t sectorSize, uint32_t attributes) {
  Handle control = OpenControlDevice();
  StandinTestRequest request = {kStandinChooseVolumeFile, 0, 0, 0, 0};
  request.sectorSize = sectorSize;
  request.fileAttributes = attributes;
  return Control(control, IOCTL_VD_STANDIN_TEST, &request, sizeof request, nullptr, 0);
}

// What the driver did with the volume files, of one major function.
std::vector<StandinLogEntry> FileOperations(const std::vector<StandinLogEntry>& log,
                                            uint8_t major) {
  std::vector<StandinLogEntry> found;
  for (const StandinLogEntry& entry : log) {
    if (entry.deviceKind == kStandinVolumeFile && entry.majorFunction == major) {
      found.push_back(entry);
    }
  }
  return found;
}

// ---------------------------------------------------------------------------
// Volume files built by the tests.

std::string TempDirectory() {
  char buffer[MAX_PATH];
  DWORD length = GetTempPathA(sizeof buffer, buffer);
  return std::string(buffer, length);
}

// Plaintext of sector s: distinct for every sector and every byte position.
std::vector<uint8_t> PlainSectors(uint64_t first, uint32_t count, uint8_t salt = 0) {
  std::vector<uint8_t> data(static_cast<size_t>(count) * kSector);
  for (size_t i = 0; i < data.size(); ++i) {
    uint64_t sector = first + i / kSector;
    data[i] = static_cast<uint8_t>(sector * 31 + (i % kSector) * 7 + salt);
  }
  return data;
}

struct VolumeFile {
  std::string path;
  int algorithm;
  int placement;
  uint32_t sectors;
  uint8_t sectorKey[64];
  uint8_t sectorIvSeed[64];
  std::vector<uint8_t> trailer;  // what follows the body: a header's bytes, or nothing
};

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr));
  std::vector<uint8_t> data;
  if (!file.valid()) return data;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return data;
  data.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!data.empty() &&
      !ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr)) {
    data.clear();
  }
  data.resize(got);
  return data;
}

// Writes a volume file: the body encrypted from PlainSectors, then for the
// header in the volume file 1044 bytes that stand for the header.
VolumeFile MakeVolumeFile(const char* name, int algorithm, int placement, uint32_t sectors) {
  VolumeFile volume;
  volume.path = TempDirectory() + name;
  volume.algorithm = algorithm;
  volume.placement = placement;
  volume.sectors = sectors;
  for (int i = 0; i < 64; ++i) {
    volume.sectorKey[i] = static_cast<uint8_t>(i * 13 + algorithm);
    volume.sectorIvSeed[i] = static_cast<uint8_t>(i * 29 + 101 + placement);
  }
  if (placement == VD_HEADER_IN_VOLUME_FILE) {
    volume.trailer.resize(kHeaderSize);
    for (size_t i = 0; i < volume.trailer.size(); ++i) {
      volume.trailer[i] = static_cast<uint8_t>(0xA5 ^ i);
    }
  }
  BodyCipher cipher;
  EXPECT_TRUE(BodyCipherInit(&cipher, algorithm, volume.sectorKey, volume.sectorIvSeed));
  std::vector<uint8_t> body = PlainSectors(0, sectors);
  BodyCipherEncrypt(&cipher, body.data(), 0, sectors);
  BodyCipherWipe(&cipher);
  body.insert(body.end(), volume.trailer.begin(), volume.trailer.end());

  SetFileAttributesA(volume.path.c_str(), FILE_ATTRIBUTE_NORMAL);
  Handle file(CreateFileA(volume.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file.valid()) << volume.path;
  DWORD written = 0;
  EXPECT_TRUE(
      WriteFile(file.get(), body.data(), static_cast<DWORD>(body.size()), &written, nullptr));
  EXPECT_EQ(body.size(), written);
  return volume;
}

// The plaintext of the file's sectors, decrypted here, apart from the driver.
std::vector<uint8_t> DecryptFileSectors(const VolumeFile& volume, uint64_t first, uint32_t count) {
  std::vector<uint8_t> file = ReadWholeFile(volume.path);
  size_t start = static_cast<size_t>(first) * kSector;
  size_t length = static_cast<size_t>(count) * kSector;
  if (file.size() < start + length) return {};
  std::vector<uint8_t> data(file.begin() + start, file.begin() + start + length);
  BodyCipher cipher;
  BodyCipherInit(&cipher, volume.algorithm, volume.sectorKey, volume.sectorIvSeed);
  BodyCipherDecrypt(&cipher, data.data(), first, count);
  BodyCipherWipe(&cipher);
  return data;
}

VolumeControlRecord MountRequest(const VolumeFile& volume, char letter, bool readOnly) {
  VolumeControlRecord record;
  memset(&record, 0, sizeof record);
  snprintf(record.targetPath, sizeof record.targetPath, "\\??\\%s", volume.path.c_str());
  record.driveLetter = letter;
  record.algorithm = static_cast<uint8_t>(volume.algorithm);
  memcpy(record.sectorIvSeed, volume.sectorIvSeed, sizeof record.sectorIvSeed);
  memcpy(record.sectorKey, volume.sectorKey, sizeof record.sectorKey);
  record.headerPlacement = static_cast<uint8_t>(volume.placement);
  record.logonSessionId = kSession;
  record.readOnly = readOnly ? 1 : 0;
  return record;
}

// IOCTL_VD_MOUNT; the Win32 error, 0 on success with the device number.
DWORD SendMount(const VolumeControlRecord& request, int8_t* deviceNumber,
                VolumeControlRecord* reply = nullptr) {
  Handle control = OpenControlDevice();
  VolumeControlRecord answer;
  memset(&answer, 0xCC, sizeof answer);
  DWORD returned = 0;
  DWORD error =
      Control(control, IOCTL_VD_MOUNT, &request, sizeof request, &answer, sizeof answer, &returned);
  if (error == 0) {
    EXPECT_EQ(sizeof answer, returned);
    *deviceNumber = answer.deviceNumber;
  }
  if (reply != nullptr) *reply = answer;
  return error;
}

DWORD SendDismount(char letter, uint32_t session) {
  Handle control = OpenControlDevice();
  VolumeControlRecord request;
  memset(&request, 0, sizeof request);
  request.driveLetter = letter;
  request.logonSessionId = session;
  return Control(control, IOCTL_VD_DISMOUNT, &request, sizeof request, nullptr, 0);
}

std::string VolumeDeviceName(int number) {
  char name[64];
  snprintf(name, sizeof name, VD_VOLUME_DEVICE_FORMAT, number);
  return name;
}

// A volume mounted in the driver with its drive letter defined; dismounted
// and undefined at the end of the scope.
class MountedDrive {
 public:
  MountedDrive(const VolumeFile& volume, char letter, bool readOnly = false) : letter_(letter) {
    error_ = SendMount(MountRequest(volume, letter, readOnly), &number_);
    if (error_ != 0) return;
    char drive[3] = {letter, ':', '\0'};
    defined_ = DefineDosDeviceA(DDD_RAW_TARGET_PATH, drive, VolumeDeviceName(number_).c_str());
    EXPECT_TRUE(defined_) << "error " << GetLastError();
  }
  ~MountedDrive() {
    if (error_ == 0) SendDismount(letter_, kSession);
    if (defined_) {
      char drive[3] = {letter_, ':', '\0'};
      DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive, nullptr);
    }
  }
  MountedDrive(const MountedDrive&) = delete;
  MountedDrive& operator=(const MountedDrive&) = delete;

  bool ok() const { return error_ == 0 && defined_; }
  DWORD error() const { return error_; }
  int number() const { return number_; }
  Handle Open(DWORD access = GENERIC_READ | GENERIC_WRITE) const {
    return OpenDrive(letter_, access);
  }

 private:
  char letter_;
  DWORD error_ = 0;
  int8_t number_ = -1;
  bool defined_ = false;
};

// Reads and writes always carry their offset in an OVERLAPPED: a device
// handle has no file pointer to move.
DWORD ReadAt(const Handle& drive, uint64_t offset, std::vector<uint8_t>* data, DWORD* got) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  *got = 0;
  return ReadFile(drive.get(), data->data(), static_cast<DWORD>(data->size()), got, &at)
             ? 0
             : GetLastError();
}

DWORD WriteAt(const Handle& drive, uint64_t offset, const std::vector<uint8_t>& data) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD written = 0;
  if (!WriteFile(drive.get(), data.data(), static_cast<DWORD>(data.size()), &written, &at)) {
    return GetLastError();
  }
  EXPECT_EQ(data.size(), written);
  return 0;
}

IdleCounter GetIdle(char letter) {
  Handle drive = OpenDrive(letter, 0);
  IdleCounter counter = 0;
  DWORD returned = 0;
  EXPECT_EQ(0u, Control(drive, IOCTL_VD_GET_IDLE, nullptr, 0, &counter, sizeof counter, &returned));
  EXPECT_EQ(sizeof counter, returned);
  return counter;
}

void SetIdle(char letter, IdleCounter counter) {
  Handle drive = OpenDrive(letter, GENERIC_WRITE);
  EXPECT_EQ(0u, Control(drive, IOCTL_VD_SET_IDLE, &counter, sizeof counter, nullptr, 0));
}

// Every test starts with an empty log and no armed failure.
class StandinDriver : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0u, FailRequests(0, 0, 0, 0));
    ASSERT_EQ(0u, ChooseCaller(false));
    ASSERT_EQ(0u, ChooseVolumeFile(0, 0));
    TakeLog();
  }
  void TearDown() override {
    FailRequests(0, 0, 0, 0);
    ChooseCaller(false);
    ChooseVolumeFile(0, 0);
  }
};

// ---------------------------------------------------------------------------
// The control device.

TEST_F(StandinDriver, AnswersItsVersion) {
  Handle control = OpenControlDevice(GENERIC_READ);
  ASSERT_TRUE(control.valid());
  DriverVersion version = {-1, -1, -1};
  DWORD returned = 0;
  ASSERT_EQ(
      0u, Control(control, IOCTL_VD_GET_VERSION, nullptr, 0, &version, sizeof version, &returned));
  EXPECT_EQ(sizeof version, returned);
  EXPECT_EQ(kStandinVersionMajor, version.major);
  EXPECT_EQ(kStandinVersionMinor, version.minor);
  EXPECT_EQ(kStandinVersionBuild, version.build);

  uint8_t shortReply[11];
  EXPECT_NE(0u, Control(control, IOCTL_VD_GET_VERSION, nullptr, 0, shortReply, sizeof shortReply));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION),
            Control(control, IOCTL_VD_QUERY_VOLUME, nullptr, 0, nullptr, 0));
}

TEST_F(StandinDriver, MountAnswersTheLowestFreeDeviceNumberAndNoKeys) {
  VolumeFile volume = MakeVolumeFile("numbers.vmv", kAes128, VD_HEADER_EXTERNAL, 8);
  int8_t first = -1, second = -1, third = -1;
  VolumeControlRecord reply;
  ASSERT_EQ(0u, SendMount(MountRequest(volume, 'K', true), &first, &reply));
  for (uint8_t byte : reply.sectorKey) ASSERT_EQ(0, byte);
  for (uint8_t byte : reply.sectorIvSeed) ASSERT_EQ(0, byte);
  ASSERT_EQ(0u, SendMount(MountRequest(volume, 'L', true), &second));
  EXPECT_EQ(0, first);
  EXPECT_EQ(1, second);
  // The first number is free again once its volume is gone.
  EXPECT_EQ(0u, SendDismount('K', kSession));
  ASSERT_EQ(0u, SendMount(MountRequest(volume, 'M', true), &third));
  EXPECT_EQ(0, third);
  EXPECT_EQ(0u, SendDismount('L', kSession));
  EXPECT_EQ(0u, SendDismount('M', kSession));
}

TEST_F(StandinDriver, RefusesMalformedMountRequests) {
  VolumeFile volume = MakeVolumeFile("refused.vmv", kBlowfish128, VD_HEADER_IN_VOLUME_FILE, 8);
  int8_t number = -1;
  auto refused = [&](VolumeControlRecord request) {
    return SendMount(request, &number) == ERROR_INVALID_PARAMETER;
  };
  VolumeControlRecord good = MountRequest(volume, 'R', false);
  VolumeControlRecord request = good;
  request.algorithm = 0;
  EXPECT_TRUE(refused(request));
  request.algorithm = 5;
  EXPECT_TRUE(refused(request));
  request = good;
  request.headerPlacement = 3;
  EXPECT_TRUE(refused(request));
  request = good;
  request.readOnly = 2;
  EXPECT_TRUE(refused(request));
  request = good;
  request.driveLetter = '1';
  EXPECT_TRUE(refused(request));
  request = good;
  request.targetPath[0] = '\0';
  EXPECT_TRUE(refused(request));
  // A path without its NUL is refused, not cut: the volume file that its
  // first 259 bytes name exists.
  const std::string prefix = "\\??\\" + TempDirectory();
  const std::string name = std::string(VD_TARGET_PATH_SIZE - 1 - prefix.size() - 4, 'c') + ".vmv";
  MakeVolumeFile(name.c_str(), kBlowfish128, VD_HEADER_IN_VOLUME_FILE, 8);
  request = good;
  memcpy(request.targetPath, (prefix + name + "x").data(), sizeof request.targetPath);
  EXPECT_TRUE(refused(request));

  Handle control = OpenControlDevice();
  VolumeControlRecord answer;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            Control(control, IOCTL_VD_MOUNT, &good, sizeof good - 1, &answer, sizeof answer));
  EXPECT_NE(0u, Control(control, IOCTL_VD_MOUNT, &good, sizeof good, &answer, sizeof answer - 1));

  std::vector<StandinLogEntry> mounts =
      Entries(TakeLog(), kStandinMajorDeviceControl, IOCTL_VD_MOUNT);
  ASSERT_EQ(9u, mounts.size());
  for (const StandinLogEntry& entry : mounts) EXPECT_NE(kStatusSuccess, entry.status);
  // None of them left a device behind.
  int8_t fresh = -1;
  ASSERT_EQ(0u, SendMount(good, &fresh));
  EXPECT_EQ(0, fresh);
  EXPECT_EQ(0u, SendDismount('R', kSession));
}

TEST_F(StandinDriver, RefusesVolumeFilesWithoutABody) {
  int8_t number = -1;
  // Missing file.
  VolumeFile missing = MakeVolumeFile("missing.vmv", kAes256, VD_HEADER_EXTERNAL, 1);
  DeleteFileA(missing.path.c_str());
  EXPECT_NE(0u, SendMount(MountRequest(missing, 'S', false), &number));
  // Header in the volume file, but nothing before it.
  VolumeFile onlyHeader = MakeVolumeFile("only-header.vmv", kAes256, VD_HEADER_IN_VOLUME_FILE, 0);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            SendMount(MountRequest(onlyHeader, 'S', false), &number));
  // A body that is not a whole number of sectors.
  VolumeFile ragged = MakeVolumeFile("ragged.vmv", kAes256, VD_HEADER_EXTERNAL, 2);
  {
    Handle file(
        CreateFileA(ragged.path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.valid());
    ASSERT_NE(INVALID_SET_FILE_POINTER, SetFilePointer(file.get(), 700, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            SendMount(MountRequest(ragged, 'S', false), &number));
}

// Only an ordinary file on a disk is served: a pipe, a directory and a
// compressed, sparse, encrypted or offline file are refused (the last four
// as the test variant presents them: Wine never shows such a file).
TEST_F(StandinDriver, RefusesAnythingButAnOrdinaryFileOnADisk) {
  VolumeFile volume = MakeVolumeFile("kinds.vmv", kAes128, VD_HEADER_EXTERNAL, 8);
  const std::string pipeName = "\\\\.\\pipe\\vm-standin-volume";
  Handle pipe(CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX, 0, 1, 4096, 4096, 0, nullptr));
  ASSERT_TRUE(pipe.valid());
  const std::string folder = TempDirectory() + "vm-standin-folder";
  CreateDirectoryA(folder.c_str(), nullptr);
  const DWORD kRefused = ERROR_NOT_SUPPORTED;
  const struct {
    const char* what;
    std::string path;
    uint32_t attributes;
    DWORD error;
  } cases[] = {
      {"pipe", "\\??\\pipe\\vm-standin-volume", 0, kRefused},
      {"directory", "\\??\\" + folder, 0, kRefused},
      {"compressed", "\\??\\" + volume.path, FILE_ATTRIBUTE_COMPRESSED, kRefused},
      {"sparse", "\\??\\" + volume.path, FILE_ATTRIBUTE_SPARSE_FILE, kRefused},
      {"encrypted", "\\??\\" + volume.path, FILE_ATTRIBUTE_ENCRYPTED, kRefused},
      {"offline", "\\??\\" + volume.path, FILE_ATTRIBUTE_OFFLINE, kRefused},
      {"ordinary", "\\??\\" + volume.path, FILE_ATTRIBUTE_ARCHIVE, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(0u, ChooseVolumeFile(0, c.attributes));
    VolumeControlRecord request = MountRequest(volume, 'P', false);
    snprintf(request.targetPath, sizeof request.targetPath, "%s", c.path.c_str());
    int8_t number = -1;
    EXPECT_EQ(c.error, SendMount(request, &number));
    if (c.error == 0) {
      EXPECT_EQ(0u, SendDismount('P', kSession));
    }
  }
}

// The volume file is opened unbuffered and write-through, with a security
// quality of service that lets whatever answers at its name identify the
// driver and nothing more. At shutdown every read-write volume's file is
// flushed; at the dismount the file is flushed before it is closed.
TEST_F(StandinDriver, OpensTheFileUnbufferedWriteThroughAndFlushesIt) {
  VolumeFile volume = MakeVolumeFile("open.vmv", kBlowfish128, VD_HEADER_IN_VOLUME_FILE, 8);
  VolumeFile readOnly = MakeVolumeFile("open-ro.vmv", kAes128, VD_HEADER_EXTERNAL, 8);
  int8_t number = -1, other = -1;
  ASSERT_EQ(0u, SendMount(MountRequest(volume, 'P', false), &number));
  ASSERT_EQ(0u, SendMount(MountRequest(readOnly, 'K', true), &other));
  std::vector<StandinLogEntry> opens = FileOperations(TakeLog(), kStandinMajorCreate);
  ASSERT_EQ(2u, opens.size());
  constexpr uint32_t kMode = 0x2 | 0x8 | 0x20;  // write-through, unbuffered, synchronous
  EXPECT_EQ(kMode, opens[0].fileOptions & kMode);
  EXPECT_EQ(kMode, opens[0].fileMode & kMode) << "as the system reports the opened file";
  EXPECT_EQ(512u, opens[0].sectorSize);
  EXPECT_EQ(SecurityIdentification, opens[0].qosLevel);
  EXPECT_EQ(SECURITY_STATIC_TRACKING, opens[0].qosTracking);
  EXPECT_EQ(1, opens[0].qosEffectiveOnly);

  StandinTestRequest shutdown = {kStandinShutdown, 0, 0, 0, 0};
  ASSERT_EQ(0u, Control(OpenControlDevice(), IOCTL_VD_STANDIN_TEST, &shutdown, sizeof shutdown,
                        nullptr, 0));
  std::vector<StandinLogEntry> flushes = FileOperations(TakeLog(), kStandinMajorFlushBuffers);
  ASSERT_EQ(1u, flushes.size());
  EXPECT_EQ(number, flushes[0].deviceNumber);
  EXPECT_EQ(kStatusSuccess, flushes[0].status);

  ASSERT_EQ(0u, SendDismount('P', kSession));
  ASSERT_EQ(0u, SendDismount('K', kSession));
  const std::vector<StandinLogEntry> log = TakeLog();
  flushes = FileOperations(log, kStandinMajorFlushBuffers);
  const std::vector<StandinLogEntry> closes = FileOperations(log, kStandinMajorClose);
  ASSERT_TRUE(flushes.size() == 1 && closes.size() == 2);
  EXPECT_EQ(kStatusSuccess, flushes[0].status);
  EXPECT_LT(flushes[0].sequence, closes[0].sequence);
  EXPECT_LT(closes[0].sequence,
            Entries(log, kStandinMajorDeviceControl, IOCTL_VD_DISMOUNT)[0].sequence);
}

// On a disk of 4096-byte sectors (a 4K-native disk refuses anything
// smaller) every transfer to the file is whole host sectors from an aligned
// buffer: a 512-byte sector is read, patched and written back inside its
// host sector, and the header beside the body's last sector stays as it
// was. A body whose last host sector would reach past the end of the file
// is refused.
TEST_F(StandinDriver, ServesA4KNativeDiskInWholeHostSectors) {
  ASSERT_EQ(0u, ChooseVolumeFile(4096, 0));
  const struct {
    uint32_t sectors;
    int placement;
    DWORD error;
  } bodies[] = {{64, VD_HEADER_IN_VOLUME_FILE, 0},
                {6, VD_HEADER_IN_VOLUME_FILE, 0},  // the header shares the last host sector
                {9, VD_HEADER_EXTERNAL, ERROR_INVALID_PARAMETER}};
  // Sector runs written (with a salt) and read back, at every offset within
  // a host sector.
  const struct {
    uint64_t first;
    uint32_t count;
  } runs[] = {{1, 1}, {3, 9}, {7, 1}, {8, 8}, {15, 17}, {5, 1}, {0, 6}};
  for (const auto& body : bodies) {
    SCOPED_TRACE(body.sectors);
    VolumeFile volume = MakeVolumeFile("native-4k.vmv", kAes256, body.placement, body.sectors);
    MountedDrive mounted(volume, 'Q');
    ASSERT_EQ(body.error, mounted.error());
    if (body.error != 0) continue;
    EXPECT_EQ(4096u, FileOperations(TakeLog(), kStandinMajorCreate).back().sectorSize);
    Handle drive = mounted.Open();
    std::vector<uint8_t> model = PlainSectors(0, body.sectors);
    uint8_t salt = 1;
    for (const auto& run : runs) {
      if (run.first + run.count > body.sectors) continue;
      const std::vector<uint8_t> data = PlainSectors(run.first, run.count, salt++);
      ASSERT_EQ(0u, WriteAt(drive, run.first * kSector, data)) << run.first;
      std::copy(data.begin(), data.end(), model.begin() + run.first * kSector);
      std::vector<uint8_t> back(data.size());
      DWORD got = 0;
      ASSERT_EQ(0u, ReadAt(drive, run.first * kSector, &back, &got)) << run.first;
      EXPECT_TRUE(back == data) << run.first;
    }
    EXPECT_TRUE(DecryptFileSectors(volume, 0, body.sectors) == model);
    std::vector<uint8_t> file = ReadWholeFile(volume.path);
    ASSERT_EQ(body.sectors * kSector + volume.trailer.size(), file.size());
    EXPECT_TRUE(std::vector<uint8_t>(file.begin() + body.sectors * kSector, file.end()) ==
                volume.trailer);
  }
}

// ---------------------------------------------------------------------------
// Sectors.

struct AlgorithmAndPlacement {
  int algorithm;
  int placement;
};

class StandinDriverSectors : public StandinDriver,
                             public testing::WithParamInterface<AlgorithmAndPlacement> {};

TEST_P(StandinDriverSectors, ReadsDecryptAndWritesEncryptTheBody) {
  const AlgorithmAndPlacement param = GetParam();
  constexpr uint32_t kSectors = 1200;  // room for a write of more than one 256 KiB chunk
  char name[32];
  snprintf(name, sizeof name, "sectors-%d-%d.vmv", param.algorithm, param.placement);
  VolumeFile volume = MakeVolumeFile(name, param.algorithm, param.placement, kSectors);
  MountedDrive mounted(volume, 'Q');
  ASSERT_TRUE(mounted.ok()) << mounted.error();
  Handle drive = mounted.Open();
  ASSERT_TRUE(drive.valid()) << GetLastError();

  // The whole body in one read, and single sectors at their offsets.
  std::vector<uint8_t> all(kSectors * kSector);
  DWORD got = 0;
  ASSERT_EQ(0u, ReadAt(drive, 0, &all, &got));
  EXPECT_EQ(all.size(), got);
  EXPECT_TRUE(all == PlainSectors(0, kSectors));
  for (uint64_t sector : {1ull, 511ull, 512ull, 1199ull}) {
    std::vector<uint8_t> one(kSector);
    ASSERT_EQ(0u, ReadAt(drive, sector * kSector, &one, &got));
    EXPECT_TRUE(one == PlainSectors(sector, 1)) << "sector " << sector;
  }

  // A write across a chunk boundary, read back through the driver and
  // decrypted from the file independently.
  std::vector<uint8_t> written = PlainSectors(100, 600, 0x5A);
  ASSERT_EQ(0u, WriteAt(drive, 100 * kSector, written));
  std::vector<uint8_t> back(written.size());
  ASSERT_EQ(0u, ReadAt(drive, 100 * kSector, &back, &got));
  EXPECT_TRUE(back == written);
  EXPECT_TRUE(DecryptFileSectors(volume, 100, 600) == written);
  EXPECT_TRUE(FlushFileBuffers(drive.get())) << GetLastError();
  // The neighbours and the header are untouched.
  EXPECT_TRUE(DecryptFileSectors(volume, 99, 1) == PlainSectors(99, 1));
  EXPECT_TRUE(DecryptFileSectors(volume, 700, 1) == PlainSectors(700, 1));
  std::vector<uint8_t> file = ReadWholeFile(volume.path);
  ASSERT_EQ(kSectors * kSector + volume.trailer.size(), file.size());
  EXPECT_TRUE(std::vector<uint8_t>(file.begin() + kSectors * kSector, file.end()) ==
              volume.trailer);

  // The driver saw the reads and writes at their offsets.
  std::vector<StandinLogEntry> log = TakeLog();
  std::vector<StandinLogEntry> writes = Entries(log, kStandinMajorWrite);
  ASSERT_EQ(1u, writes.size());
  EXPECT_EQ(100u * kSector, writes[0].offset);
  EXPECT_EQ(written.size(), writes[0].length);
  EXPECT_EQ(written.size(), writes[0].transferred);
  EXPECT_EQ(kStandinVolumeDevice, writes[0].deviceKind);
  EXPECT_EQ(mounted.number(), writes[0].deviceNumber);
  std::vector<StandinLogEntry> reads = Entries(log, kStandinMajorRead);
  EXPECT_EQ(6u, reads.size());
  std::vector<StandinLogEntry> flushes = Entries(log, kStandinMajorFlushBuffers);
  ASSERT_EQ(1u, flushes.size());
  EXPECT_EQ(kStatusSuccess, flushes[0].status);
  // The flush reached the file before it was answered.
  std::vector<StandinLogEntry> fileFlushes = FileOperations(log, kStandinMajorFlushBuffers);
  ASSERT_EQ(1u, fileFlushes.size());
  EXPECT_EQ(kStatusSuccess, fileFlushes[0].status);
  EXPECT_EQ(mounted.number(), fileFlushes[0].deviceNumber);
  EXPECT_LT(fileFlushes[0].sequence, flushes[0].sequence);
  // Every read, write and flush arrived in this thread and was served on
  // the volume's own thread, the same one for all of them.
  reads.insert(reads.end(), writes.begin(), writes.end());
  reads.insert(reads.end(), flushes.begin(), flushes.end());
  for (const StandinLogEntry& entry : reads) {
    EXPECT_EQ(GetCurrentThreadId(), entry.arrivalThread);
    EXPECT_NE(entry.arrivalThread, entry.servingThread);
    EXPECT_EQ(reads[0].servingThread, entry.servingThread);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryAlgorithmAndPlacement, StandinDriverSectors,
    testing::Values(AlgorithmAndPlacement{kAes128, VD_HEADER_IN_VOLUME_FILE},
                    AlgorithmAndPlacement{kAes128, VD_HEADER_EXTERNAL},
                    AlgorithmAndPlacement{kAes256, VD_HEADER_IN_VOLUME_FILE},
                    AlgorithmAndPlacement{kAes256, VD_HEADER_EXTERNAL},
                    AlgorithmAndPlacement{kBlowfish128, VD_HEADER_IN_VOLUME_FILE},
                    AlgorithmAndPlacement{kBlowfish128, VD_HEADER_EXTERNAL},
                    AlgorithmAndPlacement{kBlowfish448, VD_HEADER_IN_VOLUME_FILE},
                    AlgorithmAndPlacement{kBlowfish448, VD_HEADER_EXTERNAL}));

TEST_F(StandinDriver, RefusesUnalignedRequests) {
  VolumeFile volume = MakeVolumeFile("unaligned.vmv", kAes256, VD_HEADER_EXTERNAL, 8);
  MountedDrive mounted(volume, 'U');
  ASSERT_TRUE(mounted.ok());
  Handle drive = mounted.Open();
  std::vector<uint8_t> data(kSector);
  DWORD got = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ReadAt(drive, 100, &data, &got));
  std::vector<uint8_t> partial(100);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ReadAt(drive, 0, &partial, &got));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), WriteAt(drive, 1, data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), WriteAt(drive, 0, partial));
  EXPECT_TRUE(DecryptFileSectors(volume, 0, 8) == PlainSectors(0, 8));
}

TEST_F(StandinDriver, ReadsEndCleanlyAtTheEndOfTheBodyAndWritesNeverPassIt) {
  VolumeFile volume = MakeVolumeFile("end.vmv", kBlowfish448, VD_HEADER_IN_VOLUME_FILE, 16);
  MountedDrive mounted(volume, 'E');
  ASSERT_TRUE(mounted.ok());
  Handle drive = mounted.Open();
  DWORD got = 1;
  std::vector<uint8_t> data(4 * kSector);
  // Across the end: the sectors before it.
  ASSERT_EQ(0u, ReadAt(drive, 14 * kSector, &data, &got));
  EXPECT_EQ(2 * kSector, got);
  EXPECT_TRUE(std::vector<uint8_t>(data.begin(), data.begin() + got) == PlainSectors(14, 2));
  // At the end and beyond: end of file, nothing read.
  EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), ReadAt(drive, 16 * kSector, &data, &got));
  EXPECT_EQ(0u, got);
  EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), ReadAt(drive, 1ull << 40, &data, &got));
  // A write that would reach the header is refused as a whole.
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL),
            WriteAt(drive, 14 * kSector, PlainSectors(14, 4, 0x33)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), WriteAt(drive, 16 * kSector, PlainSectors(0, 1)));
  std::vector<uint8_t> file = ReadWholeFile(volume.path);
  ASSERT_EQ(16 * kSector + kHeaderSize, file.size());
  EXPECT_TRUE(std::vector<uint8_t>(file.begin() + 16 * kSector, file.end()) == volume.trailer);
  EXPECT_TRUE(DecryptFileSectors(volume, 14, 2) == PlainSectors(14, 2));
}

TEST_F(StandinDriver, ReadOnlyMountRefusesWritesAndNeedsNoWriteAccess) {
  VolumeFile volume = MakeVolumeFile("readonly.vmv", kAes128, VD_HEADER_IN_VOLUME_FILE, 8);
  {
    // While another handle keeps writers out, the file mounts read-only only.
    Handle reader(CreateFileA(volume.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader.valid());
    int8_t number = -1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
              SendMount(MountRequest(volume, 'W', false), &number));
    MountedDrive mounted(volume, 'W', true);
    ASSERT_TRUE(mounted.ok()) << mounted.error();
    Handle drive = mounted.Open(GENERIC_READ);
    ASSERT_TRUE(drive.valid());
    std::vector<uint8_t> data(8 * kSector);
    DWORD got = 0;
    ASSERT_EQ(0u, ReadAt(drive, 0, &data, &got));
    EXPECT_TRUE(data == PlainSectors(0, 8));
    Handle writable = mounted.Open();
    ASSERT_TRUE(writable.valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_PROTECT), WriteAt(writable, 0, PlainSectors(0, 1, 9)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_PROTECT),
              Control(writable, IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0));
  }
  EXPECT_TRUE(DecryptFileSectors(volume, 0, 8) == PlainSectors(0, 8));
}

// ---------------------------------------------------------------------------
// The drive-letter device's controls.

TEST_F(StandinDriver, QueryAnswersPathAlgorithmAndBodySize) {
  VolumeFile volume = MakeVolumeFile("query.vmv", kBlowfish128, VD_HEADER_IN_VOLUME_FILE, 24);
  MountedDrive mounted(volume, 'V', true);
  ASSERT_TRUE(mounted.ok());
  Handle drive = mounted.Open(GENERIC_READ);
  VolumeControlRecord reply;
  memset(&reply, 0xCC, sizeof reply);
  DWORD returned = 0;
  ASSERT_EQ(0u, Control(drive, IOCTL_VD_QUERY_VOLUME, nullptr, 0, &reply, sizeof reply, &returned));
  EXPECT_EQ(sizeof reply, returned);
  EXPECT_EQ("\\??\\" + volume.path, reply.targetPath);
  EXPECT_EQ(kBlowfish128, reply.algorithm);
  EXPECT_EQ(24u * kSector, reply.volumeSize);
  EXPECT_EQ(mounted.number(), reply.deviceNumber);
  for (uint8_t byte : reply.sectorKey) ASSERT_EQ(0, byte);
  for (uint8_t byte : reply.sectorIvSeed) ASSERT_EQ(0, byte);
  EXPECT_NE(0u, Control(drive, IOCTL_VD_QUERY_VOLUME, nullptr, 0, &reply, sizeof reply - 1));
}

TEST_F(StandinDriver, IdleCountersAreHeldPerVolumeAndMarkedUsedByReadsAndWrites) {
  VolumeFile first = MakeVolumeFile("idle-1.vmv", kAes128, VD_HEADER_EXTERNAL, 8);
  VolumeFile second = MakeVolumeFile("idle-2.vmv", kAes256, VD_HEADER_EXTERNAL, 8);
  MountedDrive one(first, 'I');
  MountedDrive two(second, 'J');
  ASSERT_TRUE(one.ok() && two.ok());
  // A new mount reads as "rearm".
  EXPECT_EQ(VD_IDLE_REARM, GetIdle('I'));
  SetIdle('I', 5);
  SetIdle('J', 9);
  EXPECT_EQ(5, GetIdle('I'));
  EXPECT_EQ(9, GetIdle('J'));

  // Opening the drive and sending controls is no use of the volume.
  Handle drive = one.Open();
  EXPECT_EQ(5, GetIdle('I'));
  std::vector<uint8_t> data(kSector);
  DWORD got = 0;
  // Refused requests are none either.
  EXPECT_NE(0u, ReadAt(drive, 3, &data, &got));
  EXPECT_EQ(5, GetIdle('I'));
  ASSERT_EQ(0u, ReadAt(drive, 0, &data, &got));
  EXPECT_EQ(VD_IDLE_REARM, GetIdle('I'));
  EXPECT_EQ(9, GetIdle('J'));
  SetIdle('I', 2);
  ASSERT_EQ(0u, WriteAt(drive, kSector, data));
  EXPECT_EQ(VD_IDLE_REARM, GetIdle('I'));
  // Any value may be stored, the "timed out" one included.
  SetIdle('J', VD_IDLE_TIMED_OUT);
  EXPECT_EQ(VD_IDLE_TIMED_OUT, GetIdle('J'));

  Handle reader = OpenDrive('I', 0);
  IdleCounter counter = 0;
  EXPECT_NE(0u, Control(reader, IOCTL_VD_GET_IDLE, nullptr, 0, &counter, 0));
  Handle writer = OpenDrive('I', GENERIC_WRITE);
  EXPECT_NE(0u, Control(writer, IOCTL_VD_SET_IDLE, nullptr, 0, nullptr, 0));
}

TEST_F(StandinDriver, AnswersTheDismountSequenceAsAVolumeWithoutAFileSystem) {
  VolumeFile volume = MakeVolumeFile("fsctl.vmv", kAes128, VD_HEADER_EXTERNAL, 8);
  MountedDrive mounted(volume, 'F');
  ASSERT_TRUE(mounted.ok());
  Handle drive = mounted.Open();
  DWORD returned = 0;
  DeviceIoControl(drive.get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  DeviceIoControl(drive.get(), FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  DeviceIoControl(drive.get(), FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  // Whatever reached the driver was answered with success; the dismount at
  // least always reaches it.
  std::vector<StandinLogEntry> controls = Entries(TakeLog(), kStandinMajorDeviceControl);
  bool sawDismount = false;
  for (const StandinLogEntry& entry : controls) {
    EXPECT_EQ(kStatusSuccess, entry.status) << std::hex << entry.controlCode;
    sawDismount |= entry.controlCode == VD_FSCTL_DISMOUNT_VOLUME;
  }
  EXPECT_TRUE(sawDismount);
  // The volume stays mounted in the driver until the driver's own dismount.
  std::vector<uint8_t> data(kSector);
  DWORD got = 0;
  EXPECT_EQ(0u, ReadAt(drive, 0, &data, &got));
}

// ---------------------------------------------------------------------------
// Who may open the devices.

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "?";
  std::string result = text;
  LocalFree(text);
  return result;
}

// A device's DACL, "SID:mask " for each allowed entry, as the driver reads it
// back from the device object (under Wine a handle does not show it).
std::string DeviceAcl(const Handle& device) {
  std::vector<uint8_t> descriptor(1024);
  StandinTestRequest request = {kStandinReadSecurity, 0, 0, 0, 0};
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  if (Control(device, IOCTL_VD_STANDIN_TEST, &request, sizeof request, descriptor.data(),
              static_cast<DWORD>(descriptor.size())) != 0 ||
      !GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted) || acl == nullptr) {
    return "no DACL";
  }
  std::string text;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) return "bad entry";
    char mask[16];
    snprintf(mask, sizeof mask, ":%lx%s ", ace->Mask,
             ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE ? "" : "?");
    text += SidText(&ace->SidStart) + mask;
  }
  return text;
}

TEST_F(StandinDriver, DevicesLetInSystemAdministratorsAndTheirUsersOnly) {
  // FILE_ALL_ACCESS for SYSTEM and Administrators; FILE_GENERIC_READ and
  // FILE_GENERIC_WRITE for any signed-in user on the control device, whose
  // requests the driver checks one by one, and for the mounting user on a
  // volume device.
  const std::string kAdministrators = "S-1-5-18:1f01ff S-1-5-32-544:1f01ff ";
  EXPECT_EQ(kAdministrators + "S-1-5-11:12019f ", DeviceAcl(OpenControlDevice()));
  VolumeFile volume = MakeVolumeFile("acl.vmv", kAes128, VD_HEADER_EXTERNAL, 8);
  MountedDrive mounted(volume, 'B');
  ASSERT_TRUE(mounted.ok());
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  std::vector<uint8_t> user(256);
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(), 256, &size));
  CloseHandle(token);
  EXPECT_EQ(
      kAdministrators + SidText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid) + ":12019f ",
      DeviceAcl(mounted.Open()));
}

// ---------------------------------------------------------------------------
// The disk controls that Windows sends before a file system mounts.

// From the DDK's mountdev.h and mountmgr.h, which user mode lacks.
constexpr DWORD kQueryUniqueId = CTL_CODE(0x4D, 0, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kQueryDeviceName = CTL_CODE(0x4D, 2, METHOD_BUFFERED, FILE_ANY_ACCESS);

struct DiskControlCase {
  DWORD code;
  DWORD inSize;  // bytes of zeroed input
  DWORD outSize;
  DWORD error;          // the Win32 error on a read-write volume, 0 for success
  DWORD readOnlyError;  // and on a read-only one
  DWORD returned;       // bytes answered on success
};

template <typename T>
T As(const std::vector<uint8_t>& reply) {
  T value = {};
  memcpy(&value, reply.data(), std::min(sizeof value, reply.size()));
  return value;
}

class StandinDriverDiskControls : public StandinDriver, public testing::WithParamInterface<bool> {};

TEST_P(StandinDriverDiskControls, AnswerWhatADiskAnswers) {
  const bool readOnly = GetParam();
  VolumeFile volume = MakeVolumeFile(readOnly ? "disk-ro.vmv" : "disk-rw.vmv", kAes128,
                                     VD_HEADER_IN_VOLUME_FILE, 24);
  MountedDrive mounted(volume, 'W', readOnly);
  ASSERT_TRUE(mounted.ok()) << mounted.error();
  Handle drive = mounted.Open();
  const std::string name = VolumeDeviceName(mounted.number());
  const DWORD nameBytes = static_cast<DWORD>(2 + 2 * name.size());
  const DWORD kUnknown = ERROR_INVALID_FUNCTION, kShort = ERROR_INSUFFICIENT_BUFFER,
              kProtected = ERROR_WRITE_PROTECT, kBadInput = ERROR_INVALID_PARAMETER;
  constexpr DWORD kPartitionEx = sizeof(PARTITION_INFORMATION_EX);
  const DiskControlCase cases[] = {
      {IOCTL_DISK_GET_DRIVE_GEOMETRY, 0, 24, 0, 0, 24},
      {IOCTL_DISK_GET_DRIVE_GEOMETRY, 0, 23, kShort, kShort, 0},
      {IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, 0, sizeof(DISK_GEOMETRY_EX), 0, 0, 32},
      {IOCTL_STORAGE_GET_MEDIA_TYPES, 0, 24, 0, 0, 24},
      {IOCTL_DISK_GET_PARTITION_INFO, 0, 32, 0, 0, 32},
      {IOCTL_DISK_GET_PARTITION_INFO_EX, 0, kPartitionEx - 1, kShort, kShort, 0},
      {IOCTL_DISK_GET_PARTITION_INFO_EX, 0, kPartitionEx, 0, 0, kPartitionEx},
      {IOCTL_DISK_GET_LENGTH_INFO, 0, 8, 0, 0, 8},
      {IOCTL_DISK_CHECK_VERIFY, 0, 0, 0, 0, 0},
      {IOCTL_STORAGE_CHECK_VERIFY, 0, 4, 0, 0, 4},
      {IOCTL_STORAGE_CHECK_VERIFY2, 0, 4, 0, 0, 4},
      {IOCTL_DISK_IS_WRITABLE, 0, 0, 0, kProtected, 0},
      {IOCTL_STORAGE_GET_DEVICE_NUMBER, 0, 12, 0, 0, 12},
      {IOCTL_STORAGE_GET_HOTPLUG_INFO, 0, 8, 0, 0, 8},
      {IOCTL_DISK_MEDIA_REMOVAL, 1, 0, 0, 0, 0},
      {IOCTL_STORAGE_MEDIA_REMOVAL, 0, 0, kBadInput, kBadInput, 0},
      {kQueryDeviceName, 0, 4, ERROR_MORE_DATA, ERROR_MORE_DATA, 0},
      {kQueryDeviceName, 0, 256, 0, 0, nameBytes},
      {kQueryUniqueId, 0, 256, 0, 0, nameBytes},
      {IOCTL_DISK_VERIFY, sizeof(VERIFY_INFORMATION), 0, 0, 0, 0},
      {IOCTL_DISK_SET_PARTITION_INFO, 1, 0, 0, kProtected, 0},
      {IOCTL_DISK_UPDATE_PROPERTIES, 0, 0, 0, 0, 0},
      {IOCTL_DISK_GET_DRIVE_LAYOUT_EX, 0, 4096, kUnknown, kUnknown, 0},
      {IOCTL_STORAGE_QUERY_PROPERTY, 12, 4096, kUnknown, kUnknown, 0},
      {IOCTL_VD_GET_VERSION, 0, 12, kUnknown, kUnknown, 0},
  };
  TakeLog();
  std::map<DWORD, std::vector<uint8_t>> replies;  // of each code, the last answered
  for (const DiskControlCase& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code << " out " << c.outSize);
    std::vector<uint8_t> input(c.inSize + 1), reply(c.outSize + 16, 0xCC);
    DWORD returned = 0;
    const DWORD error =
        Control(drive, c.code, input.data(), c.inSize, reply.data(), c.outSize, &returned);
    EXPECT_EQ(readOnly ? c.readOnlyError : c.error, error);
    if (error == 0) {
      EXPECT_EQ(c.returned, returned);
    }
    if (error == ERROR_MORE_DATA) {
      EXPECT_EQ(2 * name.size(), As<USHORT>(reply));  // the length alone
    }
    if (error == 0) replies[c.code] = reply;
    // Nothing past the output buffer was written; the request reached the
    // driver.
    EXPECT_EQ(std::vector<uint8_t>(16, 0xCC), std::vector<uint8_t>(reply.end() - 16, reply.end()));
    EXPECT_EQ(1u, Entries(TakeLog(), kStandinMajorDeviceControl, c.code).size());
  }
  const LONGLONG size = 24 * kSector;
  VERIFY_INFORMATION pastTheEnd = {};
  pastTheEnd.StartingOffset.QuadPart = size - kSector;
  pastTheEnd.Length = 2 * kSector;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SECTOR_NOT_FOUND),
            Control(drive, IOCTL_DISK_VERIFY, &pastTheEnd, sizeof pastTheEnd, nullptr, 0));
  const auto geometry = As<DISK_GEOMETRY>(replies[IOCTL_DISK_GET_DRIVE_GEOMETRY]);
  EXPECT_EQ(kSector, geometry.BytesPerSector);
  EXPECT_EQ(size, geometry.Cylinders.QuadPart * geometry.TracksPerCylinder *
                      geometry.SectorsPerTrack * geometry.BytesPerSector);
  EXPECT_EQ(size,
            As<DISK_GEOMETRY_EX>(replies[IOCTL_DISK_GET_DRIVE_GEOMETRY_EX]).DiskSize.QuadPart);
  const auto partition = As<PARTITION_INFORMATION>(replies[IOCTL_DISK_GET_PARTITION_INFO]);
  EXPECT_EQ(size, partition.PartitionLength.QuadPart);
  EXPECT_EQ(0, partition.StartingOffset.QuadPart);
  EXPECT_EQ(PARTITION_IFS, partition.PartitionType);
  const auto partitionEx = As<PARTITION_INFORMATION_EX>(replies[IOCTL_DISK_GET_PARTITION_INFO_EX]);
  EXPECT_EQ(PARTITION_STYLE_MBR, partitionEx.PartitionStyle);
  EXPECT_EQ(size, partitionEx.PartitionLength.QuadPart);
  EXPECT_EQ(size, As<GET_LENGTH_INFORMATION>(replies[IOCTL_DISK_GET_LENGTH_INFO]).Length.QuadPart);
  EXPECT_EQ(0u, As<ULONG>(replies[IOCTL_STORAGE_CHECK_VERIFY]));  // no media change
  const auto number = As<STORAGE_DEVICE_NUMBER>(replies[IOCTL_STORAGE_GET_DEVICE_NUMBER]);
  EXPECT_EQ(static_cast<DEVICE_TYPE>(FILE_DEVICE_DISK), number.DeviceType);
  EXPECT_EQ(0xFFFFFFFFu, number.PartitionNumber);  // cannot be partitioned
  EXPECT_TRUE(As<STORAGE_HOTPLUG_INFO>(replies[IOCTL_STORAGE_GET_HOTPLUG_INFO]).DeviceHotplug);
  // A counted UTF-16 name, the same as the unique identifier.
  const std::wstring wide(name.begin(), name.end());
  for (DWORD code : {kQueryDeviceName, kQueryUniqueId}) {
    EXPECT_EQ(wide.size() * 2, As<USHORT>(replies[code]));
    EXPECT_EQ(0, memcmp(replies[code].data() + 2, wide.data(), wide.size() * 2));
  }
}

INSTANTIATE_TEST_SUITE_P(ReadWriteAndReadOnly, StandinDriverDiskControls, testing::Bool());

// The mount manager's name and identifier queries at every output size: a
// buffer shorter than the record is refused, one too short for the name
// gets the 2-byte length alone, a long enough one the whole name; the bytes
// answered are exactly the bytes written, and nothing past them is touched.
TEST_F(StandinDriver, MountDevQueriesAnswerOnlyTheBytesTheyWrite) {
  VolumeFile volume = MakeVolumeFile("mountdev.vmv", kAes128, VD_HEADER_EXTERNAL, 8);
  MountedDrive mounted(volume, 'M');
  ASSERT_TRUE(mounted.ok());
  Handle drive = mounted.Open(0);
  const std::string name = VolumeDeviceName(mounted.number());
  const std::wstring wide(name.begin(), name.end());
  const DWORD nameBytes = static_cast<DWORD>(2 + 2 * wide.size());
  for (DWORD code : {kQueryDeviceName, kQueryUniqueId}) {
    for (DWORD size = 0; size <= nameBytes + 2; ++size) {
      SCOPED_TRACE(testing::Message() << std::hex << code << std::dec << " size " << size);
      const DWORD error = size < 4           ? ERROR_INSUFFICIENT_BUFFER
                          : size < nameBytes ? ERROR_MORE_DATA
                                             : 0;
      const DWORD expected = error == ERROR_MORE_DATA ? 2 : error == 0 ? nameBytes : 0;
      std::vector<uint8_t> reply(size + 8, 0xCC);
      DWORD returned = 0xDEAD;
      EXPECT_EQ(error, Control(drive, code, nullptr, 0, reply.data(), size, &returned));
      EXPECT_EQ(expected, returned);
      if (expected >= 2) {
        EXPECT_EQ(wide.size() * 2, As<USHORT>(reply));
      }
      if (expected == nameBytes) {
        EXPECT_EQ(0, memcmp(reply.data() + 2, wide.data(), nameBytes - 2));
      }
      EXPECT_EQ(std::vector<uint8_t>(reply.size() - expected, 0xCC),
                std::vector<uint8_t>(reply.begin() + expected, reply.end()));
    }
  }
}

// ---------------------------------------------------------------------------
// Dismount.

// Logon sessions chosen through the test control code; all 64 bits count,
// and the low halves of Alice's and Bob's are equal.
constexpr uint64_t kAlice = 0x0000000100004321ull, kBob = 0x0000000200004321ull, kCarol = 0x77;

// The owner's session (its low half) that a query of the drive answers.
DWORD QueryOwner(char letter, uint32_t* owner) {
  VolumeControlRecord reply = {};
  DWORD error = Control(OpenDrive(letter, GENERIC_READ), IOCTL_VD_QUERY_VOLUME, nullptr, 0, &reply,
                        sizeof reply);
  *owner = reply.logonSessionId;
  return error;
}

TEST_F(StandinDriver, SessionsComeFromTheOpenersTokenNeverFromTheRequest) {
  VolumeFile alices = MakeVolumeFile("alice.vmv", kAes256, VD_HEADER_IN_VOLUME_FILE, 8);
  VolumeFile bobs = MakeVolumeFile("bob.vmv", kAes256, VD_HEADER_EXTERNAL, 8);
  const DWORD kDenied = ERROR_ACCESS_DENIED;
  ASSERT_EQ(0u, ChooseCaller(true, kAlice));
  MountedDrive mounted(alices, 'O');  // the request names the session kSession
  ASSERT_TRUE(mounted.ok());
  Handle open = mounted.Open();
  uint32_t owner = 0;
  ASSERT_EQ(0u, QueryOwner('O', &owner));
  EXPECT_EQ(static_cast<uint32_t>(kAlice), owner);

  // Bob neither queries Alice's volume, nor reads its idle counter, nor
  // dismounts it, whatever session his request names. A handle is its
  // opener's, whoever sends on it: Alice's handle still reads the counter.
  ASSERT_EQ(0u, ChooseCaller(true, kBob));
  EXPECT_EQ(kDenied, QueryOwner('O', &owner));
  IdleCounter idle = 0;
  EXPECT_EQ(kDenied, Control(mounted.Open(), IOCTL_VD_GET_IDLE, nullptr, 0, &idle, sizeof idle));
  EXPECT_EQ(0u, Control(open, IOCTL_VD_GET_IDLE, nullptr, 0, &idle, sizeof idle));
  EXPECT_EQ(kDenied, SendDismount('O', static_cast<uint32_t>(kAlice)));
  // His own volume on O (drive letters are per session on Windows) is the
  // one his dismount of O takes; then only Alice's is left there.
  int8_t number = -1;
  ASSERT_EQ(0u, SendMount(MountRequest(bobs, 'O', false), &number));
  EXPECT_EQ(0u, SendDismount('o', 0));
  EXPECT_EQ(kDenied, SendDismount('O', 0));
  EXPECT_NE(0u, SendDismount('G', 0));

  // An administrator of another session queries and dismounts it. A handle
  // still open serves nothing more, and the file is closed.
  ASSERT_EQ(0u, ChooseCaller(true, kCarol, true));
  ASSERT_EQ(0u, QueryOwner('O', &owner));
  EXPECT_EQ(0u, SendDismount('O', 0));
  std::vector<uint8_t> data(kSector);
  DWORD got = 0;
  EXPECT_NE(0u, ReadAt(open, 0, &data, &got));
  EXPECT_TRUE(Handle(CreateFileA(alices.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr))
                  .valid());
}

TEST_F(StandinDriver, AMountedVolumeFileCannotBeWrittenByOthers) {
  VolumeFile volume = MakeVolumeFile("shared.vmv", kAes128, VD_HEADER_EXTERNAL, 8);
  MountedDrive mounted(volume, 'H');
  ASSERT_TRUE(mounted.ok());
  Handle writer(CreateFileA(volume.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer.valid());
  int8_t number = -1;
  EXPECT_NE(0u, SendMount(MountRequest(volume, 'P', false), &number));
}

// A thread that impersonates a client below SecurityImpersonation level
// cannot act as that client, and the driver takes no session or rights from
// such a token: mount, query and dismount on handles it opened are refused.
// At impersonation level and above the token counts. (Windows refuses such
// an open itself; Wine lets it through to the driver.)
TEST_F(StandinDriver, TokensBelowImpersonationLevelAreRefused) {
  VolumeFile volume = MakeVolumeFile("levels.vmv", kAes128, VD_HEADER_EXTERNAL, 8);
  VolumeFile other = MakeVolumeFile("levels-2.vmv", kAes256, VD_HEADER_EXTERNAL, 8);
  MountedDrive mounted(volume, 'T');
  ASSERT_TRUE(mounted.ok());
  const DWORD kRefused = ERROR_BAD_IMPERSONATION_LEVEL;
  const struct {
    SECURITY_IMPERSONATION_LEVEL level;
    DWORD error;
  } cases[] = {{SecurityAnonymous, kRefused},
               {SecurityIdentification, kRefused},
               {SecurityImpersonation, 0},
               {SecurityDelegation, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "level " << c.level);
    ASSERT_TRUE(ImpersonateSelf(c.level));
    uint32_t owner = 0;
    const DWORD query = QueryOwner('T', &owner);
    int8_t number = -1;
    const DWORD mount = SendMount(MountRequest(other, 'G', false), &number);
    const DWORD dismount = SendDismount(c.error == 0 ? 'G' : 'T', 0);
    RevertToSelf();
    EXPECT_EQ(c.error, query);
    EXPECT_EQ(c.error, mount);
    EXPECT_EQ(c.error, dismount);
    EXPECT_EQ(0u, QueryOwner('T', &owner)) << "the volume stays mounted";
  }
}

// ---------------------------------------------------------------------------
// The test control code.

TEST_F(StandinDriver, LogsWhatItReceived) {
  VolumeFile volume = MakeVolumeFile("log.vmv", kBlowfish448, VD_HEADER_EXTERNAL, 8);
  {
    MountedDrive mounted(volume, 'N', true);
    ASSERT_TRUE(mounted.ok());
    Handle drive = mounted.Open(GENERIC_READ);
    std::vector<uint8_t> data(2 * kSector);
    DWORD got = 0;
    ASSERT_EQ(0u, ReadAt(drive, 4 * kSector, &data, &got));
  }
  std::vector<StandinLogEntry> log = TakeLog();
  std::vector<StandinLogEntry> mounts = Entries(log, kStandinMajorDeviceControl, IOCTL_VD_MOUNT);
  ASSERT_EQ(1u, mounts.size());
  EXPECT_EQ("\\??\\" + volume.path, mounts[0].targetPath);
  EXPECT_EQ('N', mounts[0].driveLetter);
  EXPECT_EQ(kBlowfish448, mounts[0].algorithm);
  EXPECT_EQ(VD_HEADER_EXTERNAL, mounts[0].headerPlacement);
  EXPECT_EQ(1, mounts[0].readOnly);
  EXPECT_EQ(kSession, mounts[0].logonSessionId);
  EXPECT_EQ(sizeof(VolumeControlRecord), mounts[0].inputLength);
  EXPECT_EQ(sizeof(VolumeControlRecord), mounts[0].outputLength);
  EXPECT_EQ(kStandinControlDevice, mounts[0].deviceKind);
  EXPECT_EQ(-1, mounts[0].deviceNumber);

  std::vector<StandinLogEntry> reads = Entries(log, kStandinMajorRead);
  ASSERT_EQ(1u, reads.size());
  EXPECT_EQ(4u * kSector, reads[0].offset);
  EXPECT_EQ(2 * kSector, reads[0].length);
  EXPECT_EQ(kStatusSuccess, reads[0].status);
  EXPECT_EQ(0, reads[0].injected);
  // In order, with rising sequence numbers; what was taken is gone.
  for (size_t i = 1; i < log.size(); ++i) EXPECT_EQ(log[i - 1].sequence + 1, log[i].sequence);
  std::vector<StandinLogEntry> next = TakeLog();
  EXPECT_TRUE(Entries(next, kStandinMajorRead).empty());
  EXPECT_TRUE(Entries(next, kStandinMajorDeviceControl).empty());
}

TEST_F(StandinDriver, LogKeepsTheMostRecentEntries) {
  Handle control = OpenControlDevice();
  DriverVersion version;
  for (uint32_t i = 0; i < kStandinLogCapacity + 10; ++i) {
    Control(control, IOCTL_VD_GET_VERSION, nullptr, 0, &version, sizeof version);
  }
  std::vector<StandinLogEntry> log = TakeLog();
  ASSERT_EQ(kStandinLogCapacity, log.size());
  EXPECT_EQ(log.front().sequence + kStandinLogCapacity - 1, log.back().sequence);
  // Only the loop's requests are left (and the opening of the device that
  // took the log).
  EXPECT_GE(Entries(log, kStandinMajorDeviceControl, IOCTL_VD_GET_VERSION).size(),
            kStandinLogCapacity - 2);
  EXPECT_EQ(Entries(log, kStandinMajorDeviceControl).size(),
            Entries(log, kStandinMajorDeviceControl, IOCTL_VD_GET_VERSION).size());
}

TEST_F(StandinDriver, MakesChosenRequestsFail) {
  VolumeFile volume = MakeVolumeFile("fail.vmv", kAes128, VD_HEADER_EXTERNAL, 8);
  int8_t lowestFree = -1;
  ASSERT_EQ(0u, SendMount(MountRequest(volume, 'Y', false), &lowestFree));
  ASSERT_EQ(0u, SendDismount('Y', kSession));
  // A failed mount leaves nothing behind.
  ASSERT_EQ(0u, FailRequests(kStandinMajorDeviceControl, IOCTL_VD_MOUNT, kStatusAccessDenied, 1));
  int8_t number = -1;
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
            SendMount(MountRequest(volume, 'Y', false), &number));
  MountedDrive mounted(volume, 'Y');
  ASSERT_TRUE(mounted.ok());
  EXPECT_EQ(lowestFree, mounted.number());

  // Two reads fail, the third is served.
  ASSERT_EQ(0u, FailRequests(kStandinMajorRead, 0, kStatusDeviceBusy, 2));
  Handle drive = mounted.Open();
  std::vector<uint8_t> data(kSector);
  DWORD got = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), ReadAt(drive, 0, &data, &got));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), ReadAt(drive, 0, &data, &got));
  EXPECT_EQ(0u, ReadAt(drive, 0, &data, &got));

  // The file-system dismount of the dismount sequence, refused as busy.
  ASSERT_EQ(
      0u, FailRequests(kStandinMajorDeviceControl, VD_FSCTL_DISMOUNT_VOLUME, kStatusDeviceBusy, 1));
  DWORD returned = 0;
  EXPECT_FALSE(DeviceIoControl(drive.get(), FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0,
                               &returned, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), GetLastError());

  std::vector<StandinLogEntry> reads = Entries(TakeLog(), kStandinMajorRead);
  ASSERT_EQ(3u, reads.size());
  EXPECT_EQ(kStatusDeviceBusy, reads[0].status);
  EXPECT_EQ(1, reads[0].injected);
  EXPECT_EQ(kStatusSuccess, reads[2].status);

  // Opening a device. (Under Wine the handle opens whatever the driver
  // answers, so only what the driver did is asserted.)
  ASSERT_EQ(0u, FailRequests(kStandinMajorCreate, 0, kStatusAccessDenied, 1));
  OpenControlDevice();
  std::vector<StandinLogEntry> creates = Entries(TakeLog(), kStandinMajorCreate);
  int injectedCreates = 0;
  for (const StandinLogEntry& entry : creates) {
    if (entry.injected == 0) continue;
    ++injectedCreates;
    EXPECT_EQ(kStatusAccessDenied, entry.status);
    EXPECT_EQ(kStandinControlDevice, entry.deviceKind);
  }
  EXPECT_EQ(1, injectedCreates);

  // Only failures can be armed.
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            FailRequests(kStandinMajorRead, 0, kStatusSuccess, 1));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            FailRequests(0xFF, 0, kStatusDeviceBusy, 1));
}

// ---------------------------------------------------------------------------
// The service's life.

TEST_F(StandinDriver, TheShippedDriverAnswersItsVersionButNoTestCode) {
  RemoveService();
  ASSERT_TRUE(StartDriverService(DriverPath(VM_SHIPPED_DRIVER_PATH)));
  {
    Handle control = OpenControlDevice();
    DriverVersion version = {-1, -1, -1};
    EXPECT_EQ(0u, Control(control, IOCTL_VD_GET_VERSION, nullptr, 0, &version, sizeof version));
    EXPECT_EQ(kStandinVersionMajor, version.major);
    // Neither the log, nor an injected failure, nor a chosen caller, nor a DACL.
    for (uint32_t command :
         {kStandinTakeLog, kStandinFailRequests, kStandinChooseCaller, kStandinReadSecurity}) {
      StandinTestRequest request = {command, kStandinMajorRead, 0, kStatusDeviceBusy, 1, 1, 1, 1};
      uint8_t reply[sizeof(StandinLogEntry)];
      EXPECT_EQ(
          static_cast<DWORD>(ERROR_INVALID_FUNCTION),
          Control(control, IOCTL_VD_STANDIN_TEST, &request, sizeof request, reply, sizeof reply))
          << command;
    }
  }
  RemoveService();
  ASSERT_TRUE(StartDriverService());
}

}  // namespace
