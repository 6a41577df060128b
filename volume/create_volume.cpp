#include "volume/create_volume.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "crypto/cpu_features.h"
#include "crypto/sectors.h"
#include "crypto/wipe.h"
#include "platform/path.h"
#include "volume/body_cipher.h"
#include "volume/body_stream.h"
#include "volume/header.h"

namespace {

// AES with AES-NI outruns any disk on one core; the other ciphers are spread
// over up to this many of the processor's cores.
constexpr uint32_t kMaxEncryptionThreads = 4;
constexpr char kErrorCaption[] = "Create Error";
constexpr char kSuccessCaption[] = "Create";
constexpr char kErrorCreatingVolume[] = "Error creating Velmorcrypt volume.";
constexpr char kErrorCreatingHeaderBlock[] = "Error creating external header block.";
constexpr char kErrorWriting[] = "Error writing Velmorcrypt volume.";
constexpr char kHeaderIsVolume[] =
    "The external header block cannot be the Velmorcrypt volume file itself.";
constexpr uint32_t kSectorsPerMegabyte = kMegabyte / kSectorSize;

CreateVolumeOutcome Fail(std::string message) {
  return {Outcome::Failure(std::move(message), kErrorCaption), std::string(), false};
}

// The secrets of one creation, wiped however it ends.
struct CreationSecrets {
  uint8_t header[kHeaderSize];
  uint8_t password[kMaxPasswordLength];
  uint8_t sectorKey[kBodyKeySize];
  uint8_t sectorIvSeed[kBodyKeySize];
  BodyCipher cipher;

  CreationSecrets() = default;
  CreationSecrets(const CreationSecrets&) = delete;
  CreationSecrets& operator=(const CreationSecrets&) = delete;
  ~CreationSecrets() {
    BodyCipherWipe(&cipher);
    SecureWipe(header, sizeof header);
    SecureWipe(password, sizeof password);
    SecureWipe(sectorKey, sizeof sectorKey);
    SecureWipe(sectorIvSeed, sizeof sectorIvSeed);
  }
};

// Writes the N megabytes of the body from offset 0: sector s holds the
// encryption of sector s of the plaintext (zeros, or the input's source).
StreamResult WriteBody(File& file, const BodyCipher& cipher, const CreateVolumeInput& input,
                       const CreateProgress& progress, const std::atomic<bool>* cancel) {
  StreamRun run;
  run.sectorCount = uint64_t{input.sizeMb} * kSectorsPerMegabyte;
  run.threads = EncryptionThreadCount(cipher.algorithm);
  if (input.plaintext) run.threads = std::max(run.threads, kReadingFillThreads);
  const ChunkFill fill = [&](uint8_t* chunk, uint64_t first, uint32_t sectors) {
    if (input.plaintext) {
      if (!input.plaintext(chunk, first, sectors)) return false;
    } else {
      memset(chunk, 0, size_t{sectors} * kSectorSize);
    }
    BodyCipherEncrypt(&cipher, chunk, first, sectors);
    return true;
  };
  return StreamSectors(file, run, fill, progress, cancel);
}

}  // namespace

uint32_t EncryptionThreadCount(int algorithm) {
  if (AlgorithmIsAes(algorithm) && UseAesNi()) return 1;
  const uint32_t cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 1u, kMaxEncryptionThreads);
}

bool ParseVolumeSize(std::string_view text, uint32_t* sizeMb) {
  *sizeMb = 0;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > UINT32_MAX) return false;
  }
  *sizeMb = static_cast<uint32_t>(value);
  return true;
}

