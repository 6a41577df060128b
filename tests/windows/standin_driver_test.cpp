// The stand-in driver velmorcrypt.sys, installed through the service manager
// and driven through raw device requests: the control device, volume devices
// behind a drive letter, sector reads and writes against volume files that
// the tests build themselves, and the driver's test log and failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <winioctl.h>

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

// The driver's path in the form the service manager takes: under Wine the
// build tree's Unix path is turned into a DOS path.
using driver_support::BuiltDriverPath;

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

bool StartDriverService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    std::string path = BuiltDriverPath();
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

bool StopDriverService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  SERVICE_STATUS status;
  bool stopped = service != nullptr && ControlService(service, SERVICE_CONTROL_STOP, &status);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return stopped;
}

// The driver runs for the whole test program.
class DriverService : public testing::Environment {
 public:
  void SetUp() override {
    RemoveService();
    ASSERT_TRUE(StartDriverService()) << "error " << GetLastError() << " for " << BuiltDriverPath();
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

// The entries of one major function (and control code) from a log.
std::vector<StandinLogEntry> Entries(const std::vector<StandinLogEntry>& log, uint8_t major,
                                     uint32_t code = 0) {
  std::vector<StandinLogEntry> found;
  for (const StandinLogEntry& entry : log) {
    if (entry.majorFunction == major && (code == 0 || entry.controlCode == code)) {
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
    TakeLog();
  }
  void TearDown() override { FailRequests(0, 0, 0, 0); }
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
  // A path that fills all 260 bytes is cut at its last byte by the driver;
  // no such file exists.
  request = good;
  memset(request.targetPath, 'a', sizeof request.targetPath);
  EXPECT_NE(0u, SendMount(request, &number));

  Handle control = OpenControlDevice();
  VolumeControlRecord answer;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            Control(control, IOCTL_VD_MOUNT, &good, sizeof good - 1, &answer, sizeof answer));
  EXPECT_NE(0u, Control(control, IOCTL_VD_MOUNT, &good, sizeof good, &answer, sizeof answer - 1));

  std::vector<StandinLogEntry> mounts =
      Entries(TakeLog(), kStandinMajorDeviceControl, IOCTL_VD_MOUNT);
  ASSERT_EQ(9u, mounts.size());
  for (const StandinLogEntry& entry : mounts) EXPECT_NE(kStatusSuccess, entry.status);
  // The driver terminated the path it saw.
  EXPECT_EQ(std::string(VD_TARGET_PATH_SIZE - 1, 'a'), mounts[6].targetPath);
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
  constexpr uint32_t kSectors = 300;  // more than one 64 KiB chunk
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
  for (uint64_t sector : {1ull, 127ull, 128ull, 299ull}) {
    std::vector<uint8_t> one(kSector);
    ASSERT_EQ(0u, ReadAt(drive, sector * kSector, &one, &got));
    EXPECT_TRUE(one == PlainSectors(sector, 1)) << "sector " << sector;
  }

  // A write across a chunk boundary, read back through the driver and
  // decrypted from the file independently.
  std::vector<uint8_t> written = PlainSectors(100, 140, 0x5A);
  ASSERT_EQ(0u, WriteAt(drive, 100 * kSector, written));
  std::vector<uint8_t> back(written.size());
  ASSERT_EQ(0u, ReadAt(drive, 100 * kSector, &back, &got));
  EXPECT_TRUE(back == written);
  EXPECT_TRUE(DecryptFileSectors(volume, 100, 140) == written);
  EXPECT_TRUE(FlushFileBuffers(drive.get())) << GetLastError();
  // The neighbours and the header are untouched.
  EXPECT_TRUE(DecryptFileSectors(volume, 99, 1) == PlainSectors(99, 1));
  EXPECT_TRUE(DecryptFileSectors(volume, 240, 1) == PlainSectors(240, 1));
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
  EXPECT_EQ(6u, Entries(log, kStandinMajorRead).size());
  std::vector<StandinLogEntry> flushes = Entries(log, kStandinMajorFlushBuffers);
  ASSERT_EQ(1u, flushes.size());
  EXPECT_EQ(kStatusSuccess, flushes[0].status);
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

  GET_LENGTH_INFORMATION length;
  ASSERT_EQ(0u, Control(drive, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length));
  EXPECT_EQ(24 * kSector, length.Length.QuadPart);
  DISK_GEOMETRY geometry;
  ASSERT_EQ(0u,
            Control(drive, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry));
  EXPECT_EQ(kSector, geometry.BytesPerSector);
  EXPECT_EQ(24 * kSector, geometry.Cylinders.QuadPart * geometry.TracksPerCylinder *
                              geometry.SectorsPerTrack * geometry.BytesPerSector);
  // The control device's codes are not the volume's.
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION),
            Control(drive, IOCTL_VD_GET_VERSION, nullptr, 0, &reply, sizeof reply));
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
// Dismount.

TEST_F(StandinDriver, DismountsByDriveLetterAndLogonSession) {
  VolumeFile volume = MakeVolumeFile("dismount.vmv", kAes256, VD_HEADER_IN_VOLUME_FILE, 8);
  int8_t number = -1;
  ASSERT_EQ(0u, SendMount(MountRequest(volume, 'D', false), &number));
  char drive[3] = {'D', ':', '\0'};
  ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, drive, VolumeDeviceName(number).c_str()));

  // Another session's letter, or another letter: nothing happens.
  EXPECT_NE(0u, SendDismount('D', kSession + 1));
  EXPECT_NE(0u, SendDismount('G', kSession));
  Handle open = OpenDrive('D');
  ASSERT_TRUE(open.valid());
  std::vector<uint8_t> data(kSector);
  DWORD got = 0;
  EXPECT_EQ(0u, ReadAt(open, 0, &data, &got));
  // The letter in either case. A handle still open serves nothing more.
  EXPECT_EQ(0u, SendDismount('d', kSession));
  EXPECT_FALSE(OpenDrive('D').valid());
  EXPECT_NE(0u, ReadAt(open, 0, &data, &got));
  EXPECT_NE(0u, WriteAt(open, 0, data));
  EXPECT_NE(0u, SendDismount('D', kSession));
  ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive, nullptr));

  // The file was closed: it opens without sharing now.
  Handle exclusive(CreateFileA(volume.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(exclusive.valid());

  std::vector<StandinLogEntry> dismounts =
      Entries(TakeLog(), kStandinMajorDeviceControl, IOCTL_VD_DISMOUNT);
  ASSERT_EQ(4u, dismounts.size());
  EXPECT_EQ('D', dismounts[0].driveLetter);
  EXPECT_EQ(kSession + 1, dismounts[0].logonSessionId);
  EXPECT_EQ(kStatusSuccess, dismounts[2].status);
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

TEST_F(StandinDriver, StoppingTheDriverDismountsEverything) {
  VolumeFile volume = MakeVolumeFile("unload.vmv", kAes256, VD_HEADER_EXTERNAL, 8);
  int8_t number = -1;
  ASSERT_EQ(0u, SendMount(MountRequest(volume, 'Z', false), &number));
  ASSERT_TRUE(StopDriverService());
  EXPECT_FALSE(OpenControlDevice().valid());
  // The driver closed the volume file when it unloaded.
  {
    Handle exclusive(CreateFileA(volume.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(exclusive.valid());
  }
  ASSERT_TRUE(StartDriverService());
  // A fresh start: nothing mounted, so the lowest number is free.
  ASSERT_EQ(0u, SendMount(MountRequest(volume, 'Z', false), &number));
  EXPECT_EQ(0, number);
  EXPECT_EQ(0u, SendDismount('Z', kSession));
}

}  // namespace
