#include "cli/volume_care.h"

#include <string.h>

#include <algorithm>
#include <memory>

#include "crypto/sectors.h"
#include "crypto/wipe.h"
#include "volume/body_cipher.h"
#include "volume/header.h"
#include "volume/header_backup.h"

namespace {

constexpr char kExportCaption[] = "Export Error";
constexpr char kImportCaption[] = "Import Error";

std::string Megabytes(uint64_t bytes) { return std::to_string(bytes / kMegabyte) + " MB"; }

// A body cipher that is wiped however the command ends.
struct Cipher {
  BodyCipher cipher = {};
  Cipher() = default;
  Cipher(const Cipher&) = delete;
  Cipher& operator=(const Cipher&) = delete;
  ~Cipher() { BodyCipherWipe(&cipher); }
};

}  // namespace

Outcome ExportVolume(FileSystem& fileSystem, const ExportInput& input,
                     const StreamProgress& progress, const std::atomic<bool>* cancel) {
  const auto fail = [](const std::string& message) {
    return Outcome::Failure(message, kExportCaption);
  };
  if (input.imagePath.empty()) return fail("Please name the image file to write.");
  if (fileSystem.SameFile(input.imagePath, input.volumePath) ||
      (!input.headerPath.empty() && fileSystem.SameFile(input.imagePath, input.headerPath))) {
    return fail("The image cannot be written over the volume or its header block.");
  }
  VolumeInfo info;
  Cipher cipher;
  {
    HeaderBuffer header;
    const Outcome opened = OpenVolumeHeader(fileSystem, input.volumePath, input.headerPath,
                                            input.password, OpenMode::kRead, &info, &header);
    if (!opened.success) return opened;
    if (ExamineResizeJournal(fileSystem, input.volumePath, header.bytes).state ==
        PendingResize::State::kPending) {
      return fail("A resize of " + input.volumePath +
                  " was interrupted; finish or undo it (velmorcrypt-cli resize), then export.");
    }
    BodyCipherInit(&cipher.cipher, info.algorithm, header.bytes + kSectorKeyOffset,
                   header.bytes + kSectorIvSeedOffset);
  }
  if (info.bodySize % kSectorSize != 0) {
    return fail("The body of " + input.volumePath +
                " is no whole number of sectors; 'velmorcrypt-cli check' tells more.");
  }
  std::unique_ptr<File> volume = fileSystem.Open(input.volumePath, OpenMode::kReadStreaming);
  FileState before;
  if (!volume || !volume->State(&before)) return fail("Error reading Velmorcrypt volume.");
  if (!volume->TryLock(false)) {
    return fail(input.volumePath +
                " is mounted read-write; unmount it (or mount it read-only), then export.");
  }
  uint64_t freeBytes = 0;
  if (fileSystem.FreeSpace(input.imagePath, &freeBytes) && freeBytes < info.bodySize) {
    return fail("There is not enough free space for " + input.imagePath + ": " +
                Megabytes(info.bodySize) + " are needed, " + Megabytes(freeBytes) +
                " are free. Nothing was written.");
  }
  CreatedFiles made(fileSystem);
  std::unique_ptr<File> image = fileSystem.Open(
      input.imagePath, input.force ? OpenMode::kCreateReadWrite : OpenMode::kCreateExclusive);
  // Whatever lies at the name when the create fails is not ours to remove.
  if (!image) return fail("Error creating " + input.imagePath + ".");
  made.Add(input.imagePath);
  const std::string removed = " " + input.imagePath + " was removed.";
  StreamRun run;
  run.sectorCount = info.bodySize / kSectorSize;
  run.threads = std::max(EncryptionThreadCount(info.algorithm), kReadingFillThreads);
  File& source = *volume;
  const BodyCipher& keys = cipher.cipher;
  const ChunkFill fill = [&source, &keys](uint8_t* chunk, uint64_t first, uint32_t sectors) {
    if (!source.ReadAt(first * kSectorSize, chunk, sectors * kSectorSize)) return false;
    BodyCipherDecrypt(&keys, chunk, first, sectors);
    return true;
  };
  switch (StreamSectors(*image, run, fill, progress, cancel)) {
    case StreamResult::kWritten:
      break;
    case StreamResult::kFillFailed:
      return fail("Error reading " + input.volumePath + "." + removed);
    case StreamResult::kCancelled:
      return fail("Export cancelled." + removed);
    case StreamResult::kWriteFailed:
    case StreamResult::kNoResources:
      return fail("Error writing " + input.imagePath + " (is its disk full?)." + removed);
  }
  if (!image->Flush()) {
    return fail("Error writing " + input.imagePath + " (is its disk full?)." + removed);
  }
  FileState after;
  if (!volume->State(&after) || !(after == before)) {
    return fail(input.volumePath + " changed while it was exported." + removed);
  }
  made.Keep();
  return Outcome::Success("Exported the decrypted body of " + input.volumePath + " (" +
                              std::to_string(info.bodySize) + " bytes) to " + input.imagePath + ".",
                          "Export");
}

