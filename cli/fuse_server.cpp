#define FUSE_USE_VERSION 314
#include "cli/fuse_server.h"

#include <errno.h>
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>

#include "crypto/wipe.h"
#include "volume/sector_service.h"

namespace {

constexpr fuse_ino_t kRootInode = FUSE_ROOT_ID;
constexpr fuse_ino_t kVolumeInode = 2;
// Reads and writes of up to 1 MiB per request; at most kMaxThreads requests
// at once, each with at most one buffer of that size.
constexpr unsigned kMaxTransfer = 1024 * 1024;
constexpr unsigned kMaxThreads = 8;
// Reads ahead of a sequential reader, and requests the kernel may have
// outstanding at once (readahead and writeback) before it holds back.
constexpr unsigned kReadAheadKiB = 4096;
constexpr unsigned kMaxBackground = 16;
// Nothing in the folder changes while it is mounted.
constexpr double kCacheSeconds = 3600;

// The volume file, and the same file opened again for direct I/O (-1 where
// its file system has none). Large reads go straight from the disk into
// the server's buffer, where they are decrypted: no copy out of the page
// cache, and no encrypted copy of the data cached beside the decrypted one
// that the kernel keeps for the mount. Small reads and all writes go
// through the page cache, where they are read ahead, merged and written
// back in the background.
struct BodyFile {
  int fd;
  int directFd;
};

struct Server {
  ServedVolume* volume;
  SectorDisk disk;
  BodyFile body;
  SectorStore store;
  const std::function<void()>* onReady;  // called once, when the kernel first talks
  // Writes that patch partial sectors read them back first: they run alone.
  // Other writes run side by side, each writing whole sectors of its own.
  std::shared_mutex writeLock;
};

Server* ServerOf(fuse_req_t req) { return static_cast<Server*>(fuse_req_userdata(req)); }

// The errors of the volume file that a program on the mount can act on
// pass through; anything else is an I/O error.
int32_t MountError(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EROFS:
      return error;
    case EBADF:  // a write to a file opened read-only
      return EROFS;
    default:
      return EIO;
  }
}

// From this size on, aligned reads use direct I/O, and writes start their
// writeback at once.
constexpr uint32_t kDirectMinimum = 256 * 1024;
// The alignment of memory, offsets and lengths that direct I/O gets.
constexpr uint64_t kDirectAlignment = 4096;

// The descriptor that reads `length` bytes at `offset` into `data`.
int ReadFd(const BodyFile& file, uint64_t offset, const uint8_t* data, uint32_t length) {
  const bool direct = file.directFd >= 0 && length >= kDirectMinimum &&
                      offset % kDirectAlignment == 0 && length % kDirectAlignment == 0 &&
                      reinterpret_cast<uintptr_t>(data) % kDirectAlignment == 0;
  return direct ? file.directFd : file.fd;
}

int32_t ReadBody(void* context, uint64_t offset, uint8_t* data, uint32_t length) {
  const BodyFile& file = *static_cast<BodyFile*>(context);
  int fd = ReadFd(file, offset, data, length);
  while (length > 0) {
    const ssize_t got = pread(fd, data, length, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EINVAL && fd != file.fd) {  // direct I/O refused after all
      fd = file.fd;
      continue;
    }
    if (got < 0) return MountError(errno);
    if (got == 0) return EIO;  // the volume file was cut short
    data += got;
    offset += static_cast<uint64_t>(got);
    length -= static_cast<uint32_t>(got);
    fd = file.fd;  // a short direct read finishes through the page cache
  }
  return 0;
}

