// Volume care without a mount: growing a volume (every algorithm in both
// header placements, every refusal changing nothing, a kill at every
// operation and real SIGKILLs leaving a volume that opens at its old or
// its new size and that the next resize finishes or undoes), export and
// import (the round trip, a failing call at every step leaving no file, a
// source changing under the copy) and check's findings, which never write.
#include "cli/volume_care.h"

#include <gtest/gtest.h>
#include <string.h>

#include <random>

#include "crypto/sectors.h"
#include "engine_test_support.h"
#include "volume/body_cipher.h"
#include "volume/create_volume.h"
#include "volume/header_backup.h"
#include "volume/resize_volume.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr char kPassword[] = "care password";

struct Volume {
  std::string path;
  std::string header;  // "" : in the volume file
};

Volume MakeVolume(const TempFolder& folder, const std::string& name, bool external, int algorithm,
                  uint32_t sizeMb) {
  Volume volume = {folder.File(name + ".vmv"), external ? folder.File(name + ".ehb") : ""};
  CreateVolumeInput input;
  input.volumePath = volume.path;
  input.headerPath = volume.header;
  input.sizeMb = sizeMb;
  input.password = input.confirmation = kPassword;
  input.algorithm = algorithm;
  EXPECT_TRUE(CreateVolume(SystemFileSystem(), input).outcome.success);
  return volume;
}

// What imports `image` into `volume` with the test's password.
ImportInput ImportOf(const std::string& image, const Volume& volume, int algorithm) {
  ImportInput input;
  input.imagePath = image;
  input.volume.volumePath = volume.path;
  input.volume.headerPath = volume.header;
  input.volume.password = input.volume.confirmation = kPassword;
  input.volume.algorithm = algorithm;
  return input;
}

ResizeOutcome Resize(FileSystem& files, const Volume& volume, uint32_t sizeMb,
                     const std::atomic<bool>* cancel = nullptr, const StreamProgress& shown = {}) {
  ResizeVolumeInput input = {volume.path, volume.header, kPassword, sizeMb};
  return ResizeVolume(files, input, shown, cancel);
}

// The body as the volume's keys decrypt it, when the header opens as `info`
// opens it; empty otherwise.
std::vector<uint8_t> Decrypted(const Volume& volume) {
  VolumeInfo info;
  HeaderBuffer header;
  if (!OpenVolumeHeader(SystemFileSystem(), volume.path, volume.header, kPassword, OpenMode::kRead,
                        &info, &header)
           .success) {
    return {};
  }
  BodyCipher cipher;
  BodyCipherInit(&cipher, info.algorithm, header.bytes + kSectorKeyOffset,
                 header.bytes + kSectorIvSeedOffset);
  std::vector<uint8_t> body = ReadWholeFile(volume.path);
  body.resize(info.bodySize);
  BodyCipherDecrypt(&cipher, body.data(), 0, static_cast<uint32_t>(body.size() / kSectorSize));
  return body;
}

// The volume opens with its body, of `megabytes`, decrypting to zeros past
// `keptMegabytes` and to `kept` before, with no journal beside it.
void ExpectGrown(const Volume& volume, uint32_t megabytes, const std::vector<uint8_t>& kept) {
  const std::vector<uint8_t> body = Decrypted(volume);
  ASSERT_EQ(body.size(), uint64_t{megabytes} * kMegabyte);
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), body.begin()));
  EXPECT_TRUE(std::all_of(body.begin() + kept.size(), body.end(), [](uint8_t b) { return b == 0; }))
      << "a new sector is no encrypted zeros";
  EXPECT_FALSE(SystemFileSystem().Exists(ResizeJournalPath(volume.path)));
}

// Every file of a folder, to put the state left by a kill back.
using Files = std::map<std::string, std::vector<uint8_t>>;
void Restore(const std::string& folder, const Files& files) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::filesystem::remove(entry.path());
  }
  for (const auto& [path, bytes] : files) WriteWholeFile(path, bytes);
}

