#include "driver/mount_command.h"

#include <string.h>

#include "crypto/wipe.h"
#include "driver/operations.h"
#include "driver/records.h"
#include "platform/path.h"
#include "volume/header.h"
#include "volume/header_backup.h"

namespace {

constexpr char kErrorCaption[] = "Mount Error";

// The header block being read and opened; wiped on every way out.
class HeaderBuffer {
 public:
  HeaderBuffer() { memset(bytes, 0, sizeof bytes); }
  ~HeaderBuffer() { SecureWipe(bytes, sizeof bytes); }
  HeaderBuffer(const HeaderBuffer&) = delete;
  HeaderBuffer& operator=(const HeaderBuffer&) = delete;

  uint8_t bytes[kHeaderSize];
};

MountResult Refuse(const char* message) { return {Outcome::Failure(message, kErrorCaption), 0}; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The folder of the volume with a trailing backslash: the file name removed,
// then a backslash added if missing ("C:vol.vmv" gives "C:\").
std::string LastDirectoryOf(const std::string& volumePath) {
  std::string folder = FolderOfPath(volumePath);
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

void WipeString(std::string& text) {
  SecureWipe(text.data(), text.size());
  text.clear();
}

// Opens the header read from the file at `path`, through its backup when an
// interrupted password change tore it; writes nothing.
int OpenWithPassword(FileSystem& files, const std::string& path, HeaderBuffer& header,
                     const std::string& password) {
  return OpenHeaderReadOnly(files, path, header.bytes,
                            reinterpret_cast<const uint8_t*>(password.data()),
                            static_cast<uint32_t>(password.size()));
}

// The two ways to the header block. Each returns nullptr or the failing
// check's message; `read` tells whether the 1044 bytes could be read (a
// failed read surfaces as a header that does not open).
const char* ReadExternalHeader(FileSystem& files, const std::string& path, HeaderBuffer& header,
                               bool* read) {
  std::unique_ptr<File> block = files.Open(path, OpenMode::kRead);
  if (!block) return "Error opening external header block.";
  uint64_t size = 0;
  if (!block->Size(&size) || size != kHeaderSize) return "Error reading external header block.";
  *read = block->ReadAt(0, header.bytes, kHeaderSize);
  return nullptr;
}

// The header is the last 1044 bytes of the volume file, after a body of at
// least one byte.
const char* ReadTrailingHeader(FileSystem& files, const std::string& path, OpenMode mode,
                               HeaderBuffer& header, bool* read) {
  std::unique_ptr<File> volume = files.Open(path, mode);
  if (!volume) return "Error opening Velmorcrypt volume.";
  uint64_t size = 0;
  if (!volume->Size(&size) || size <= kHeaderSize) return "Error reading Velmorcrypt volume.";
  *read = volume->ReadAt(size - kHeaderSize, header.bytes, kHeaderSize);
  return nullptr;
}

}  // namespace

MountResult RunMountCommand(MountPageState& state, FileSystem& files, DriverPort& port,
                            MinuteTimer& timer) {
  state.editedTimeout = ClampIdleTimeout(state.editedTimeout);
  StartIdleTimerIfArmed(state.autoDismount, timer);

  if (state.volumePath.empty()) return Refuse("Please specify a Velmorcrypt volume.");
  if (state.password.empty()) return Refuse("Please specify volume password.");
  if (state.password.size() > kMaxPasswordLength) {
    return Refuse("Passwords should not be longer than 64 characters.");
  }
  if (state.driveText.empty() || !IsDriveLetter(state.driveText[0])) {
    return Refuse("No free drive letter is available.");
  }
  if (!TargetPathFits(state.volumePath)) return Refuse("The volume path is too long.");

  const OpenMode volumeMode = state.readOnly == 1 ? OpenMode::kRead : OpenMode::kReadWrite;
  const bool external = !state.externalHeaderPath.empty();
  HeaderBuffer header;
  bool read = false;
  if (const char* failure =
          external ? ReadExternalHeader(files, state.externalHeaderPath, header, &read)
                   : ReadTrailingHeader(files, state.volumePath, volumeMode, header, &read)) {
    return Refuse(failure);
  }
  const std::string& headerFile = external ? state.externalHeaderPath : state.volumePath;
  const int algorithm =
      read ? OpenWithPassword(files, headerFile, header, state.password) : kAlgorithmNone;
  if (algorithm == kAlgorithmNone) {
    return Refuse("Error decrypting header information with the supplied password.");
  }
  // The body behind an external header block is only opened, to see that
  // it can be used in the requested mode.
  if (external && !files.Open(state.volumePath, volumeMode)) {
    return Refuse("Error opening Velmorcrypt volume.");
  }
  const int headerPlacement = external ? VD_HEADER_EXTERNAL : VD_HEADER_IN_VOLUME_FILE;

  const char driveLetter = state.driveText[0];
  uint32_t driverError = kNoError;
  if (!MountVolume(port, state.volumePath, driveLetter, headerPlacement, algorithm, header.bytes,
                   state.logonSessionId, state.readOnly, &driverError)) {
    return Refuse(driverError == kErrorNotSupported ? kRefusedFileMessage
                                                    : "Error trying to mount disk.");
  }

  SetIdleCounter(port, driveLetter, IdleCounterFor(state.autoDismount.appliedTimeout));
  AddRecentEntry(state.recentList, state.volumePath, state.driveText);
  state.lastDirectory = LastDirectoryOf(state.volumePath);
  state.volumePath.clear();
  state.externalHeaderPath.clear();
  WipeString(state.password);
  state.readOnly = 0;
  return {Outcome::Success("Velmorcrypt volume successfully mounted.", "Mount"), driveLetter};
}
