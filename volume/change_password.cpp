#include "volume/change_password.h"

#include <string.h>

#include <memory>

#include "crypto/wipe.h"
#include "platform/path.h"
#include "volume/header.h"

namespace {

constexpr char kErrorCaption[] = "Apply Error";
constexpr char kErrorReading[] = "Error reading file.";
constexpr char kErrorWriting[] = "Error writing file.";

ChangePasswordOutcome Fail(std::string message) {
  return {Outcome::Failure(std::move(message), kErrorCaption), std::string()};
}

// The secrets of one change, wiped however it ends. `original` keeps the
// header as it was on disk, to put back if the new one cannot be written.
struct ChangeSecrets {
  uint8_t currentPassword[kMaxPasswordLength];
  uint8_t newPassword[kMaxPasswordLength];
  uint8_t header[kHeaderSize];
  uint8_t original[kHeaderSize];

  ChangeSecrets() = default;
  ChangeSecrets(const ChangeSecrets&) = delete;
  ChangeSecrets& operator=(const ChangeSecrets&) = delete;
  ~ChangeSecrets() {
    SecureWipe(currentPassword, sizeof currentPassword);
    SecureWipe(newPassword, sizeof newPassword);
    SecureWipe(header, sizeof header);
    SecureWipe(original, sizeof original);
  }
};

// Flushes the file and reads the header at `offset` back: whether it is
// `sealed`.
bool FlushedAndReadBack(File& file, uint64_t offset, const uint8_t sealed[kHeaderSize]) {
  uint8_t check[kHeaderSize];
  return file.Flush() && file.ReadAt(offset, check, kHeaderSize) &&
         memcmp(check, sealed, kHeaderSize) == 0;
}

// Writes a sealed header at `offset`, flushes it and reads it back.
bool WriteVerified(File& file, uint64_t offset, const uint8_t sealed[kHeaderSize]) {
  return file.WriteAt(offset, sealed, kHeaderSize) && FlushedAndReadBack(file, offset, sealed);
}

// The bytes of the header's disk sector that starts at `sector`.
uint32_t SectorLength(uint32_t sector) {
  return kHeaderSize - sector < kDiskSectorSize ? kHeaderSize - sector : kDiskSectorSize;
}

// Writes the backup of both headers under its name: over a stale backup of
// a change, else as a new file, created exclusively so that a name that
// appeared meanwhile fails the change instead of being replaced. A backup
// that cannot be written whole is removed; one that cannot be created is
// not ours to remove.
bool WriteBackup(FileSystem& fileSystem, const std::string& backupPath, bool replaceStale,
                 const uint8_t oldHeader[kHeaderSize], const uint8_t newHeader[kHeaderSize]) {
  std::unique_ptr<File> backup = fileSystem.Open(
      backupPath, replaceStale ? OpenMode::kCreateReadWrite : OpenMode::kCreateExclusive);
  if (!backup) return false;
  // One write: cut short, it leaves whole sectors of the backup, which the
  // next change knows for its own (ExamineHeaderBackup).
  uint8_t copies[kHeaderBackupSize];
  memcpy(copies, oldHeader, kHeaderSize);
  memcpy(copies + kHeaderSize, newHeader, kHeaderSize);
  const bool written = backup->WriteAt(0, copies, kHeaderBackupSize) && backup->Flush();
  backup.reset();
  if (!written) fileSystem.Remove(backupPath);
  return written;
}

}  // namespace

std::string BackupInTheWayMessage(const std::string& path) {
  return HeaderBackupPath(path) +
         " was not made by a password change of this header, and a change keeps its backup "
         "under that name. Nothing was changed: move or rename it, then try again.";
}

HeaderWrite ReplaceHeaderSafely(FileSystem& fileSystem, const std::string& path, File& file,
                                uint64_t offset, const uint8_t original[kHeaderSize],
                                const uint8_t replacement[kHeaderSize]) {
  const std::string backupPath = HeaderBackupPath(path);
  uint8_t copies[kHeaderBackupSize];
  const BackupState state = ExamineHeaderBackup(fileSystem, path, original, copies);
  if (state != BackupState::kNone && state != BackupState::kStale) {
    return HeaderWrite::kBackupInTheWay;
  }
  if (!WriteBackup(fileSystem, backupPath, state == BackupState::kStale, original, replacement)) {
    return HeaderWrite::kFailed;
  }
  if (!WriteVerified(file, offset, replacement) || !fileSystem.Remove(backupPath)) {
    // A write that failed part-way may have torn the header, and a backup
    // that stays beside the new header keeps the old one, which the old
    // password still opens: put the old header back. Should that fail too,
    // the backup stays, for the reads to open a torn header through and the
    // next change to repair it.
    if (WriteVerified(file, offset, original)) fileSystem.Remove(backupPath);
    return HeaderWrite::kFailed;
  }
  return HeaderWrite::kDone;
}