TEST(ResizeTest, GrowsEveryAlgorithmInBothPlacements) {
  for (const bool external : {false, true}) {
    for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
      SCOPED_TRACE(std::string(AlgorithmName(algorithm)) + (external ? ", external" : ""));
      TempFolder folder;
      const Volume volume = MakeVolume(folder, "v", external, algorithm, 1);
      const std::vector<uint8_t> kept = Decrypted(volume);
      const ResizeOutcome grown = Resize(SystemFileSystem(), volume, 3);
      ASSERT_EQ(grown.result, ResizeResult::kGrown) << grown.outcome.message;
      EXPECT_EQ(grown.outcome.message, volume.path + " grew from 1 MB to 3 MB.");
      ExpectGrown(volume, 3, kept);
      EXPECT_EQ(folder.Names().size(), external ? 2u : 1u);
#ifndef _WIN32
      struct stat file;
      ASSERT_EQ(stat(volume.path.c_str(), &file), 0);
      EXPECT_GE(uint64_t(file.st_blocks) * 512, uint64_t(file.st_size) / 4096 * 4096) << "sparse";
#endif
      EXPECT_EQ(Resize(SystemFileSystem(), volume, 3).result, ResizeResult::kUnchanged);
    }
  }
}

TEST(ResizeTest, RefusalsChangeNothing) {
  TempFolder folder;
  const Volume inside = MakeVolume(folder, "in", false, kAes256, 2);
  const Volume apart = MakeVolume(folder, "apart", true, kBlowfish128, 1);
  const Volume other = MakeVolume(folder, "other", true, kBlowfish128, 1);
  const Volume wrongBlock = {apart.path, other.header};
  const Volume odd = {folder.File("odd.vmv"), apart.header};
  std::vector<uint8_t> oddBytes = ReadWholeFile(apart.path);
  oddBytes.resize(oddBytes.size() + 512);
  WriteWholeFile(odd.path, oddBytes);
  const std::string journal = ResizeJournalPath(inside.path);
  FaultyFileSystem roomless;
  roomless.freeSpace = kMegabyte - 1;
  FileSystem* files = &SystemFileSystem();
  const struct {
    const char* what;
    Volume volume;
    uint32_t sizeMb;
    std::function<void()> plant;
    std::string said;
  } kRows[] = {
      {"smaller", inside, 1, {}, "A volume cannot be made smaller: " + inside.path + " is 2 MB."},
      {"zero", inside, 0, {}, "Volume size must be from 1 to 999999 MB"},
      {"too large", inside, 1000000, {}, "Volume size must be from 1 to 999999 MB"},
      {"no room", inside, 3, [&] { files = &roomless; }, "There is not enough free space on"},
      {"junk journal", inside, 3, [&] { WriteWholeFile(journal, {'x'}); },
       journal + " was not made by a resize of this volume"},
      {"journal of another volume", inside, 3,
       [&] {
         const Volume copy = MakeVolume(folder, "copy", false, kAes256, 1);
         std::atomic<bool> stop = true;
         Resize(SystemFileSystem(), copy, 3, &stop);
         std::filesystem::copy_file(ResizeJournalPath(copy.path), journal);
       },
       "was not made by a resize of this volume"},
      {"header block of another volume", wrongBlock, 3, {}, "may belong to another volume"},
      {"body of no whole megabytes", odd, 3, {}, "not a whole number of megabytes"},
#ifndef _WIN32
      {"journal is a link", inside, 3,
       [&] { std::filesystem::create_symlink(inside.path, journal); },
       "was not made by a resize of this volume"},
#endif
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.what);
    files = &SystemFileSystem();
    if (row.plant) row.plant();
    const Files before = FilesIn(folder.Folder());
    const ResizeOutcome refused = Resize(*files, row.volume, row.sizeMb);
    EXPECT_EQ(refused.result, ResizeResult::kRefused);
    EXPECT_NE(refused.outcome.message.find(row.said), std::string::npos) << refused.outcome.message;
    EXPECT_TRUE(FilesIn(folder.Folder()) == before);
    std::filesystem::remove(journal);
  }
#ifndef _WIN32
  // A mount holds the volume file with a lock; a read-only one shares it.
  const int held = open(inside.path.c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_SH), 0);
  EXPECT_EQ(Resize(SystemFileSystem(), inside, 3).outcome.message,
            inside.path + " is mounted; unmount it first. Nothing was changed.");
  close(held);
