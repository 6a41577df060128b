// The stand-in driver under parallel reads and writes: three volumes (each
// algorithm family, both header layouts) mounted through the mount command,
// four threads reading and writing random sector runs of all three at once,
// each checking every read against a model of the plaintext. Each volume's
// requests are served on that volume's own thread, never on a caller's. At
// the end every byte is read back through the drives and, after the
// dismount, decrypted from the files apart from the driver.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <windows.h>

#include <atomic>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "standin_fault_support.h"

namespace {

using namespace standin_fault;

constexpr int kVolumes = 3;
constexpr int kThreads = 4;
constexpr int kOperationsPerThread = 250;
constexpr uint32_t kBodySectors = 512;
// Sectors come in blocks of 8; block b belongs to thread b % kThreads,
// which alone reads and writes it, so that each thread's model of its
// blocks is exact while the driver serves all threads at once.
constexpr uint32_t kBlockSectors = 8;

// The driver runs for the whole test program, installed as the program
// installs it: from the current directory, which holds the driver file.
testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(
    new driver_support::InstalledDriver("vm-standin-fault-program"));

TEST(StandinParallel, ThreadsReadAndWriteSeveralVolumesAtOnce) {
  uint32_t session = 0;
  ASSERT_TRUE(GetLogonSessionId(&session));
  const std::vector<char> letters = FreeLetters(kVolumes);
  ASSERT_EQ(letters.size(), static_cast<size_t>(kVolumes));
  std::vector<TestVolume> volumes = {
      MakeVolume("parallel-aes128", kAes128, false, kBodySectors),
      MakeVolume("parallel-blowfish448", kBlowfish448, true, kBodySectors),
      MakeVolume("parallel-aes256", kAes256, true, kBodySectors),
  };
  for (int v = 0; v < kVolumes; ++v) {
    const MountResult result = MountThrough(volumes[v], letters[v], session);
    ASSERT_TRUE(result.outcome.success) << result.outcome.message;
  }
  // The model: what each volume's body must hold.
  std::vector<std::vector<uint8_t>> model;
  for (const TestVolume& volume : volumes) model.push_back(volume.plain);

  std::atomic<int> operations{0};
  std::atomic<int> mismatches{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  std::vector<uint32_t> callers(kThreads);
  TakeLog();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      callers[t] = GetCurrentThreadId();
      std::mt19937 random(20261207u + static_cast<uint32_t>(t));
      HANDLE drives[kVolumes];
      for (int v = 0; v < kVolumes; ++v) {
        drives[v] = OpenDrive(letters[v], GENERIC_READ | GENERIC_WRITE);
      }
      std::vector<uint8_t> buffer(kBlockSectors * kSector);
      for (int i = 0; i < kOperationsPerThread; ++i) {
        const int v = static_cast<int>(random() % kVolumes);
        const uint32_t blocks = kBodySectors / kBlockSectors / kThreads;
        const uint32_t block = (static_cast<uint32_t>(random()) % blocks) * kThreads + t;
        const uint32_t first = static_cast<uint32_t>(random() % kBlockSectors);
        const uint32_t count = 1 + static_cast<uint32_t>(random() % (kBlockSectors - first));
        const uint64_t offset = (uint64_t{block} * kBlockSectors + first) * kSector;
        const uint32_t size = count * kSector;
        uint8_t* expected = model[v].data() + offset;
        if (random() % 2 == 0) {
          if (!ReadAt(drives[v], offset, buffer.data(), size)) {
            ++failures;
          } else if (memcmp(buffer.data(), expected, size) != 0) {
            ++mismatches;
          }
        } else {
          for (uint32_t b = 0; b < size; ++b) buffer[b] = static_cast<uint8_t>(random());
          if (WriteAt(drives[v], offset, buffer.data(), size)) {
            memcpy(expected, buffer.data(), size);
          } else {
            ++failures;
          }
        }
        ++operations;
      }
      for (HANDLE drive : drives) CloseHandle(drive);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(mismatches.load(), 0);
  // The last requests logged: each arrived on a caller's thread and was
  // served on its volume's own thread.
  const std::set<uint32_t> callerThreads(callers.begin(), callers.end());
  std::map<int, std::set<uint32_t>> servers;  // of each volume device
  std::set<uint32_t> allServers;
  for (const StandinLogEntry& entry : TakeLog()) {
    if (entry.majorFunction != kStandinMajorRead && entry.majorFunction != kStandinMajorWrite) {
      continue;
    }
    EXPECT_EQ(callerThreads.count(entry.arrivalThread), 1u);
    EXPECT_EQ(callerThreads.count(entry.servingThread), 0u);
    servers[entry.deviceNumber].insert(entry.servingThread);
    allServers.insert(entry.servingThread);
  }
  ASSERT_EQ(servers.size(), static_cast<size_t>(kVolumes));
  for (const auto& [device, threadIds] : servers) EXPECT_EQ(threadIds.size(), 1u) << device;
  EXPECT_EQ(allServers.size(), static_cast<size_t>(kVolumes)) << "a thread of its own for each";

  // Every byte through the drives, then from the files.
  for (int v = 0; v < kVolumes; ++v) {
    SCOPED_TRACE(volumes[v].path);
    HANDLE drive = OpenDrive(letters[v], GENERIC_READ);
    std::vector<uint8_t> body(model[v].size());
    ASSERT_TRUE(ReadAt(drive, 0, body.data(), static_cast<uint32_t>(body.size())));
    CloseHandle(drive);
    EXPECT_TRUE(body == model[v]) << "the drive does not hold what was written";
    EXPECT_TRUE(DismountVolume(SystemDriverPort(), letters[v], session, 0));
    EXPECT_TRUE(DecryptBody(volumes[v]) == model[v]) << "the file does not hold what was written";
  }
  std::cout << "stand-in driver parallel run: " << kThreads << " threads, " << kVolumes
            << " volumes, " << operations.load() << " reads and writes, " << mismatches.load()
            << " mismatches, every byte verified through the drives and the files\n";
  DismountEverything(session);
}

}  // namespace
