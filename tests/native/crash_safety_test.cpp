// Crash safety of the password change: wherever the process dies, the
// header opens afterwards with the old password or with the new one. A file
// system that "dies" after its k-th operation (leaving the files as they
// are, the last write possibly cut short) plays a kill at every point of a
// change; a real child process killed at random moments checks the same
// natively.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "driver/mount_command.h"
#include "driver_test_fakes.h"
#include "engine_test_support.h"
#include "volume/change_password.h"
#include "volume/header.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr char kOld[] = "old crash password";
constexpr char kNew[] = "new crash password";
constexpr char kThird[] = "third crash password";

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

std::vector<uint8_t> Sealed(const std::string& password, int algorithm) {
  std::vector<uint8_t> header(kHeaderSize);
  uint8_t sectorKey[kBodyKeySize];
  uint8_t sectorIvSeed[kBodyKeySize];
  EXPECT_TRUE(SealHeader(header.data(), Bytes(password), static_cast<uint32_t>(password.size()),
                         algorithm, sectorKey, sectorIvSeed));
  return header;
}

// The body keys when `header` opens with the password; empty otherwise.
std::vector<uint8_t> Keys(std::vector<uint8_t> header, const std::string& password) {
  if (OpenHeader(header.data(), Bytes(password), static_cast<uint32_t>(password.size())) == 0) {
    return {};
  }
  return {header.begin() + kSectorIvSeedOffset, header.begin() + kMacOffset};
}

std::vector<uint8_t> LastHeader(const std::string& path) {
  const std::vector<uint8_t> file = ReadWholeFile(path);
  if (file.size() < kHeaderSize) return {};
  return {file.end() - kHeaderSize, file.end()};
}

// How the write that the kill interrupts ends up on the disk.
enum class Cut { kNothing, kOneByte, kHalf, kAllButOne, kSecondHalfOnly };
constexpr Cut kCuts[] = {Cut::kNothing, Cut::kOneByte, Cut::kHalf, Cut::kAllButOne,
                         Cut::kSecondHalfOnly};

// The platform's file system until its `dieAt`-th operation (counted from
// 0 over opens, reads, writes, sizes, flushes and removals); that one and
// every later one fail, as if the process had been killed there. The
// interrupted write may have put part of its bytes on the disk.
class DyingFileSystem : public FileSystem {
 public:
  int dieAt = -1;  // -1: never
  Cut cut = Cut::kNothing;
  int operations = 0;
  bool wroteOnDeath = false;  // the killing operation was a write

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    if (!Alive()) return nullptr;
    std::unique_ptr<File> file = SystemFileSystem().Open(path, mode);
    if (!file) return nullptr;
    return std::make_unique<DyingFile>(*this, std::move(file));
  }
  bool Remove(const std::string& path) override {
    return Alive() && SystemFileSystem().Remove(path);
  }
  bool FreeSpace(const std::string& path, uint64_t* bytes) override {
    return Alive() && SystemFileSystem().FreeSpace(path, bytes);
  }

 private:
  bool Alive() {
    const int number = operations++;
    return dieAt < 0 || number < dieAt;
  }

  class DyingFile : public File {
   public:
    DyingFile(DyingFileSystem& owner, std::unique_ptr<File> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    bool ReadAt(uint64_t offset, void* data, uint32_t size) override {
      return owner_.Alive() && inner_->ReadAt(offset, data, size);
    }
    bool WriteAt(uint64_t offset, const void* data, uint32_t size) override {
      const bool dying = owner_.operations == owner_.dieAt;
      if (owner_.Alive()) return inner_->WriteAt(offset, data, size);
      if (dying) {
        owner_.wroteOnDeath = true;
        const auto* bytes = static_cast<const uint8_t*>(data);
        switch (owner_.cut) {
          case Cut::kNothing:
            break;
          case Cut::kOneByte:
            inner_->WriteAt(offset, bytes, 1);
            break;
          case Cut::kHalf:
            inner_->WriteAt(offset, bytes, size / 2);
            break;
          case Cut::kAllButOne:
            inner_->WriteAt(offset, bytes, size - 1);
            break;
          case Cut::kSecondHalfOnly:
            inner_->WriteAt(offset + size / 2, bytes + size / 2, size - size / 2);
            break;
        }
      }
      return false;
    }
    bool Size(uint64_t* size) override { return owner_.Alive() && inner_->Size(size); }
    bool SetSize(uint64_t size) override { return owner_.Alive() && inner_->SetSize(size); }
    bool Flush() override { return owner_.Alive() && inner_->Flush(); }

   private:
    DyingFileSystem& owner_;
    std::unique_ptr<File> inner_;
  };
};

