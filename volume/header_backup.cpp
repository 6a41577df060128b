#include "volume/header_backup.h"

#include <string.h>

#include <memory>

#include "crypto/wipe.h"

namespace {

constexpr char kBackupSuffix[] = ".header-backup";
constexpr char kSignature[kSignatureSize] = "Velmorcrypt";

// A header opened in a scratch buffer, wiped however the open ends.
struct OpenedHeader {
  uint8_t bytes[kHeaderSize];

  OpenedHeader() = default;
  OpenedHeader(const OpenedHeader&) = delete;
  OpenedHeader& operator=(const OpenedHeader&) = delete;
  ~OpenedHeader() { SecureWipe(bytes, sizeof bytes); }
};

// An opened header as sealed: the signature and its zeros, zero reserved
// bytes. The MAC alone decides whether a password opens a header; a copy
// taken from a backup must also look like one that was sealed.
bool WellFormed(const uint8_t opened[kHeaderSize]) {
  if (memcmp(opened + kSignatureOffset, kSignature, kSignatureSize) != 0) return false;
  for (uint32_t i = 0; i < kReservedSize; ++i) {
    if (opened[kReservedOffset + i] != 0) return false;
  }
  return true;
}

// Whether the two copies differ in every sector, as a re-sealed header
// does from the one it replaces (new salt, new encryption, new MAC): then
// each sector of a torn header tells which copy it came from.
bool DifferInEverySector(const uint8_t a[kHeaderSize], const uint8_t b[kHeaderSize]) {
  for (uint32_t offset = 0; offset < kHeaderSize; offset += kDiskSectorSize) {
    const uint32_t length =
        kHeaderSize - offset < kDiskSectorSize ? kHeaderSize - offset : kDiskSectorSize;
    if (memcmp(a + offset, b + offset, length) == 0) return false;
  }
  return true;
}

}  // namespace

std::string HeaderBackupPath(const std::string& path) { return path + kBackupSuffix; }

bool IsTornWrite(const uint8_t inPlace[kHeaderSize], const uint8_t written[kHeaderSize],
                 const uint8_t over[kHeaderSize]) {
  for (uint32_t prefix = kDiskSectorSize; prefix < kHeaderSize; prefix += kDiskSectorSize) {
    if (memcmp(inPlace, written, prefix) == 0 &&
        memcmp(inPlace + prefix, over + prefix, kHeaderSize - prefix) == 0) {
      return true;
    }
  }
  return false;
}

BackupState ExamineHeaderBackup(FileSystem& fileSystem, const std::string& path,
                                const uint8_t inPlace[kHeaderSize],
                                uint8_t copies[kHeaderBackupSize]) {
  const std::string backupPath = HeaderBackupPath(path);
  std::unique_ptr<File> backup = fileSystem.Open(backupPath, OpenMode::kReadNoFollow);
  // What lies there and cannot be read as a file (a link, a pipe, a folder,
  // a file closed to us) fits no change either.
  if (!backup) return fileSystem.Exists(backupPath) ? BackupState::kForeign : BackupState::kNone;
  uint64_t size = 0;
  if (!backup->Size(&size) || size > kHeaderBackupSize ||
      !backup->ReadAt(0, copies, static_cast<uint32_t>(size))) {
    return BackupState::kForeign;
  }
  if (size < kHeaderBackupSize) {
    // A change killed while it wrote its backup leaves whole sectors of it
    // (none among them), which start with the header in place. A file of
    // any other length, a saved header's 1044 bytes among them, is no
    // change's.
    const uint32_t compared = size < kHeaderSize ? static_cast<uint32_t>(size) : kHeaderSize;
    return size % kDiskSectorSize == 0 && memcmp(copies, inPlace, compared) == 0
               ? BackupState::kStale
               : BackupState::kForeign;
  }
  const uint8_t* const oldCopy = copies;
  const uint8_t* const newCopy = copies + kHeaderSize;
  if (memcmp(inPlace, oldCopy, kHeaderSize) == 0 || memcmp(inPlace, newCopy, kHeaderSize) == 0) {
    return BackupState::kStale;
  }
  // The change writes the new copy over the old one, and puts the old one
  // back over the new one when its own write fails.
  if (DifferInEverySector(oldCopy, newCopy) &&
      (IsTornWrite(inPlace, newCopy, oldCopy) || IsTornWrite(inPlace, oldCopy, newCopy))) {
    return BackupState::kTorn;
  }
  return BackupState::kForeign;
}

int OpenBackupCopy(const uint8_t copies[kHeaderBackupSize], const uint8_t* password,
                   uint32_t passwordLength, uint8_t opened[kHeaderSize], int* algorithm) {
  for (int copy = 0; copy < 2; ++copy) {
    OpenedHeader scratch;
    memcpy(scratch.bytes, copies + copy * kHeaderSize, kHeaderSize);
    const int id = OpenHeader(scratch.bytes, password, passwordLength);
    if (id == kAlgorithmNone || !WellFormed(scratch.bytes)) continue;
    memcpy(opened, scratch.bytes, kHeaderSize);
    *algorithm = id;
    return copy;
  }
  return -1;
}

int OpenHeaderReadOnly(FileSystem& fileSystem, const std::string& path, uint8_t header[kHeaderSize],
                       const uint8_t* password, uint32_t passwordLength, BackupState* backup) {
  uint8_t copies[kHeaderBackupSize];
  BackupState state = BackupState::kNone;
  if (backup != nullptr) state = ExamineHeaderBackup(fileSystem, path, header, copies);
  int algorithm = OpenHeader(header, password, passwordLength);
  if (algorithm == kAlgorithmNone) {
    if (backup == nullptr) state = ExamineHeaderBackup(fileSystem, path, header, copies);
    if (state == BackupState::kTorn) {
      OpenBackupCopy(copies, password, passwordLength, header, &algorithm);
    }
  }
  if (backup != nullptr) *backup = state;
  return algorithm;
}