#endif
  // A header torn by an interrupted password change.
  std::vector<uint8_t> bytes = ReadWholeFile(inside.path);
  std::vector<uint8_t> old(bytes.end() - kHeaderSize, bytes.end());
  std::vector<uint8_t> changed = old;
  ASSERT_EQ(ResealHeader(changed.data(), reinterpret_cast<const uint8_t*>(kPassword),
                         sizeof kPassword - 1, reinterpret_cast<const uint8_t*>("n"), 1),
            1);
  std::vector<uint8_t> backup = old;
  backup.insert(backup.end(), changed.begin(), changed.end());
  WriteWholeFile(HeaderBackupPath(inside.path), backup);
  std::copy(changed.begin(), changed.begin() + 512, bytes.end() - kHeaderSize);
  WriteWholeFile(inside.path, bytes);
  const Files before = FilesIn(folder.Folder());
  EXPECT_NE(Resize(SystemFileSystem(), inside, 3).outcome.message.find("torn"), std::string::npos);
  EXPECT_TRUE(FilesIn(folder.Folder()) == before);
}

// A kill at every operation of a growth, the interrupted write cut at every
// sector boundary: the volume opens at its old or its new size with its
// data; resizing to the new size then finishes it, and to the old size
// gives back the old file byte for byte.
TEST(ResizeTest, KillAtEveryOperationLeavesAVolumeThatOpens) {
  for (const bool external : {false, true}) {
    SCOPED_TRACE(external ? "external header block" : "header in the volume file");
    TempFolder folder;
    const Volume volume = MakeVolume(folder, "v", external, kAes128, 1);
    const Files original = FilesIn(folder.Folder());
    const std::vector<uint8_t> kept = Decrypted(volume);
    DyingFileSystem counted;
    ASSERT_EQ(Resize(counted, volume, 3).result, ResizeResult::kGrown);
    int runs = 0;
    int cutExtensions = 0;
    for (int dieAt = 0; dieAt <= counted.operations; ++dieAt) {
      for (const uint32_t cut : kCuts) {
        SCOPED_TRACE("kill at " + std::to_string(dieAt) + ", cut " + std::to_string(cut));
        Restore(folder.Folder(), original);
        DyingFileSystem dying;
        dying.dieAt = dieAt;
        dying.cut = cut;
        Resize(dying, volume, 3);
        // Only a power loss could cut the one write that extends the file
        // with the new header; then the journal leads to the old one.
        const std::vector<uint8_t> body = Decrypted(volume);
        const bool cutExtension = body.empty() && dying.wroteOnDeath;
        cutExtensions += cutExtension;
        EXPECT_TRUE(body.size() == kMegabyte || body.size() == 3 * kMegabyte || cutExtension);
        EXPECT_TRUE(cutExtension || std::equal(kept.begin(), kept.end(), body.begin()));
        const Files left = FilesIn(folder.Folder());
        const ResizeOutcome undone = Resize(SystemFileSystem(), volume, 1);
        if (undone.result != ResizeResult::kRefused) {
          EXPECT_TRUE(FilesIn(folder.Folder()) == original);
        }
        Restore(folder.Folder(), left);
        const ResizeOutcome finished = Resize(SystemFileSystem(), volume, 3);
        EXPECT_TRUE(finished.outcome.success) << finished.outcome.message;
        ExpectGrown(volume, 3, kept);
        ++runs;
        if (!dying.wroteOnDeath) break;
      }
    }
    EXPECT_LE(cutExtensions, 3);  // the one extending write, cut at its three sector boundaries
    std::cout << "resize kill points: " << runs << " runs, each opened afterwards ("
              << cutExtensions << " through the journal after a cut extension)\n";
  }
}

