// Writes the inputs of the fuzz targets, in the form each target reads (see
// the comment at the top of each target): make_fuzz_seeds <folder> fills
// <folder>/corpus/<target>/ with a few seeds each, and
// <folder>/regressions/<target>/ with the inputs of past findings, which
// scripts/fuzz.sh replays before it fuzzes. Headers are sealed with a fixed
// random seed, so the files come out the same on every run.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "driver/protocol.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_random.h"
#include "volume/header.h"

namespace {

constexpr char kPassword[] = "correct horse";
constexpr char kNewPassword[] = "battery staple";
constexpr uint8_t kNeverFails = 0xFF;  // draws before the random source fails

std::filesystem::path root;

void WriteTo(const char* kind, const char* target, const char* name, const FuzzInputWriter& seed) {
  const std::filesystem::path folder = root / kind / target;
  std::filesystem::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(seed.bytes().data()),
            static_cast<std::streamsize>(seed.bytes().size()));
}

void Write(const char* target, const char* name, const FuzzInputWriter& seed) {
  WriteTo("corpus", target, name, seed);
}

void WriteRegression(const char* target, const char* name, const FuzzInputWriter& seed) {
  WriteTo("regressions", target, name, seed);
}

std::string SealedHeader(int algorithm, const char* password) {
  uint8_t header[kHeaderSize];
  uint8_t sectorKey[kBodyKeySize];
  uint8_t sectorIvSeed[kBodyKeySize];
  if (!SealHeader(header, reinterpret_cast<const uint8_t*>(password),
                  static_cast<uint32_t>(strlen(password)), algorithm, sectorKey, sectorIvSeed)) {
    fprintf(stderr, "cannot seal a header\n");
    exit(1);
  }
  return std::string(reinterpret_cast<const char*>(header), kHeaderSize);
}

void HeaderSeeds() {
  for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
    const std::string header = SealedHeader(algorithm, kPassword);
    const std::string id = std::to_string(algorithm);
    Write("open_header", ("sealed-" + id).c_str(),
          FuzzInputWriter().Password(kPassword).Bytes(header));
    Write("reseal_header", ("sealed-" + id).c_str(),
          FuzzInputWriter()
              .Uint32(7)
              .Byte(kNeverFails)
              .Password(kPassword)
              .Password(kNewPassword)
              .Bytes(header));
  }
  const std::string aes = SealedHeader(kAes128, kPassword);
  const std::string blowfish = SealedHeader(kBlowfish128, kPassword);
  // The unused part of headerIv plays no part.
  std::string unusedIv = blowfish;
  unusedIv[kHeaderIvOffset + 40] ^= 1;
  Write("open_header", "unused-iv-flipped", FuzzInputWriter().Password(kPassword).Bytes(unusedIv));
  std::string flippedMac = aes;
  flippedMac[kMacOffset] ^= 0x80;
  Write("open_header", "mac-flipped", FuzzInputWriter().Password(kPassword).Bytes(flippedMac));
  Write("open_header", "wrong-password", FuzzInputWriter().Password(kNewPassword).Bytes(aes));
  Write("open_header", "zeros",
        FuzzInputWriter().Password(std::string(64, 'p')).Bytes(std::string(kHeaderSize, '\0')));

  Write("reseal_header", "same-password",
        FuzzInputWriter()
            .Uint32(1)
            .Byte(kNeverFails)
            .Password(kPassword)
            .Password(kPassword)
            .Bytes(blowfish));
  Write("reseal_header", "wrong-password",
        FuzzInputWriter()
            .Uint32(2)
            .Byte(kNeverFails)
            .Password(kNewPassword)
            .Password(kPassword)
            .Bytes(aes));
  Write("reseal_header", "no-random-salt",
        FuzzInputWriter().Uint32(3).Byte(0).Password(kPassword).Password(kNewPassword).Bytes(aes));
  Write("reseal_header", "no-random-iv",
        FuzzInputWriter().Uint32(4).Byte(1).Password(kPassword).Password(kNewPassword).Bytes(aes));
}