int32_t WriteBody(void* context, uint64_t offset, const uint8_t* data, uint32_t length) {
  const int fd = static_cast<BodyFile*>(context)->fd;
  const uint64_t start = offset;
  const uint32_t total = length;
  while (length > 0) {
    const ssize_t put = pwrite(fd, data, length, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return put < 0 ? MountError(errno) : EIO;
    data += put;
    offset += static_cast<uint64_t>(put);
    length -= static_cast<uint32_t>(put);
  }
  // A large write's sectors start going to the disk at once, while the next
  // write is encrypted, so that a flush that follows a stream of writes has
  // little left to do. Small writes stay in the page cache to be merged.
  if (total >= kDirectMinimum) {
    sync_file_range(fd, static_cast<off_t>(start), total, SYNC_FILE_RANGE_WRITE);
  }
  return 0;
}

// The volume file opened again for direct I/O, through its descriptor (the
// very file, whatever its name now), or -1.
int OpenDirect(const ServedVolume& volume) {
  const std::string self = "/proc/self/fd/" + std::to_string(volume.fd);
  return open(self.c_str(), (volume.readOnly ? O_RDONLY : O_RDWR) | O_DIRECT | O_CLOEXEC);
}

// A buffer per serving thread, as large as the largest request it served
// (at most kMaxTransfer) and aligned for direct I/O; wiped when the thread
// ends.
class ThreadBuffer {
 public:
  ~ThreadBuffer() { Release(); }
  uint8_t* Get(size_t size) {
    if (size_ < size) {
      Release();
      void* bytes = nullptr;
      if (posix_memalign(&bytes, kDirectAlignment, size) != 0) throw std::bad_alloc();
      bytes_ = static_cast<uint8_t*>(bytes);
      size_ = size;
    }
    return bytes_;
  }

 private:
  void Release() {
    if (bytes_ == nullptr) return;
    SecureWipe(bytes_, size_);
    free(bytes_);
    bytes_ = nullptr;
    size_ = 0;
  }
  uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
};

thread_local ThreadBuffer threadBuffer;

struct stat Attributes(const Server& server, fuse_ino_t inode) {
  struct stat attributes = {};
  const ServedVolume& volume = *server.volume;
  attributes.st_ino = inode;
  attributes.st_uid = getuid();
  attributes.st_gid = getgid();
  attributes.st_atim = attributes.st_mtim = attributes.st_ctim = volume.modified;
  if (inode == kRootInode) {
    attributes.st_mode = S_IFDIR | (volume.readOnly ? 0500 : 0700);
    attributes.st_nlink = 2;
  } else {
    attributes.st_mode = S_IFREG | (volume.readOnly ? 0400 : 0600);
    attributes.st_nlink = 1;
    attributes.st_size = static_cast<off_t>(volume.bodySize);
    attributes.st_blocks = static_cast<blkcnt_t>(volume.bodySize / 512);
    attributes.st_blksize = kMaxTransfer;
  }
  return attributes;
}

void Init(void* userdata, struct fuse_conn_info* connection) {
  Server* server = static_cast<Server*>(userdata);
  connection->max_write = kMaxTransfer;
  connection->max_readahead = kReadAheadKiB * 1024;
  connection->max_background = kMaxBackground;
  connection->congestion_threshold = kMaxBackground * 3 / 4;
  // Written data arrives in the request's own memory, where it is encrypted
  // in place, never through a pipe; and every write reaches the server at
  // once, so that its errors reach the writer.
  connection->want &= ~(FUSE_CAP_SPLICE_READ | FUSE_CAP_WRITEBACK_CACHE);
  (*server->onReady)();
}

// The line of /proc/self/mountinfo names a mount point with its space, tab,
// newline and backslash as octal escapes.
std::string MountInfoPath(const std::string& path) {
  std::string escaped;
  for (const char c : path) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
      char octal[5];
      snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(c));
      escaped += octal;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

// The kernel keeps a new FUSE mount's readahead at its default (128 KiB),
// whatever the server asked: a sequential reader then waits for one small
// request after another. Where the server may (as root), it raises the
// mount's own readahead so that large requests are read ahead side by side.
void RaiseReadAhead(const std::string& mountPoint) {
  FILE* mounts = fopen("/proc/self/mountinfo", "re");
  if (mounts == nullptr) return;
  const std::string wanted = MountInfoPath(mountPoint);
  std::string device;
  char line[4096];
  while (fgets(line, sizeof line, mounts) != nullptr) {
    char number[32], root[1024], point[2048];
    if (sscanf(line, "%*s %*s %31s %1023s %2047s", number, root, point) == 3 && wanted == point) {
      device = number;  // the last mount on the point is ours
    }
  }
  fclose(mounts);
  if (device.empty()) return;
  const int sysfs = open(("/sys/class/bdi/" + device + "/read_ahead_kb").c_str(),
                         O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (sysfs < 0) return;
  const std::string value = std::to_string(kReadAheadKiB);
  if (write(sysfs, value.data(), value.size()) < 0) {
    // An ordinary user's mount keeps the kernel's readahead.
  }
  close(sysfs);
}

void Lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
  if (parent != kRootInode || strcmp(name, kVolumeFileName) != 0) {
    fuse_reply_err(req, ENOENT);
    return;
  }
  struct fuse_entry_param entry = {};
  entry.ino = kVolumeInode;
  entry.attr = Attributes(*ServerOf(req), kVolumeInode);
  entry.attr_timeout = kCacheSeconds;
  entry.entry_timeout = kCacheSeconds;
  fuse_reply_entry(req, &entry);
}

void GetAttributes(fuse_req_t req, fuse_ino_t inode, struct fuse_file_info*) {
  const struct stat attributes = Attributes(*ServerOf(req), inode);
  fuse_reply_attr(req, &attributes, kCacheSeconds);
}

// The disk's size, owner, mode and times are fixed: a truncation to its
// own size is all that is allowed (some programs do that when they open).
void SetAttributes(fuse_req_t req, fuse_ino_t inode, struct stat* wanted, int fields,
                   struct fuse_file_info*) {
  const Server& server = *ServerOf(req);
  const struct stat attributes = Attributes(server, inode);
  if (inode != kVolumeInode || fields != FUSE_SET_ATTR_SIZE ||
      wanted->st_size != attributes.st_size) {
    fuse_reply_err(req, EPERM);
    return;
  }
  if (server.volume->readOnly) {
    fuse_reply_err(req, EROFS);
    return;
  }
  fuse_reply_attr(req, &attributes, kCacheSeconds);
}

void ReadFolder(fuse_req_t req, fuse_ino_t inode, size_t size, off_t offset,
                struct fuse_file_info*) {
  if (inode != kRootInode) {
    fuse_reply_err(req, ENOTDIR);
    return;
  }
  const Server& server = *ServerOf(req);
  const char* names[] = {".", "..", kVolumeFileName};
  const fuse_ino_t inodes[] = {kRootInode, kRootInode, kVolumeInode};
  char buffer[512];
  size_t used = 0;
  for (off_t i = offset; i < 3; ++i) {
    struct stat attributes = Attributes(server, inodes[i]);
    const size_t room = size < sizeof buffer ? size : sizeof buffer;
    const size_t entry =
        fuse_add_direntry(req, buffer + used, room - used, names[i], &attributes, i + 1);
    if (entry > room - used) break;
    used += entry;
  }
  fuse_reply_buf(req, buffer, used);
}

void Open(fuse_req_t req, fuse_ino_t inode, struct fuse_file_info* file) {
  if (inode != kVolumeInode) {
    fuse_reply_err(req, EISDIR);
    return;
  }
  if ((file->flags & O_ACCMODE) != O_RDONLY && ServerOf(req)->volume->readOnly) {
    fuse_reply_err(req, EROFS);
    return;
  }
  // A write-only open (a program streaming to the disk) writes straight to
  // the server: the kernel copies the writer's data once, into the request,
  // rather than into its page cache first, and every write's error still
  // reaches the writer. Other opens read through the page cache, with
  // readahead, and can map the disk. Each open starts from a dropped cache,
  // so that it sees what write-only opens wrote (the kernel drops cached
  // pages at such writes itself only from Linux 6.6).
  if ((file->flags & O_ACCMODE) == O_WRONLY) file->direct_io = 1;
  fuse_reply_open(req, file);
}

void Read(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, struct fuse_file_info*) {
  Server& server = *ServerOf(req);
  SectorPlan plan;
  // The kernel asks at most max_write bytes at once (its max_pages follow it).
  const SectorVerdict verdict =
      PlanSectorRequest(server.disk, static_cast<uint64_t>(offset), static_cast<uint32_t>(size),
                        false, SectorAlignment::kAnyBytes, &plan);
  if (verdict != SectorVerdict::kServe || plan.length == 0) {
    fuse_reply_buf(req, nullptr, 0);  // at or beyond the end of the disk
    return;
  }
  uint8_t* data = threadBuffer.Get(plan.length);
  const int32_t error = ServeSectorRead(plan, &server.volume->cipher, server.store, data);
  if (error != 0) {
    fuse_reply_err(req, error);
  } else {
    fuse_reply_buf(req, reinterpret_cast<const char*>(data), plan.length);
  }
}

// Whether the volume file still holds what it held at mount; a file cut
// short meanwhile is not written again, so that it never grows back without
// its header.
bool VolumeFileWhole(const ServedVolume& volume) {
  struct stat info;
  return fstat(volume.fd, &info) == 0 && static_cast<uint64_t>(info.st_size) >= volume.fileSize;
}

void WriteBuffer(fuse_req_t req, fuse_ino_t, struct fuse_bufvec* source, off_t offset,
                 struct fuse_file_info*) {
  Server& server = *ServerOf(req);
  const size_t size = fuse_buf_size(source);
  if (size > kMaxTransfer) {  // more than the kernel was told it may send
    fuse_reply_err(req, EINVAL);
    return;
  }
  SectorPlan plan;
  const SectorVerdict verdict =
      PlanSectorRequest(server.disk, static_cast<uint64_t>(offset), static_cast<uint32_t>(size),
                        true, SectorAlignment::kAnyBytes, &plan);
  if (verdict != SectorVerdict::kServe) {
    fuse_reply_err(req, verdict == SectorVerdict::kReadOnly ? EROFS : ENOSPC);
    return;
  }
  // The request's memory is encrypted in place; data that came any other
  // way is first copied into the thread's buffer.
  uint8_t* data;
  if (source->count == 1 && source->idx == 0 && source->off == 0 &&
      (source->buf[0].flags & FUSE_BUF_IS_FD) == 0) {
    data = static_cast<uint8_t*>(source->buf[0].mem);
  } else {
    data = threadBuffer.Get(size);
    struct fuse_bufvec target = FUSE_BUFVEC_INIT(size);
    target.buf[0].mem = data;
    if (fuse_buf_copy(&target, source, FUSE_BUF_NO_SPLICE) != static_cast<ssize_t>(size)) {
      fuse_reply_err(req, EIO);
      return;
    }
  }
  int32_t error;
  {
    std::shared_lock<std::shared_mutex> shared(server.writeLock, std::defer_lock);
    std::unique_lock<std::shared_mutex> alone(server.writeLock, std::defer_lock);
    if (PlanPatchesSectors(plan)) {
      alone.lock();
    } else {
      shared.lock();
    }
    error = VolumeFileWhole(*server.volume)
                ? ServeSectorWrite(plan, &server.volume->cipher, server.store, data, nullptr, 0)
                : EIO;
  }
  if (error != 0) {
    fuse_reply_err(req, error);
  } else {
    fuse_reply_write(req, plan.length);
  }
}

// Writes reach the volume file as they come; a close asks nothing more.
void Flush(fuse_req_t req, fuse_ino_t, struct fuse_file_info*) { fuse_reply_err(req, 0); }

int SyncVolumeFile(const ServedVolume& volume, bool dataOnly) {
  if (volume.readOnly) return 0;
  const int result = dataOnly ? fdatasync(volume.fd) : fsync(volume.fd);
  return result == 0 ? 0 : MountError(errno);
}

void Sync(fuse_req_t req, fuse_ino_t, int dataOnly, struct fuse_file_info*) {
  fuse_reply_err(req, SyncVolumeFile(*ServerOf(req)->volume, dataOnly != 0));
}

void FileSystemStatus(fuse_req_t req, fuse_ino_t) {
  const ServedVolume& volume = *ServerOf(req)->volume;
  struct statvfs status = {};
  status.f_bsize = status.f_frsize = 512;
  status.f_blocks = volume.bodySize / 512;
  status.f_files = 2;
  status.f_namemax = 255;
  fuse_reply_statfs(req, &status);
}

void GetExtendedAttribute(fuse_req_t req, fuse_ino_t inode, const char* name, size_t size) {
  if (inode != kRootInode || strcmp(name, kServerPidAttribute) != 0) {
    fuse_reply_err(req, ENODATA);
    return;
  }
  const std::string pid = std::to_string(getpid());
  if (size == 0) {
    fuse_reply_xattr(req, pid.size());
  } else if (size < pid.size()) {
    fuse_reply_err(req, ERANGE);
  } else {
    fuse_reply_buf(req, pid.data(), pid.size());
  }
}

// The loop's own handlers end the mount on SIGINT, SIGTERM and SIGHUP;
// libfuse sets them only over the default handling.
void ResetSignals() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
  ::signal(SIGPIPE, SIG_IGN);
}