Outcome ImportImage(FileSystem& fileSystem, ImportInput& input, const StreamProgress& progress,
                    const std::atomic<bool>* cancel) {
  const auto fail = [](const std::string& message) {
    return Outcome::Failure(message, kImportCaption);
  };
  // The caller's input, passwords and all, is used in place: no copy of them
  // is left behind.
  CreateVolumeInput& volume = input.volume;
  if (input.imagePath.empty()) return fail("Please name the disk image to import.");
  if (fileSystem.SameFile(input.imagePath, volume.volumePath) ||
      (!volume.headerPath.empty() && fileSystem.SameFile(input.imagePath, volume.headerPath))) {
    return fail("The new volume cannot be written over the image.");
  }
  std::unique_ptr<File> image = fileSystem.Open(input.imagePath, OpenMode::kReadStreaming);
  FileState before;
  if (!image || !image->State(&before)) return fail("Error opening " + input.imagePath + ".");
  const uint64_t size = before.size;
  if (size == 0 || size % kSectorSize != 0) {
    return fail(input.imagePath + " is " + std::to_string(size) +
                " bytes, not a whole number of 512-byte sectors: it is no disk image.");
  }
  if (size > uint64_t{kMaxVolumeSizeMb} * kMegabyte) {
    return fail(input.imagePath + " is larger than the largest volume (999999 MB).");
  }
  volume.sizeMb = static_cast<uint32_t>((size + kMegabyte - 1) / kMegabyte);
  std::atomic<bool> readFailed = false;
  File& source = *image;
  volume.plaintext = [&](uint8_t* data, uint64_t first, uint32_t sectors) {
    const uint64_t offset = first * kSectorSize;
    const uint64_t wanted = uint64_t{sectors} * kSectorSize;
    const uint64_t present = offset < size ? std::min(wanted, size - offset) : 0;
    if (present > 0 && !source.ReadAt(offset, data, static_cast<uint32_t>(present))) {
      readFailed = true;
      return false;
    }
    memset(data + present, 0, static_cast<size_t>(wanted - present));
    return true;
  };
  const CreateVolumeOutcome created = CreateVolume(fileSystem, volume, progress, cancel);
  volume.plaintext = nullptr;
  if (!created.outcome.success) {
    return readFailed ? fail("Error reading " + input.imagePath + "; no volume was made.")
                      : created.outcome;
  }
  FileState after;
  if (!image->State(&after) || !(after == before)) {
    fileSystem.Remove(volume.volumePath);
    if (!volume.headerPath.empty()) fileSystem.Remove(volume.headerPath);
    return fail(input.imagePath + " changed while it was imported; the new volume was removed.");
  }
  return Outcome::Success("Velmorcrypt volume successfully created from " + input.imagePath + ": " +
                              std::to_string(volume.sizeMb) + " MB, the image's " +
                              std::to_string(size) + " bytes and encrypted zeros after them.",
                          "Import");
}

VolumeCheck CheckVolume(FileSystem& fileSystem, const std::string& volumePath,
                        const std::string& headerPath, const std::string& password) {
  VolumeCheck check;
  const bool external = !headerPath.empty();
  const std::string& headerFile = external ? headerPath : volumePath;
  std::unique_ptr<File> volume = fileSystem.Open(volumePath, OpenMode::kRead);
  if (!volume || !volume->Size(&check.fileSize)) {
    check.problems.push_back("Error opening Velmorcrypt volume " + volumePath + ".");
    return check;
  }
  const uint64_t body =
      external ? check.fileSize : (check.fileSize > kHeaderSize ? check.fileSize - kHeaderSize : 0);
  check.sizeFits = body % kMegabyte == 0 && body >= kMegabyte &&
                   body / kMegabyte <= kMaxVolumeSizeMb &&
                   (external || check.fileSize > kHeaderSize);
  if (!check.sizeFits) {
    check.problems.push_back(
        volumePath + " is " + std::to_string(check.fileSize) +
        " bytes: a volume file is a whole number of megabytes (1 to 999999)" +
        (external ? "" : " followed by its 1044-byte header") +
        ". It may have been cut short (a copy that stopped part-way) or added to.");
  }
  HeaderBuffer header;
  const Outcome opened = OpenVolumeHeader(fileSystem, volumePath, headerPath, password,
                                          OpenMode::kRead, &check.info, &header);
  check.opened = opened.success;
  if (!check.opened) {
    check.problems.push_back(opened.message +
                             " The header does not open: the password is wrong, or the header is "
                             "damaged (restore-header puts back a saved one).");
  }
  const std::string backupPath = HeaderBackupPath(headerFile);
  if (check.info.backup == BackupState::kTorn) {
    check.problems.push_back(
        "The header is torn by an interrupted password change and opens only "
        "through " +
        backupPath + "; 'velmorcrypt-cli passwd' repairs it.");
  } else if (check.info.backup == BackupState::kForeign) {
    check.problems.push_back(backupPath +
                             " fits no interrupted password change of this header; a password "
                             "change or restore-header refuses to run until it is moved away.");
  }
  check.resize =
      ExamineResizeJournal(fileSystem, volumePath, check.opened ? header.bytes : nullptr);
  const std::string journal = ResizeJournalPath(volumePath);
  if (check.resize.state == PendingResize::State::kPending) {
    check.problems.push_back("A resize from " + std::to_string(check.resize.fromMb) + " MB to " +
                             std::to_string(check.resize.toMb) + " MB was interrupted; " +
                             ResizeAdvice(volumePath, check.resize.fromMb, check.resize.toMb) +
                             ".");
  } else if (check.resize.state == PendingResize::State::kForeign) {
    check.problems.push_back(
        journal + (check.opened
                       ? " was not made by a resize of this volume; resize refuses to run until "
                         "it is moved away."
                       : " lies beside the volume (an interrupted resize?); without the password "
                         "it cannot be told whether it is this volume's."));
  }
  if (check.opened && external && check.info.bodySize >= kBodyProbeSize) {
    Cipher cipher;
    BodyCipherInit(&cipher.cipher, check.info.algorithm, header.bytes + kSectorKeyOffset,
                   header.bytes + kSectorIvSeedOffset);
    if (!BodyLooksDecrypted(*volume, cipher.cipher)) {
      check.problems.push_back("The body does not decrypt with the keys in " + headerPath +
                               " to what a volume holds (zeros or a file system): the header "
                               "block may belong to another volume.");
    }
  }
  return check;
}