struct CreateSeed {
  const char* name;
  uint8_t drawsBeforeFailure;
  uint64_t failMask;
  bool freeSpaceKnown;
  uint64_t freeSpace;
  const char* volumePath;
  const char* headerPath;
  const char* sizeText;
  std::string password;
  std::string confirmation;
  uint8_t algorithm;
};

FuzzInputWriter CreateInput(const CreateSeed& seed) {
  return FuzzInputWriter()
      .Uint32(11)
      .Byte(seed.drawsBeforeFailure)
      .Uint64(seed.failMask)
      .Byte(seed.freeSpaceKnown ? 1 : 0)
      .Uint64(seed.freeSpace)
      .String(seed.volumePath)
      .String(seed.headerPath)
      .String(seed.sizeText)
      .String(seed.password)
      .String(seed.confirmation)
      .Byte(seed.algorithm);
}

void CreateVolumeSeeds() {
  const std::string longPassword(65, 'x');
  const CreateSeed seeds[] = {
      {"aes128-in-file", kNeverFails, 0, true, 1ull << 40, "C:\\vols\\a.vmv", "", "1", kPassword,
       kPassword, kAes128},
      {"blowfish448-external", kNeverFails, 0, true, 1ull << 40, "D:\\b.vmv", "E:\\b.ehb", "2",
       kPassword, kPassword, kBlowfish448},
      {"aes256-free-space-unknown", kNeverFails, 0, false, 0, "/tmp/c.vmv", "", " 1", kPassword,
       kPassword, kAes256},
      {"blowfish128-exact-free-space", kNeverFails, 0, true, 1048576, "\\\\srv\\share\\d.vmv", "",
       "1", "p", "p", kBlowfish128},
      {"one-byte-short", kNeverFails, 0, true, 1048575, "C:\\a.vmv", "", "1", kPassword, kPassword,
       kAes128},
      {"empty-path", kNeverFails, 0, true, 1ull << 40, "", "", "", "", "", kAes128},
      {"size-out-of-range", kNeverFails, 0, true, 1ull << 40, "C:\\a.vmv", "", "1000000", kPassword,
       kPassword, kAes128},
      {"size-not-a-number", kNeverFails, 0, true, 1ull << 40, "C:\\a.vmv", "", "12a", kPassword,
       kPassword, kAes128},
      {"passwords-differ", kNeverFails, 0, true, 1ull << 40, "C:\\a.vmv", "", "999999", kPassword,
       kNewPassword, kAes128},
      {"password-too-long", kNeverFails, 0, true, 1ull << 40, "C:\\a.vmv", "", "1", longPassword,
       longPassword, kAes128},
      {"unknown-algorithm", kNeverFails, 0, true, 1ull << 40, "C:\\a.vmv", "", "1", kPassword,
       kPassword, 5},
      {"disk-fills-up", kNeverFails, 0, true, 1ull << 40, "C:\\a.vmv", "", "4", kPassword,
       kPassword, kAes128},
      {"header-block-not-created", kNeverFails, 1, true, 1ull << 40, "C:\\a.vmv", "C:\\a.ehb", "1",
       kPassword, kPassword, kAes128},
      {"body-write-fails", kNeverFails, 2, true, 1ull << 40, "C:\\a.vmv", "", "1", kPassword,
       kPassword, kBlowfish128},
      {"no-random", 2, 0, true, 1ull << 40, "C:\\a.vmv", "", "1", kPassword, kPassword, kAes128},
  };
  for (const CreateSeed& seed : seeds) Write("create_volume", seed.name, CreateInput(seed));
  // The header block named as the volume file itself: the body overwrote the
  // header, yet the creation reported success.
  WriteRegression("create_volume", "header-path-is-volume-path",
                  CreateInput({"", kNeverFails, 0, true, 1ull << 40, "C:\\a.vmv", "C:\\a.vmv", "1",
                               kPassword, kPassword, kAes128}));
}

struct ChangeSeed {
  const char* name;
  uint8_t drawsBeforeFailure;
  uint64_t failMask;
  bool fileExists;
  const char* path;
  std::string currentPassword;
  std::string newPassword;
  std::string confirmation;
  std::string contents;
  std::string backup;  // none when empty
  uint8_t plant;       // flag bits 2 to 4: the backup is planted, the header torn
};

