#include "cli/header_copy.h"

#include <inttypes.h>
#include <string.h>

#include <memory>
#include <string_view>

#include "cli/volume_info.h"
#include "platform/path.h"
#include "volume/change_password.h"
#include "volume/header.h"
#include "volume/header_backup.h"

namespace {

Outcome Fail(const std::string& message) { return Outcome::Failure(message, "Header Error"); }

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// The file that holds the header: the external header block, else the
// volume file.
const std::string& HeaderFileOf(const HeaderCopyInput& input) {
  return input.headerPath.empty() ? input.volumePath : input.headerPath;
}

// Whether the paths name one entry of one folder: one file, or, where
// nothing lies yet, the same name in the same folder however it is spelled.
bool SameName(FileSystem& fileSystem, const std::string& a, const std::string& b) {
  if (fileSystem.SameFile(a, b)) return true;
  const std::string folderA = FolderOfPath(a);
  const std::string folderB = FolderOfPath(b);
  return SamePath(std::string_view(a).substr(folderA.size()),
                  std::string_view(b).substr(folderB.size())) &&
         fileSystem.SameFile(folderA.empty() ? "." : folderA, folderB.empty() ? "." : folderB);
}

}  // namespace

Outcome BackupVolumeHeader(FileSystem& fileSystem, const HeaderCopyInput& input) {
  const std::string& headerFile = HeaderFileOf(input);
  if (fileSystem.SameFile(input.copyPath, input.volumePath) ||
      fileSystem.SameFile(input.copyPath, headerFile)) {
    return Fail("The header backup cannot be written over the volume or its header block.");
  }
  for (const std::string& changeBackup :
       {HeaderBackupPath(input.volumePath), HeaderBackupPath(headerFile)}) {
    if (SameName(fileSystem, input.copyPath, changeBackup)) {
      return Fail(input.copyPath +
                  " is the name under which a password change keeps its backup of this header "
                  "while it writes, and removes it afterwards; choose another name.");
    }
  }
  VolumeInfo info;
  HeaderBuffer opened;
  const Outcome open = OpenVolumeHeader(fileSystem, input.volumePath, input.headerPath,
                                        input.password, OpenMode::kRead, &info, &opened);
  if (!open.success) return open;

  // The sealed bytes as they lie on the disk; they must open by themselves,
  // not only through a password change's backup.
  HeaderBuffer sealed;
  HeaderBuffer check;
  std::unique_ptr<File> file = fileSystem.Open(headerFile, OpenMode::kRead);
  uint64_t size = 0;
  if (!file || !file->Size(&size) || size < kHeaderSize ||
      !file->ReadAt(size - kHeaderSize, sealed.bytes, kHeaderSize)) {
    return Fail("Error reading " + headerFile + ".");
  }
  file.reset();
  memcpy(check.bytes, sealed.bytes, kHeaderSize);
  if (OpenHeader(check.bytes, Bytes(input.password),
                 static_cast<uint32_t>(input.password.size())) == kAlgorithmNone) {
    return Fail(
        "The header is torn by an interrupted password change and opens only through its "
        "backup; 'velmorcrypt-cli passwd' repairs it. Save the header after that.");
  }

  std::unique_ptr<File> copy = fileSystem.Open(
      input.copyPath, input.force ? OpenMode::kCreateReadWrite : OpenMode::kCreateExclusive);
  if (!copy) return Fail("Error creating " + input.copyPath + ".");
  if (!copy->WriteAt(0, sealed.bytes, kHeaderSize) || !copy->Flush()) {
    copy.reset();
    fileSystem.Remove(input.copyPath);
    return Fail("Error writing " + input.copyPath + "; no header backup was made.");
  }
  return Outcome::Success("Header saved to " + input.copyPath + ".", "Header");
}

