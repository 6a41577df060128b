#include "volume/resize_volume.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include <memory>

#include "crypto/hmac.h"
#include "crypto/sectors.h"
#include "crypto/wipe.h"
#include "volume/body_cipher.h"
#include "volume/create_volume.h"
#include "volume/header_backup.h"

namespace {

constexpr char kCaption[] = "Resize Error";
constexpr char kJournalSuffix[] = ".resize";
constexpr char kJournalTitle[] = "Velmorcrypt resize journal";
constexpr char kJournalKeyLabel[] = "velmorcrypt resize journal";
constexpr uint32_t kSectorsPerMegabyte = kMegabyte / kSectorSize;
// The journal's text: the title, the placement, three sizes as ten digits
// each (so that a rewrite keeps its length), and the MAC in hex.
constexpr size_t kJournalMaxSize = 256;

// The secrets of one resize, wiped however it ends: the sealed header in
// use, the same opened, and the body cipher.
struct ResizeSecrets {
  uint8_t sealed[kHeaderSize];
  uint8_t opened[kHeaderSize];
  BodyCipher cipher = {};

  ResizeSecrets() = default;
  ResizeSecrets(const ResizeSecrets&) = delete;
  ResizeSecrets& operator=(const ResizeSecrets&) = delete;
  ~ResizeSecrets() {
    BodyCipherWipe(&cipher);
    SecureWipe(sealed, sizeof sealed);
    SecureWipe(opened, sizeof opened);
  }
};

uint64_t FileSizeFor(uint32_t megabytes, bool external) {
  return uint64_t{megabytes} * kMegabyte + (external ? 0 : kHeaderSize);
}

std::string Megabytes(uint32_t megabytes) { return std::to_string(megabytes) + " MB"; }

// The journal's text for `pending`, MAC included, under the keys of the
// opened header.
std::string JournalText(const PendingResize& pending, const uint8_t opened[kHeaderSize]) {
  char body[kJournalMaxSize];
  snprintf(body, sizeof body,
           "%s\nheader %s\nfrom-mb %010" PRIu32 "\nto-mb %010" PRIu32 "\nnext-mb %010" PRIu32 "\n",
           kJournalTitle, pending.externalHeader ? "external" : "volume-file", pending.fromMb,
           pending.toMb, pending.nextMb);
  // The MAC's key is derived from sectorKey, never sectorKey itself.
  uint8_t key[kMacSize];
  uint8_t mac[kMacSize];
  HmacSha1(reinterpret_cast<const uint8_t*>(kJournalKeyLabel),
           static_cast<int32_t>(strlen(kJournalKeyLabel)), opened + kSectorKeyOffset, kBodyKeySize,
           key);
  HmacSha1(reinterpret_cast<const uint8_t*>(body), static_cast<int32_t>(strlen(body)), key,
           kMacSize, mac);
  SecureWipe(key, sizeof key);
  std::string text = std::string(body) + "mac ";
  for (const uint8_t byte : mac) {
    char hex[3];
    snprintf(hex, sizeof hex, "%02x", byte);
    text += hex;
  }
  return text + "\n";
}

// The sizes a journal's text holds, unchecked; false when it is no journal.
bool ParseJournal(const std::string& text, PendingResize* pending) {
  char placement[16] = {};
  char mac[48] = {};
  int consumed = 0;
  const std::string format = std::string(kJournalTitle) + "\nheader %15s\nfrom-mb %10" SCNu32
                                                          "\nto-mb %10" SCNu32
                                                          "\nnext-mb %10" SCNu32 "\nmac %47s\n%n";
  if (sscanf(text.c_str(), format.c_str(), placement, &pending->fromMb, &pending->toMb,
             &pending->nextMb, mac, &consumed) != 5 ||
      static_cast<size_t>(consumed) != text.size()) {
    return false;
  }
  pending->externalHeader = strcmp(placement, "external") == 0;
  const uint32_t fillStart = pending->fromMb + (pending->externalHeader ? 0 : 1);
  return (pending->externalHeader || strcmp(placement, "volume-file") == 0) &&
         pending->fromMb >= 1 && pending->fromMb < pending->toMb &&
         pending->toMb <= kMaxVolumeSizeMb && pending->nextMb >= fillStart &&
         pending->nextMb <= pending->toMb;
}

// The journal's text as it lies, read without following a link; "" when
// nothing can be read there.
std::string ReadJournal(FileSystem& fileSystem, const std::string& path, bool* empty = nullptr) {
  std::unique_ptr<File> file = fileSystem.Open(path, OpenMode::kReadNoFollow);
  uint64_t size = 0;
  const bool sized = file && file->Size(&size);
  if (empty != nullptr) *empty = sized && size == 0;
  if (!sized || size == 0 || size > kJournalMaxSize) return "";
  std::string text(static_cast<size_t>(size), '\0');
  if (!file->ReadAt(0, text.data(), static_cast<uint32_t>(size))) return "";
  return text;
}

// Writes the journal: as a new file (`create`; over an empty one that a
// kill left, else exclusively), or over the growth's own.
bool WriteJournal(FileSystem& fileSystem, const std::string& path, const PendingResize& pending,
                  const uint8_t opened[kHeaderSize], bool create) {
  const std::string text = JournalText(pending, opened);
  const OpenMode mode = !create                   ? OpenMode::kReadWriteNoFollow
                        : fileSystem.Exists(path) ? OpenMode::kCreateReadWrite
                                                  : OpenMode::kCreateExclusive;
  std::unique_ptr<File> file = fileSystem.Open(path, mode);
  if (!file) return false;
  // One write within one sector: a rewrite cut short leaves the old text.
  const bool written = file->WriteAt(0, text.data(), static_cast<uint32_t>(text.size())) &&
                       file->SetSize(text.size()) && file->Flush();
  file.reset();
  if (!written && create) fileSystem.Remove(path);
  return written;
}

// One resize: the volume file held with its lock, the header in use, and
// what the journal says.
class Resize {
 public:
  Resize(FileSystem& fileSystem, const ResizeVolumeInput& input, const StreamProgress& progress,
         const std::atomic<bool>* cancel)
      : fileSystem_(fileSystem),
        input_(input),
        progress_(progress),
        cancel_(cancel),
        external_(!input.headerPath.empty()),
        journalPath_(ResizeJournalPath(input.volumePath)) {}

