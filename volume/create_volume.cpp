#include "volume/create_volume.h"

#include <string.h>

#include <memory>
#include <new>
#include <vector>

#include "crypto/sectors.h"
#include "crypto/wipe.h"
#include "platform/path.h"
#include "volume/body_cipher.h"
#include "volume/header.h"

namespace {

constexpr char kErrorCaption[] = "Create Error";
constexpr char kSuccessCaption[] = "Create";
constexpr char kErrorCreatingVolume[] = "Error creating Velmorcrypt volume.";
constexpr char kErrorCreatingHeaderBlock[] = "Error creating external header block.";
constexpr char kErrorWriting[] = "Error writing Velmorcrypt volume.";
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

// The files a creation has made; removed again unless the creation keeps
// them, so that a failure never leaves a file that looks like a volume.
// Declared before the files' handles, so that they are closed first.
class CreatedFiles {
 public:
  explicit CreatedFiles(FileSystem& fileSystem) : fileSystem_(fileSystem) {}
  CreatedFiles(const CreatedFiles&) = delete;
  CreatedFiles& operator=(const CreatedFiles&) = delete;
  ~CreatedFiles() {
    for (const std::string& path : paths_) fileSystem_.Remove(path);
  }
  void Add(const std::string& path) { paths_.push_back(path); }
  void Keep() { paths_.clear(); }

 private:
  FileSystem& fileSystem_;
  std::vector<std::string> paths_;
};

enum class BodyResult { kWritten, kWriteFailed, kCancelled };

// Writes the N megabytes of the body from offset 0, one megabyte per write:
// sector s holds the encryption of 512 zero bytes under sector number s.
BodyResult WriteBody(File& file, const BodyCipher& cipher, uint32_t sizeMb, uint8_t* buffer,
                     const CreateProgress& progress, const std::atomic<bool>* cancel) {
  if (progress) progress(0, sizeMb);
  for (uint32_t megabyte = 0; megabyte < sizeMb; ++megabyte) {
    if (cancel != nullptr && cancel->load()) return BodyResult::kCancelled;
    memset(buffer, 0, kMegabyte);
    BodyCipherEncrypt(&cipher, buffer, uint64_t{megabyte} * kSectorsPerMegabyte,
                      kSectorsPerMegabyte);
    if (!file.WriteAt(uint64_t{megabyte} * kMegabyte, buffer, kMegabyte)) {
      return BodyResult::kWriteFailed;
    }
    if (progress) progress(megabyte + 1, sizeMb);
  }
  return BodyResult::kWritten;
}

}  // namespace

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
  if (input.password != input.confirmation) return Fail("Passwords do not match.");
  if (input.password.size() > kMaxPasswordLength) {
    return Fail("Passwords cannot be longer than " + std::to_string(kMaxPasswordLength) +
                " characters.");
  }
  if (AlgorithmName(input.algorithm) == nullptr) return Fail("Unknown encryption algorithm.");

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
  // One buffer for the whole body, whatever its size.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kMegabyte]);
  if (!buffer) return Fail(kErrorCreatingVolume);

  const bool externalHeader = !input.headerPath.empty();
  const uint64_t bodySize = uint64_t{input.sizeMb} * kMegabyte;
  CreatedFiles created(fileSystem);
  if (externalHeader) {
    std::unique_ptr<File> headerFile =
        fileSystem.Open(input.headerPath, OpenMode::kCreateReadWrite);
    if (!headerFile) return Fail(kErrorCreatingHeaderBlock);
    created.Add(input.headerPath);
    if (!headerFile->WriteAt(0, secrets.header, kHeaderSize) || !headerFile->SetSize(kHeaderSize) ||
        !headerFile->Flush()) {
      return Fail(kErrorWriting);
    }
  }
  std::unique_ptr<File> volumeFile = fileSystem.Open(input.volumePath, OpenMode::kCreateReadWrite);
  if (!volumeFile) return Fail(kErrorCreatingVolume);
  created.Add(input.volumePath);
  switch (WriteBody(*volumeFile, secrets.cipher, input.sizeMb, buffer.get(), progress, cancel)) {
    case BodyResult::kWritten:
      break;
    case BodyResult::kWriteFailed:
      return Fail(kErrorWriting);
    case BodyResult::kCancelled: {
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