// Every file of a folder, to put the state left by a kill back before each
// try.
struct Snapshot {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;

  explicit Snapshot(const TempFolder& folder) {
    for (const std::string& name : folder.Names()) {
      files.emplace_back(folder.File(name), ReadWholeFile(folder.File(name)));
    }
  }
  void Restore(const TempFolder& folder) const {
    for (const std::string& name : folder.Names()) std::filesystem::remove(folder.File(name));
    for (const auto& [path, bytes] : files) WriteWholeFile(path, bytes);
  }
};

// Opens the header at the end of `path` with the password, settling what
// an interrupted change left, as the mount command and the tool do.
int OpenAfterCrash(const std::string& path, const std::string& password) {
  std::vector<uint8_t> header = LastHeader(path);
  if (header.size() != kHeaderSize) return 0;
  return OpenHeaderRecovering(SystemFileSystem(), path, header.data(), Bytes(password),
                              static_cast<uint32_t>(password.size()));
}

class CrashSafetyTest : public ::testing::TestWithParam<bool> {
 protected:
  // The file that holds the header: a volume file with a body of 3000
  // patterned bytes, or an external header block.
  void MakeFile() {
    external_ = GetParam();
    path_ = folder_.File(external_ ? "volume.ehb" : "volume.vmv");
    if (!external_) {
      body_.resize(3000);
      for (size_t i = 0; i < body_.size(); ++i) body_[i] = static_cast<uint8_t>(i * 13 + 5);
    }
    const std::vector<uint8_t> header = Sealed(kOld, kBlowfish448);
    keys_ = Keys(header, kOld);
    std::vector<uint8_t> bytes = body_;
    bytes.insert(bytes.end(), header.begin(), header.end());
    WriteWholeFile(path_, bytes);
  }

  // After a settled open: the file holds the body it had and a header that
  // opens in place with `password` and gives the volume's body keys; no
  // backup is left.
  void ExpectSettled(const std::string& password) {
    const std::vector<uint8_t> file = ReadWholeFile(path_);
    ASSERT_EQ(file.size(), body_.size() + kHeaderSize);
    EXPECT_TRUE(std::equal(body_.begin(), body_.end(), file.begin()));
    EXPECT_EQ(Keys(LastHeader(path_), password), keys_);
    EXPECT_FALSE(std::filesystem::exists(HeaderBackupPath(path_)));
  }

  // The number of operations of an undisturbed change.
  int OperationsOfAChange() {
    MakeFile();
    DyingFileSystem files;
    EXPECT_TRUE(ChangeVolumePassword(files, {path_, kOld, kNew, kNew}).outcome.success);
    return files.operations;
  }

  TempFolder folder_;
  bool external_ = false;
  std::string path_;
  std::vector<uint8_t> body_;
  std::vector<uint8_t> keys_;
};

// A kill at every operation of a change, with the interrupted write cut in
// every way; afterwards each password is tried on the state the kill left.
// One of them must open, settling the file so that the password then opens
// the header in place.
TEST_P(CrashSafetyTest, KillAtEveryOperationLeavesTheOldOrTheNewPassword) {
  const int total = OperationsOfAChange();
  ASSERT_GT(total, 8);
  int runs = 0;
  int oldOpened = 0;
  int newOpened = 0;
  for (int dieAt = 0; dieAt <= total; ++dieAt) {
    for (const Cut cut : kCuts) {
      SCOPED_TRACE("kill at operation " + std::to_string(dieAt) + ", cut " +
                   std::to_string(static_cast<int>(cut)));
      MakeFile();
      DyingFileSystem files;
      files.dieAt = dieAt;
      files.cut = cut;
      const bool reported = ChangeVolumePassword(files, {path_, kOld, kNew, kNew}).outcome.success;
      EXPECT_EQ(reported, dieAt == total) << "success reported although the change was killed";
      const Snapshot left(folder_);
      bool opened = false;
      for (const char* password : {kOld, kNew}) {
        left.Restore(folder_);
        if (OpenAfterCrash(path_, password) == kBlowfish448) {
          opened = true;
          (password == kOld ? oldOpened : newOpened) += 1;
          ExpectSettled(password);
        }
      }
      EXPECT_TRUE(opened) << "neither password opens the header";
      if (reported) {
        EXPECT_EQ(OpenAfterCrash(path_, kOld), 0) << "the old password still works";
      }
      ++runs;
      if (!files.wroteOnDeath) break;  // the cut only matters for a write
    }
  }
  std::cout << "crash-safety kill points ("
            << (GetParam() ? "external header block" : "volume file") << "): " << runs
            << " runs, every one opened afterwards (old password " << oldOpened << ", new "
            << newOpened << ")\n";
  RecordProperty("crash_runs", runs);
  EXPECT_GT(oldOpened, 0);
  EXPECT_GT(newOpened, 0);
}

