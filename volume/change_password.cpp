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

// Writes a sealed header at `offset`, flushes it and reads it back.
bool WriteVerified(File& file, uint64_t offset, const uint8_t sealed[kHeaderSize]) {
  uint8_t check[kHeaderSize];
  return file.WriteAt(offset, sealed, kHeaderSize) && file.Flush() &&
         file.ReadAt(offset, check, kHeaderSize) && memcmp(check, sealed, kHeaderSize) == 0;
}

bool WriteBackup(FileSystem& fileSystem, const std::string& backupPath,
                 const uint8_t oldHeader[kHeaderSize], const uint8_t newHeader[kHeaderSize]) {
  std::unique_ptr<File> backup = fileSystem.Open(backupPath, OpenMode::kCreateReadWrite);
  return backup && backup->WriteAt(0, oldHeader, kHeaderSize) &&
         backup->WriteAt(kHeaderSize, newHeader, kHeaderSize) && backup->Flush();
}

}  // namespace

bool ReplaceHeaderSafely(FileSystem& fileSystem, const std::string& path, File& file,
                         uint64_t offset, const uint8_t original[kHeaderSize],
                         const uint8_t replacement[kHeaderSize]) {
  const std::string backupPath = HeaderBackupPath(path);
  if (!WriteBackup(fileSystem, backupPath, original, replacement)) {
    fileSystem.Remove(backupPath);
    return false;
  }
  if (!WriteVerified(file, offset, replacement) || !fileSystem.Remove(backupPath)) {
    // A write that failed part-way may have torn the header, and a backup
    // that stays beside the new header keeps the old one, which the old
    // password still opens: put the old header back. Should that fail too,
    // the backup stays, for the reads to open a torn header through and the
    // next change to repair it.
    if (WriteVerified(file, offset, original)) fileSystem.Remove(backupPath);
    return false;
  }
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
  uint8_t copies[kHeaderBackupSize];
  const BackupState backup = ExamineHeaderBackup(fileSystem, input.path, secrets.original, copies);
  if (ResealHeader(secrets.header, secrets.currentPassword, currentLength, secrets.newPassword,
                   newLength) == 0) {
    // A header torn by an interrupted change: repair it in place with the
    // backup's copy that the current password opens, then change that one.
    // A repair that cannot be written keeps the backup.
    int algorithm = kAlgorithmNone;
    const int copy = backup == BackupState::kTorn
                         ? OpenBackupCopy(copies, secrets.currentPassword, currentLength,
                                          secrets.header, &algorithm)
                         : -1;
    if (copy < 0) return Fail("Error changing password.");
    memcpy(secrets.original, copies + copy * kHeaderSize, kHeaderSize);
    if (!WriteVerified(*file, headerOffset, secrets.original)) return Fail(kErrorWriting);
    memcpy(secrets.header, secrets.original, kHeaderSize);
    if (ResealHeader(secrets.header, secrets.currentPassword, currentLength, secrets.newPassword,
                     newLength) == 0) {
      return Fail("Error changing password.");
    }
  }
  // The change's own backup replaces a stale or foreign one.
  if (!ReplaceHeaderSafely(fileSystem, input.path, *file, headerOffset, secrets.original,
                           secrets.header)) {
    return Fail(kErrorWriting);
  }
  file.reset();
  return {Outcome::Success("Password successfully changed.", "Apply"), FolderOfPath(input.path)};
}