std::string Resealed(std::string header, const char* currentPassword, const char* newPassword) {
  uint8_t* bytes = reinterpret_cast<uint8_t*>(header.data());
  if (ResealHeader(bytes, reinterpret_cast<const uint8_t*>(currentPassword),
                   static_cast<uint32_t>(strlen(currentPassword)),
                   reinterpret_cast<const uint8_t*>(newPassword),
                   static_cast<uint32_t>(strlen(newPassword))) != 1) {
    fprintf(stderr, "cannot re-seal a header\n");
    exit(1);
  }
  return header;
}

void ChangePasswordSeeds() {
  const std::string header = SealedHeader(kAes256, kPassword);
  const std::string volume = std::string(2048, '\x5C') + SealedHeader(kBlowfish448, kPassword);
  const std::string longPassword(65, 'x');
  // A change cut short while it wrote the new header in place: its first
  // sector is new, the rest old, and the backup holds both.
  const std::string resealed = Resealed(header, kPassword, kNewPassword);
  const std::string mixed = resealed.substr(0, 512) + header.substr(512);
  const std::string backup = header + resealed;
  const std::string foreign = SealedHeader(kAes128, kPassword) + SealedHeader(kAes128, kPassword);
  const std::string planted = SealedHeader(kAes128, "planted");
  const ChangeSeed seeds[] = {
      {"volume-file", kNeverFails, 0, true, "C:\\v\\a.vmv", kPassword, kNewPassword, kNewPassword,
       volume, "", 0},
      {"header-block", kNeverFails, 0, true, "a.ehb", kPassword, kNewPassword, kNewPassword, header,
       "", 0},
      {"one-byte-short", kNeverFails, 0, true, "a.ehb", kPassword, kNewPassword, kNewPassword,
       header.substr(1), "", 0},
      {"zeros", kNeverFails, 0, true, "a.ehb", kPassword, kNewPassword, kNewPassword,
       std::string(kHeaderSize, '\0'), "", 0},
      {"wrong-password", kNeverFails, 0, true, "a.ehb", kNewPassword, kPassword, kPassword, header,
       "", 0},
      {"missing-file", kNeverFails, 0, false, "a.ehb", kPassword, kNewPassword, kNewPassword,
       header, "", 0},
      {"empty-path", kNeverFails, 0, true, "", kPassword, kNewPassword, kNewPassword, header, "",
       0},
      {"empty-confirmation", kNeverFails, 0, true, "a.ehb", kPassword, kNewPassword, "", header, "",
       0},
      {"current-too-long", kNeverFails, 0, true, "a.ehb", longPassword, kNewPassword, "x", header,
       "", 0},
      {"new-too-long", kNeverFails, 0, true, "a.ehb", kPassword, longPassword, longPassword, header,
       "", 0},
      {"size-fails", kNeverFails, 1u << 1, true, "a.ehb", kPassword, kNewPassword, kNewPassword,
       header, "", 0},
      {"backup-not-created", kNeverFails, 1u << 4, true, "a.ehb", kPassword, kNewPassword,
       kNewPassword, header, "", 0},
      {"backup-write-fails", kNeverFails, 1u << 5, true, "a.ehb", kPassword, kNewPassword,
       kNewPassword, header, "", 0},
      {"header-write-fails", kNeverFails, 1u << 7, true, "a.ehb", kPassword, kNewPassword,
       kNewPassword, header, "", 0},
      {"header-flush-fails", kNeverFails, 1u << 8, true, "a.ehb", kPassword, kNewPassword,
       kNewPassword, header, "", 0},
      {"read-back-fails", kNeverFails, 1u << 9, true, "a.ehb", kPassword, kNewPassword,
       kNewPassword, header, "", 0},
      {"no-random", 1, 0, true, "a.ehb", kPassword, kNewPassword, kNewPassword, header, "", 0},
      {"interrupted-old-password", kNeverFails, 0, true, "a.ehb", kPassword, "third", "third",
       mixed, backup, 0},
      {"interrupted-new-password", kNeverFails, 0, true, "a.ehb", kNewPassword, "third", "third",
       mixed, backup, 0},
      {"stale-backup", kNeverFails, 0, true, "a.ehb", kPassword, kNewPassword, kNewPassword, header,
       foreign, 0},
      {"foreign-backup", kNeverFails, 0, true, "a.ehb", kPassword, kNewPassword, kNewPassword,
       mixed, foreign, 0},
      // A header saved by the user under the backup's name: no change's own.
      {"saved-header-at-backup-name", kNeverFails, 0, true, "a.ehb", kPassword, kNewPassword,
       kNewPassword, header, header, 0},
      // Beside a volume whose header opens with kPassword, a backup of that
      // header and one that opens with "planted"; and the header torn
      // between the two.
      {"planted-backup", kNeverFails, 0, true, "a.ehb", "planted", kNewPassword, kNewPassword,
       header, planted, 4},
      {"planted-backup-owner", kNeverFails, 0, true, "a.ehb", kPassword, kNewPassword, kNewPassword,
       volume, planted, 4},
      {"planted-torn", kNeverFails, 0, true, "a.ehb", "planted", kNewPassword, kNewPassword, header,
       planted, 4 | 8},
  };
  for (const ChangeSeed& seed : seeds) {
    FuzzInputWriter writer;
    writer.Uint32(5)
        .Byte(seed.drawsBeforeFailure)
        .Uint64(seed.failMask)
        .Byte(static_cast<uint8_t>((seed.fileExists ? 1 : 0) | (seed.backup.empty() ? 0 : 2) |
                                   seed.plant))
        .String(seed.path)
        .String(seed.currentPassword)
        .String(seed.newPassword)
        .String(seed.confirmation);
    if (!seed.backup.empty()) writer.LongString(seed.backup);
    Write("change_password", seed.name, writer.Bytes(seed.contents));
  }
}