CreateVolumeOutcome CreateVolume(FileSystem& fileSystem, const CreateVolumeInput& input,
                                 const CreateProgress& progress, const std::atomic<bool>* cancel) {
  if (input.volumePath.empty()) {
    return Fail("Please specify Velmorcrypt volume file to create.");
  }
  // Asked before the size is checked, used after. When the free space cannot
  // be told, the comparison is skipped and a full disk shows as a write error.
  uint64_t freeBytes = 0;
  const bool freeSpaceKnown = fileSystem.FreeSpace(input.volumePath, &freeBytes);
  if (input.sizeMb == 0 || input.sizeMb > kMaxVolumeSizeMb) {
    return Fail("Volume size must be from 1 to 999999 MB");
  }
  if (freeSpaceKnown && input.sizeMb > freeBytes / kMegabyte) {
    return Fail("Volume size is too large for the specified drive.");
  }
  if (input.password.empty() || input.confirmation.empty()) {
    return Fail("Please specify volume password.");
  }
  if (!input.passwordRefusal.empty()) return Fail(input.passwordRefusal);
  if (input.password != input.confirmation) return Fail("Passwords do not match.");
  if (input.password.size() > kMaxPasswordLength) {
    return Fail("Passwords cannot be longer than " + std::to_string(kMaxPasswordLength) +
                " characters.");
  }
  if (AlgorithmName(input.algorithm) == nullptr) return Fail("Unknown encryption algorithm.");
  // The header block written first would be truncated by the volume file.
  if (!input.headerPath.empty() && fileSystem.SameFile(input.headerPath, input.volumePath)) {
    return Fail(kHeaderIsVolume);
  }

  // The header is sealed before any file exists, so that no body is ever
  // written without it.
  CreationSecrets secrets;
  const auto passwordLength = static_cast<uint32_t>(input.password.size());
  memcpy(secrets.password, input.password.data(), passwordLength);
  if (!SealHeader(secrets.header, secrets.password, passwordLength, input.algorithm,
                  secrets.sectorKey, secrets.sectorIvSeed) ||
      !BodyCipherInit(&secrets.cipher, input.algorithm, secrets.sectorKey, secrets.sectorIvSeed)) {
    return Fail(kErrorCreatingVolume);
  }
  const bool externalHeader = !input.headerPath.empty();
  const uint64_t bodySize = uint64_t{input.sizeMb} * kMegabyte;
  const OpenMode createMode =
      input.replaceExisting ? OpenMode::kCreateReadWrite : OpenMode::kCreateExclusive;
  CreatedFiles created(fileSystem);
  if (externalHeader) {
    std::unique_ptr<File> headerFile = fileSystem.Open(input.headerPath, createMode);
    if (!headerFile) return Fail(kErrorCreatingHeaderBlock);
    created.Add(input.headerPath);
    // Now that the header block exists, a volume path that leads to it by
    // another spelling or a link is seen too.
    if (fileSystem.SameFile(input.headerPath, input.volumePath)) return Fail(kHeaderIsVolume);
    if (!headerFile->WriteAt(0, secrets.header, kHeaderSize) || !headerFile->SetSize(kHeaderSize) ||
        !headerFile->Flush()) {
      return Fail(kErrorWriting);
    }
  }
  std::unique_ptr<File> volumeFile = fileSystem.Open(input.volumePath, createMode);
  if (!volumeFile) return Fail(kErrorCreatingVolume);
  created.Add(input.volumePath);
  switch (WriteBody(*volumeFile, secrets.cipher, input, progress, cancel)) {
    case StreamResult::kWritten:
      break;
    case StreamResult::kWriteFailed:
      return Fail(kErrorWriting);
    case StreamResult::kFillFailed:
      return Fail("Error reading the volume's contents.");
    case StreamResult::kNoResources:
      return Fail(kErrorCreatingVolume);
    case StreamResult::kCancelled: {
      CreateVolumeOutcome cancelled = Fail("Volume creation cancelled.");
      cancelled.cancelled = true;
      return cancelled;
    }
  }
  const uint64_t fileSize = externalHeader ? bodySize : bodySize + kHeaderSize;
  if ((!externalHeader && !volumeFile->WriteAt(bodySize, secrets.header, kHeaderSize)) ||
      !volumeFile->SetSize(fileSize) || !volumeFile->Flush()) {
    return Fail(kErrorWriting);
  }
  volumeFile.reset();
  created.Keep();
  return {Outcome::Success("Velmorcrypt volume successfully created.", kSuccessCaption),
          FolderOfPath(input.volumePath), false};
}