  ResizeOutcome Run();

 private:
  ResizeOutcome Refuse(const std::string& message) {
    return {Outcome::Failure(message, kCaption), ResizeResult::kRefused, fromMb_, toMb_};
  }
  ResizeOutcome Stopped(const std::string& message) {
    return {Outcome::Failure(message + " " + Pending(), kCaption), ResizeResult::kStopped, fromMb_,
            toMb_};
  }
  ResizeOutcome Done(ResizeResult result, const std::string& message) {
    return {Outcome::Success(message, "Resize"), result, fromMb_, toMb_};
  }
  // What the user does about a journal that stays.
  std::string Pending() const { return ResizeAdvice(input_.volumePath, fromMb_, toMb_) + "."; }

  bool OpenHeader(std::string* error);
  ResizeOutcome Grow(uint32_t nextMb, bool grown, bool endHeaderMissing);
  ResizeOutcome Undo(bool grown);
  bool WriteHeaderVerified(uint64_t offset);
  StreamResult Fill(uint32_t fromMb, uint32_t toMb, bool shown, uint64_t* written);

  FileSystem& fileSystem_;
  const ResizeVolumeInput& input_;
  const StreamProgress& progress_;
  const std::atomic<bool>* cancel_;
  const bool external_;
  const std::string journalPath_;
  std::unique_ptr<File> volume_;
  uint64_t fileSize_ = 0;
  ResizeSecrets secrets_;
  int algorithm_ = kAlgorithmNone;
  bool endHeaderMissing_ = false;  // the header in use was found at its old place
  uint32_t fromMb_ = 0;
  uint32_t toMb_ = 0;
};

// Reads the header in use into the secrets and opens it with the password:
// the external header block's, or the volume file's last 1044 bytes, or,
// while a journal says the file grew, the one at the old end when a power
// loss kept it from the new end.
bool Resize::OpenHeader(std::string* error) {
  const auto* password = reinterpret_cast<const uint8_t*>(input_.password.data());
  const auto length = static_cast<uint32_t>(input_.password.size());
  const std::string& headerFile = external_ ? input_.headerPath : input_.volumePath;
  if (external_) {
    std::unique_ptr<File> block = fileSystem_.Open(input_.headerPath, OpenMode::kRead);
    uint64_t size = 0;
    if (!block || !block->Size(&size) || size != kHeaderSize ||
        !block->ReadAt(0, secrets_.sealed, kHeaderSize)) {
      *error =
          block ? "Error reading external header block." : "Error opening external header block.";
      return false;
    }
  } else if (fileSize_ <= kHeaderSize ||
             !volume_->ReadAt(fileSize_ - kHeaderSize, secrets_.sealed, kHeaderSize)) {
    *error = "Error reading Velmorcrypt volume.";
    return false;
  }
  memcpy(secrets_.opened, secrets_.sealed, kHeaderSize);
  algorithm_ = ::OpenHeader(secrets_.opened, password, length);
  if (algorithm_ != kAlgorithmNone) return true;
  uint8_t copies[kHeaderBackupSize];
  int algorithm = kAlgorithmNone;
  if (ExamineHeaderBackup(fileSystem_, headerFile, secrets_.sealed, copies) == BackupState::kTorn &&
      OpenBackupCopy(copies, password, length, secrets_.opened, &algorithm) >= 0) {
    SecureWipe(secrets_.opened, kHeaderSize);
    *error =
        "The header is torn by an interrupted password change and opens only through its "
        "backup; 'velmorcrypt-cli passwd' repairs it. Resize after that. Nothing was changed.";
    return false;
  }
  PendingResize journal;
  if (!external_ && ParseJournal(ReadJournal(fileSystem_, journalPath_), &journal) &&
      fileSize_ > FileSizeFor(journal.fromMb, false) &&
      fileSize_ <= FileSizeFor(journal.toMb, false) &&
      volume_->ReadAt(uint64_t{journal.fromMb} * kMegabyte, secrets_.sealed, kHeaderSize)) {
    memcpy(secrets_.opened, secrets_.sealed, kHeaderSize);
    algorithm_ = ::OpenHeader(secrets_.opened, password, length);
    endHeaderMissing_ = algorithm_ != kAlgorithmNone;
    if (endHeaderMissing_) return true;
  }
  *error = "Error decrypting header information with the supplied password.";
  return false;
}

bool Resize::WriteHeaderVerified(uint64_t offset) {
  uint8_t check[kHeaderSize];
  return volume_->WriteAt(offset, secrets_.sealed, kHeaderSize) && volume_->Flush() &&
         volume_->ReadAt(offset, check, kHeaderSize) &&
         memcmp(check, secrets_.sealed, kHeaderSize) == 0;
}

// Writes encrypted zeros over the megabytes [fromMb, toMb); `shown`: with
// progress, and stopped by a cancel.
StreamResult Resize::Fill(uint32_t fromMb, uint32_t toMb, bool shown, uint64_t* written) {
  StreamRun run;
  run.firstSector = uint64_t{fromMb} * kSectorsPerMegabyte;
  run.sectorCount = uint64_t{toMb - fromMb} * kSectorsPerMegabyte;
  run.fileOffset = uint64_t{fromMb} * kMegabyte;
  run.threads = EncryptionThreadCount(secrets_.cipher.algorithm);
  const BodyCipher& cipher = secrets_.cipher;
  return StreamSectors(
      *volume_, run,
      [&cipher](uint8_t* chunk, uint64_t first, uint32_t sectors) {
        memset(chunk, 0, size_t{sectors} * kSectorSize);
        BodyCipherEncrypt(&cipher, chunk, first, sectors);
        return true;
      },
      shown ? progress_ : StreamProgress(), shown ? cancel_ : nullptr, written);
}

// Steps 2 to 6 from wherever the journal says the growth stands.
ResizeOutcome Resize::Grow(uint32_t nextMb, bool grown, bool endHeaderMissing) {
  const uint64_t fromFile = FileSizeFor(fromMb_, external_);
  const uint64_t toFile = FileSizeFor(toMb_, external_);
  const std::string nothing = " Nothing was changed.";
  if (!grown) {
    const bool reserved = volume_->Reserve(fromFile, toFile - fromFile);
    const bool extended =
        reserved && (external_ ? volume_->SetSize(toFile) && volume_->Flush()
                               : WriteHeaderVerified(uint64_t{toMb_} * kMegabyte));
    if (!extended) {
      // The volume is put back as it was, and the journal goes.
      if (volume_->SetSize(fromFile) && volume_->Flush() && fileSystem_.Remove(journalPath_)) {
        return Refuse(reserved
                          ? "Error writing " + input_.volumePath + "." + nothing
                          : "There is not enough free space on the disk of " + input_.volumePath +
                                " to grow it to " + Megabytes(toMb_) + "." + nothing);
      }
      return Stopped("Error writing " + input_.volumePath + ": the resize stopped part-way.");
    }
  } else if (endHeaderMissing || fileSize_ != toFile) {
    const bool extended = external_ ? volume_->SetSize(toFile) && volume_->Flush()
                                    : WriteHeaderVerified(uint64_t{toMb_} * kMegabyte);
    if (!extended) {
      return Stopped("Error writing " + input_.volumePath + ": the resize stopped part-way.");
    }
  }
  // From here on the volume opens at its new size.
  uint64_t written = 0;
  switch (Fill(nextMb, toMb_, true, &written)) {
    case StreamResult::kWritten:
      break;
    case StreamResult::kCancelled: {
      PendingResize reached = {PendingResize::State::kPending, external_, fromMb_, toMb_,
                               nextMb + static_cast<uint32_t>(written / kSectorsPerMegabyte)};
      const bool recorded = volume_->Flush() && WriteJournal(fileSystem_, journalPath_, reached,
                                                             secrets_.opened, false);
      const uint32_t left = toMb_ - (recorded ? reached.nextMb : nextMb);
      return Stopped("Resize interrupted: " + input_.volumePath + " opens at its new size of " +
                     Megabytes(toMb_) + ", and " + Megabytes(left) +
                     " of its new space are not written yet.");
    }
    default:
      return Stopped("Error writing " + input_.volumePath +
                     ": the resize stopped part-way; it opens at its new size of " +
                     Megabytes(toMb_) + ".");
  }
  // The old header's megabyte last: until here it still opens the old size.
  if (!volume_->Flush() ||
      (!external_ && (Fill(fromMb_, fromMb_ + 1, false, nullptr) != StreamResult::kWritten ||
                      !volume_->Flush()))) {
    return Stopped("Error writing " + input_.volumePath + ": the resize stopped part-way.");
  }
  if (!fileSystem_.Remove(journalPath_)) {
    return Stopped("The volume " + input_.volumePath + " grew to " + Megabytes(toMb_) +
                   ", but its journal " + journalPath_ + " could not be removed.");
  }
  return Done(ResizeResult::kGrown, input_.volumePath + " grew from " + Megabytes(fromMb_) +
                                        " to " + Megabytes(toMb_) + ".");
}

// Puts the volume back to its old size: the header in use over the old
// header's place (a password changed meanwhile stays changed), the file cut.
ResizeOutcome Resize::Undo(bool grown) {
  if (grown) {
    const uint64_t oldEnd = uint64_t{fromMb_} * kMegabyte;
    uint8_t there[kHeaderSize];
    const bool same = !external_ && volume_->ReadAt(oldEnd, there, kHeaderSize) &&
                      memcmp(there, secrets_.sealed, kHeaderSize) == 0;
    if ((!external_ && !same && !WriteHeaderVerified(oldEnd)) ||
        !volume_->SetSize(FileSizeFor(fromMb_, external_)) || !volume_->Flush()) {
      return Stopped("Error writing " + input_.volumePath + ": it was not undone.");
    }
  }
  if (!fileSystem_.Remove(journalPath_)) {
    return Stopped("Error removing " + journalPath_ + ".");
  }
  return Done(ResizeResult::kUndone, "The interrupted resize was undone: " + input_.volumePath +
                                         " is " + Megabytes(fromMb_) + " again.");
}

ResizeOutcome Resize::Run() {
  const std::string nothing = " Nothing was changed.";
  if (input_.volumePath.empty()) return Refuse("Please specify a Velmorcrypt volume.");
  if (input_.password.empty()) return Refuse("Please specify volume password.");
  if (input_.password.size() > kMaxPasswordLength) {
    return Refuse("Passwords should not be longer than 64 characters.");
  }
  if (input_.sizeMb == 0 || input_.sizeMb > kMaxVolumeSizeMb) {
    return Refuse("Volume size must be from 1 to 999999 MB");
  }
  if (external_ && fileSystem_.SameFile(input_.headerPath, input_.volumePath)) {
    return Refuse("The external header block cannot be the Velmorcrypt volume file itself.");
  }
  volume_ = fileSystem_.Open(input_.volumePath, OpenMode::kReadWrite);
  if (!volume_) {
    return Refuse("Error opening " + input_.volumePath +
                  " for writing (it is read-only, mounted, or cannot be opened)." + nothing);
  }
  // Held until the resize ends: no mount serves the volume meanwhile.
  if (!volume_->TryLock(true)) {
    return Refuse(input_.volumePath + " is mounted; unmount it first." + nothing);
  }
  if (!volume_->Size(&fileSize_)) return Refuse("Error reading Velmorcrypt volume.");
  std::string error;
  if (!OpenHeader(&error)) return Refuse(error);
  BodyCipherInit(&secrets_.cipher, algorithm_, secrets_.opened + kSectorKeyOffset,
                 secrets_.opened + kSectorIvSeedOffset);

  const PendingResize journal =
      ExamineResizeJournal(fileSystem_, input_.volumePath, secrets_.opened);
  if (journal.state == PendingResize::State::kForeign) {
    return Refuse(journalPath_ +
                  " was not made by a resize of this volume, and a resize keeps its journal "
                  "under that name." +
                  nothing + " Move or rename it, then try again.");
  }
  if (journal.state == PendingResize::State::kPending) {
    fromMb_ = journal.fromMb;
    toMb_ = journal.toMb;
    if (journal.externalHeader != external_) {
      return Refuse(
          journalPath_ + " records a resize of this volume with its header " +
          (journal.externalHeader ? "in an external header block" : "in the volume file") +
          "; name the header as then." + nothing);
    }
    // Grown: the file is longer than before, up to its new size (an
    // extending write that a power loss cut short is finished or undone).
    const bool grown = fileSize_ > FileSizeFor(fromMb_, external_);
    if (fileSize_ < FileSizeFor(fromMb_, external_) || fileSize_ > FileSizeFor(toMb_, external_)) {
      return Refuse(input_.volumePath + " has neither the size it had before the resize that " +
                    journalPath_ + " records (" + Megabytes(fromMb_) + ") nor the size after it (" +
                    Megabytes(toMb_) + ")." + nothing);
    }
    if (input_.sizeMb == toMb_) return Grow(journal.nextMb, grown, endHeaderMissing_);
    if (input_.sizeMb == fromMb_) return Undo(grown);
    return Refuse("A resize of " + input_.volumePath + " from " + Megabytes(fromMb_) + " to " +
                  Megabytes(toMb_) + " was interrupted: " + Pending() + nothing);
  }

  const uint64_t body = fileSize_ - (external_ ? 0 : kHeaderSize);
  if (body % kMegabyte != 0 || body == 0 || body / kMegabyte > kMaxVolumeSizeMb) {
    return Refuse("The body of " + input_.volumePath + " is " + std::to_string(body) +
                  " bytes, not a whole number of megabytes from 1 to 999999: it cannot be "
                  "resized ('velmorcrypt-cli check' tells more)." +
                  nothing);
  }
  fromMb_ = static_cast<uint32_t>(body / kMegabyte);
  toMb_ = input_.sizeMb;
  if (toMb_ < fromMb_) {
    return Refuse("A volume cannot be made smaller: " + input_.volumePath + " is " +
                  Megabytes(fromMb_) + "." + nothing);
  }
  if (toMb_ == fromMb_) {
    // An empty journal that a kill left goes with the growth it began.
    if (fileSystem_.Exists(journalPath_)) fileSystem_.Remove(journalPath_);
    return Done(ResizeResult::kUnchanged,
                input_.volumePath + " is " + Megabytes(fromMb_) + " already; nothing was changed.");
  }
  if (external_ && !input_.force) {
    if (!BodyLooksDecrypted(*volume_, secrets_.cipher)) {
      return Refuse("The body of " + input_.volumePath + " does not decrypt with the keys in " +
                    input_.headerPath +
                    " to what a volume holds (zeros or a file system): the header block may "
                    "belong to another volume." +
                    nothing + " (--force resizes it anyway.)");
    }
  }
  uint64_t freeBytes = 0;
  const uint64_t needed = uint64_t{toMb_ - fromMb_} * kMegabyte;
  if (fileSystem_.FreeSpace(input_.volumePath, &freeBytes) && freeBytes < needed) {
    return Refuse("There is not enough free space on the disk of " + input_.volumePath +
                  " to grow it to " + Megabytes(toMb_) + ": " +
                  Megabytes(static_cast<uint32_t>(needed / kMegabyte)) + " are needed, " +
                  std::to_string(freeBytes / kMegabyte) + " MB are free." + nothing);
  }
  const PendingResize start = {PendingResize::State::kPending, external_, fromMb_, toMb_,
                               fromMb_ + (external_ ? 0 : 1)};
  if (!WriteJournal(fileSystem_, journalPath_, start, secrets_.opened, true)) {
    return Refuse("Error creating " + journalPath_ + "." + nothing);
  }
  return Grow(start.nextMb, false, false);
}

}  // namespace

