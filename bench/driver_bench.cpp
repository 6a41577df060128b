// The stand-in driver under Wine against the plain volume file in the same
// run: sequential 1 MiB writes (flushed) and reads through \\.\X:, the same
// through ReadFile/WriteFile on the volume file, and 4 KiB reads at random
// sectors both ways. The driver is installed from this program's folder
// (velmorcrypt.sys beside it, or the path given) and removed at the end.
// The repetitions alternate which side goes first; all reads come from the
// page cache on both sides (Wine cannot drop it), so the difference is the
// cost of the path: the device host's transport and the driver's work. A
// last lines split each request's time into the driver's own work, measured
// in this process, and the rest: Wine's device host and its transport.
//
//   vm_driver_bench [DRIVER.sys]   (VM_BENCH_DRIVER_MB: volume size, default 256;
//                                   VM_BENCH_REPETITIONS: default 5)
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "crypto/cpu_features.h"
#include "driver/dismount.h"
#include "driver/mount_command.h"
#include "driver/records.h"
#include "driver/service.h"
#include "driver/win32_port.h"
#include "platform/file.h"
#include "volume/body_cipher.h"
#include "volume/header.h"

namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kLarge = 1024 * 1024;
constexpr uint32_t kSmall = 4096;
constexpr int kRandomReads = 4096;
// The driver encrypts a write's sectors in pieces of this size.
constexpr uint32_t kDriverChunk = 256 * 1024;
const std::string kPassword = "driver bench password";

int EnvironmentNumber(const char* name, int fallback) {
  const char* value = getenv(name);
  return value != nullptr && atoi(value) > 0 ? atoi(value) : fallback;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string DosPath(const char* unixPath) {
  using ToDos = WCHAR*(CDECL*)(const char*);
  auto toDos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_dos_file_name")));
  WCHAR* dos = toDos != nullptr ? toDos(unixPath) : nullptr;
  if (dos == nullptr) return unixPath;
  char buffer[MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, dos, -1, buffer, sizeof buffer, nullptr, nullptr);
  HeapFree(GetProcessHeap(), 0, dos);
  return buffer;
}

bool Transfer(HANDLE handle, bool write, uint64_t offset, uint8_t* data, uint32_t size) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD done = 0;
  const BOOL ok =
      write ? WriteFile(handle, data, size, &done, &at) : ReadFile(handle, data, size, &done, &at);
  return ok && done == size;
}

struct Figures {
  std::vector<double> write, read, random;  // MiB/s, MiB/s, reads per second
};

// One repetition on an open handle (the drive or the file): the body
// written in 1 MiB requests and flushed, read back in 1 MiB requests, then
// 4 KiB reads at random places.
bool Measure(HANDLE handle, uint64_t bodySize, std::vector<uint8_t>& buffer, uint32_t seed,
             Figures* figures) {
  const double mib = static_cast<double>(bodySize) / kLarge;
  double start = Now();
  for (uint64_t at = 0; at < bodySize; at += kLarge) {
    if (!Transfer(handle, true, at, buffer.data(), kLarge)) return false;
  }
  if (!FlushFileBuffers(handle)) return false;
  figures->write.push_back(mib / (Now() - start));
  start = Now();
  for (uint64_t at = 0; at < bodySize; at += kLarge) {
    if (!Transfer(handle, false, at, buffer.data(), kLarge)) return false;
  }
  figures->read.push_back(mib / (Now() - start));
  std::mt19937_64 random(seed);
  start = Now();
  for (int i = 0; i < kRandomReads; ++i) {
    const uint64_t at = random() % (bodySize / kSmall) * kSmall;
    if (!Transfer(handle, false, at, buffer.data(), kSmall)) return false;
  }
  figures->random.push_back(kRandomReads / (Now() - start));
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[(values.size() - 1) / 2];
}

