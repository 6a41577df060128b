#include "cli/volume_info.h"

#include <memory>

#include "crypto/wipe.h"
#include "volume/header.h"
#include "volume/header_backup.h"

namespace {

constexpr char kErrorCaption[] = "Info Error";

Outcome Fail(const char* message) { return Outcome::Failure(message, kErrorCaption); }

// Opens the header read from the file at `path`, through its backup when an
// interrupted password change tore it; writes nothing.
int Open(FileSystem& fileSystem, const std::string& path, HeaderBuffer& header,
         const std::string& password, BackupState* backup) {
  return OpenHeaderReadOnly(fileSystem, path, header.bytes,
                            reinterpret_cast<const uint8_t*>(password.data()),
                            static_cast<uint32_t>(password.size()), backup);
}

}  // namespace

Outcome OpenVolumeHeader(FileSystem& fileSystem, const std::string& volumePath,
                         const std::string& headerPath, const std::string& password, OpenMode mode,
                         VolumeInfo* info, HeaderBuffer* opened) {
  HeaderBuffer& header = *opened;
  constexpr char kWrongPassword[] =
      "Error decrypting header information with the supplied password.";
  if (volumePath.empty()) return Fail("Please specify a Velmorcrypt volume.");
  if (password.empty()) return Fail("Please specify volume password.");
  if (password.size() > kMaxPasswordLength) {
    return Fail("Passwords should not be longer than 64 characters.");
  }
  uint64_t size = 0;
  info->externalHeader = !headerPath.empty();
  if (info->externalHeader) {
    std::unique_ptr<File> headerFile = fileSystem.Open(headerPath, OpenMode::kRead);
    if (!headerFile) return Fail("Error opening external header block.");
    if (!headerFile->Size(&size) || size != kHeaderSize ||
        !headerFile->ReadAt(0, header.bytes, kHeaderSize)) {
      return Fail("Error reading external header block.");
    }
    headerFile.reset();
    info->algorithm = Open(fileSystem, headerPath, header, password, &info->backup);
    if (info->algorithm == 0) return Fail(kWrongPassword);
  }
  std::unique_ptr<File> volumeFile = fileSystem.Open(volumePath, mode);
  if (!volumeFile) return Fail("Error opening Velmorcrypt volume.");
  if (!volumeFile->Size(&size) ||
      (!info->externalHeader &&
       (size <= kHeaderSize ||
        !volumeFile->ReadAt(size - kHeaderSize, header.bytes, kHeaderSize)))) {
    return Fail("Error reading Velmorcrypt volume.");
  }
  volumeFile.reset();
  if (info->externalHeader) {
    info->bodySize = size;
  } else {
    info->bodySize = size - kHeaderSize;
    info->algorithm = Open(fileSystem, volumePath, header, password, &info->backup);
    if (info->algorithm == 0) return Fail(kWrongPassword);
  }
  return Outcome::Success("", "Info");
}

Outcome ReadVolumeInfo(FileSystem& fileSystem, const std::string& volumePath,
                       const std::string& headerPath, const std::string& password,
                       VolumeInfo* info) {
  HeaderBuffer header;
  const Outcome outcome = OpenVolumeHeader(fileSystem, volumePath, headerPath, password,
                                           OpenMode::kRead, info, &header);
  info->resize =
      ExamineResizeJournal(fileSystem, volumePath, outcome.success ? header.bytes : nullptr);
  return outcome;
}
