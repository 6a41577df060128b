// After a mount (also the tool's Linux mount) and a password change, no copy of the password or of
// the body key is left anywhere in the process's memory: the test reads every readable region of
// /proc/self/maps through /proc/self/mem and looks for them. The test keeps its own copies only
// XOR-masked, so that the scan cannot find them; the plaintext exists only while a call needs it
// and is wiped by the test afterwards, as the program's own callers do.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <initializer_list>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "crypto/random.h"
#include "crypto/wipe.h"
#include "driver/mount_command.h"
#include "driver_test_fakes.h"
#include "engine_test_support.h"
#include "volume/change_password.h"
#include "volume/create_volume.h"
#include "volume/header.h"

namespace {

constexpr uint32_t kSeed = 0x5EC2E75u;

// A secret held only masked: `masked[i] ^ mask[i]` is its i-th byte.
struct MaskedSecret {
  std::vector<uint8_t> mask;
  std::vector<uint8_t> masked;

  // The plaintext, in a string the caller wipes after use.
  std::string Reveal() const {
    std::string text(masked.size(), '\0');
    for (size_t i = 0; i < masked.size(); ++i) text[i] = static_cast<char>(masked[i] ^ mask[i]);
    return text;
  }
};

// A long random password of printable characters.
MaskedSecret RandomPassword(std::random_device& device) {
  static const char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!#%&*+-=?@^_~";
  MaskedSecret secret;
  for (int i = 0; i < 56; ++i) {
    const uint8_t mask = static_cast<uint8_t>(device() | 1);
    secret.mask.push_back(mask);
    secret.masked.push_back(static_cast<uint8_t>(kAlphabet[device() % (sizeof kAlphabet - 1)]) ^
                            mask);
  }
  return secret;
}

// The sectorKey that SealHeader draws from the MT19937 source seeded with
// kSeed: the fields are drawn sectorIvSeed first, then sectorKey, each byte
// the low 8 bits of one output.
MaskedSecret PredictedSectorKey(std::random_device& device) {
  std::mt19937 generator(kSeed);
  for (uint32_t i = 0; i < kBodyKeySize; ++i) generator();
  MaskedSecret secret;
  for (uint32_t i = 0; i < kBodyKeySize; ++i) {
    const uint8_t mask = static_cast<uint8_t>(device() | 1);
    secret.mask.push_back(mask);
    secret.masked.push_back(static_cast<uint8_t>(generator() & 0xFF) ^ mask);
  }
  return secret;
}

void Wipe(std::string& text) {
  SecureWipe(text.data(), text.capacity());
  text.clear();
}

// Occurrences of the secret in `data`.
int CountIn(const uint8_t* data, size_t size, const MaskedSecret& secret) {
  const size_t length = secret.masked.size();
  int hits = 0;
  for (size_t at = 0; at + length <= size; ++at) {
    if ((data[at] ^ secret.mask[0]) != secret.masked[0]) continue;
    size_t i = 1;
    while (i < length && (data[at + i] ^ secret.mask[i]) == secret.masked[i]) ++i;
    hits += i == length;
  }
  return hits;
}

// Occurrences of the secret in every readable region of the process, skipping
// the sanitizers' huge shadow reservations.
int ScanProcess(const MaskedSecret& secret) {
  std::ifstream maps("/proc/self/maps");
  std::vector<std::pair<uint64_t, uint64_t>> regions;
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range;
    std::string permissions;
    fields >> range >> permissions;
    if (permissions.size() < 2 || permissions[0] != 'r') continue;
    if (line.find("[vvar") != std::string::npos) continue;
    const uint64_t start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
    const uint64_t end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
    if (end - start > (uint64_t{1} << 30)) continue;
    regions.emplace_back(start, end);
  }
  const int memory = open("/proc/self/mem", O_RDONLY);
  EXPECT_GE(memory, 0);
  constexpr size_t kChunk = 1 << 20;
  const size_t overlap = secret.masked.size() - 1;
  std::vector<uint8_t> buffer(kChunk + overlap);
  int hits = 0;
  for (const auto& [start, end] : regions) {
    for (uint64_t at = start; at < end; at += kChunk) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk + overlap, end - at));
      const ssize_t got = pread(memory, buffer.data(), want, static_cast<off_t>(at));
      if (got > 0) hits += CountIn(buffer.data(), static_cast<size_t>(got), secret);
      // Cleared before the next read, so that the region holding the buffer
      // itself reads no earlier chunk back.
      memset(buffer.data(), 0, buffer.size());
    }
  }
  close(memory);
  return hits;
}

class SecretScanTest : public ::testing::Test {
 protected:
  SecretScanTest() {
    previous_ = SetRandomSource(Mt19937Random);
    RandomSeed(kSeed);
  }
  ~SecretScanTest() override { SetRandomSource(previous_); }

