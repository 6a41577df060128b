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
constexpr char kBackupSuffix[] = ".header-backup";
// The old sealed header, then the new one.
constexpr uint32_t kBackupSize = 2 * kHeaderSize;

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

// A header opened in a scratch buffer, wiped however the open ends.
struct OpenedHeader {
  uint8_t bytes[kHeaderSize];

  OpenedHeader() = default;
  OpenedHeader(const OpenedHeader&) = delete;
  OpenedHeader& operator=(const OpenedHeader&) = delete;
  ~OpenedHeader() { SecureWipe(bytes, sizeof bytes); }
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

// With `inPlace` the sealed bytes at the end of the file at `path`, which do
// not open with the password: when the backup beside the file belongs to
// them and one of its copies opens with the password, replaces `inPlace` by
// that copy, writes it back in place through `target` (or through the file
// opened anew when `target` is null) and removes the backup once the copy
// has been written, flushed and read back. False when there is nothing to
// recover with this password.
bool RecoverFromBackup(FileSystem& fileSystem, const std::string& path, File* target,
                       uint64_t headerOffset, uint8_t inPlace[kHeaderSize], const uint8_t* password,
                       uint32_t passwordLength) {
  const std::string backupPath = HeaderBackupPath(path);
  uint8_t copies[kBackupSize];
  {
    std::unique_ptr<File> backup = fileSystem.Open(backupPath, OpenMode::kRead);
    uint64_t size = 0;
    if (!backup || !backup->Size(&size) || size != kBackupSize ||
        !backup->ReadAt(0, copies, kBackupSize)) {
      return false;
    }
  }
  const uint8_t* const oldHeader = copies;
  const uint8_t* const newHeader = copies + kHeaderSize;
  // A write cut short leaves each byte old or new; anything else means the
  // backup was made for another file.
  for (uint32_t i = 0; i < kHeaderSize; ++i) {
    if (inPlace[i] != oldHeader[i] && inPlace[i] != newHeader[i]) return false;
  }
  for (const uint8_t* copy : {oldHeader, newHeader}) {
    OpenedHeader scratch;
    memcpy(scratch.bytes, copy, kHeaderSize);
    if (OpenHeader(scratch.bytes, password, passwordLength) == kAlgorithmNone) continue;
    memcpy(inPlace, copy, kHeaderSize);
    std::unique_ptr<File> reopened;
    if (target == nullptr) {
      reopened = fileSystem.Open(path, OpenMode::kReadWrite);
      uint64_t size = 0;
      if (reopened && reopened->Size(&size) && size >= kHeaderSize) {
        target = reopened.get();
        headerOffset = size - kHeaderSize;
      }
    }
    if (target != nullptr && WriteVerified(*target, headerOffset, copy)) {
      fileSystem.Remove(backupPath);
    }
    return true;
  }
  return false;
}

}  // namespace

std::string HeaderBackupPath(const std::string& path) { return path + kBackupSuffix; }

int OpenHeaderRecovering(FileSystem& fileSystem, const std::string& path,
                         uint8_t header[kHeaderSize], const uint8_t* password,
                         uint32_t passwordLength) {
  const int algorithm = OpenHeader(header, password, passwordLength);
  if (algorithm != kAlgorithmNone) {
    // The header in place is whole: a backup left by a change that was
    // interrupted after its write is no longer needed.
    fileSystem.Remove(HeaderBackupPath(path));
    return algorithm;
  }
  if (!RecoverFromBackup(fileSystem, path, nullptr, 0, header, password, passwordLength)) {
    return kAlgorithmNone;
  }
  return OpenHeader(header, password, passwordLength);
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
    // An earlier change may have been interrupted with a mix of two headers
    // in place: settle it with the current password and try again.
    if (!RecoverFromBackup(fileSystem, input.path, file.get(), headerOffset, secrets.original,
                           secrets.currentPassword, currentLength)) {
      return Fail("Error changing password.");
    }
    memcpy(secrets.header, secrets.original, kHeaderSize);
    if (ResealHeader(secrets.header, secrets.currentPassword, currentLength, secrets.newPassword,
                     newLength) == 0) {
      return Fail("Error changing password.");
    }
  }
  const std::string backupPath = HeaderBackupPath(input.path);
  if (!WriteBackup(fileSystem, backupPath, secrets.original, secrets.header)) {
    fileSystem.Remove(backupPath);
    return Fail(kErrorWriting);
  }
  if (!WriteVerified(*file, headerOffset, secrets.header) || !fileSystem.Remove(backupPath)) {
    // A write that failed part-way may have left a mix of both headers, and
    // a backup that stays would let the old password roll the change back
    // later: put the old header back. Should that fail too, the backup stays
    // for the next open to settle.
    if (WriteVerified(*file, headerOffset, secrets.original)) fileSystem.Remove(backupPath);
    return Fail(kErrorWriting);
  }
  file.reset();
  return {Outcome::Success("Password successfully changed.", "Apply"), FolderOfPath(input.path)};
}
