// The password change engine's input checks, and what it does to the file
// and to the header backup beside it, over an in-memory file system.
//
// Input: random seed (Uint32), draws before the random source fails (Byte;
// 4 and more: never), failing file calls (Uint64 mask), flags (Byte: bit 0,
// the file exists; bit 1, a backup lies beside it; bit 2, that backup is
// planted: the header in place followed by the backup's contents; bit 3,
// with bit 2, the header in place is torn between the two at the sector
// boundary that bit 4 picks), path, current password, new password,
// confirmation (Strings), with bit 1 the backup's contents (LongString), then
// the file's contents (the rest, any length).
//
// Checked:
// - the first failing check, in the fixed order, gives its message, and no
//   file is opened before every check has passed;
// - no file is created but the backup, and nothing but the file and its
//   backup changes; a change refused for what lies at the backup's name
//   writes nothing (unless a failed call made it misread that backup);
// - opening the header as the reads do (through the backup only when it is
//   torn between the backup's copies) never changes a file;
// - a current password that opens nothing that way writes nothing, also
//   with a planted backup that holds a copy it opens;
// - a failure is explained: a missing file or a failed call, a file shorter
//   than a header, a current password that opens nothing, or no random
//   bytes; a failure that wrote nothing leaves the file as it was, and one
//   that did (on a header that starts on a sector boundary, as every volume's
//   does) still lets the current password open the header;
// - a success follows no refused random draw, keeps the file's size and every byte
//   before the header, removes the backup, and the new header opens with the
//   new password as the same algorithm with the same sealed contents (body
//   keys among them) as the header the current password opened.
#include <stdint.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_random.h"
#include "fuzz/memory_file_system.h"
#include "volume/change_password.h"
#include "volume/header.h"
#include "volume/header_backup.h"