  // A volume sealed under `password`: 4096 body bytes and the header.
  std::vector<uint8_t> SealedVolume(const MaskedSecret& password) {
    std::vector<uint8_t> bytes(4096, 0);
    uint8_t header[kHeaderSize];
    uint8_t key[kBodyKeySize];
    uint8_t seed[kBodyKeySize];
    std::string plain = password.Reveal();
    EXPECT_TRUE(SealHeader(header, reinterpret_cast<const uint8_t*>(plain.data()),
                           static_cast<uint32_t>(plain.size()), kAes256, key, seed));
    Wipe(plain);
    SecureWipe(key, sizeof key);
    SecureWipe(seed, sizeof seed);
    bytes.insert(bytes.end(), header, header + kHeaderSize);
    return bytes;
  }

  // The tool's standard input: a pipe that holds one line per secret, as
  // --password-stdin reads them; null when the pipe cannot be made.
  static FILE* SecretLines(std::initializer_list<const MaskedSecret*> secrets) {
    int ends[2];
    if (pipe(ends) != 0) return nullptr;
    for (const MaskedSecret* secret : secrets) {
      std::string line = secret->Reveal();
      line += '\n';
      EXPECT_EQ(write(ends[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
      Wipe(line);
    }
    close(ends[1]);
    return fdopen(ends[0], "r");
  }

  RandomSource previous_;
  std::random_device device_;
};

// The scan itself finds a secret that is there, once per copy.
TEST_F(SecretScanTest, ScanFindsAPlantedCopy) {
  const MaskedSecret password = RandomPassword(device_);
  EXPECT_EQ(ScanProcess(password), 0);
  std::string planted = password.Reveal();
  EXPECT_EQ(ScanProcess(password), 1);
  Wipe(planted);
  EXPECT_EQ(ScanProcess(password), 0);
}

// A mount through the mount command over the fake driver: the driver's
// side (the fake keeps the requests it received) is wiped by the test, as
// the driver wipes its own; nothing else may hold the password or the key.
TEST_F(SecretScanTest, NothingLeftAfterAMount) {
  const MaskedSecret password = RandomPassword(device_);
  const MaskedSecret sectorKey = PredictedSectorKey(device_);
  MemoryFileSystem files;
  const std::string volume = "C:\\volumes\\scan.vmv";
  files.files[volume].bytes = SealedVolume(password);
  {
    FakeDriverPort port;
    FakeMinuteTimer timer;
    MountPageState state;
    state.volumePath = volume;
    state.password = password.Reveal();
    state.driveText = "E:";
    const MountResult result = RunMountCommand(state, files, port, timer);
    ASSERT_TRUE(result.outcome.success) << result.outcome.message;
    ASSERT_EQ(port.requests.size(), 1u);
    // The mount request reached the driver with the key the scan looks for.
    EXPECT_EQ(CountIn(port.requests[0].sectorKey, kBodyKeySize, sectorKey), 1);
    for (VolumeControlRecord& request : port.requests) SecureWipe(&request, sizeof request);
    for (auto& [number, mounted] : port.volumes) {
      SecureWipe(&mounted.request, sizeof mounted.request);
    }
  }
  const int passwordHits = ScanProcess(password);
  const int keyHits = ScanProcess(sectorKey);
  std::cout << "secret scan after a mount: password found " << passwordHits
            << " times, body key found " << keyHits << " times\n";
  EXPECT_EQ(passwordHits, 0);
  EXPECT_EQ(keyHits, 0);
}

// A password change on a real file: neither password nor the key is left.
TEST_F(SecretScanTest, NothingLeftAfterAPasswordChange) {
  const MaskedSecret oldPassword = RandomPassword(device_);
  const MaskedSecret newPassword = RandomPassword(device_);
  const MaskedSecret sectorKey = PredictedSectorKey(device_);
  TempFolder folder;
  const std::string path = folder.File("scan.vmv");
  WriteWholeFile(path, SealedVolume(oldPassword));
  {
    ChangePasswordInput input;
    input.path = path;
    input.currentPassword = oldPassword.Reveal();
    input.newPassword = newPassword.Reveal();
    input.confirmation = newPassword.Reveal();
    const ChangePasswordOutcome result = ChangeVolumePassword(SystemFileSystem(), input);
    Wipe(input.currentPassword);
    Wipe(input.newPassword);
    Wipe(input.confirmation);
    ASSERT_TRUE(result.outcome.success) << result.outcome.message;
  }
  const int oldHits = ScanProcess(oldPassword);
  const int newHits = ScanProcess(newPassword);
  const int keyHits = ScanProcess(sectorKey);
  std::cout << "secret scan after a password change: old password found " << oldHits
            << " times, new password " << newHits << ", body key " << keyHits << "\n";
  EXPECT_EQ(oldHits, 0);
  EXPECT_EQ(newHits, 0);
  EXPECT_EQ(keyHits, 0);
}

// A creation (the body written by the creation engine's own threads): the
// password and the body key are gone once it returns.
TEST_F(SecretScanTest, NothingLeftAfterACreation) {
  const MaskedSecret password = RandomPassword(device_);
  const MaskedSecret sectorKey = PredictedSectorKey(device_);
  TempFolder folder;
  {
    CreateVolumeInput input;
    input.volumePath = folder.File("scan.vmv");
    input.sizeMb = 2;
    input.password = password.Reveal();
    input.confirmation = password.Reveal();
    input.algorithm = kAes256;
    const CreateVolumeOutcome result = CreateVolume(SystemFileSystem(), input);
    Wipe(input.password);
    Wipe(input.confirmation);
    ASSERT_TRUE(result.outcome.success) << result.outcome.message;
  }
  // The volume's header holds the predicted key.
  std::vector<uint8_t> file = ReadWholeFile(folder.File("scan.vmv"));
  ASSERT_EQ(file.size(), 2 * kMegabyte + kHeaderSize);
  std::vector<uint8_t> header(file.end() - kHeaderSize, file.end());
  std::string plain = password.Reveal();
  ASSERT_EQ(OpenHeader(header.data(), reinterpret_cast<const uint8_t*>(plain.data()),
                       static_cast<uint32_t>(plain.size())),
            kAes256);
  Wipe(plain);
  EXPECT_EQ(CountIn(header.data() + kSectorKeyOffset, kBodyKeySize, sectorKey), 1);
  SecureWipe(header.data(), header.size());
  const int passwordHits = ScanProcess(password);
  const int keyHits = ScanProcess(sectorKey);
  std::cout << "secret scan after a creation: password found " << passwordHits
            << " times, body key found " << keyHits << " times\n";
  EXPECT_EQ(passwordHits, 0);
  EXPECT_EQ(keyHits, 0);
}

// The command-line tool reading the passwords from standard input (a pipe,
// whose contents live in the kernel): the stream's own buffer must not keep
// them once the tool is done.
TEST_F(SecretScanTest, NothingLeftAfterTheToolChangesAPassword) {
  const MaskedSecret oldPassword = RandomPassword(device_);
  const MaskedSecret newPassword = RandomPassword(device_);
  const MaskedSecret sectorKey = PredictedSectorKey(device_);
  TempFolder folder;
  const std::string path = folder.File("scan.vmv");
  WriteWholeFile(path, SealedVolume(oldPassword));
  FILE* in = SecretLines({&oldPassword, &newPassword, &newPassword});
  FILE* out = fopen("/dev/null", "w");
  ASSERT_TRUE(in && out);
  EXPECT_EQ(
      RunCli({"passwd", path, "--password-stdin"}, {in, out, out}, SystemFileSystem(), nullptr),
      kExitSuccess);
  fclose(in);
  fclose(out);
  const int oldHits = ScanProcess(oldPassword);
  const int newHits = ScanProcess(newPassword);
  const int keyHits = ScanProcess(sectorKey);
  std::cout << "secret scan after the tool's passwd: old password found " << oldHits
            << " times, new password " << newHits << ", body key " << keyHits << "\n";
  EXPECT_EQ(oldHits, 0);
  EXPECT_EQ(newHits, 0);
  EXPECT_EQ(keyHits, 0);
}

// A foreground mount served in this process, used through the mount and
// ended by fusermount3: the server has wiped the key and the password.
TEST_F(SecretScanTest, NothingLeftAfterTheToolsMountEnds) {
  if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no access to /dev/fuse";
  const MaskedSecret password = RandomPassword(device_);
  const MaskedSecret sectorKey = PredictedSectorKey(device_);
  TempFolder folder;
  const std::string path = folder.File("scan.vmv");
  const std::string mountPoint = folder.File("m");
  const std::string disk = mountPoint + "/volume";
  WriteWholeFile(path, SealedVolume(password));
  mkdir(mountPoint.c_str(), 0700);
  FILE* in = SecretLines({&password});
  FILE* out = fopen("/dev/null", "w");
  ASSERT_TRUE(in && out);
  int code = -1;
  std::thread server([&] {
    code = RunCli({"mount", path, mountPoint, "--foreground", "--password-stdin"}, {in, out, out},
                  SystemFileSystem(), nullptr);
  });
  int fd = -1;
  for (int i = 0; i < 200 && fd < 0; ++i) {
    fd = open(disk.c_str(), O_RDWR);
    if (fd < 0) usleep(50000);
  }
  ASSERT_GE(fd, 0) << "the mount did not come up";
  uint8_t sector[512];
  memset(sector, 0x77, sizeof sector);
  EXPECT_EQ(pwrite(fd, sector, sizeof sector, 512), 512);
  EXPECT_EQ(fsync(fd), 0);
  close(fd);
  EXPECT_EQ(system(("fusermount3 -u " + mountPoint).c_str()), 0);
  server.join();
  fclose(in);
  fclose(out);
  EXPECT_EQ(code, kExitSuccess);
  const int passwordHits = ScanProcess(password);
  const int keyHits = ScanProcess(sectorKey);
  std::cout << "secret scan after the tool's mount: password found " << passwordHits
            << " times, body key found " << keyHits << " times\n";
  EXPECT_EQ(passwordHits, 0);
  EXPECT_EQ(keyHits, 0);
}

}  // namespace