constexpr uint8_t kMount = 0;
constexpr uint8_t kLoad = 1;

void RecentEntrySeeds() {
  Write("recent_entries", "load-three",
        FuzzInputWriter()
            .Byte(kLoad)
            .Byte(3)
            .String("E:,D:\\vault\\work.vmv")
            .String("F:,\\\\srv\\share\\b.vmv")
            .String("G:,C:\\c.vmv"));
  Write("recent_entries", "load-malformed",
        FuzzInputWriter()
            .Byte(kLoad)
            .Byte(6)
            .String("")
            .String("E:")
            .String("E:,")
            .String("E:,a")
            .String("E:,a")
            .String("EEEEE"));
  FuzzInputWriter eleven;
  for (int i = 0; i < 11; ++i) {
    eleven.Byte(kMount).String("C:\\v" + std::to_string(i) + ".vmv").String("E:");
  }
  Write("recent_entries", "eleven-mounts", eleven);
  Write("recent_entries", "mount-again",
        FuzzInputWriter()
            .Byte(kMount)
            .String("C:\\a.vmv")
            .String("E:")
            .Byte(kMount)
            .String("C:\\b.vmv")
            .String("F:")
            .Byte(kMount)
            .String("C:\\a.vmv")
            .String("G:")
            .Byte(kMount)
            .String("C:\\A.VMV")
            .String("G:")
            .Byte(kMount)
            .String("")
            .String("H:")
            .Byte(kLoad)
            .Byte(2)
            .String("H:,C:\\b.vmv")
            .String("I:,C:\\z.vmv"));
}

void ColorTextSeeds() {
  struct {
    const char* name;
    uint8_t type;
    std::string data;
  } const seeds[] = {
      {"green", 1, std::string("0,128,0", 8)},
      {"white-expandable", 2, std::string("255,255,255", 12)},
      {"low-bits", 1, std::string("300,0,0", 8)},
      {"signs-and-blanks", 1, std::string(" -1,+2,\t3x", 11)},
      {"one-comma", 1, std::string("1,2", 4)},
      {"nothing-after-second-comma", 1, std::string("1,2,", 5)},
      {"not-terminated", 1, "0,128,0"},
      {"binary", 3, std::string("0,128,0", 8)},
      {"long-number", 1, std::string("99999999999999,1,2", 19)},
  };
  for (const auto& seed : seeds) {
    Write("color_text", seed.name, FuzzInputWriter().Byte(seed.type).Bytes(seed.data));
  }
}