Outcome RestoreVolumeHeader(FileSystem& fileSystem, const HeaderCopyInput& input) {
  const uint8_t* const password = Bytes(input.password);
  const auto passwordLength = static_cast<uint32_t>(input.password.size());
  if (input.password.empty()) return Fail("Please specify volume password.");
  if (passwordLength > kMaxPasswordLength) {
    return Fail("Passwords should not be longer than 64 characters.");
  }

  // The saved header: exactly one sealed header that opens with the password.
  HeaderBuffer saved;
  HeaderBuffer savedOpened;
  std::unique_ptr<File> copy = fileSystem.Open(input.copyPath, OpenMode::kRead);
  if (!copy) return Fail("Error opening header backup " + input.copyPath + ".");
  uint64_t size = 0;
  if (!copy->Size(&size)) return Fail("Error reading header backup " + input.copyPath + ".");
  if (size != kHeaderSize) {
    char text[160];
    snprintf(text, sizeof text, "holds %" PRIu64 " bytes; a header backup holds exactly %" PRIu32,
             size, kHeaderSize);
    return Fail(input.copyPath + " is no header backup: it " + text + ".");
  }
  if (!copy->ReadAt(0, saved.bytes, kHeaderSize)) {
    return Fail("Error reading header backup " + input.copyPath + ".");
  }
  copy.reset();
  memcpy(savedOpened.bytes, saved.bytes, kHeaderSize);
  if (OpenHeader(savedOpened.bytes, password, passwordLength) == kAlgorithmNone) {
    return Fail("The header backup " + input.copyPath + " does not open with this password.");
  }

  // The header in place, in the file opened for writing.
  const std::string& headerFile = HeaderFileOf(input);
  if (!input.headerPath.empty() && !fileSystem.Open(input.volumePath, OpenMode::kRead)) {
    return Fail("Error opening Velmorcrypt volume.");
  }
  std::unique_ptr<File> file = fileSystem.Open(headerFile, OpenMode::kReadWrite);
  if (!file) {
    return Fail("Error opening " + headerFile +
                " for writing (it is read-only or cannot be opened); nothing was written.");
  }
  const bool external = !input.headerPath.empty();
  if (!file->Size(&size) || (external ? size != kHeaderSize : size <= kHeaderSize)) {
    return Fail(external ? "Error reading external header block."
                         : "Error reading Velmorcrypt volume.");
  }
  const uint64_t offset = size - kHeaderSize;
  HeaderBuffer current;
  HeaderBuffer currentOpened;
  if (!file->ReadAt(offset, current.bytes, kHeaderSize)) {
    return Fail("Error reading " + headerFile + ".");
  }
  // The header in place opens by itself or, torn by an interrupted password
  // change, through one of its backup's copies.
  uint8_t copies[kHeaderBackupSize];
  const BackupState backup = ExamineHeaderBackup(fileSystem, headerFile, current.bytes, copies);
  memcpy(currentOpened.bytes, current.bytes, kHeaderSize);
  int opener = -1;
  bool opens = OpenHeader(currentOpened.bytes, password, passwordLength) != kAlgorithmNone;
  if (!opens && backup == BackupState::kTorn) {
    int algorithm = kAlgorithmNone;
    opener = OpenBackupCopy(copies, password, passwordLength, currentOpened.bytes, &algorithm);
    opens = opener >= 0;
  }
  if (opens) {
    // Both open: they must be headers of one volume.
    if (memcmp(currentOpened.bytes + kSectorIvSeedOffset, savedOpened.bytes + kSectorIvSeedOffset,
               2 * kBodyKeySize) != 0) {
      return Fail("The header backup " + input.copyPath +
                  " is of another volume: its body keys differ from this volume's. Nothing was "
                  "written.");
    }
  } else if (!input.force) {
    return Fail(
        "The volume's header does not open with this password: it is damaged, or its password "
        "was changed after the backup was made. If the backup is of this volume, restore it with "
        "--force; a header of another volume would make the volume's data unreadable.");
  }
  // A torn header is first made whole with the copy that the password
  // opened (else the old one): its backup, the only way to open it, stays
  // until that copy is in place and read back.
  const std::string notWritten =
      "Error writing the header to " + headerFile + "; it was not restored.";
  if (backup == BackupState::kTorn &&
      !RepairTornHeader(*file, offset, current.bytes, copies, opener < 0 ? 0 : opener)) {
    return Fail(notWritten);
  }
  switch (ReplaceHeaderSafely(fileSystem, headerFile, *file, offset, current.bytes, saved.bytes)) {
    case HeaderWrite::kDone:
      break;
    case HeaderWrite::kFailed:
      return Fail(notWritten);
    case HeaderWrite::kBackupInTheWay:
      return Fail(BackupInTheWayMessage(headerFile));
  }
  return Outcome::Success("Header restored from " + input.copyPath +
                              ". The volume opens with the password the header had when it "
                              "was saved.",
                          "Header");
}
