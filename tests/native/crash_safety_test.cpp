// Crash safety of the password change: wherever the process dies or the
// power fails, the header opens afterwards with the old password or with the
// new one, reading never writes, and the next change repairs what is left. A
// file system that "dies" after its k-th operation (leaving the files as
// they are, the last write cut short at a sector boundary) plays a kill at
// every point of a change; a real child process killed at random moments
// checks the same natively. A backup planted beside a volume never opens or
// changes it.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/header_copy.h"
#include "crypto/aes.h"
#include "crypto/hmac.h"
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

// Opens the header at the end of `path` with the password as the mount
// command and the tool do, through the backup when an interrupted change
// tore it; the body keys it gives, or nothing. Every file of the folder is
// left byte for byte as it was.
std::vector<uint8_t> OpenAfterCrash(const std::string& path, const std::string& password) {
  std::vector<uint8_t> header = LastHeader(path);
  if (header.size() != kHeaderSize) return {};
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const std::map<std::string, std::vector<uint8_t>> before = FilesIn(folder);
  const int algorithm = OpenHeaderReadOnly(SystemFileSystem(), path, header.data(), Bytes(password),
                                           static_cast<uint32_t>(password.size()));
  EXPECT_TRUE(FilesIn(folder) == before) << "opening the header changed a file";
  if (algorithm == kAlgorithmNone) return {};
  return {header.begin() + kSectorIvSeedOffset, header.begin() + kMacOffset};
}

class CrashSafetyTest : public ::testing::TestWithParam<bool> {
 protected:
  // The file that holds the header: a volume file with a body of 3000
  // patterned bytes, or an external header block.
  void MakeFile() {
    external_ = GetParam();
    path_ = folder_.File(external_ ? "volume.ehb" : "volume.vmv");
    std::filesystem::remove(HeaderBackupPath(path_));  // left by the kill before
    if (!external_) {
      body_.resize(3072);  // whole sectors, as a volume's body
      for (size_t i = 0; i < body_.size(); ++i) body_[i] = static_cast<uint8_t>(i * 13 + 5);
    }
    const std::vector<uint8_t> header = Sealed(kOld, kBlowfish448);
    keys_ = Keys(header, kOld);
    std::vector<uint8_t> bytes = body_;
    bytes.insert(bytes.end(), header.begin(), header.end());
    WriteWholeFile(path_, bytes);
  }