namespace {

constexpr int kDraws = 4;  // salt and headerIv, for at most two re-seals
constexpr char kErrorCaption[] = "Apply Error";
using Files = std::map<std::string, std::string>;

// The message of the first failing input check, or "" when all pass.
std::string FirstFailingCheck(const ChangePasswordInput& input) {
  if (input.path.empty()) return "Please select the file containing the header block.";
  if (input.currentPassword.empty() || input.newPassword.empty() || input.confirmation.empty()) {
    return "Please fill in all password fields.";
  }
  if (input.currentPassword.size() > kMaxPasswordLength) {
    return "Current password cannot be longer than 64 characters.";
  }
  if (input.newPassword != input.confirmation) return "New passwords do not match.";
  if (input.newPassword.size() > kMaxPasswordLength) {
    return "Passwords cannot be longer than 64 characters.";
  }
  return "";
}

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// Opens the header of `path` in `files` with `password` as every read does;
// the algorithm, with `header` holding the opened header, or 0. The files
// are a copy: nothing fails, and the open must change nothing.
int OpenAsLater(Files files, const std::string& path, const std::string& password,
                uint8_t header[kHeaderSize]) {
  const auto file = files.find(path);
  if (file == files.end() || file->second.size() < kHeaderSize) return kAlgorithmNone;
  memcpy(header, file->second.data() + file->second.size() - kHeaderSize, kHeaderSize);
  MemoryFileSystem fileSystem(UINT64_MAX, 0);
  fileSystem.files = files;
  const int algorithm = OpenHeaderReadOnly(fileSystem, path, header, Bytes(password),
                                           static_cast<uint32_t>(password.size()));
  FUZZ_CHECK(fileSystem.files == files);
  FUZZ_CHECK(fileSystem.Count("write") == 0 && fileSystem.Count("set-size") == 0);
  return algorithm;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput fuzz(data, size);
  const uint32_t seed = fuzz.Uint32();
  const int drawsBeforeFailure = fuzz.Byte();
  InstallFuzzRandom(seed, drawsBeforeFailure < kDraws ? drawsBeforeFailure : -1);
  const uint64_t failMask = fuzz.Uint64();
  const uint8_t flags = fuzz.Byte();

  ChangePasswordInput input;
  input.path = fuzz.String();
  input.currentPassword = fuzz.String();
  input.newPassword = fuzz.String();
  input.confirmation = fuzz.String();
  const std::string backupPath = HeaderBackupPath(input.path);
  std::string backup = (flags & 2) != 0 ? fuzz.LongString() : std::string();
  std::string original(fuzz.Rest());
  if ((flags & 6) == 6 && original.size() >= kHeaderSize) {
    // A backup planted beside the file: its header, then another one.
    const std::string inPlace = original.substr(original.size() - kHeaderSize);
    std::string other = backup.substr(0, kHeaderSize);
    other.resize(kHeaderSize, '\0');
    backup = inPlace + other;
    if ((flags & 8) != 0) {
      const size_t torn = (flags & 16) != 0 ? 2 * kDiskSectorSize : kDiskSectorSize;
      original.replace(original.size() - kHeaderSize, torn, other, 0, torn);
    }
  }

  // Room for the file, the backup there was, and a new backup.
  MemoryFileSystem fileSystem(original.size() + backup.size() + 2 * kHeaderSize, failMask);
  if ((flags & 2) != 0) fileSystem.files[backupPath] = backup;
  if ((flags & 1) != 0) fileSystem.files[input.path] = original;
  const Files before = fileSystem.files;

  const ChangePasswordOutcome result = ChangeVolumePassword(fileSystem, input);

  const Files& after = fileSystem.files;
  const std::string failedCheck = FirstFailingCheck(input);
  if (!failedCheck.empty()) {
    FUZZ_CHECK(!result.outcome.success);
    FUZZ_CHECK(result.outcome.message == failedCheck);
    FUZZ_CHECK(result.outcome.caption == kErrorCaption);
    FUZZ_CHECK(fileSystem.log.empty());
    FUZZ_CHECK(after == before);
    return 0;
  }
  for (const auto& [path, contents] : after) {
    if (path == input.path || path == backupPath) continue;
    FUZZ_CHECK(before.count(path) == 1 && before.at(path) == contents);
  }
  for (const auto& [path, contents] : before) {
    FUZZ_CHECK(path == backupPath || after.count(path) == 1);
  }
  const std::string& message = result.outcome.message;
  uint8_t opened[kHeaderSize];

  if (result.outcome.success) {
    FUZZ_CHECK(message == "Password successfully changed.");
    FUZZ_CHECK(result.outcome.caption == "Apply");
    // A failed call while settling an old backup may be overcome; the
    // header written at the end is read back, and checked again here.
    FUZZ_CHECK(!FuzzRandomRefused());
    FUZZ_CHECK(after.count(backupPath) == 0);
    FUZZ_CHECK(input.path.compare(0, result.lastDirectory.size(), result.lastDirectory) == 0);
    const std::string& changed = after.at(input.path);
    FUZZ_CHECK(changed.size() == original.size() && original.size() >= kHeaderSize);
    const size_t headerOffset = original.size() - kHeaderSize;
    FUZZ_CHECK(changed.compare(0, headerOffset, original, 0, headerOffset) == 0);
    uint8_t changedHeader[kHeaderSize];
    memcpy(changedHeader, changed.data() + headerOffset, kHeaderSize);
    const int algorithm = OpenHeader(changedHeader, Bytes(input.newPassword),
                                     static_cast<uint32_t>(input.newPassword.size()));
    FUZZ_CHECK(OpenAsLater(before, input.path, input.currentPassword, opened) == algorithm);
    FUZZ_CHECK(memcmp(opened + kSealedOffset, changedHeader + kSealedOffset, kSealedSize) == 0);
    return 0;
  }

  FUZZ_CHECK(result.outcome.caption == kErrorCaption);
  static const std::set<std::string> kFailures = {
      "Error opening file.", "Error reading file.",
      "This file does not seem to contain a header block.", "Error changing password.",
      "Error writing file."};
  FUZZ_CHECK(kFailures.count(message) == 1 || message == BackupInTheWayMessage(input.path));
  if (message == "Error opening file.") {
    FUZZ_CHECK((flags & 1) == 0 || fileSystem.AnyFailed("open"));
  } else if (message == "Error reading file.") {
    FUZZ_CHECK(fileSystem.AnyFailed("size") || fileSystem.AnyFailed("read"));
  } else if (message == "This file does not seem to contain a header block.") {
    FUZZ_CHECK(original.size() < kHeaderSize);
  } else if (message == BackupInTheWayMessage(input.path)) {
    FUZZ_CHECK((flags & 2) != 0);
    FUZZ_CHECK(fileSystem.AnyCallFailed() || (fileSystem.Count("write") == 0 && after == before));
  } else if (message == "Error changing password.") {
    FUZZ_CHECK(FuzzRandomRefused() || fileSystem.AnyCallFailed() ||
               OpenAsLater(before, input.path, input.currentPassword, opened) == kAlgorithmNone);
  } else {
    FUZZ_CHECK(fileSystem.AnyCallFailed());
  }
  const bool opensBefore =
      OpenAsLater(before, input.path, input.currentPassword, opened) != kAlgorithmNone;
  if (!opensBefore) FUZZ_CHECK(after == before);
  if (fileSystem.Count("write") == 0) {
    FUZZ_CHECK(after.count(input.path) == before.count(input.path));
    if (before.count(input.path) == 1) FUZZ_CHECK(after.at(input.path) == before.at(input.path));
  } else if (opensBefore && (original.size() - kHeaderSize) % kDiskSectorSize == 0) {
    FUZZ_CHECK(OpenAsLater(after, input.path, input.currentPassword, opened) != kAlgorithmNone);
  }
  return 0;
}