void Line(const char* what, const std::vector<double>& ours, const std::vector<double>& plain,
          const char* unit, const char* goal) {
  auto spread = [](const std::vector<double>& v) {
    return 100 * (*std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end())) /
           Median(v);
  };
  printf("%-34s ours %9.1f %s ± %3.0f%%   plain file %9.1f %s ± %3.0f%%   ratio %5.2fx  goal %s\n",
         what, Median(ours), unit, spread(ours), Median(plain), unit, spread(plain),
         Median(ours) / Median(plain), goal);
}

class NoTimer : public MinuteTimer {
 public:
  bool Start() override { return true; }
  void Stop() override {}
};

int Run(const std::string& driverPath) {
  const uint64_t bodySize =
      uint64_t{static_cast<uint32_t>(EnvironmentNumber("VM_BENCH_DRIVER_MB", 256))} * kLarge;
  const int repetitions = EnvironmentNumber("VM_BENCH_REPETITIONS", 5);
  char temp[MAX_PATH];
  const std::string folder = std::string(temp, GetTempPathA(sizeof temp, temp)) + "vm-driver-bench";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string volumePath = folder + "\\bench.vmv";

  // The driver, installed as the program installs it: from the current
  // folder, which holds the driver file.
  RemoveDriver(SystemServicePort());
  if (!CopyFileA(driverPath.c_str(), (folder + "\\velmorcrypt.sys").c_str(), FALSE) ||
      !SetCurrentDirectoryA(folder.c_str()) ||
      !InstallDriver(SystemDriverPort(), SystemServicePort())) {
    fprintf(stderr, "cannot install the driver from %s\n", driverPath.c_str());
    return 1;
  }

  // The volume: a body of zeros' ciphertext and its header.
  uint8_t header[kHeaderSize], key[kBodyKeySize], seed[kBodyKeySize];
  if (!SealHeader(header, reinterpret_cast<const uint8_t*>(kPassword.data()),
                  static_cast<uint32_t>(kPassword.size()), kAes256, key, seed)) {
    return 1;
  }
  BodyCipher cipher;
  BodyCipherInit(&cipher, kAes256, key, seed);
  std::vector<uint8_t> buffer(kLarge, 0);
  HANDLE file = CreateFileA(volumePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  for (uint64_t at = 0; at < bodySize; at += kLarge)
    Transfer(file, true, at, buffer.data(), kLarge);
  Transfer(file, true, bodySize, header, kHeaderSize);
  CloseHandle(file);

  uint32_t session = 0;
  GetLogonSessionId(&session);
  char letter = 0;
  for (char l = 'Y'; l >= 'D' && letter == 0; --l) {
    const char name[3] = {l, ':', '\0'};
    char target[256];
    if (QueryDosDeviceA(name, target, sizeof target) == 0) letter = l;
  }
  Figures drive, plain;
  bool ok = letter != 0;
  for (int rep = 0; ok && rep < repetitions; ++rep) {
    for (int side = 0; ok && side < 2; ++side) {
      const bool throughDrive = (rep + side) % 2 == 0;
      if (throughDrive) {
        MountPageState page;
        page.volumePath = volumePath;
        page.password = kPassword;
        page.driveText = DriveName(letter);
        page.logonSessionId = session;
        NoTimer timer;
        const MountResult mounted =
            RunMountCommand(page, SystemFileSystem(), SystemDriverPort(), timer);
        if (!mounted.outcome.success) {
          fprintf(stderr, "mount: %s\n", mounted.outcome.message.c_str());
          ok = false;
          break;
        }
        HANDLE handle =
            CreateFileA(DriveDevicePath(letter).c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        ok = handle != INVALID_HANDLE_VALUE && Measure(handle, bodySize, buffer, rep, &drive);
        CloseHandle(handle);
        DismountVolume(SystemDriverPort(), letter, session, 1);
      } else {
        HANDLE handle = CreateFileA(volumePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ok = handle != INVALID_HANDLE_VALUE && Measure(handle, bodySize, buffer, rep, &plain);
        CloseHandle(handle);
      }
    }
  }
  // The driver's own work, here in this process without the device host
  // between: the file reads and the decryption of a read, the copies, the
  // encryption in the driver's chunk size and the file writes of a write,
  // on the AES-NI path that the driver keeps to.
  SetVaesEnabled(false);
  std::vector<double> readWork, smallWork, writeWork;  // seconds per request
  std::vector<uint8_t> chunk(kDriverChunk);
  file = CreateFileA(volumePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  std::mt19937_64 random(1);
  const double requests = static_cast<double>(bodySize / kLarge);
  for (int rep = 0; ok && rep < repetitions; ++rep) {
    double start = Now();
    for (uint64_t at = 0; at < bodySize; at += kLarge) {
      for (uint32_t piece = 0; piece < kLarge; piece += kDriverChunk) {
        memcpy(chunk.data(), buffer.data() + piece, kDriverChunk);
        BodyCipherEncrypt(&cipher, chunk.data(), (at + piece) / kSector, kDriverChunk / kSector);
        ok = ok && Transfer(file, true, at + piece, chunk.data(), kDriverChunk);
      }
    }
    ok = ok && FlushFileBuffers(file);
    writeWork.push_back((Now() - start) / requests);
    start = Now();
    for (uint64_t at = 0; at < bodySize; at += kLarge) {
      ok = ok && Transfer(file, false, at, buffer.data(), kLarge);
      BodyCipherDecrypt(&cipher, buffer.data(), at / kSector, kLarge / kSector);
    }
    readWork.push_back((Now() - start) / requests);
    start = Now();
    for (int i = 0; i < kRandomReads; ++i) {
      const uint64_t at = random() % (bodySize / kSmall) * kSmall;
      ok = ok && Transfer(file, false, at, buffer.data(), kSmall);
      BodyCipherDecrypt(&cipher, buffer.data(), at / kSector, kSmall / kSector);
    }
    smallWork.push_back((Now() - start) / kRandomReads);
  }
  CloseHandle(file);
  BodyCipherWipe(&cipher);
  RemoveDriver(SystemServicePort());
  DeleteFileA(volumePath.c_str());
  if (!ok) {
    fprintf(stderr, "the drive or the file failed a request\n");
    return 1;
  }
  printf(
      "\nStand-in driver under Wine (AES-256), %llu MiB, medians of %d ± spread; reads from "
      "the page cache on both sides:\n",
      static_cast<unsigned long long>(bodySize / kLarge), repetitions);
  Line("1 MiB writes + flush, \\\\.\\X:", drive.write, plain.write, "MiB/s", ">= 0.5x");
  Line("1 MiB reads, \\\\.\\X:", drive.read, plain.read, "MiB/s", ">= 0.5x");
  Line("4 KiB random reads, \\\\.\\X:", drive.random, plain.random, "IO/s ", "(none)");
  // Per request: the drive's time against the driver's own work in it.
  auto perRequest = [](const char* what, double driveMs, double workMs) {
    printf(
        "%-34s %8.3f ms a request through the drive, %6.3f ms of it the driver's own work\n"
        "%-34s (measured in-process), %6.3f ms (%2.0f%%) Wine's device host and transport\n",
        what, driveMs, workMs, "", driveMs - workMs, 100 * (driveMs - workMs) / driveMs);
  };
  perRequest("  where a 1 MiB write's time goes", 1e3 / Median(drive.write),
             1e3 * Median(writeWork));
  perRequest("  where a 1 MiB read's time goes", 1e3 / Median(drive.read), 1e3 * Median(readWork));
  perRequest("  where a 4 KiB read's time goes", 1e3 / Median(drive.random),
             1e3 * Median(smallWork));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return Run(argc > 1 ? argv[1] : DosPath(VM_STANDIN_DRIVER_PATH));
}