bool RepairTornHeader(File& file, uint64_t offset, uint8_t inPlace[kHeaderSize],
                      const uint8_t copies[kHeaderBackupSize], int copy) {
  const uint8_t* const target = copies + copy * kHeaderSize;
  // The sectors that differ from the copy: a run from the start of the
  // header to the tear, or from the tear to the end.
  constexpr int kSectors = (kHeaderSize + kDiskSectorSize - 1) / kDiskSectorSize;
  uint32_t differing[kSectors];
  int count = 0;
  for (uint32_t sector = 0; sector < kHeaderSize; sector += kDiskSectorSize) {
    if (memcmp(inPlace + sector, target + sector, SectorLength(sector)) != 0) {
      differing[count++] = sector;
    }
  }
  const bool fromTheStart = count > 0 && differing[0] == 0;
  for (int n = 0; n < count; ++n) {
    const uint32_t sector = differing[fromTheStart ? count - 1 - n : n];
    if (!file.WriteAt(offset + sector, target + sector, SectorLength(sector))) return false;
  }
  if (!FlushedAndReadBack(file, offset, target)) return false;
  memcpy(inPlace, target, kHeaderSize);
  return true;
}

ChangePasswordOutcome ChangeVolumePassword(FileSystem& fileSystem,
                                           const ChangePasswordInput& input) {
  if (input.path.empty()) return Fail("Please select the file containing the header block.");
  if (input.currentPassword.empty() || input.newPassword.empty() || input.confirmation.empty()) {
    return Fail("Please fill in all password fields.");
  }
  if (input.currentPassword.size() > kMaxPasswordLength) {
    return Fail("Current password cannot be longer than 64 characters.");
  }
  if (!input.newPasswordRefusal.empty()) return Fail(input.newPasswordRefusal);
  if (input.newPassword != input.confirmation) return Fail("New passwords do not match.");
  if (input.newPassword.size() > kMaxPasswordLength) {
    return Fail("Passwords cannot be longer than " + std::to_string(kMaxPasswordLength) +
                " characters.");
  }

  ChangeSecrets secrets;
  const auto currentLength = static_cast<uint32_t>(input.currentPassword.size());
  const auto newLength = static_cast<uint32_t>(input.newPassword.size());
  memcpy(secrets.currentPassword, input.currentPassword.data(), currentLength);
  memcpy(secrets.newPassword, input.newPassword.data(), newLength);

  std::unique_ptr<File> file = fileSystem.Open(input.path, OpenMode::kReadWrite);
  if (!file) return Fail("Error opening file.");
  uint64_t size = 0;
  if (!file->Size(&size)) return Fail(kErrorReading);
  if (size < kHeaderSize) return Fail("This file does not seem to contain a header block.");
  const uint64_t headerOffset = size - kHeaderSize;
  // A short read is reported as such rather than as a wrong password.
  if (!file->ReadAt(headerOffset, secrets.header, kHeaderSize)) return Fail(kErrorReading);
  memcpy(secrets.original, secrets.header, kHeaderSize);
  if (ResealHeader(secrets.header, secrets.currentPassword, currentLength, secrets.newPassword,
                   newLength) == 0) {
    // A header torn by an interrupted change: repair it in place with the
    // backup's copy that the current password opens, then change that one.
    // A repair that cannot be written keeps the backup.
    uint8_t copies[kHeaderBackupSize];
    int algorithm = kAlgorithmNone;
    const int copy =
        ExamineHeaderBackup(fileSystem, input.path, secrets.original, copies) == BackupState::kTorn
            ? OpenBackupCopy(copies, secrets.currentPassword, currentLength, secrets.header,
                             &algorithm)
            : -1;
    if (copy < 0) return Fail("Error changing password.");
    if (!RepairTornHeader(*file, headerOffset, secrets.original, copies, copy)) {
      return Fail(kErrorWriting);
    }
    memcpy(secrets.header, secrets.original, kHeaderSize);
    if (ResealHeader(secrets.header, secrets.currentPassword, currentLength, secrets.newPassword,
                     newLength) == 0) {
      return Fail("Error changing password.");
    }
  }
  // The change's own backup replaces a stale one; anything else at its name
  // stops the change.
  switch (ReplaceHeaderSafely(fileSystem, input.path, *file, headerOffset, secrets.original,
                              secrets.header)) {
    case HeaderWrite::kDone:
      break;
    case HeaderWrite::kFailed:
      return Fail(kErrorWriting);
    case HeaderWrite::kBackupInTheWay:
      return Fail(BackupInTheWayMessage(input.path));
  }
  file.reset();
  return {Outcome::Success("Password successfully changed.", "Apply"), FolderOfPath(input.path)};
}