void DriverRecordSeeds() {
  struct {
    const char* name;
    std::string targetPath;
    const char* volumePath;
  } const seeds[] = {
      {"local", "\\??\\C:\\v.vmv", "C:\\v.vmv"},
      {"unc", "\\??\\UNC\\srv\\share\\v.vmv", "\\\\srv\\share\\v.vmv"},
      {"unterminated", std::string("\\??\\") + std::string(VD_TARGET_PATH_SIZE - 4, 'a'),
       "C:\\longest"},
      {"short", "\\??", "\\\\"},
      {"device-target", "", "\\Device\\VelmorcryptVolume3"},
  };
  for (const auto& seed : seeds) {
    uint8_t reply[sizeof(VolumeControlRecord)] = {};
    memcpy(reply, seed.targetPath.data(), seed.targetPath.size());
    reply[261] = kAes256;
    const uint64_t volumeSize = 5ull * kMegabyte;
    for (int i = 0; i < 8; ++i) reply[392 + i] = static_cast<uint8_t>(volumeSize >> (8 * i));
    Write("driver_records", seed.name,
          FuzzInputWriter()
              .Bytes(reply, sizeof reply)
              .Uint32(1)
              .Uint32(2)
              .Uint32(0xFFFFFFFDu)
              .Byte('E')
              .Byte(VD_HEADER_IN_VOLUME_FILE)
              .Byte(kAes256)
              .Uint32(0x12345678u)
              .Byte(1)
              .Bytes(seed.volumePath));
  }
}

std::string QueryReply(const std::string& targetPath) {
  uint8_t reply[sizeof(VolumeControlRecord)] = {};
  memcpy(reply, targetPath.data(), targetPath.size());
  reply[261] = kBlowfish448;
  const uint64_t volumeSize = 3ull * kMegabyte;
  for (int i = 0; i < 8; ++i) reply[392 + i] = static_cast<uint8_t>(volumeSize >> (8 * i));
  return std::string(reinterpret_cast<const char*>(reply), sizeof reply);
}

void DriveScanSeeds() {
  constexpr uint8_t kReadable = 1;
  constexpr uint8_t kOwnDevice = 2;
  constexpr uint8_t kOpens = 4;
  constexpr uint8_t kAnswers = 8;
  constexpr uint8_t kServed = kReadable | kOpens | kAnswers;
  FuzzInputWriter seed;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    switch (letter) {
      case 'C':  // a hard disk
        seed.Byte(kServed).String("\\Device\\HarddiskVolume2");
        break;
      case 'D':  // a substituted folder
        seed.Byte(kServed).String("\\??\\C:\\Users\\folder");
        break;
      case 'E':
        seed.Byte(kServed | kOwnDevice).String("0").Byte(0).Bytes(QueryReply("\\??\\C:\\v.vmv"));
        break;
      case 'F':
        seed.Byte(kServed | kOwnDevice)
            .String("\\??\\1")
            .Byte(4)
            .Bytes(QueryReply("\\??\\UNC\\srv\\share\\v.vmv"));
        break;
      case 'G':  // the query fails
        seed.Byte(kReadable | kOwnDevice | kOpens).String("2").Byte(0);
        break;
      case 'H':  // the drive-letter device does not open
        seed.Byte(kReadable | kOwnDevice | kAnswers).String("3").Byte(0);
        break;
      case 'Z':
        seed.Byte(kServed | kOwnDevice)
            .String("25")
            .Byte(0)
            .Bytes(QueryReply(std::string(VD_TARGET_PATH_SIZE, 'N')));
        break;
      default:
        seed.Byte(0).String("");
    }
  }
  Write("drive_scan", "mixed-drives", seed);
  Write("drive_scan", "no-drives", FuzzInputWriter());
}

struct MountSeed {
  const char* name;
  uint64_t failMask;
  uint8_t flags;
  uint8_t readOnly;
  std::string volumePath;
  std::string headerPath;
  std::string password;
  std::string driveText;
  std::string headerBlock;  // written as the 1044 bytes that follow when flag 64 is set
  std::string volume;
};

