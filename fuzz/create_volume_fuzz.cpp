// The volume creation engine's input checks, and what it leaves behind,
// over an in-memory file system.
//
// Input: random seed (Uint32), draws before the random source fails (Byte;
// 5 and more: never), failing file calls (Uint64 mask), free space (Byte:
// odd = known, then Uint64 bytes), volume path, header path, size text,
// password, confirmation (Strings), algorithm (Byte).
//
// The disk holds 3 MiB, so that the body of any size is cheap to write:
// larger volumes end with a full disk. Checked:
// - the size text reads as decimal digits after optional spaces, within 32
//   bits, and as 0 otherwise;
// - the first failing check, in the fixed order, gives its message, and no
//   file is opened before every check has passed;
// - a header path that names the volume file itself is refused;
// - a success follows no failed call and leaves exactly the volume layout:
//   body of N MiB whose sectors decrypt to zeros, the header after it or
//   alone in the header file, opening with the password as the algorithm
//   chosen; any other end is a file error that some failed call explains,
//   with every created file removed.
#include <stdint.h>
#include <string.h>

#include <set>
#include <string>

#include "crypto/sectors.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_random.h"
#include "fuzz/memory_file_system.h"
#include "volume/body_cipher.h"
#include "volume/create_volume.h"
#include "volume/header.h"

namespace {

constexpr uint64_t kDiskCapacity = 3 * uint64_t{kMegabyte};
constexpr int kSealDraws = 4;  // sectorIvSeed, sectorKey, salt, headerIv
constexpr char kErrorCaption[] = "Create Error";

// What the size field reads as: spaces, then decimal digits that fit 32 bits.
bool ReferenceSize(const std::string& text, uint32_t* size) {
  *size = 0;
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  uint64_t value = 0;
  for (size_t i = first; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > UINT32_MAX) return false;
  }
  *size = static_cast<uint32_t>(value);
  return true;
}

// The message of the first failing input check, or "" when all pass.
std::string FirstFailingCheck(const CreateVolumeInput& input,
                              const std::optional<uint64_t>& freeSpace) {
  if (input.volumePath.empty()) return "Please specify Velmorcrypt volume file to create.";
  if (input.sizeMb == 0 || input.sizeMb > kMaxVolumeSizeMb) {
    return "Volume size must be from 1 to 999999 MB";
  }
  if (freeSpace && input.sizeMb > *freeSpace / kMegabyte) {
    return "Volume size is too large for the specified drive.";
  }
  if (input.password.empty() || input.confirmation.empty()) {
    return "Please specify volume password.";
  }
  if (input.password != input.confirmation) return "Passwords do not match.";
  if (input.password.size() > kMaxPasswordLength) {
    return "Passwords cannot be longer than 64 characters.";
  }
  if (input.algorithm < kAes128 || input.algorithm > kBlowfish448) {
    return "Unknown encryption algorithm.";
  }
  return "";
}

// Sector `sector` of `body` decrypts to 512 zero bytes.
bool SectorIsZeros(const BodyCipher& cipher, const std::string& body, uint64_t sector) {
  uint8_t data[kSectorSize];
  memcpy(data, body.data() + sector * kSectorSize, kSectorSize);
  BodyCipherDecrypt(&cipher, data, sector, 1);
  for (uint8_t byte : data) {
    if (byte != 0) return false;
  }
  return true;
}