// A change killed at every point, then a second change started with the
// old or the new password: it settles what the first one left and succeeds
// with whichever password opens.
TEST_P(CrashSafetyTest, NextChangeSettlesAnInterruptedOne) {
  const int total = OperationsOfAChange();
  for (int dieAt = 0; dieAt < total; ++dieAt) {
    SCOPED_TRACE("kill at operation " + std::to_string(dieAt));
    MakeFile();
    DyingFileSystem files;
    files.dieAt = dieAt;
    files.cut = Cut::kHalf;
    ASSERT_FALSE(ChangeVolumePassword(files, {path_, kOld, kNew, kNew}).outcome.success);
    const Snapshot left(folder_);
    int changed = 0;
    for (const char* current : {kOld, kNew}) {
      left.Restore(folder_);
      if (ChangeVolumePassword(SystemFileSystem(), {path_, current, kThird, kThird})
              .outcome.success) {
        ++changed;
        ExpectSettled(kThird);
        EXPECT_EQ(OpenAfterCrash(path_, kOld), 0);
        EXPECT_EQ(OpenAfterCrash(path_, kNew), 0);
      }
    }
    EXPECT_GE(changed, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, CrashSafetyTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "ExternalHeaderBlock" : "VolumeFile";
                         });

// A mix of two headers in place with their backup beside the file.
struct InterruptedChange {
  std::vector<uint8_t> oldHeader = Sealed(kOld, kAes128);
  std::vector<uint8_t> newHeader;
  std::vector<uint8_t> mixed;
  std::vector<uint8_t> backup;

  InterruptedChange() {
    newHeader = oldHeader;
    EXPECT_EQ(
        ResealHeader(newHeader.data(), Bytes(kOld), sizeof kOld - 1, Bytes(kNew), sizeof kNew - 1),
        1);
    mixed = newHeader;
    std::copy(oldHeader.begin() + 512, oldHeader.end(), mixed.begin() + 512);
    backup = oldHeader;
    backup.insert(backup.end(), newHeader.begin(), newHeader.end());
  }
};

// A backup that does not belong to the header in place (a byte that is
// neither the old nor the new copy's) is left alone, and so is a backup of
// the wrong size.
TEST(HeaderRecoveryTest, ForeignOrDamagedBackupIsIgnored) {
  TempFolder folder;
  const std::string path = folder.File("volume.ehb");
  InterruptedChange change;
  std::vector<uint8_t> foreign = change.mixed;
  foreign[700] = static_cast<uint8_t>(change.oldHeader[700] ^ change.newHeader[700] ^ 0xFF);
  if (foreign[700] == change.oldHeader[700] || foreign[700] == change.newHeader[700]) {
    foreign[700] ^= 0x01;
  }
  WriteWholeFile(path, foreign);
  WriteWholeFile(HeaderBackupPath(path), change.backup);
  EXPECT_EQ(OpenAfterCrash(path, kOld), 0);
  EXPECT_EQ(ReadWholeFile(path), foreign);
  EXPECT_TRUE(std::filesystem::exists(HeaderBackupPath(path)));

  WriteWholeFile(path, change.mixed);
  const std::vector<uint8_t> shortBackup(change.backup.begin(), change.backup.end() - 1);
  WriteWholeFile(HeaderBackupPath(path), shortBackup);
  EXPECT_EQ(OpenAfterCrash(path, kOld), 0);
  EXPECT_EQ(ReadWholeFile(path), change.mixed);
}

// A wrong password settles nothing.
TEST(HeaderRecoveryTest, WrongPasswordLeavesEverything) {
  TempFolder folder;
  const std::string path = folder.File("volume.ehb");
  InterruptedChange change;
  WriteWholeFile(path, change.mixed);
  WriteWholeFile(HeaderBackupPath(path), change.backup);
  EXPECT_EQ(OpenAfterCrash(path, "wrong"), 0);
  EXPECT_EQ(ReadWholeFile(path), change.mixed);
  EXPECT_EQ(ReadWholeFile(HeaderBackupPath(path)), change.backup);
}

// The mount command opens an interrupted change's header with either
// password, even where it cannot write the file back.
TEST(HeaderRecoveryTest, MountCommandOpensAnInterruptedChange) {
  for (const char* password : {kOld, kNew}) {
    SCOPED_TRACE(password);
    InterruptedChange change;
    MemoryFileSystem files;
    const std::string volume = "C:\\v\\a.vmv";
    files.files[volume].bytes.assign(4096, 0);
    files.files[volume].bytes.insert(files.files[volume].bytes.end(), change.mixed.begin(),
                                     change.mixed.end());
    files.files[HeaderBackupPath(volume)].bytes = change.backup;
    FakeDriverPort port;
    FakeMinuteTimer timer;
    MountPageState state;
    state.volumePath = volume;
    state.password = password;
    state.driveText = "E:";
    ASSERT_TRUE(RunMountCommand(state, files, port, timer).outcome.success);
    ASSERT_EQ(port.requests.size(), 1u);
    const std::vector<uint8_t> keys = Keys(change.oldHeader, kOld);
    EXPECT_EQ(0, memcmp(port.requests[0].sectorKey, keys.data() + kBodyKeySize, kBodyKeySize));
  }
}

// The tool's info settles an interrupted change on the disk.
TEST(HeaderRecoveryTest, ToolInfoSettlesAnInterruptedChange) {
  TempFolder folder;
  const std::string volume = folder.File("volume.vmv");
  const std::string block = folder.File("volume.ehb");
  InterruptedChange change;
  WriteWholeFile(volume, std::vector<uint8_t>(kMegabyte, 0));
  WriteWholeFile(block, change.mixed);
  WriteWholeFile(HeaderBackupPath(block), change.backup);
  FILE* in = tmpfile();
  FILE* out = tmpfile();
  ASSERT_TRUE(in && out);
  fprintf(in, "%s\n", kNew);
  rewind(in);
  EXPECT_EQ(RunCli({"info", volume, "--header", block, "--password-stdin"}, {in, out, out},
                   SystemFileSystem(), nullptr),
            kExitSuccess);
  fclose(in);
  fclose(out);
  EXPECT_EQ(ReadWholeFile(block), change.newHeader);
  EXPECT_FALSE(std::filesystem::exists(HeaderBackupPath(block)));
}

#ifndef _WIN32
// A child process changes the password back and forth between two
// passwords until it is killed at a random moment; the next child settles
// what the kill left as it starts its first change. After every kill one of
// the two passwords opens the header.
TEST(RealKillTest, KilledChangesLeaveOnePasswordThatOpens) {
  TempFolder folder;
  const std::string path = folder.File("volume.vmv");
  std::vector<uint8_t> bytes(2048, 0x5A);
  const std::vector<uint8_t> header = Sealed(kOld, kAes256);
  bytes.insert(bytes.end(), header.begin(), header.end());
  WriteWholeFile(path, bytes);
  std::mt19937 random(20261207);
  constexpr int kKills = 40;
  int oldOpened = 0;
  int newOpened = 0;
  for (int round = 0; round < kKills; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) {
        if (!ChangeVolumePassword(SystemFileSystem(), {path, kOld, kNew, kNew}).outcome.success &&
            !ChangeVolumePassword(SystemFileSystem(), {path, kNew, kOld, kOld}).outcome.success) {
          _exit(1);  // neither password opens: the parent sees the exit
        }
      }
    }
    usleep(std::uniform_int_distribution<useconds_t>(1000, 60000)(random));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the changing child gave up";
    const Snapshot left(folder);
    left.Restore(folder);
    const bool oldOpens = OpenAfterCrash(path, kOld) != 0;
    left.Restore(folder);
    const bool newOpens = OpenAfterCrash(path, kNew) != 0;
    left.Restore(folder);
    EXPECT_TRUE(oldOpens || newOpens) << "kill " << round;
    oldOpened += oldOpens;
    newOpened += newOpens;
  }
  std::cout << "crash-safety real kills: " << kKills << " children killed with SIGKILL, after each"
            << " one password opened (old " << oldOpened << ", new " << newOpened << ")\n";
  RecordProperty("real_kills", kKills);
}
#endif

}  // namespace
