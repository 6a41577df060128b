// The small file interface of the engines: Win32 handles in the Windows
// build, POSIX descriptors natively. Tests replace it to inject faults.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/path.h"

// What changes when a file is written: its size and its last write time.
struct FileState {
  uint64_t size = 0;
  int64_t modified = 0;  // in the platform's own units; compared, never shown
  bool operator==(const FileState&) const = default;
};

class File {
 public:
  virtual ~File() = default;
  // Reads exactly `size` bytes at `offset`; false on an error or a short read.
  virtual bool ReadAt(uint64_t offset, void* data, uint32_t size) = 0;
  // Writes exactly `size` bytes at `offset`; false on an error or a short write.
  virtual bool WriteAt(uint64_t offset, const void* data, uint32_t size) = 0;
  virtual bool Size(uint64_t* size) = 0;
  // Cuts or extends the file to `size` bytes.
  virtual bool SetSize(uint64_t size) = 0;
  // Flushes written data to the disk.
  virtual bool Flush() = 0;
  // Starts writing the written range [offset, offset + size) out to the disk
  // in the background, so that a long run of writes keeps the disk busy
  // instead of leaving it all to Flush. A hint: nothing is durable before
  // Flush, and a file that cannot start it ignores it.
  virtual void StartWriteback(uint64_t /*offset*/, uint64_t /*size*/) {}
  // Waits until the range's writeback, started before, has reached the disk,
  // so that the memory still waiting to be written stays bounded. Nothing is
  // promised about the disk's own cache or the file's metadata: Flush does that.
  virtual void WaitWriteback(uint64_t /*offset*/, uint64_t /*size*/) {}
  // Allocates the disk's blocks for [offset, offset + size) without changing
  // the file's size, so that writes there later cannot run out of room and
  // leave no hole. False when the disk lacks the room; a file system that
  // cannot reserve answers true, and its writes find out.
  virtual bool Reserve(uint64_t /*offset*/, uint64_t /*size*/) { return true; }
  // Takes an advisory lock on the whole file without waiting: exclusive (a
  // read-write mount holds one) or shared (read-only mounts hold those).
  // False while another open of the file holds a lock that conflicts. The
  // lock goes with the file. Where files are shared by their open modes
  // instead (Windows), this answers true.
  virtual bool TryLock(bool /*exclusive*/) { return true; }
  virtual bool State(FileState* state) {
    *state = {};
    return Size(&state->size);
  }
};

// Files that the program creates are private to their owner (mode 0600 on
// POSIX; on Windows they inherit the folder's access rules), and a name is
// never created or replaced through a symbolic link: the link itself is
// what gets replaced. Creating and removing a file also flushes its folder,
// so that a power loss cannot lose the name.
enum class OpenMode {
  kRead,               // existing file, read only, others may read
  kReadWrite,          // existing file, read and write, others may read
  kCreateReadWrite,    // created anew, replacing whatever lies at the name
  kCreateExclusive,    // created anew; fails when anything lies at the name,
                       // a dangling symbolic link too
  kReadNoFollow,       // existing file, read only, never through a symbolic link
  kReadWriteNoFollow,  // existing file, read and write, never through a symbolic link
  kReadStreaming,      // existing file, read only, read once in large pieces: where the
                       // system allows, a read of whole pages into page-aligned memory
                       // goes straight into the caller's memory, past the system's cache
};

// Whether a file opened this way is only read.
constexpr bool ReadsOnly(OpenMode mode) {
  return mode == OpenMode::kRead || mode == OpenMode::kReadNoFollow ||
         mode == OpenMode::kReadStreaming;
}

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // nullptr when the file cannot be opened or created.
  virtual std::unique_ptr<File> Open(const std::string& path, OpenMode mode) = 0;
  // Removes the name (a symbolic link itself, never what it points to) and
  // flushes its folder; false when either fails.
  virtual bool Remove(const std::string& path) = 0;
  // Bytes free to the caller in the folder that would hold `path`; false
  // when that cannot be told.
  virtual bool FreeSpace(const std::string& path, uint64_t* bytes) = 0;
  // Whether the two paths lead to one file: the same text, or both exist and
  // are the same file (device and inode; volume serial and file index on
  // Windows), whichever links and spellings lead there.
  virtual bool SameFile(const std::string& a, const std::string& b) { return SamePath(a, b); }
  // Whether anything lies at the name: a file, a folder, a pipe, a symbolic
  // link (a dangling one too), never following a link. A file system that
  // cannot tell answers false; creating there exclusively still fails.
  virtual bool Exists(const std::string& /*path*/) { return false; }
};

// The platform's own file system.
FileSystem& SystemFileSystem();

// The files a command has made; removed again unless it keeps them, so that
// a failure never leaves a half-made file behind. Declared before the
// files' handles, so that they are closed first (Windows removes no open
// file).
class CreatedFiles {
 public:
  explicit CreatedFiles(FileSystem& fileSystem) : fileSystem_(fileSystem) {}
  CreatedFiles(const CreatedFiles&) = delete;
  CreatedFiles& operator=(const CreatedFiles&) = delete;
  ~CreatedFiles() {
    for (const std::string& path : paths_) fileSystem_.Remove(path);
  }
  void Add(const std::string& path) { paths_.push_back(path); }
  void Keep() { paths_.clear(); }

 private:
  FileSystem& fileSystem_;
  std::vector<std::string> paths_;
};