// The files of a successful creation have the volume layout.
void CheckCreatedVolume(const MemoryFileSystem& fileSystem, const CreateVolumeInput& input) {
  const bool external = !input.headerPath.empty();
  const std::set<std::string> expectedNames =
      external ? std::set<std::string>{input.volumePath, input.headerPath}
               : std::set<std::string>{input.volumePath};
  std::set<std::string> names;
  for (const auto& file : fileSystem.files) names.insert(file.first);
  FUZZ_CHECK(names == expectedNames);

  const uint64_t bodySize = uint64_t{input.sizeMb} * kMegabyte;
  const std::string& volume = fileSystem.files.at(input.volumePath);
  FUZZ_CHECK(volume.size() == (external ? bodySize : bodySize + kHeaderSize));
  const std::string headerBytes =
      external ? fileSystem.files.at(input.headerPath) : volume.substr(bodySize);
  FUZZ_CHECK(headerBytes.size() == kHeaderSize);

  uint8_t header[kHeaderSize];
  memcpy(header, headerBytes.data(), kHeaderSize);
  FUZZ_CHECK(OpenHeader(header, reinterpret_cast<const uint8_t*>(input.password.data()),
                        static_cast<uint32_t>(input.password.size())) == input.algorithm);
  BodyCipher cipher;
  FUZZ_CHECK(BodyCipherInit(&cipher, input.algorithm, header + kSectorKeyOffset,
                            header + kSectorIvSeedOffset));
  const uint64_t sectorCount = bodySize / kSectorSize;
  FUZZ_CHECK(SectorIsZeros(cipher, volume, 0));
  FUZZ_CHECK(SectorIsZeros(cipher, volume, sectorCount / 2 + 1));
  FUZZ_CHECK(SectorIsZeros(cipher, volume, sectorCount - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput fuzz(data, size);
  const uint32_t seed = fuzz.Uint32();
  const int drawsBeforeFailure = fuzz.Byte();
  const bool randomFails = drawsBeforeFailure < kSealDraws;
  InstallFuzzRandom(seed, randomFails ? drawsBeforeFailure : -1);
  MemoryFileSystem fileSystem(kDiskCapacity, fuzz.Uint64());
  const bool freeSpaceKnown = (fuzz.Byte() & 1) != 0;
  const uint64_t freeSpace = fuzz.Uint64();
  if (freeSpaceKnown) fileSystem.freeSpace = freeSpace;

  CreateVolumeInput input;
  input.volumePath = fuzz.String();
  input.headerPath = fuzz.String();
  const std::string sizeText = fuzz.String();
  input.password = fuzz.String();
  input.confirmation = fuzz.String();
  input.algorithm = fuzz.Byte();

  uint32_t expectedSize = 0;
  const bool expectedParsed = ReferenceSize(sizeText, &expectedSize);
  FUZZ_CHECK(ParseVolumeSize(sizeText, &input.sizeMb) == expectedParsed);
  FUZZ_CHECK(input.sizeMb == expectedSize);

  uint32_t lastDone = 0;
  int progressCalls = 0;
  const CreateProgress progress = [&](uint32_t done, uint32_t total) {
    FUZZ_CHECK(total == input.sizeMb);
    FUZZ_CHECK(progressCalls == 0 ? done == 0 : done == lastDone + 1);
    lastDone = done;
    ++progressCalls;
  };
  const CreateVolumeOutcome result = CreateVolume(fileSystem, input, progress);

  const std::string failedCheck = FirstFailingCheck(input, fileSystem.freeSpace);
  FUZZ_CHECK(fileSystem.freeSpaceAsked.size() == (input.volumePath.empty() ? 0u : 1u));
  if (!fileSystem.freeSpaceAsked.empty())
    FUZZ_CHECK(fileSystem.freeSpaceAsked[0] == input.volumePath);
  FUZZ_CHECK(!result.cancelled);
  // A header block named as the volume file itself cannot hold the header:
  // the body would overwrite it. Whichever check refuses that, and wherever
  // it stands in the order, the creation must fail and leave nothing.
  if (!input.headerPath.empty() && input.headerPath == input.volumePath) {
    FUZZ_CHECK(!result.outcome.success);
    FUZZ_CHECK(result.outcome.caption == kErrorCaption);
    FUZZ_CHECK(fileSystem.files.empty());
    return 0;
  }
  if (!failedCheck.empty()) {
    FUZZ_CHECK(!result.outcome.success);
    FUZZ_CHECK(result.outcome.message == failedCheck);
    FUZZ_CHECK(result.outcome.caption == kErrorCaption);
    FUZZ_CHECK(fileSystem.log.empty());
    FUZZ_CHECK(progressCalls == 0);
  } else if (result.outcome.success) {
    FUZZ_CHECK(result.outcome.message == "Velmorcrypt volume successfully created.");
    FUZZ_CHECK(result.outcome.caption == "Create");
    FUZZ_CHECK(!randomFails && !fileSystem.AnyCallFailed());
    FUZZ_CHECK(lastDone == input.sizeMb);
    FUZZ_CHECK(input.volumePath.compare(0, result.lastDirectory.size(), result.lastDirectory) == 0);
    CheckCreatedVolume(fileSystem, input);
  } else {
    static const std::set<std::string> kFileErrors = {"Error creating Velmorcrypt volume.",
                                                      "Error creating external header block.",
                                                      "Error writing Velmorcrypt volume."};
    FUZZ_CHECK(kFileErrors.count(result.outcome.message) == 1);
    FUZZ_CHECK(result.outcome.caption == kErrorCaption);
    FUZZ_CHECK(randomFails || fileSystem.AnyCallFailed());
    // Without random bytes no header exists, and nothing may be written.
    if (randomFails) FUZZ_CHECK(fileSystem.log.empty());
    FUZZ_CHECK(fileSystem.files.empty());
  }
  return 0;
}
