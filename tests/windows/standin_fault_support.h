// Support of the Wine tests that put the stand-in driver under faults and
// under load (the driver is installed by driver_support.h): volumes sealed
// with a test password, the driver's test log and injected failures, and
// sector I/O through a drive letter.
#pragma once
#include <gtest/gtest.h>
#include <stdint.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/dismount.h"
#include "driver/mount_command.h"
#include "driver/operations.h"
#include "driver/service.h"
#include "driver/win32_port.h"
#include "standin-driver/standin_test_protocol.h"
#include "tests/windows/driver_support.h"
#include "volume/body_cipher.h"
#include "volume/header.h"

namespace standin_fault {

inline constexpr uint32_t kSector = 512;
inline const std::string kPassword = "stand-in fault password";

using driver_support::TempFolder;

inline uint32_t StandinControl(const StandinTestRequest& request, void* out, uint32_t outSize,
                               DWORD* returned) {
  HANDLE handle =
      CreateFileA(VD_CONTROL_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  const BOOL ok =
      DeviceIoControl(handle, IOCTL_VD_STANDIN_TEST, const_cast<StandinTestRequest*>(&request),
                      sizeof request, out, outSize, returned, nullptr);
  const DWORD error = ok ? 0 : GetLastError();
  CloseHandle(handle);
  return error;
}

// Takes the driver's log of the requests it received, which empties it.
inline std::vector<StandinLogEntry> TakeLog() {
  std::vector<StandinLogEntry> entries(kStandinLogCapacity);
  DWORD returned = 0;
  StandinControl({kStandinTakeLog, 0, 0, 0, 0}, entries.data(),
                 static_cast<uint32_t>(entries.size() * sizeof(StandinLogEntry)), &returned);
  entries.resize(returned / sizeof(StandinLogEntry));
  return entries;
}

// The next `count` requests of the major function (and control code, 0:
// any) fail with `status`; a count of 0 disarms.
inline bool FailRequests(uint8_t major, uint32_t code, int32_t status, uint32_t count) {
  DWORD returned = 0;
  return StandinControl({kStandinFailRequests, major, code, status, count}, nullptr, 0,
                        &returned) == 0;
}

struct TestVolume {
  std::string path;
  std::string headerPath;  // empty: the header ends the volume file
  int algorithm = 0;
  uint32_t sectors = 0;
  uint8_t sectorKey[kBodyKeySize];
  uint8_t sectorIvSeed[kBodyKeySize];
  std::vector<uint8_t> plain;  // the body's plaintext
};

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  EXPECT_EQ(written, bytes.size());
  CloseHandle(file);
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  std::vector<uint8_t> data;
  if (file == INVALID_HANDLE_VALUE) return data;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size)) {
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!data.empty() &&
        !ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &got, nullptr)) {
      got = 0;
    }
    data.resize(got);
  }
  CloseHandle(file);
  return data;
}

// A volume sealed with the test password: a patterned body encrypted with
// the header's body keys, the header after it or in an external header
// block.
inline TestVolume MakeVolume(const std::string& name, int algorithm, bool external,
                             uint32_t sectors) {
  TestVolume volume;
  volume.path = TempFolder("vm-standin-fault-volumes") + "\\" + name + ".vmv";
  volume.algorithm = algorithm;
  volume.sectors = sectors;
  uint8_t header[kHeaderSize];
  EXPECT_TRUE(SealHeader(header, reinterpret_cast<const uint8_t*>(kPassword.data()),
                         static_cast<uint32_t>(kPassword.size()), algorithm, volume.sectorKey,
                         volume.sectorIvSeed));
  volume.plain.resize(size_t{sectors} * kSector);
  for (size_t i = 0; i < volume.plain.size(); ++i) {
    volume.plain[i] = static_cast<uint8_t>(i / kSector * 37 + i * 11 + algorithm);
  }
  std::vector<uint8_t> body = volume.plain;
  BodyCipher cipher;
  EXPECT_TRUE(BodyCipherInit(&cipher, algorithm, volume.sectorKey, volume.sectorIvSeed));
  BodyCipherEncrypt(&cipher, body.data(), 0, sectors);
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

// The body of the volume file decrypted here, apart from the driver.
inline std::vector<uint8_t> DecryptBody(const TestVolume& volume) {
  std::vector<uint8_t> file = ReadFileBytes(volume.path);
  if (file.size() < volume.plain.size()) return {};
  file.resize(volume.plain.size());
  BodyCipher cipher;
  BodyCipherInit(&cipher, volume.algorithm, volume.sectorKey, volume.sectorIvSeed);
  BodyCipherDecrypt(&cipher, file.data(), 0, volume.sectors);
  BodyCipherWipe(&cipher);
  return file;
}

// Free letters that nothing maps, from the end of the alphabet.
inline std::vector<char> FreeLetters(size_t count) {
  std::vector<char> letters;
  for (char letter = 'Y'; letter >= 'D' && letters.size() < count; --letter) {
    char name[3] = {letter, ':', '\0'};
    char target[256];
    if (QueryDosDeviceA(name, target, sizeof target) == 0) letters.push_back(letter);
  }
  return letters;
}

inline HANDLE OpenDrive(char letter, DWORD access) {
  return CreateFileA(DriveDevicePath(letter).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

// Reads and writes carry their offset in an OVERLAPPED: a device handle
// has no file pointer to move.
inline bool ReadAt(HANDLE drive, uint64_t offset, uint8_t* data, uint32_t size) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  return ReadFile(drive, data, size, &got, &at) && got == size;
}

inline bool WriteAt(HANDLE drive, uint64_t offset, const uint8_t* data, uint32_t size) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD written = 0;
  return WriteFile(drive, data, size, &written, &at) && written == size;
}

class TestTimer : public MinuteTimer {
 public:
  bool Start() override { return true; }
  void Stop() override {}
};

// Dismounts every drive of the driver, forced.
inline void DismountEverything(uint32_t session) {
  for (const ScannedDrive& drive : ScanDrives(SystemDriverPort())) {
    DismountVolume(SystemDriverPort(), drive.letter, session, 1);
  }
}

}  // namespace standin_fault

namespace standin_fault {

// The mount command over the real files and the real driver.
inline MountResult MountThrough(const TestVolume& volume, char letter, uint32_t session) {
  MountPageState page;
  page.volumePath = volume.path;
  page.externalHeaderPath = volume.headerPath;
  page.password = kPassword;
  page.driveText = DriveName(letter);
  page.logonSessionId = session;
  TestTimer timer;
  return RunMountCommand(page, SystemFileSystem(), SystemDriverPort(), timer);
}

}  // namespace standin_fault