TEST(ResizeTest, CancelLeavesAJournalThatSaysWhatIsLeft) {
  TempFolder folder;
  const Volume volume = MakeVolume(folder, "v", false, kBlowfish448, 1);
  const std::vector<uint8_t> kept = Decrypted(volume);
  std::atomic<bool> cancel = false;
  const ResizeOutcome stopped = Resize(SystemFileSystem(), volume, 12, &cancel,
                                       [&](uint32_t done, uint32_t) { cancel = done >= 3; });
  EXPECT_EQ(stopped.result, ResizeResult::kStopped);
  EXPECT_NE(stopped.outcome.message.find("7 MB of its new space are not written yet"),
            std::string::npos)
      << stopped.outcome.message;
  EXPECT_EQ(Decrypted(volume).size(), 12u * kMegabyte);
  VolumeInfo info;
  ASSERT_TRUE(ReadVolumeInfo(SystemFileSystem(), volume.path, "", kPassword, &info).success);
  EXPECT_EQ(info.resize.state, PendingResize::State::kPending);
  EXPECT_EQ(info.resize.nextMb, 5u);
  const VolumeCheck check = CheckVolume(SystemFileSystem(), volume.path, "", kPassword);
  ASSERT_EQ(check.problems.size(), 1u);
  EXPECT_NE(check.problems[0].find("--size 12' finishes it"), std::string::npos);
  EXPECT_EQ(Resize(SystemFileSystem(), volume, 5).result, ResizeResult::kRefused);
  EXPECT_EQ(Resize(SystemFileSystem(), volume, 12).result, ResizeResult::kGrown);
  ExpectGrown(volume, 12, kept);
}

#ifndef _WIN32
// A child grows the volume to the next size until it is killed at a random
// moment; after every kill the volume opens at the size before or after,
// and the next growth settles it.
TEST(ResizeTest, RealKillsLeaveAVolumeThatOpens) {
  TempFolder folder;
  const Volume volume = MakeVolume(folder, "v", false, kAes256, 1);
  const std::vector<uint8_t> kept = Decrypted(volume);
  std::mt19937 random(20261208);
  uint32_t settled = 1;
  for (int round = 0; round < 16; ++round) {
    const uint32_t target = settled + 3;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(Resize(SystemFileSystem(), volume, target).outcome.success ? 0 : 1);
    usleep(std::uniform_int_distribution<useconds_t>(0, 30000)(random));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const size_t size = Decrypted(volume).size();
    EXPECT_TRUE(size == settled * kMegabyte || size == target * kMegabyte) << "round " << round;
    ASSERT_TRUE(Resize(SystemFileSystem(), volume, target).outcome.success);
    settled = target;
  }
  ExpectGrown(volume, settled, kept);
}
#endif

// An image of 1.5 MB of random sectors into a volume and back out: the
// volume is 2 MB, the export the image followed by zeros.
TEST(ExportImportTest, RoundTripInBothPlacements) {
  for (const bool external : {false, true}) {
    TempFolder folder;
    std::vector<uint8_t> image(3 * kMegabyte / 2);
    std::mt19937 random(7);
    for (uint8_t& byte : image) byte = static_cast<uint8_t>(random());
    WriteWholeFile(folder.File("in.img"), image);
    ImportInput input = ImportOf(folder.File("in.img"),
                                 {folder.File("v.vmv"), external ? folder.File("v.ehb") : ""},
                                 external ? kBlowfish128 : kAes256);
    ASSERT_TRUE(ImportImage(SystemFileSystem(), input).success);
    const Outcome exported = ExportVolume(
        SystemFileSystem(),
        {input.volume.volumePath, input.volume.headerPath, folder.File("out.img"), kPassword});
    ASSERT_TRUE(exported.success) << exported.message;
    std::vector<uint8_t> expected = image;
    expected.resize(2 * kMegabyte);
    EXPECT_EQ(ReadWholeFile(folder.File("out.img")), expected);
  }
}