  // After a change: the file holds the body it had and a header that opens
  // in place with `password` and gives the volume's body keys; no backup is
  // left.
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

// A kill at every operation of a change, with the interrupted write cut at
// every sector boundary; afterwards each password is tried on the state the
// kill left. One of them must open the volume with its body keys, without
// writing anything.
TEST_P(CrashSafetyTest, KillAtEveryOperationLeavesTheOldOrTheNewPassword) {
  const int total = OperationsOfAChange();
  ASSERT_GT(total, 8);
  int runs = 0;
  int oldOpened = 0;
  int newOpened = 0;
  for (int dieAt = 0; dieAt <= total; ++dieAt) {
    for (const uint32_t cut : kCuts) {
      SCOPED_TRACE("kill at operation " + std::to_string(dieAt) + ", cut " + std::to_string(cut));
      MakeFile();
      DyingFileSystem files;
      files.dieAt = dieAt;
      files.cut = cut;
      const bool reported = ChangeVolumePassword(files, {path_, kOld, kNew, kNew}).outcome.success;
      EXPECT_EQ(reported, dieAt == total) << "success reported although the change was killed";
      bool opened = false;
      for (const char* password : {kOld, kNew}) {
        const std::vector<uint8_t> keys = OpenAfterCrash(path_, password);
        if (keys.empty()) continue;
        EXPECT_EQ(keys, keys_);
        opened = true;
        (password == kOld ? oldOpened : newOpened) += 1;
      }
      EXPECT_TRUE(opened) << "neither password opens the header";
      if (reported) {
        EXPECT_TRUE(OpenAfterCrash(path_, kOld).empty()) << "the old password still works";
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
    files.cut = 512;
    ASSERT_FALSE(ChangeVolumePassword(files, {path_, kOld, kNew, kNew}).outcome.success);
    const Snapshot left(folder_);
    int changed = 0;
    for (const char* current : {kOld, kNew}) {
      left.Restore(folder_);
      if (ChangeVolumePassword(SystemFileSystem(), {path_, current, kThird, kThird})
              .outcome.success) {
        ++changed;
        ExpectSettled(kThird);
        EXPECT_TRUE(OpenAfterCrash(path_, kOld).empty());
        EXPECT_TRUE(OpenAfterCrash(path_, kNew).empty());
      }
    }
    EXPECT_GE(changed, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, CrashSafetyTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "ExternalHeaderBlock" : "VolumeFile";
                         });

// A change from kOld to kNew interrupted while it wrote: the two copies,
// the backup that holds them, and the headers torn between them.
struct InterruptedChange {
  std::vector<uint8_t> oldHeader = Sealed(kOld, kAes128);
  std::vector<uint8_t> newHeader;
  std::vector<uint8_t> backup;

  InterruptedChange() {
    newHeader = oldHeader;
    EXPECT_EQ(
        ResealHeader(newHeader.data(), Bytes(kOld), sizeof kOld - 1, Bytes(kNew), sizeof kNew - 1),
        1);
    backup = oldHeader;
    backup.insert(backup.end(), newHeader.begin(), newHeader.end());
  }

  // `over` with its first `length` bytes from `written`.
  static std::vector<uint8_t> Torn(const std::vector<uint8_t>& written,
                                   const std::vector<uint8_t>& over, uint32_t length) {
    std::vector<uint8_t> torn = over;
    std::copy(written.begin(), written.begin() + length, torn.begin());
    return torn;
  }
};

// The file that holds `header`: a volume file of 8 body sectors, or an
// external header block.
std::string WriteHeaderFile(const TempFolder& folder, bool external,
                            const std::vector<uint8_t>& header) {
  const std::string path = folder.File(external ? "volume.ehb" : "volume.vmv");
  const size_t body = external ? 0 : 4096;
  std::vector<uint8_t> bytes(body + kHeaderSize, 0x6B);
  memcpy(bytes.data() + body, header.data(), kHeaderSize);
  WriteWholeFile(path, bytes);
  return path;
}

std::string RunTool(const std::vector<std::string>& args, const std::string& input, int* status) {
  FILE* in = tmpfile();
  FILE* out = tmpfile();
  EXPECT_TRUE(in && out);
  fputs(input.c_str(), in);
  rewind(in);
  *status = RunCli(args, {in, out, out}, SystemFileSystem(), nullptr);
  rewind(out);
  std::string text;
  for (int c = fgetc(out); c != EOF; c = fgetc(out)) text.push_back(static_cast<char>(c));
  fclose(in);
  fclose(out);
  return text;
}

// A header torn at each sector boundary, by the change's write of the new
// copy or by its putting back of the old one, in both layouts: every read
// opens it with either password and writes nothing; a change with either
// password repairs it and goes through.
TEST(HeaderRepairTest, TornAtEachSectorBoundary) {
  InterruptedChange change;
  int cases = 0;
  for (const bool external : {false, true}) {
    for (const uint32_t length : {512u, 1024u}) {
      for (const bool backwards : {false, true}) {
        SCOPED_TRACE(std::string(external ? "header block" : "volume file") + ", " +
                     std::to_string(length) + (backwards ? " bytes of old" : " bytes of new"));
        const std::vector<uint8_t> torn =
            backwards ? InterruptedChange::Torn(change.oldHeader, change.newHeader, length)
                      : InterruptedChange::Torn(change.newHeader, change.oldHeader, length);
        for (const char* current : {kOld, kNew}) {
          TempFolder folder;
          const std::string path = WriteHeaderFile(folder, external, torn);
          WriteWholeFile(HeaderBackupPath(path), change.backup);
          EXPECT_EQ(OpenAfterCrash(path, kOld), Keys(change.oldHeader, kOld));
          EXPECT_EQ(OpenAfterCrash(path, kNew), Keys(change.oldHeader, kOld));
          EXPECT_TRUE(OpenAfterCrash(path, kThird).empty());
          ASSERT_TRUE(ChangeVolumePassword(SystemFileSystem(), {path, current, kThird, kThird})
                          .outcome.success);
          EXPECT_EQ(Keys(LastHeader(path), kThird), Keys(change.oldHeader, kOld));
          EXPECT_EQ(folder.Names().size(), 1u) << "the backup stayed";
          ++cases;
        }
      }
    }
  }
  EXPECT_EQ(cases, 16);
}

// A backup that fits no torn header is ignored whatever the password: the
// header in place mixed with a copy at a byte that is no sector boundary,
// a header of its own, a backup of the wrong size, copies that agree on a
// sector. Nothing is written, and a change fails without touching a file.
TEST(HeaderRepairTest, BackupsThatFitNoTornHeaderAreIgnored) {
  InterruptedChange change;
  std::vector<uint8_t> sameMiddle = change.backup;
  std::copy(change.oldHeader.begin() + 512, change.oldHeader.begin() + 1024,
            sameMiddle.begin() + kHeaderSize + 512);
  const struct {
    const char* name;
    std::vector<uint8_t> inPlace;
    std::vector<uint8_t> backup;
  } kCases[] = {
      {"cut at a byte", InterruptedChange::Torn(change.newHeader, change.oldHeader, 700),
       change.backup},
      {"another header", Sealed(kThird, kAes256), change.backup},
      {"short backup", InterruptedChange::Torn(change.newHeader, change.oldHeader, 512),
       std::vector<uint8_t>(change.backup.begin(), change.backup.end() - 1)},
      {"copies agree on a sector", InterruptedChange::Torn(change.newHeader, change.oldHeader, 512),
       sameMiddle},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    TempFolder folder;
    const std::string path = WriteHeaderFile(folder, true, test.inPlace);
    WriteWholeFile(HeaderBackupPath(path), test.backup);
    const auto before = FilesIn(folder.Folder());
    for (const char* password : {kOld, kNew, "wrong"}) {
      EXPECT_TRUE(OpenAfterCrash(path, password).empty());
      EXPECT_FALSE(ChangeVolumePassword(SystemFileSystem(), {path, password, kThird, kThird})
                       .outcome.success);
      EXPECT_TRUE(FilesIn(folder.Folder()) == before);
    }
  }
}

// An AES-128 header opened with `password`, sealed again under it as its
// plaintext stands, whatever that holds.
std::vector<uint8_t> SealedAsItStands(std::vector<uint8_t> opened, const std::string& password) {
  uint8_t key[kDerivedKeySize];
  Pbkdf2HmacSha1(Bytes(password), static_cast<int32_t>(password.size()), opened.data(), kSaltSize,
                 kPbkdf2Iterations, key, kDerivedKeySize);
  HmacSha1(opened.data() + kSealedOffset, kSealedSize, key, kMacSize, opened.data() + kMacOffset);
  AesContext aes;
  EXPECT_EQ(AesSetKey(&aes, key, 128), 0);
  AesCbcEncrypt(&aes, opened.data() + kHeaderIvOffset, opened.data() + kSealedOffset,
                kSealedSize / 16);
  return opened;
}

// A torn header whose new copy opens with its password but is not as a
// change seals one (a signature or reserved byte changed): that copy is
// never used; the old copy still is.
TEST(HeaderRepairTest, CopiesThatAreNotWellFormedAreNotUsed) {
  InterruptedChange change;
  for (const uint32_t offset : {kSignatureOffset, kReservedOffset + kReservedSize - 1}) {
    SCOPED_TRACE(offset);
    std::vector<uint8_t> opened = change.newHeader;
    ASSERT_EQ(OpenHeader(opened.data(), Bytes(kNew), sizeof kNew - 1), kAes128);
    opened[offset] ^= 1;
    const std::vector<uint8_t> odd = SealedAsItStands(opened, kNew);
    ASSERT_EQ(Keys(odd, kNew), Keys(change.oldHeader, kOld));  // it does open
    TempFolder folder;
    const std::string path =
        WriteHeaderFile(folder, false, InterruptedChange::Torn(odd, change.oldHeader, 1024));
    std::vector<uint8_t> backup = change.oldHeader;
    backup.insert(backup.end(), odd.begin(), odd.end());
    WriteWholeFile(HeaderBackupPath(path), backup);
    EXPECT_TRUE(OpenAfterCrash(path, kNew).empty());
    EXPECT_EQ(OpenAfterCrash(path, kOld), Keys(change.oldHeader, kOld));
  }
}

// The planted backup: "a.vmv" ("alpha") with a backup of its own header and
// "b.vmv"'s ("beta"), in either order, and as a link to another file. The
// header in place is a copy, so the backup is stale: "beta" opens nothing,
// reads and refused changes write nothing, "alpha" still opens, and its
// change replaces the backup. The link is no change's backup: the change
// refuses, and the link and its target stay as they were.
TEST(HeaderRepairTest, PlantedBackupNeverOpensOrChangesAVolume) {
  const std::vector<uint8_t> a = Sealed("alpha", kAes256);
  const std::vector<uint8_t> b = Sealed("beta", kBlowfish128);
  std::vector<uint8_t> ab = a;
  ab.insert(ab.end(), b.begin(), b.end());
  std::vector<uint8_t> ba = b;
  ba.insert(ba.end(), a.begin(), a.end());
  for (int plant = 0; plant < 3; ++plant) {
    SCOPED_TRACE("plant " + std::to_string(plant));
    TempFolder folder;
    const std::string volume = WriteHeaderFile(folder, false, a);
    const std::string backup = HeaderBackupPath(volume);
    const std::string victim = folder.File("victim");
    if (plant == 2) {
#ifdef _WIN32
      continue;
#else
      WriteWholeFile(victim, ab);
      std::filesystem::create_symlink(victim, backup);
#endif
    } else {
      WriteWholeFile(backup, plant == 0 ? ab : ba);
    }
    const auto before = FilesIn(folder.Folder());
    EXPECT_TRUE(OpenAfterCrash(volume, "beta").empty());
    int status = 0;
    const std::string said = RunTool({"info", volume, "--password-stdin"}, "beta\n", &status);
    EXPECT_EQ(status, kExitFailure);
    EXPECT_NE(said.find(plant == 2 ? "refuses to run until it is moved away"
                                   : "the next password change removes it"),
              std::string::npos)
        << said;
    EXPECT_EQ(ChangeVolumePassword(SystemFileSystem(), {volume, "beta", "x", "x"}).outcome.message,
              "Error changing password.");
    EXPECT_TRUE(FilesIn(folder.Folder()) == before) << "a refused open or change wrote";
    EXPECT_EQ(OpenAfterCrash(volume, "alpha"), Keys(a, "alpha"));
    const Outcome changed =
        ChangeVolumePassword(SystemFileSystem(), {volume, "alpha", kThird, kThird}).outcome;
    if (plant == 2) {
      EXPECT_EQ(changed.message, BackupInTheWayMessage(volume));
      EXPECT_TRUE(FilesIn(folder.Folder()) == before);
      EXPECT_TRUE(std::filesystem::is_symlink(backup));
      continue;
    }
    ASSERT_TRUE(changed.success);
    EXPECT_EQ(Keys(LastHeader(volume), kThird), Keys(a, "alpha"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(backup)));
  }
}

// The mount command opens a torn header with either password over a file
// system it cannot write, and changes no file.
TEST(HeaderRepairTest, MountCommandOpensATornHeader) {
  for (const char* password : {kOld, kNew}) {
    SCOPED_TRACE(password);
    InterruptedChange change;
    MemoryFileSystem files;
    const std::string volume = "C:\\v\\a.vmv";
    files.files[volume].bytes.assign(4096, 0);
    const std::vector<uint8_t> torn =
        InterruptedChange::Torn(change.newHeader, change.oldHeader, 512);
    files.files[volume].bytes.insert(files.files[volume].bytes.end(), torn.begin(), torn.end());
    files.files[HeaderBackupPath(volume)].bytes = change.backup;
    const std::vector<uint8_t> volumeBytes = files.files[volume].bytes;
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
    EXPECT_EQ(files.files[volume].bytes, volumeBytes);
    EXPECT_EQ(files.files[HeaderBackupPath(volume)].bytes, change.backup);
  }
}

// The tool's info opens a torn header block through its backup, says so,
// and writes nothing.
TEST(HeaderRepairTest, ToolInfoReadsATornHeaderWithoutWriting) {
  TempFolder folder;
  const std::string volume = folder.File("volume.vmv");
  InterruptedChange change;
  WriteWholeFile(volume, std::vector<uint8_t>(kMegabyte, 0));
  const std::string block = WriteHeaderFile(
      folder, true, InterruptedChange::Torn(change.oldHeader, change.newHeader, 1024));
  WriteWholeFile(HeaderBackupPath(block), change.backup);
  const auto before = FilesIn(folder.Folder());
  int status = 0;
  const std::string said = RunTool({"info", volume, "--header", block, "--password-stdin"},
                                   std::string(kNew) + "\n", &status);
  EXPECT_EQ(status, kExitSuccess);
  EXPECT_NE(said.find("torn by an interrupted password change"), std::string::npos) << said;
  EXPECT_TRUE(FilesIn(folder.Folder()) == before);
}

// A repair whose write, flush or read-back fails is reported and keeps the
// backup, and the current password still opens the header; a change that
// cannot create its backup writes nothing.
TEST(HeaderRepairTest, RepairAndBackupFaults) {
  InterruptedChange change;
  const std::vector<uint8_t> torn =
      InterruptedChange::Torn(change.newHeader, change.oldHeader, 512);
  FaultyFileSystem clean;
  {
    // The calls of a change that goes through, to find the repair's.
    TempFolder folder;
    const std::string path = WriteHeaderFile(folder, false, torn);
    WriteWholeFile(HeaderBackupPath(path), change.backup);
    ASSERT_TRUE(ChangeVolumePassword(clean, {path, kOld, kThird, kThird}).outcome.success);
  }
  for (const char* call : {"write", "flush", "read-back"}) {
    SCOPED_TRACE(call);
    TempFolder folder;
    const std::string path = WriteHeaderFile(folder, false, torn);
    WriteWholeFile(HeaderBackupPath(path), change.backup);
    FaultyFileSystem files;
    const std::string name = std::string(call) == "read-back" ? "read" : call;
    const auto first = std::find(clean.log.begin(), clean.log.end(), "write");
    files.failAt = static_cast<int>(std::find(first, clean.log.end(), name) - clean.log.begin());
    EXPECT_EQ(ChangeVolumePassword(files, {path, kOld, kThird, kThird}).outcome.message,
              "Error writing file.");
    EXPECT_EQ(ReadWholeFile(HeaderBackupPath(path)), change.backup);
    EXPECT_EQ(OpenAfterCrash(path, kOld), Keys(change.oldHeader, kOld));
  }
  TempFolder folder;
  const std::string path = WriteHeaderFile(folder, false, change.oldHeader);
  const auto before = FilesIn(folder.Folder());
  FaultyFileSystem files;
  files.failOpen = HeaderBackupPath(path);
  EXPECT_EQ(ChangeVolumePassword(files, {path, kOld, kNew, kNew}).outcome.message,
            "Error writing file.");
  EXPECT_TRUE(FilesIn(folder.Folder()) == before);
}

// `restore-header` over a header torn by an interrupted change, with a saved
// header of the volume sealed under the old, the new or a third password
// (--force: the torn header opens with neither copy): a call that fails at
// every step (a write cut short) leaves a header that opens with one of the
// three, with the volume's keys; one that goes through leaves the saved
// header in place and no backup.
TEST(HeaderRepairTest, RestoreOverATornHeaderAlwaysLeavesOneThatOpens) {
  InterruptedChange change;
  TempFolder folder;
  int runs = 0;
  for (const uint32_t tear : {512u, 1024u}) {
    for (const std::string password : {kOld, kNew, kThird}) {
      SCOPED_TRACE(std::to_string(tear) + " bytes torn, restored with " + password);
      std::vector<uint8_t> saved = change.oldHeader;
      ASSERT_EQ(ResealHeader(saved.data(), Bytes(kOld), sizeof kOld - 1, Bytes(password),
                             static_cast<uint32_t>(password.size())),
                1);
      const std::vector<uint8_t> torn =
          tear == 512 ? InterruptedChange::Torn(change.oldHeader, change.newHeader, tear)
                      : InterruptedChange::Torn(change.newHeader, change.oldHeader, tear);
      const HeaderCopyInput input = {WriteHeaderFile(folder, false, torn), "",
                                     folder.File("saved.header"), password, password == kThird};
      WriteWholeFile(input.copyPath, saved);
      WriteWholeFile(HeaderBackupPath(input.volumePath), change.backup);
      const Snapshot before(folder);
      FaultyFileSystem faulty;
      faulty.shortWrite = true;
      bool restored = false;
      for (faulty.failAt = 0; !restored; ++faulty.failAt, ++runs) {
        SCOPED_TRACE("call " + std::to_string(faulty.failAt) + " fails");
        before.Restore(folder);
        faulty.log.clear();
        restored = RestoreVolumeHeader(faulty, input).success;
        std::vector<uint8_t> opened;
        for (const std::string& candidate : {password, std::string(kOld), std::string(kNew)}) {
          if (!(opened = OpenAfterCrash(input.volumePath, candidate)).empty()) break;
        }
        EXPECT_EQ(opened, Keys(change.oldHeader, kOld)) << "no password opens the header";
        EXPECT_TRUE(!restored || (LastHeader(input.volumePath) == saved &&
                                  !std::filesystem::exists(HeaderBackupPath(input.volumePath))));
      }
    }
  }
  std::cout << "restore over a torn header: " << runs << " runs, each left a header that opens\n";
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
    const bool oldOpens = !OpenAfterCrash(path, kOld).empty();
    left.Restore(folder);
    const bool newOpens = !OpenAfterCrash(path, kNew).empty();
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
