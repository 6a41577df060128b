#define FUSE_USE_VERSION 314
#include "linux-mount/disk_server.h"

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
#include <thread>

#include "crypto/wipe.h"
#include "volume/sector_service.h"

pid_t DiskServerPid(const std::string& source) {
  const size_t prefix = strlen(kDiskMountSource);
  if (source.compare(0, prefix, kDiskMountSource) != 0 || source.size() == prefix ||
      source.size() > prefix + 9) {
    return 0;
  }
  pid_t pid = 0;
  for (size_t i = prefix; i < source.size(); ++i) {
    if (source[i] < '0' || source[i] > '9') return 0;
    pid = pid * 10 + (source[i] - '0');
  }
  return pid;
}

namespace {

constexpr fuse_ino_t kRootInode = FUSE_ROOT_ID;
constexpr fuse_ino_t kVolumeInode = 2;
// Reads and writes of up to kDiskMaxTransfer bytes per request; at most
// kMaxThreads requests at once, each with at most one buffer of that size.
constexpr unsigned kMaxTransfer = kDiskMaxTransfer;
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
  const ServeHooks* hooks;
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
  // in place, never through a pipe. On the user's folder every write
  // reaches the server at once, so that its errors reach the writer; the
  // private disk's one user, a file system, gets the kernel's writeback
  // cache: its small writes are merged into large requests, and its fsync
  // still waits for them and for the volume file's flush.
  connection->want &= ~(FUSE_CAP_SPLICE_READ | FUSE_CAP_WRITEBACK_CACHE);
  if (server->volume->privateDisk && !server->volume->readOnly &&
      (connection->capable & FUSE_CAP_WRITEBACK_CACHE) != 0) {
    connection->want |= FUSE_CAP_WRITEBACK_CACHE;
  }
  server->hooks->onReady();
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

// The disk's size, owner and mode are fixed: a truncation to its own size
// is allowed (some programs do that when they open), and new times are
// taken and forgotten (with the writeback cache the kernel sends them after
// writes); the disk shows the volume file's time of mount.
void SetAttributes(fuse_req_t req, fuse_ino_t inode, struct stat* wanted, int fields,
                   struct fuse_file_info*) {
  const Server& server = *ServerOf(req);
  const struct stat attributes = Attributes(server, inode);
  constexpr int kTimes = FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME | FUSE_SET_ATTR_ATIME_NOW |
                         FUSE_SET_ATTR_MTIME_NOW | FUSE_SET_ATTR_CTIME;
  if ((fields & ~kTimes) == 0) {
    fuse_reply_attr(req, &attributes, kCacheSeconds);
    return;
  }
  if (inode != kVolumeInode || (fields & ~kTimes) != FUSE_SET_ATTR_SIZE ||
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
  // Every open reads and writes through the one page cache of the disk, so
  // that a program writing through a shared map and another writing through
  // a plain open never lose each other's sectors, and what one wrote the
  // other reads; the cache is kept from open to open (nothing but the mount
  // changes the disk). An O_DIRECT open still goes straight to the server,
  // the kernel keeping the cache coherent around it. On the private disk a
  // direct-I/O open is a loop device's (or a file-system tool's that asks
  // for it), and is served as FUSE direct I/O: past the page cache and the
  // time updates of a cached write, which would cost a request at each
  // flush.
  file->keep_cache = 1;
  if (ServerOf(req)->volume->privateDisk && (file->flags & O_DIRECT) != 0) {
    file->direct_io = 1;
  }
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

// Flushes the volume file. A flush asked through the mount puts its data on
// the disk with what reading it back needs (fdatasync: its size and where
// its blocks lie), and leaves its modification time to the final flush,
// when the server ends: a file system on the disk flushes twice at every
// commit (before and after its commit block), and each would otherwise
// rewrite the volume file's inode on the machine's file system as well.
int SyncVolumeFile(const ServedVolume& volume, bool final) {
  if (volume.readOnly) return 0;
  const int result = final ? fsync(volume.fd) : fdatasync(volume.fd);
  return result == 0 ? 0 : MountError(errno);
}

void Sync(fuse_req_t req, fuse_ino_t, int, struct fuse_file_info*) {
  fuse_reply_err(req, SyncVolumeFile(*ServerOf(req)->volume, false));
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

// The termination signals. They stay blocked in every thread of the server
// but one, which waits for them and unmounts the disk while the loop goes
// on serving (an unmount may still send it the last writes); the loop then
// ends by itself. A disk still in use is served on.
sigset_t EndSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
  return signals;
}

void WatchSignals(const ServeHooks* hooks) {
  const sigset_t signals = EndSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) == 0) hooks->unmount();
  }
}