std::string ResizeAdvice(const std::string& volumePath, uint32_t fromMb, uint32_t toMb) {
  return "'velmorcrypt-cli resize " + volumePath + " --size " + std::to_string(toMb) +
         "' finishes it, '--size " + std::to_string(fromMb) + "' undoes it";
}

std::string ResizeJournalPath(const std::string& volumePath) { return volumePath + kJournalSuffix; }

PendingResize ExamineResizeJournal(FileSystem& fileSystem, const std::string& volumePath,
                                   const uint8_t* opened) {
  PendingResize pending;
  const std::string path = ResizeJournalPath(volumePath);
  bool empty = false;
  const std::string text = ReadJournal(fileSystem, path, &empty);
  if (text.empty()) {
    // A growth killed while it created its journal leaves an empty file,
    // which stands for no journal: the next resize replaces it.
    pending.state = empty || !fileSystem.Exists(path) ? PendingResize::State::kNone
                                                      : PendingResize::State::kForeign;
    return pending;
  }
  pending.state =
      ParseJournal(text, &pending) && (opened == nullptr || JournalText(pending, opened) == text)
          ? PendingResize::State::kPending
          : PendingResize::State::kForeign;
  return pending;
}

bool BodyLooksDecrypted(File& volume, const BodyCipher& cipher) {
  uint8_t probe[kBodyProbeSize];
  bool looks = volume.ReadAt(0, probe, kBodyProbeSize);
  if (looks) {
    BodyCipherDecrypt(&cipher, probe, 0, kBodyProbeSize / kSectorSize);
    uint32_t zeros = 0;
    for (const uint8_t byte : probe) zeros += byte == 0;
    looks = zeros >= kBodyProbeSize / 16;
  }
  SecureWipe(probe, sizeof probe);
  return looks;
}

ResizeOutcome ResizeVolume(FileSystem& fileSystem, const ResizeVolumeInput& input,
                           const StreamProgress& progress, const std::atomic<bool>* cancel) {
  Resize resize(fileSystem, input, progress, cancel);
  return resize.Run();
}
