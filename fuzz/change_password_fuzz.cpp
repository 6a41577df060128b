// The password change engine's input checks, and what it does to the file,
// over an in-memory file system.
//
// Input: random seed (Uint32), draws before the random source fails (Byte;
// 2 and more: never), failing file calls (Uint64 mask), flags (Byte: bit 0,
// the file exists), path, current password, new password, confirmation
// (Strings), then the file's contents (the rest, any length).
//
// Checked:
// - the first failing check, in the fixed order, gives its message, and the
//   file is not opened before every check has passed;
// - every failure but a failed write leaves the file exactly as it was, and
//   is explained: a missing file or failed call, a file shorter than a
//   header, or a current password that does not open it; after a failed
//   write the old header is back whenever the last write went through;
// - a success follows no failed call, keeps the file's size and every byte
//   before the header, and the new header opens with the new password as the
//   same algorithm with the same sealed contents (body keys among them).
#include <stdint.h>
#include <string.h>

#include <set>
#include <string>

#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_random.h"
#include "fuzz/memory_file_system.h"
#include "volume/change_password.h"
#include "volume/header.h"

namespace {

constexpr int kResealDraws = 2;  // salt, headerIv
constexpr char kErrorCaption[] = "Apply Error";

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

// Opens the last 1044 bytes of `file` with `password`: the algorithm, with
// `header` holding the opened header; 0 when it does not open.
int OpenLastHeader(const std::string& file, const std::string& password,
                   uint8_t header[kHeaderSize]) {
  memcpy(header, file.data() + file.size() - kHeaderSize, kHeaderSize);
  return OpenHeader(header, reinterpret_cast<const uint8_t*>(password.data()),
                    static_cast<uint32_t>(password.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput fuzz(data, size);
  const uint32_t seed = fuzz.Uint32();
  const int drawsBeforeFailure = fuzz.Byte();
  const bool randomFails = drawsBeforeFailure < kResealDraws;
  InstallFuzzRandom(seed, randomFails ? drawsBeforeFailure : -1);
  const uint64_t failMask = fuzz.Uint64();
  const bool fileExists = (fuzz.Byte() & 1) != 0;

  ChangePasswordInput input;
  input.path = fuzz.String();
  input.currentPassword = fuzz.String();
  input.newPassword = fuzz.String();
  input.confirmation = fuzz.String();
  const std::string original(fuzz.Rest());

  // The file is rewritten in place: the disk needs no room beyond it.
  MemoryFileSystem fileSystem(original.size(), failMask);
  if (fileExists) fileSystem.files[input.path] = original;
  const auto filesBefore = fileSystem.files;

  const ChangePasswordOutcome result = ChangeVolumePassword(fileSystem, input);

  const std::string failedCheck = FirstFailingCheck(input);
  if (!failedCheck.empty()) {
    FUZZ_CHECK(!result.outcome.success);
    FUZZ_CHECK(result.outcome.message == failedCheck);
    FUZZ_CHECK(result.outcome.caption == kErrorCaption);
    FUZZ_CHECK(fileSystem.log.empty());
    FUZZ_CHECK(fileSystem.files == filesBefore);
    return 0;
  }
  // The file is only ever opened, never created.
  FUZZ_CHECK(fileSystem.Count("open") == 1);
  FUZZ_CHECK(fileSystem.files.size() == filesBefore.size());
  const std::string& message = result.outcome.message;

  if (result.outcome.success) {
    FUZZ_CHECK(message == "Password successfully changed.");
    FUZZ_CHECK(result.outcome.caption == "Apply");
    FUZZ_CHECK(!randomFails && !fileSystem.AnyCallFailed());
    FUZZ_CHECK(input.path.compare(0, result.lastDirectory.size(), result.lastDirectory) == 0);
    const std::string& changed = fileSystem.files.at(input.path);
    FUZZ_CHECK(changed.size() == original.size() && original.size() >= kHeaderSize);
    const size_t headerOffset = original.size() - kHeaderSize;
    FUZZ_CHECK(changed.compare(0, headerOffset, original, 0, headerOffset) == 0);
    uint8_t before[kHeaderSize];
    uint8_t after[kHeaderSize];
    const int algorithm = OpenLastHeader(original, input.currentPassword, before);
    FUZZ_CHECK(algorithm != kAlgorithmNone);
    FUZZ_CHECK(OpenLastHeader(changed, input.newPassword, after) == algorithm);
    FUZZ_CHECK(memcmp(before + kSealedOffset, after + kSealedOffset, kSealedSize) == 0);
    return 0;
  }

  FUZZ_CHECK(result.outcome.caption == kErrorCaption);
  if (message == "Error writing file.") {
    FUZZ_CHECK(fileSystem.AnyFailed("write") || fileSystem.AnyFailed("flush"));
    // The old header is put back by a write that went through.
    if (fileSystem.LastResult("write") == true) FUZZ_CHECK(fileSystem.files == filesBefore);
    return 0;
  }
  FUZZ_CHECK(fileSystem.files == filesBefore);
  FUZZ_CHECK(fileSystem.Count("write") == 0);
  if (message == "Error opening file.") {
    FUZZ_CHECK(!fileExists || fileSystem.AnyFailed("open"));
  } else if (message == "Error reading file.") {
    FUZZ_CHECK(fileSystem.AnyFailed("size") || fileSystem.AnyFailed("read"));
  } else if (message == "This file does not seem to contain a header block.") {
    FUZZ_CHECK(original.size() < kHeaderSize);
  } else {
    FUZZ_CHECK(message == "Error changing password.");
    FUZZ_CHECK(!fileSystem.AnyCallFailed() && original.size() >= kHeaderSize);
    uint8_t header[kHeaderSize];
    FUZZ_CHECK(randomFails || OpenLastHeader(original, input.currentPassword, header) == 0);
  }
  return 0;
}