void MountCommandSeeds() {
  constexpr uint8_t kVolumeReadOnly = 1;
  constexpr uint8_t kVolumeExists = 2;
  constexpr uint8_t kHeaderExists = 4;
  constexpr uint8_t kMounts = 8;
  constexpr uint8_t kDefines = 16;
  constexpr uint8_t kTimerStarts = 32;
  constexpr uint8_t kWholeHeaderBlock = 64;
  constexpr uint8_t kWorks = kVolumeExists | kMounts | kDefines | kTimerStarts;
  const std::string volume = std::string(4096, '\x11') + SealedHeader(kAes128, kPassword);
  const std::string block = SealedHeader(kBlowfish448, kPassword);
  const std::string body(2048, '\x22');
  const std::string longUnc = "\\\\srv\\" + std::string(250, 's');
  const MountSeed seeds[] = {
      {"in-volume-file", 0, kWorks, 0, "C:\\v\\a.vmv", "", kPassword, "E:", "", volume},
      {"external", 0, kWorks | kHeaderExists | kWholeHeaderBlock, 0, "\\\\srv\\share\\b.vmv",
       "C:\\b.ehb", kPassword, "F:", block, body},
      {"read-only-volume", 0, kWorks | kVolumeReadOnly, 1, "C:\\a.vmv", "", kPassword, "G:", "",
       volume},
      {"read-only-volume-mounted-writable", 0, kWorks | kVolumeReadOnly, 0, "C:\\a.vmv", "",
       kPassword, "G:", "", volume},
      {"volume-only-a-header", 0, kWorks, 0, "C:\\a.vmv", "", kPassword, "E:", "",
       volume.substr(4096)},
      {"header-block-one-byte-short", 0, kWorks | kHeaderExists | kWholeHeaderBlock, 0, "C:\\a.vmv",
       "C:\\a.ehb", kPassword, "E:", block.substr(1), ""},
      {"wrong-password", 0, kWorks, 0, "C:\\a.vmv", "", kNewPassword, "E:", "", volume},
      {"driver-refuses", 0, kWorks & ~kMounts, 0, "C:\\a.vmv", "", kPassword, "E:", "", volume},
      {"letter-not-defined", 0, kWorks & ~kDefines, 0, "C:\\a.vmv", "", kPassword, "E:", "",
       volume},
      {"read-fails", 1u << 2, kWorks, 0, "C:\\a.vmv", "", kPassword, "E:", "", volume},
      {"no-volume-path", 0, kWorks, 0, "", "", kPassword, "E:", "", volume},
      {"no-password", 0, kWorks, 0, "C:\\a.vmv", "", "", "E:", "", volume},
      {"password-too-long", 0, kWorks, 0, "C:\\a.vmv", "", std::string(65, 'x'), "E:", "", volume},
      {"no-drive-letter", 0, kWorks, 0, "C:\\a.vmv", "", kPassword, "", "", volume},
      {"path-too-long", 0, kWorks, 0, longUnc, "", kPassword, "E:", "", volume},
  };
  for (const MountSeed& seed : seeds) {
    FuzzInputWriter writer;
    writer.Uint64(seed.failMask)
        .Byte(seed.flags)
        .Byte(0xFF)  // device number -1
        .Byte(seed.readOnly)
        .Uint32(5)
        .Uint32(300)
        .Uint32(0x3E7)
        .String(seed.volumePath)
        .String(seed.headerPath)
        .String(seed.password)
        .String(seed.driveText);
    if ((seed.flags & kWholeHeaderBlock) != 0) {
      writer.Bytes(seed.headerBlock);
    } else {
      writer.String(seed.headerBlock);
    }
    Write("mount_command", seed.name, writer.Bytes(seed.volume));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_fuzz_seeds <fuzz folder>\n");
    return 2;
  }
  root = argv[1];
  InstallFuzzRandom(1, -1);
  HeaderSeeds();
  CreateVolumeSeeds();
  ChangePasswordSeeds();
  RecentEntrySeeds();
  ColorTextSeeds();
  DriverRecordSeeds();
  DriveScanSeeds();
  MountCommandSeeds();
  return 0;
}
