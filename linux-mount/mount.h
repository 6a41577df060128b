// The Linux mount, as the command-line tool calls it: `mount` shows a
// volume's files in a folder (or its decrypted disk as FOLDER/volume),
// `unmount` flushes and ends everything a mount set up, `create
// --filesystem` gives a new volume its file system, and the other commands
// reach a volume's decrypted disk through OpenDecryptedDisk. Other
// platforms answer that these are Linux's.
#pragma once
#include <stdint.h>

#include <functional>
#include <string>

#include "cli/cli.h"
#include "platform/file.h"

struct MountOptions {
  std::string volumePath;
  std::string folder;
  std::string headerPath;   // empty: the header is the volume file's last 1044 bytes
  bool readOnly = false;    // read-only all the way down
  bool foreground = false;  // wait until unmounted (Ctrl+C unmounts)
  bool disk = false;        // show the decrypted disk as FOLDER/volume, not its files
  bool preferFuse = false;  // a FUSE server even where the kernel could serve (root)
};

// Holds the folder, then asks `readPassword` for the password, opens the
// volume's header with the mount command's checks and messages, and mounts.
// Returns once the files are shown (with `foreground`, once unmounted).
int RunMount(const MountOptions& options, const CliStreams& io, FileSystem& fileSystem,
             const std::function<void(std::string*)>& readPassword);

// Recognises what is mounted on `folder` as a mount of ours, unmounts the
// files' view (refused while a program uses them), detaches the loop
// device, flushes and unmounts the disk and waits until its server has
// closed the volume file.
int RunUnmount(const std::string& folder, const CliStreams& io);

// The file systems that `create --filesystem` makes.
enum class NewFileSystem { kNone, kFat, kExfat, kNtfs, kExt4 };

// Makes the file system for a new body of `bodySize` bytes before the
// volume is created (so that a tool that fails leaves no volume behind).
// Answers a handle for WriteNewFileSystem, or -1 after a message.
int PrepareNewFileSystem(NewFileSystem type, uint64_t bodySize, const CliStreams& io);
// Writes the prepared file system into the new volume's body, encrypted,
// flushes it, and releases the handle. Answers an exit code.
int WriteNewFileSystem(int prepared, FileSystem& fileSystem, const std::string& volumePath,
                       const std::string& headerPath, const std::string& password,
                       const CliStreams& io);
// Releases a prepared file system that was not written.
void DiscardNewFileSystem(int prepared);

// A volume's decrypted disk, mounted privately (a folder of the caller's
// own that other users cannot enter, never the user's folder) for as long
// as the object lives: for the commands that run a file-system tool on it.
class DecryptedDisk {
 public:
  DecryptedDisk() = default;
  DecryptedDisk(const DecryptedDisk&) = delete;
  DecryptedDisk& operator=(const DecryptedDisk&) = delete;
  ~DecryptedDisk();  // flushes, unmounts and waits for the server to end
  // The disk as a file ("" when it is not open).
  const std::string& Path() const { return path_; }

 private:
  friend int OpenDecryptedDisk(FileSystem&, const std::string&, const std::string&,
                               const std::string&, bool, const CliStreams&, DecryptedDisk*);
  std::string path_;
  std::string folder_;
  int pidFd_ = -1;
  int setupFd_ = -1;  // open while the disk is wanted: the server ends when it closes
};

// Opens the volume's header with `password` and serves its disk privately
// into `disk`. Answers an exit code (a message on io.err when it fails).
int OpenDecryptedDisk(FileSystem& fileSystem, const std::string& volumePath,
                      const std::string& headerPath, const std::string& password, bool readOnly,
                      const CliStreams& io, DecryptedDisk* disk);

// A volume's file system as `check` sees it: its own checker, read-only,
// on the decrypted disk served read-only.
struct FileSystemCheck {
  enum class Result { kClean, kFaults, kNotChecked };
  Result result = Result::kNotChecked;
  std::string type;     // as libblkid names it; "" when none was recognised
  std::string checker;  // the command that ran ("e2fsck -fn")
  std::string report;   // the checker's output when it found faults, or why nothing was checked
};
FileSystemCheck CheckVolumeFileSystem(FileSystem& fileSystem, const std::string& volumePath,
                                      const std::string& headerPath, const std::string& password);

// The file system on the volume's disk (served read-only) into `*type` ("":
// none recognised). Answers an exit code (a message on io.err when it fails).
int VolumeFileSystemType(FileSystem& fileSystem, const std::string& volumePath,
                         const std::string& headerPath, const std::string& password,
                         const CliStreams& io, std::string* type);
// Whether a maintained tool here grows a file system of `type`: resize2fs
// (ext2/3/4) and ntfsresize (NTFS). FAT and exFAT have none in Debian.
bool FileSystemGrows(const std::string& type);
// Grows the volume's file system to the size of its disk (served
// read-write): e2fsck -f -p then resize2fs, or ntfsresize. Answers an exit
// code; the tool's own words on io.err when it fails.
int GrowVolumeFileSystem(FileSystem& fileSystem, const std::string& volumePath,
                         const std::string& headerPath, const std::string& password,
                         const CliStreams& io);