void LeaveTerminal() {
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return;
  for (int stream = 0; stream < 3; ++stream) dup2(null, stream);
  if (null > 2) close(null);
}

}  // namespace

int ServeVolume(ServedVolume* volume, const std::string& mountPoint, bool detach,
                const std::function<void()>& onReady, FILE* err) {
  // The keys stay out of swap and core dumps, and other processes of the
  // same user cannot read them through the debugger interfaces.
  mlock(&volume->cipher, sizeof volume->cipher);
  prctl(PR_SET_DUMPABLE, 0);
  ResetSignals();

  Server server;
  server.volume = volume;
  server.disk = {volume->bodySize, volume->readOnly};
  server.body = {volume->fd, OpenDirect(*volume)};
  server.store = {&server.body, ReadBody, WriteBody};
  server.onReady = &onReady;

  struct fuse_lowlevel_ops operations = {};
  operations.init = Init;
  operations.lookup = Lookup;
  operations.getattr = GetAttributes;
  operations.setattr = SetAttributes;
  operations.readdir = ReadFolder;
  operations.open = Open;
  operations.read = Read;
  operations.write_buf = WriteBuffer;
  operations.flush = Flush;
  operations.fsync = Sync;
  operations.statfs = FileSystemStatus;
  operations.getxattr = GetExtendedAttribute;

  std::string options = "fsname=velmorcrypt,subtype=velmorcrypt,default_permissions";
  if (volume->readOnly) options += ",ro";
  const char* argv[] = {"velmorcrypt-cli", "-o", options.c_str()};
  struct fuse_args arguments = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
  int result = 1;
  struct fuse_session* session =
      fuse_session_new(&arguments, &operations, sizeof operations, &server);
  fuse_opt_free_args(&arguments);  // what parsing the options added
  if (session == nullptr) {
    fprintf(err, "Error trying to mount disk.\n");
  } else if (fuse_session_mount(session, mountPoint.c_str()) != 0) {
    fprintf(err, "Error trying to mount disk.\n");
    fuse_session_destroy(session);
  } else {
    RaiseReadAhead(mountPoint);
    if (detach) LeaveTerminal();
    if (chdir("/") != 0) {
      // The mount point was made absolute; the folder left matters not.
    }
    fuse_set_signal_handlers(session);
    struct fuse_loop_config* loop = fuse_loop_cfg_create();
    fuse_loop_cfg_set_max_threads(loop, kMaxThreads);
    fuse_loop_cfg_set_idle_threads(loop, kMaxThreads);  // threads keep their buffers
    // The loop answers the number of the signal that ended it, or -errno.
    result = fuse_session_loop_mt(session, loop) >= 0 ? 0 : 1;
    fuse_loop_cfg_destroy(loop);
    fuse_remove_signal_handlers(session);
    fuse_session_unmount(session);
    fuse_session_destroy(session);
    const int error = SyncVolumeFile(*volume, false);
    if (error != 0) {
      fprintf(err, "Error flushing the volume file: %s\n", strerror(error));
      result = 1;
    }
  }
  if (server.body.directFd >= 0) close(server.body.directFd);
  close(volume->fd);
  volume->fd = -1;
  BodyCipherWipe(&volume->cipher);
  munlock(&volume->cipher, sizeof volume->cipher);
  return result;
}
