#include "volume/change_password.h"

#include <string.h>

#include <memory>

#include "crypto/wipe.h"
#include "platform/path.h"
#include "volume/header.h"

namespace {

constexpr char kErrorCaption[] = "Apply Error";
constexpr char kErrorReading[] = "Error reading file.";

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

}  // namespace

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
    return Fail("Error changing password.");
  }
  if (!file->WriteAt(headerOffset, secrets.header, kHeaderSize) || !file->Flush()) {
    // A write that failed part-way may have left a mix of both headers: put
    // the old one back (best effort) so that the old password keeps working.
    if (file->WriteAt(headerOffset, secrets.original, kHeaderSize)) file->Flush();
    return Fail("Error writing file.");
  }
  file.reset();
  return {Outcome::Success("Password successfully changed.", "Apply"), FolderOfPath(input.path)};
}