// Waits for the starting command to say that the mount is set up; a command
// that died first (its end of the pipe closed without a word) ends the
// server as SIGTERM would.
void WatchSetup(int fd) {
  char byte;
  ssize_t got;
  do {
    got = read(fd, &byte, 1);
  } while (got < 0 && errno == EINTR);
  close(fd);
  if (got != 1) kill(getpid(), SIGTERM);
}

}  // namespace

int ServeVolume(ServedVolume* volume, const std::string& mountPoint, const ServeHooks& hooks,
                FILE* err) {
  // A termination signal that comes while the mount is made waits for the
  // watcher, so that it still ends the mount it finds.
  const sigset_t endSignals = EndSignals();
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &endSignals, &before);
  ::signal(SIGPIPE, SIG_IGN);

  Server server;
  server.volume = volume;
  server.disk = {volume->bodySize, volume->readOnly};
  server.body = {volume->fd, OpenDirect(*volume)};
  server.store = {&server.body, ReadBody, WriteBody};
  server.hooks = &hooks;

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

  std::string options = std::string("fsname=") + kDiskMountSource + std::to_string(getpid()) +
                        ",subtype=velmorcrypt,default_permissions";
  if (volume->readOnly) options += ",ro";
  const char* argv[] = {"velmorcrypt-cli", "-o", options.c_str()};
  struct fuse_args arguments = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
  int result = 1;
  // The keys stay out of swap and core dumps, and other processes of the
  // same user cannot read them through the debugger interfaces.
  struct fuse_session* session = nullptr;
  if (prctl(PR_SET_DUMPABLE, 0) != 0 || mlock(&volume->cipher, sizeof volume->cipher) != 0) {
    fprintf(err, "velmorcrypt-cli: cannot keep the keys out of reach (%s)\n", strerror(errno));
  } else {
    session = fuse_session_new(&arguments, &operations, sizeof operations, &server);
  }
  fuse_opt_free_args(&arguments);  // what parsing the options added
  if (session != nullptr && fuse_session_mount(session, mountPoint.c_str()) != 0) {
    fuse_session_destroy(session);
    session = nullptr;
  }
  if (session == nullptr) {
    fprintf(err, "Error trying to mount disk.\n");
  } else {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int stream = 0; null >= 0 && stream < 3; ++stream) dup2(null, stream);
    if (null > 2) close(null);
    if (chdir("/") != 0) {
      // The mount point was reached by descriptor; the folder left matters not.
    }
    std::thread(WatchSignals, &hooks).detach();
    if (hooks.setupFd >= 0) std::thread(WatchSetup, hooks.setupFd).detach();
    struct fuse_loop_config* loop = fuse_loop_cfg_create();
    fuse_loop_cfg_set_max_threads(loop, kMaxThreads);
    fuse_loop_cfg_set_idle_threads(loop, kMaxThreads);  // threads keep their buffers
    // The loop ends with 0 once the disk is unmounted, else with -errno.
    result = fuse_session_loop_mt(session, loop) >= 0 ? 0 : 1;
    fuse_loop_cfg_destroy(loop);
    fuse_session_destroy(session);
    const int error = SyncVolumeFile(*volume, true);
    if (error != 0) {
      fprintf(err, "Error flushing the volume file: %s\n", strerror(error));
      result = 1;
    }
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (server.body.directFd >= 0) close(server.body.directFd);
  close(volume->fd);
  volume->fd = -1;
  BodyCipherWipe(&volume->cipher);
  munlock(&volume->cipher, sizeof volume->cipher);
  return result;
}