// A failing call at every step (a full disk, a failed read), a cancel and
// a source changed under the copy: each leaves no image, no volume.
TEST(ExportImportTest, FailuresLeaveNothingBehind) {
  TempFolder folder;
  const Volume volume = MakeVolume(folder, "v", false, kAes128, 9);
  WriteWholeFile(folder.File("in.img"), std::vector<uint8_t>(5 * kMegabyte, 0x33));
  const Files before = FilesIn(folder.Folder());
  const ExportInput exportInput = {volume.path, "", folder.File("out.img"), kPassword};
  const auto import = [&](FileSystem& files, const StreamProgress& progress) {
    ImportInput input = ImportOf(folder.File("in.img"), {folder.File("new.vmv"), ""}, kAes128);
    return ImportImage(files, input, progress);
  };
  int runs = 0;
  for (const bool exporting : {true, false}) {
    bool done = false;
    for (int failAt = 0; !done; ++failAt, ++runs) {
      ASSERT_LT(failAt, 200) << "never went through";
      FaultyFileSystem faulty;
      faulty.failAt = failAt;
      faulty.shortWrite = true;
      done = exporting ? ExportVolume(faulty, exportInput).success : import(faulty, {}).success;
      if (!done) {
        EXPECT_TRUE(FilesIn(folder.Folder()) == before) << "call " << failAt;
      }
    }
    Restore(folder.Folder(), before);
  }
  std::atomic<bool> cancel = true;
  EXPECT_EQ(ExportVolume(SystemFileSystem(), exportInput, {}, &cancel).message,
            "Export cancelled. " + exportInput.imagePath + " was removed.");
#ifndef _WIN32
  // A byte written at the end of the source while the copy runs (on
  // Windows the copy's open shares the source for reading only).
  const auto touch = [&](const std::string& path) {
    return [path](uint32_t done, uint32_t) {
      if (done == 2) std::ofstream(path, std::ios::binary | std::ios::app).put('x');
    };
  };
  EXPECT_NE(
      ExportVolume(SystemFileSystem(), exportInput, touch(volume.path)).message.find("changed"),
      std::string::npos);
  EXPECT_NE(import(SystemFileSystem(), touch(folder.File("in.img"))).message.find("changed"),
            std::string::npos);
#endif
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"in.img", "v.vmv"}));
  std::cout << "export and import with a failing call: " << runs << " runs, none left a file\n";
}

TEST(ExportImportTest, ImagesThatAreNoDiskAreRefused) {
  TempFolder folder;
  const struct {
    uint64_t size;
    const char* said;
  } kRows[] = {
      {0, "not a whole number of 512-byte sectors"},
      {1000, "not a whole number of 512-byte sectors"},
#ifndef _WIN32  // Wine makes no sparse file of that size
      {uint64_t{kMaxVolumeSizeMb} * kMegabyte + 512, "larger than the largest volume"},
#endif
  };
  for (const auto& row : kRows) {
    WriteWholeFile(folder.File("in.img"), {});
    std::filesystem::resize_file(folder.File("in.img"), row.size);
    ImportInput input = ImportOf(folder.File("in.img"), {folder.File("v.vmv"), ""}, kAes128);
    EXPECT_NE(ImportImage(SystemFileSystem(), input).message.find(row.said), std::string::npos);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"in.img"});
  }
}

// What check finds on damaged volumes, none of which it writes.
TEST(CheckTest, FindsWhatIsNotSound) {
  TempFolder folder;
  const Volume sound = MakeVolume(folder, "sound", false, kAes128, 1);
  const Volume cut = MakeVolume(folder, "cut", false, kAes128, 2);
  std::filesystem::resize_file(cut.path, kMegabyte + 700);
  const Volume planted = MakeVolume(folder, "planted", false, kAes128, 1);
  WriteWholeFile(HeaderBackupPath(planted.path), std::vector<uint8_t>(kHeaderSize, 7));
  const Volume apart = MakeVolume(folder, "apart", true, kAes128, 1);
  const Volume other = MakeVolume(folder, "other", true, kAes256, 1);
  const struct {
    Volume volume;
    std::vector<std::string> said;
  } kRows[] = {
      {sound, {}},
      {cut, {"It may have been cut short", "The header does not open"}},
      {planted, {"fits no interrupted password change"}},
      {{apart.path, other.header}, {"may belong to another volume"}},
  };
  const Files before = FilesIn(folder.Folder());
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.volume.path + " " + row.volume.header);
    const VolumeCheck check =
        CheckVolume(SystemFileSystem(), row.volume.path, row.volume.header, kPassword);
    ASSERT_EQ(check.problems.size(), row.said.size());
    for (size_t i = 0; i < row.said.size(); ++i) {
      EXPECT_NE(check.problems[i].find(row.said[i]), std::string::npos) << check.problems[i];
    }
  }
  EXPECT_TRUE(FilesIn(folder.Folder()) == before) << "check wrote";
}

}  // namespace
