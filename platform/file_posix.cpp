// The file interface over POSIX descriptors (the native build).
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/path.h"

namespace {

// Reads past the page cache take whole pages into page-aligned memory.
constexpr uint64_t kDirectAlignment = 4096;

class PosixFile final : public File {
 public:
  // `directFd`, where not -1, is the same file opened for direct I/O.
  explicit PosixFile(int fd, int directFd = -1) : fd_(fd), directFd_(directFd) {}
  ~PosixFile() override {
    close(fd_);
    if (directFd_ >= 0) close(directFd_);
  }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  bool ReadAt(uint64_t offset, void* data, uint32_t size) override {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
      const bool direct = directFd_ >= 0 && offset % kDirectAlignment == 0 &&
                          size % kDirectAlignment == 0 &&
                          reinterpret_cast<uintptr_t>(bytes) % kDirectAlignment == 0;
      const ssize_t got = pread(direct ? directFd_ : fd_, bytes, size, static_cast<off_t>(offset));
      if (got < 0 && direct && errno == EINVAL) {  // the file system takes no direct reads
        close(directFd_);
        directFd_ = -1;
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      bytes += got;
      offset += static_cast<uint64_t>(got);
      size -= static_cast<uint32_t>(got);
    }
    return true;
  }

  bool WriteAt(uint64_t offset, const void* data, uint32_t size) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
      const ssize_t put = pwrite(fd_, bytes, size, static_cast<off_t>(offset));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      bytes += put;
      offset += static_cast<uint64_t>(put);
      size -= static_cast<uint32_t>(put);
    }
    return true;
  }

  bool Size(uint64_t* size) override {
    struct stat info;
    if (fstat(fd_, &info) != 0) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
  }

  bool SetSize(uint64_t size) override { return ftruncate(fd_, static_cast<off_t>(size)) == 0; }

  bool Flush() override { return fsync(fd_) == 0; }

  bool Reserve(uint64_t offset, uint64_t size) override {
    if (size == 0) return true;
    int result;
    do {
      result =
          fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset), static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0 || errno == EOPNOTSUPP;
  }

  bool TryLock(bool exclusive) override {
    return flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
  }

  bool State(FileState* state) override {
    struct stat info;
    if (fstat(fd_, &info) != 0) return false;
    state->size = static_cast<uint64_t>(info.st_size);
    state->modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
  }

  // Failures are left to Flush, which reports the errors of any writeback.
  void StartWriteback(uint64_t offset, uint64_t size) override {
    sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(size),
                    SYNC_FILE_RANGE_WRITE);
  }

  void WaitWriteback(uint64_t offset, uint64_t size) override {
    sync_file_range(
        fd_, static_cast<off_t>(offset), static_cast<off_t>(size),
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
  }

 private:
  int fd_;
  int directFd_;
};

// Flushes the folder that holds `path`, so that a name just created or
// removed there survives a power loss.
bool FlushFolderOf(const std::string& path) {
  const std::string folder = FolderOfPath(path);
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = fsync(fd) == 0;
  close(fd);
  return flushed;
}

int OpenRetrying(const std::string& path, int flags) {
  int fd;
  do {
    fd = open(path.c_str(), flags, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    int flags = O_CLOEXEC;
    const bool create = mode == OpenMode::kCreateReadWrite || mode == OpenMode::kCreateExclusive;
    switch (mode) {
      case OpenMode::kRead:
      case OpenMode::kReadStreaming:
        flags |= O_RDONLY;
        break;
      case OpenMode::kReadNoFollow:
        // Nor does it wait on a pipe planted at the name.
        flags |= O_RDONLY | O_NOFOLLOW | O_NONBLOCK;
        break;
      case OpenMode::kReadWrite:
        flags |= O_RDWR;
        break;
      case OpenMode::kReadWriteNoFollow:
        flags |= O_RDWR | O_NOFOLLOW | O_NONBLOCK;
        break;
      case OpenMode::kCreateReadWrite:
      case OpenMode::kCreateExclusive:
        // A new file of our own: a name that appeared meanwhile, a link
        // among them, fails the open instead of being written through.
        flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
        break;
    }
    // Replacing removes the name first, so that neither a symbolic link's
    // target nor another link to the old file is written.
    if (mode == OpenMode::kCreateReadWrite && unlink(path.c_str()) != 0 && errno != ENOENT) {
      return nullptr;
    }
    const int fd = OpenRetrying(path, flags);
    if (fd < 0) return nullptr;
    // Like CreateFileA, refuse folders: only files hold volumes. What is
    // read without following links must be a plain file.
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) ||
        ((mode == OpenMode::kReadNoFollow || mode == OpenMode::kReadWriteNoFollow) &&
         !S_ISREG(info.st_mode))) {
      close(fd);
      return nullptr;
    }
    if (create && !FlushFolderOf(path)) {
      close(fd);
      unlink(path.c_str());
      return nullptr;
    }
    int directFd = -1;
    if (mode == OpenMode::kReadStreaming) {
      // The same file again, through the descriptor (never the name, which
      // may have changed meanwhile).
      directFd =
          OpenRetrying("/proc/self/fd/" + std::to_string(fd), O_RDONLY | O_DIRECT | O_CLOEXEC);
      posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    return std::make_unique<PosixFile>(fd, directFd);
  }

  bool Remove(const std::string& path) override {
    return unlink(path.c_str()) == 0 && FlushFolderOf(path);
  }

  bool FreeSpace(const std::string& path, uint64_t* bytes) override {
    const std::string folder = FolderOfPath(path);
    struct statvfs info;
    if (statvfs(folder.empty() ? "." : folder.c_str(), &info) != 0) return false;
    *bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    return true;
  }

  bool Exists(const std::string& path) override {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
  }

  bool SameFile(const std::string& a, const std::string& b) override {
    struct stat first, second;
    return SamePath(a, b) || (stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
                              first.st_dev == second.st_dev && first.st_ino == second.st_ino);
  }
};

}  // namespace

FileSystem& SystemFileSystem() {
  static PosixFileSystem fileSystem;
  return fileSystem;
}
