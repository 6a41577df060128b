// The Linux mount: the disk server in a process of its own, the view of the
// files on top of it (the kernel's driver on a loop device, or a FUSE
// server), and the unmount that recognises all of it by what the kernel
// says, never by what a path or a name that anyone can set says.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/volume_info.h"
#include "crypto/wipe.h"
#include "linux-mount/disk_server.h"
#include "linux-mount/file_systems.h"
#include "linux-mount/mount.h"
#include "linux-mount/mount_table.h"
#include "linux-mount/programs.h"
#include "volume/sector_service.h"

namespace {

constexpr char kProgram[] = "velmorcrypt-cli";
// Our private disks' folders, made with mkdtemp in the caller's own
// runtime folder (/run for root).
constexpr char kDiskFolderPrefix[] = "velmorcrypt-disk-";
// How long `unmount` waits for a server to let go of the disk and to end.
constexpr int kServerEndMilliseconds = 120000;
constexpr int kRetryMilliseconds = 100;
constexpr unsigned kLoopMajor = 7;
// The readahead of our disk mounts (as root; a user's keeps the kernel's).
constexpr char kReadAheadKiB[] = "4096";

int Fail(const CliStreams& io, const std::string& message) {
  fprintf(io.err, "%s: %s\n", kProgram, message.c_str());
  return kExitFailure;
}

int FailWith(const CliStreams& io, const char* message) {
  fprintf(io.err, "%s\n", message);
  return kExitFailure;
}

bool Root() { return geteuid() == 0; }

std::string FdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

std::string Dirname(const std::string& path) { return path.substr(0, path.rfind('/')); }
std::string Basename(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The folder that holds our private disk folders: root's /run, else the
// user's runtime folder where it is theirs alone, else /tmp (mkdtemp makes
// each private folder 0700 there).
std::string RuntimeBase() {
  if (Root()) return "/run";
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  struct stat folder;
  if (runtime != nullptr && runtime[0] == '/' && lstat(runtime, &folder) == 0 &&
      S_ISDIR(folder.st_mode) && folder.st_uid == getuid() && (folder.st_mode & 077) == 0) {
    return runtime;
  }
  return "/tmp";
}

// Unmounts what is mounted on `name` in the folder open as `parent`, never
// following `name` if it is a symbolic link: umount2 as root, else
// fusermount3 (which checks that the mount is the user's own).
bool UnmountAt(int parent, const std::string& name, bool lazy) {
  if (Root()) {
    const std::string path = FdPath(parent) + "/" + name;
    return umount2(path.c_str(), UMOUNT_NOFOLLOW | (lazy ? MNT_DETACH : 0)) == 0;
  }
  const std::string fusermount = FindProgram("fusermount3");
  if (fusermount.empty()) return false;
  std::vector<std::string> arguments = {"fusermount3", "-u", "-q"};
  if (lazy) arguments.push_back("-z");
  arguments.insert(arguments.end(), {"--", "/proc/self/fd/3/" + name});
  return RunProgram(fusermount, arguments, {{parent, 3}}).succeeded;
}

// A folder of ours and the name in it that a disk is mounted on.
struct Place {
  int parent = -1;
  std::string name;
  std::string path;  // for messages and for the tools that take a path
};

void ClosePlace(Place* place) {
  if (place->parent >= 0) close(place->parent);
  place->parent = -1;
}

bool MakePrivateFolder(Place* place) {
  const std::string base = RuntimeBase();
  std::string pattern = base + "/" + kDiskFolderPrefix + "XXXXXX";
  place->parent = open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (place->parent < 0) return false;
  if (mkdtemp(pattern.data()) == nullptr) {
    const int error = errno;
    ClosePlace(place);
    errno = error;
    return false;
  }
  place->path = pattern;
  place->name = Basename(pattern);
  return true;
}

// The private disk folder's path for a disk's source or backing file
// ("/run/velmorcrypt-disk-ab12Cd/volume"), or "" when it is none of ours.
std::string PrivateFolderOf(const std::string& diskFile) {
  const std::string folder = Dirname(diskFile);
  if (Basename(diskFile) != kVolumeFileName || Dirname(folder) != RuntimeBase() ||
      Basename(folder).rfind(kDiskFolderPrefix, 0) != 0) {
    return "";
  }
  return folder;
}

// Whether the mount is one the caller made: a FUSE mount answers its
// mounter's user id, other mounts only root can make.
bool MadeByCaller(const MountEntry& mount) {
  if (mount.type.rfind("fuse", 0) != 0) return Root();
  return MountOption(mount.superOptions, "user_id") == std::to_string(getuid());
}

bool IsOurDisk(const MountEntry& mount) {
  return mount.type == kDiskMountType && DiskServerPid(mount.source) != 0 && MadeByCaller(mount);
}

// Our disk mounted on the folder `folder` (a path), if it is there.
bool FindDiskAt(const std::string& folder, MountEntry* disk) {
  bool found = false;
  for (const MountEntry& mount : ReadMounts()) {
    if (mount.mountPoint == folder && IsOurDisk(mount)) {
      *disk = mount;
      found = true;
    }
  }
  return found;
}

// Writes a setting of the kernel's (a file in /sys, root only); a setting
// that cannot be written keeps the kernel's own value.
void SetKernelValue(const std::string& path, const std::string& value) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  if (write(fd, value.data(), value.size()) < 0) {
    // The kernel's value stays.
  }
  close(fd);
}

// Undoes a private disk whose server did not come up: the mount that a
// server which died before serving left behind, and the folder.
void RemovePrivateDisk(Place* place) {
  MountEntry disk;
  if (FindDiskAt(place->path, &disk)) UnmountAt(place->parent, place->name, true);
  unlinkat(place->parent, place->name.c_str(), AT_REMOVEDIR);
  ClosePlace(place);
}

// A mount made by root reads ahead 4 MiB rather than the kernel's 128 KiB
// for a FUSE mount, so that a sequential reader has large requests in
// flight; an ordinary user's mount keeps the kernel's.
void RaiseReadAhead(const MountEntry& disk) {
  SetKernelValue("/sys/class/bdi/" + std::to_string(major(disk.device)) + ":" +
                     std::to_string(minor(disk.device)) + "/read_ahead_kb",
                 kReadAheadKiB);
}

// Waits until the process behind `pidFd` has ended; false after the
// timeout.
bool WaitForEnd(int pidFd) {
  struct pollfd poller = {pidFd, POLLIN, 0};
  int result;
  do {
    result = poll(&poller, 1, kServerEndMilliseconds);
  } while (result < 0 && errno == EINTR);
  return result > 0;
}

// The server of a disk mount recognised as ours, as a pidfd; -1 when it
// has ended (killed, its mount left behind).
int ServerOf(const MountEntry& disk) {
  const pid_t pid = DiskServerPid(disk.source);
  const int pidFd = pid > 0 ? static_cast<int>(syscall(SYS_pidfd_open, pid, 0)) : -1;
  struct pollfd ended = {pidFd, POLLIN, 0};
  if (pidFd >= 0 && poll(&ended, 1, 0) != 0) {
    close(pidFd);
    return -1;
  }
  return pidFd;
}

// Flushes everything written to the disk at `folder` to the volume file.
bool FlushDisk(const std::string& folder) {
  const int fd = open((folder + "/" + kVolumeFileName).c_str(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = fsync(fd) == 0;
  close(fd);
  return flushed;
}

// Unmounts the disk on `place` once nothing holds it (a file system's
// server closes it a moment after its own unmount), and waits for its
// server to end. Answers an error text, "" when done.
std::string EndDisk(const Place& place, int pidFd) {
  bool unmounted = false;
  for (int waited = 0; !unmounted && waited < kServerEndMilliseconds;
       waited += kRetryMilliseconds) {
    unmounted = UnmountAt(place.parent, place.name, false);
    if (!unmounted) usleep(kRetryMilliseconds * 1000);
  }
  if (!unmounted) return "could not unmount the volume's disk " + place.path;
  if (pidFd >= 0 && !WaitForEnd(pidFd)) return "the mount's server has not ended yet";
  return "";
}

// The disk server started for one mount.
struct Server {
  int pidFd = -1;
  int setupFd = -1;  // written to once the mount is set up
  Place place;       // where the disk is mounted
};

void CloseServer(Server* server) {
  if (server->pidFd >= 0) close(server->pidFd);
  if (server->setupFd >= 0) close(server->setupFd);
  server->pidFd = server->setupFd = -1;
}

// Starts the disk server in a process of its own, mounted on `mountPath`
// (which reaches `place`), and returns once it serves or has failed.
// `served` keeps its keys and descriptor: the caller wipes and closes them.
bool StartServer(ServedVolume* served, const std::string& mountPath, Server* server,
                 const CliStreams& io) {
  int ready[2], setup[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return false;
  if (pipe2(setup, O_CLOEXEC) != 0) {
    close(ready[0]);
    close(ready[1]);
    return false;
  }
  fflush(io.out);
  fflush(io.err);
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    close(setup[1]);
    setsid();
    // fusermount3 (for an ordinary user) finds a "/proc/self/fd/N" mount
    // point through a descriptor it inherits.
    int spare = -1;
    std::string target = mountPath;
    if (mountPath.rfind("/proc/self/fd/", 0) == 0) {
      spare = dup(atoi(mountPath.c_str() + 14));
      target = FdPath(spare);
    }
    const Place place = server->place;
    ServeHooks hooks;
    hooks.onReady = [&ready, spare] {
      const char byte = 1;
      if (write(ready[1], &byte, 1) != 1) {
        // The waiting command has gone; the setup watcher ends the server.
      }
      close(ready[1]);
      if (spare >= 0) close(spare);
    };
    hooks.unmount = [place] { return UnmountAt(place.parent, place.name, false); };
    hooks.setupFd = setup[0];
    _exit(ServeVolume(served, target, hooks, io.err));
  }
  close(ready[1]);
  close(setup[0]);
  char byte = 0;
  ssize_t got = -1;
  if (child > 0) {
    do {
      got = read(ready[0], &byte, 1);
    } while (got < 0 && errno == EINTR);
  }
  close(ready[0]);
  if (got != 1) {
    close(setup[1]);
    if (child > 0) waitpid(child, nullptr, 0);  // the server said why and ended
    return false;
  }
  server->pidFd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  server->setupFd = setup[1];
  return true;
}

// Opens the volume file for serving and checks that it is the file whose
// header was opened: a regular file of the size seen then.
int OpenServedFile(const std::string& volumePath, bool readOnly, const VolumeInfo& info,
                   const CliStreams& io, ServedVolume* served) {
  served->fd = open(volumePath.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (served->fd < 0) return FailWith(io, "Error opening Velmorcrypt volume.");
  served->bodySize = info.bodySize;
  served->fileSize = info.bodySize + (info.externalHeader ? 0 : kHeaderSize);
  served->readOnly = readOnly;
  struct stat file;
  if (fstat(served->fd, &file) != 0 || !S_ISREG(file.st_mode) ||
      static_cast<uint64_t>(file.st_size) != served->fileSize) {
    return FailWith(io, "Error reading Velmorcrypt volume.");
  }
  served->modified = file.st_mtim;
  if (!SectorBodySizeValid(served->bodySize)) return FailWith(io, "Error trying to mount disk.");
  // One writer or any number of readers: a read-write mount holds the file
  // alone, read-only mounts share it.
  if (flock(served->fd, (readOnly ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    return Fail(io, volumePath + " is mounted already");
  }
  return kExitSuccess;
}

// The volume opened for serving: keys in locked memory, wiped and unlocked
// however the command ends.
struct OpenedVolume {
  ServedVolume served;
  bool locked = false;
  OpenedVolume() = default;
  OpenedVolume(const OpenedVolume&) = delete;
  OpenedVolume& operator=(const OpenedVolume&) = delete;
  ~OpenedVolume() { Release(); }
  void Release() {
    BodyCipherWipe(&served.cipher);
    if (locked) munlock(&served.cipher, sizeof served.cipher);
    locked = false;
    if (served.fd >= 0) close(served.fd);
    served.fd = -1;
  }
};

// Opens the header with the password and the volume file for serving; the
// keys go straight into locked memory of a process that is not dumpable.
int OpenVolume(FileSystem& fileSystem, const std::string& volumePath, const std::string& headerPath,
               bool readOnly, std::string* password, const CliStreams& io, OpenedVolume* opened) {
  VolumeInfo info;
  HeaderBuffer header;
  const Outcome outcome =
      OpenVolumeHeader(fileSystem, volumePath, headerPath, *password,
                       readOnly ? OpenMode::kRead : OpenMode::kReadWrite, &info, &header);
  SecureWipe(password->data(), password->capacity());
  if (!outcome.success) return FailWith(io, outcome.message.c_str());
  const int result = OpenServedFile(volumePath, readOnly, info, io, &opened->served);
  if (result != kExitSuccess) return result;
  if (mlock(&opened->served.cipher, sizeof opened->served.cipher) != 0) {
    return Fail(io, std::string("cannot lock the keys in memory: ") + strerror(errno));
  }
  opened->locked = true;
  BodyCipherInit(&opened->served.cipher, info.algorithm, header.bytes + kSectorKeyOffset,
                 header.bytes + kSectorIvSeedOffset);
  return kExitSuccess;
}

// The termination signals stay blocked while a mount is set up or torn
// down, and are looked at between the steps: nothing is left half done.
class EndSignalsHeld {
 public:
  EndSignalsHeld() {
    sigemptyset(&signals_);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals_, signal);
    pthread_sigmask(SIG_BLOCK, &signals_, &before_);
  }
  ~EndSignalsHeld() {
    // A signal that came meanwhile is taken here, so that the command ends
    // with the failure it reported rather than being killed by it.
    const struct timespec now = {0, 0};
    while (sigtimedwait(&signals_, nullptr, &now) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  bool Pending() const {
    sigset_t pending;
    sigpending(&pending);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      if (sigismember(&pending, signal)) return true;
    }
    return false;
  }
  const sigset_t& Set() const { return signals_; }

 private:
  sigset_t signals_;
  sigset_t before_;
};

// What one mount set up, torn down in the reverse order.
struct MountSet {
  bool view = false;  // a view of the files is mounted on the user's folder
  Server server;
  bool diskOnFolder = false;  // the disk itself is mounted on the user's folder
  uint64_t diskId = 0;        // then its mount's id
};

// Whether the set's disk is still mounted (its server may have been
// unmounted from elsewhere, or have died with its mount left behind).
bool DiskMounted(const MountSet& set) {
  MountEntry disk;
  if (set.diskOnFolder) return set.diskId != 0 && FindMount(set.diskId, &disk);
  return set.server.place.parent >= 0 && FindDiskAt(set.server.place.path, &disk);
}

// The user who ran sudo, who owns the files of a FAT, exFAT or NTFS volume
// mounted by root.
void SudoUser(unsigned* uid, unsigned* gid) {
  *uid = getuid();
  *gid = getgid();
  const char* sudoUid = getenv("SUDO_UID");
  const char* sudoGid = getenv("SUDO_GID");
  if (getuid() != 0 || sudoUid == nullptr || sudoGid == nullptr) return;
  char* end = nullptr;
  const unsigned long user = strtoul(sudoUid, &end, 10);
  if (*sudoUid == '\0' || *end != '\0') return;
  const unsigned long group = strtoul(sudoGid, &end, 10);
  if (*sudoGid == '\0' || *end != '\0') return;
  *uid = static_cast<unsigned>(user);
  *gid = static_cast<unsigned>(group);
}

// A loop device over the private disk (root only), detached by itself at
// its last close: once a mount holds it, at its unmount. Answers
// its number and its descriptor in `*loop`, or -1 with errno set.
int AttachDiskLoop(const Place& disk, bool readOnly, int* loop) {
  // Opened for direct I/O, as the loop device reads and writes it: the
  // disk serves such an open past its page cache.
  const int diskFd = open((disk.path + "/" + kVolumeFileName).c_str(),
                          (readOnly ? O_RDONLY : O_RDWR) | O_DIRECT | O_NOFOLLOW | O_CLOEXEC);
  if (diskFd < 0) return -1;
  const int number = AttachLoop(diskFd, readOnly, loop);
  const int error = errno;
  close(diskFd);
  // The loop device's requests no larger than the disk's: a larger one
  // would reach the server split in two.
  if (number >= 0) {
    SetKernelValue("/sys/block/loop" + std::to_string(number) + "/queue/max_sectors_kb",
                   std::to_string(kDiskMaxTransfer / 1024));
  }
  errno = error;
  return number;
}

// The kernel's driver on a loop device over the private disk, mounted on
// the held folder itself. Answers an error text, "" when mounted; ENODEV in
// `*error` when the kernel lacks the driver after all.
std::string MountKernelView(const HeldFolder& folder, const Place& disk,
                            const std::string& kernelType, bool readOnly, int* error) {
  int loop = -1;
  const int number = AttachDiskLoop(disk, readOnly, &loop);
  *error = errno;
  if (number < 0) return std::string("cannot attach a loop device: ") + strerror(*error);
  unsigned uid, gid;
  SudoUser(&uid, &gid);
  const std::string device = "/dev/loop" + std::to_string(number);
  const std::string options = KernelMountOptions(kernelType, uid, gid);
  const int mounted = mount(device.c_str(), folder.Exact().c_str(), kernelType.c_str(),
                            MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0), options.c_str());
  *error = errno;
  close(loop);  // the mount holds the loop device; without one it detaches now
  if (mounted != 0) {
    return "the kernel's " + kernelType + " could not mount the volume's file system (" +
           strerror(*error) + "); it may be damaged: --disk shows the raw disk for its checker";
  }
  *error = 0;
  return "";
}

// A FUSE server from Debian (fuse2fs, ntfs-3g, exfat-fuse) mounted on the
// held folder, found through a descriptor it inherits. It reads the private
// disk as a file, whose path stays its mount's source, so that `unmount`
// finds the disk even after the server has died; a server that takes only
// a block device from root (exfat-fuse) gets a loop device, which its
// mount (fuseblk) holds, and whose backing file `unmount` reads. Answers an
// error text, "" when mounted.
std::string MountFuseView(const HeldFolder& folder, const Place& disk, const ServerChoice& choice,
                          bool readOnly) {
  const std::string& program = choice.program;
  std::string options = readOnly ? "ro" : "rw";
  std::string device = disk.path + "/" + kVolumeFileName;
  int loop = -1;
  if (choice.blockDevice) {
    const int number = AttachDiskLoop(disk, readOnly, &loop);
    if (number < 0) return std::string("cannot attach a loop device: ") + strerror(errno);
    device = "/dev/loop" + std::to_string(number);
  }
  if (Root()) {
    // Root's FUSE mount is open to others only with allow_other; the
    // file system's own owners and modes then decide.
    options += ",allow_other,default_permissions,nosuid,nodev";
    if (choice.server != ViewServer::kFuse2fs) {
      unsigned uid, gid;
      SudoUser(&uid, &gid);
      options += ",uid=" + std::to_string(uid) + ",gid=" + std::to_string(gid) + ",umask=077";
    }
  }
  const ProgramRun run =
      RunProgram(FindProgram(program.c_str()), {program, "-o", options, device, "/proc/self/fd/3"},
                 {{folder.Fd(), 3}});
  if (loop >= 0) close(loop);  // the mount holds the loop device now
  MountEntry view;
  if (!run.succeeded) {
    return program +
           " could not show the volume's files; the file system may be damaged: "
           "--disk shows the raw disk for its checker";
  }
  if (!folder.MountOnTop(&view) || !MadeByCaller(view)) {
    return program + " did not mount on " + folder.Path();
  }
  return "";
}

// Tears down what a mount set up, the view first. Answers an error text,
// "" when everything is gone.
std::string TearDown(MountSet* set, HeldFolder& folder) {
  if (set->view) {
    if (!UnmountAt(folder.ParentFd(), folder.Name(), false)) {
      return folder.Path() +
             " is in use; close the programs that use its files, then unmount again";
    }
    set->view = false;
  }
  std::string error;
  const std::string diskPath = set->diskOnFolder ? folder.InParent() : set->server.place.path;
  if (DiskMounted(*set)) {
    const bool flushed = FlushDisk(diskPath);
    if (set->diskOnFolder) folder.Release();  // a descriptor in the mount would keep it busy
    error = EndDisk(set->server.place, set->server.pidFd);
    if (error.empty() && !flushed && set->server.pidFd >= 0) {
      error = "flushing the volume failed; the last writes may be lost";
    }
  }
  if (error.empty()) {
    if (!set->diskOnFolder && set->server.place.parent >= 0) {
      unlinkat(set->server.place.parent, set->server.place.name.c_str(), AT_REMOVEDIR);
      ClosePlace(&set->server.place);
    }
    set->diskOnFolder = false;
    CloseServer(&set->server);
  }
  return error;
}

std::string ServerName(const ServerChoice& choice) {
  if (choice.server == ViewServer::kKernel) return "the kernel's " + choice.kernelType;
  return choice.program.rfind("mount.", 0) == 0 ? choice.program.substr(6) : choice.program;
}

}  // namespace

int RunMount(const MountOptions& options, const CliStreams& io, FileSystem& fileSystem,
             const std::function<void(std::string*)>& readPassword) {
  HeldFolder folder;
  std::string error = folder.Hold(options.folder);
  if (!error.empty()) return Fail(io, error);
  if (folder.IsMountRoot())
    return Fail(io, "something is mounted on " + options.folder + " already");
  if (!folder.Empty()) return Fail(io, options.folder + " is not empty; name an empty folder");
  // Nothing of this process (the password, the keys) can be read through
  // the debugger interfaces by other processes of the same user.
  if (prctl(PR_SET_DUMPABLE, 0) != 0) return Fail(io, "cannot protect the keys from debuggers");

  std::string password;
  readPassword(&password);
  OpenedVolume opened;
  int result = OpenVolume(fileSystem, options.volumePath, options.headerPath, options.readOnly,
                          &password, io, &opened);
  if (result != kExitSuccess) return result;

  const EndSignalsHeld signals;
  MountSet set;
  std::string shown;
  if (!options.disk) {
    // The disk privately first, to see what it holds.
    if (!MakePrivateFolder(&set.server.place)) {
      return Fail(io, std::string("cannot make a private folder for the disk: ") + strerror(errno));
    }
    opened.served.privateDisk = true;
    if (!StartServer(&opened.served, set.server.place.path, &set.server, io)) {
      RemovePrivateDisk(&set.server.place);
      return kExitFailure;
    }
    MountEntry disk;
    if (Root() && FindDiskAt(set.server.place.path, &disk)) RaiseReadAhead(disk);
    const int diskFd = open((set.server.place.path + "/" + kVolumeFileName).c_str(),
                            O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const std::string type = diskFd >= 0 ? DetectFileSystem(diskFd) : "";
    if (diskFd >= 0) close(diskFd);
    if (type.empty()) {
      // No file system: the disk itself is what there is to show.
      error = TearDown(&set, folder);
      if (!error.empty()) return Fail(io, error);
      shown = "The volume holds no file system that this machine recognises; its disk is " +
              options.folder + "/" + kVolumeFileName + ".";
    } else {
      opened.Release();  // the server has the keys; this process keeps none
      ServerInputs inputs;
      inputs.type = type == "?" ? "several file systems at once" : type;
      inputs.root = Root();
      inputs.kernel = MachineKernelFileSystems();
      inputs.preferFuse = options.preferFuse;
      inputs.installed = ProgramInstalled;
      ServerChoice choice = ChooseServer(inputs);
      int kernelError = 0;
      if (choice.server == ViewServer::kKernel && !signals.Pending()) {
        error = MountKernelView(folder, set.server.place, choice.kernelType, options.readOnly,
                                &kernelError);
        if (kernelError == ENODEV) {  // the driver is not there after all
          inputs.kernel.erase(choice.kernelType);
          choice = ChooseServer(inputs);
        }
      }
      if (choice.server != ViewServer::kKernel && choice.server != ViewServer::kNone &&
          !signals.Pending()) {
        error = MountFuseView(folder, set.server.place, choice, options.readOnly);
      }
      if (choice.server == ViewServer::kNone) error = choice.reason;
      // Mounted (even if a signal came meanwhile, so that it is undone), or
      // not tried because of one.
      MountEntry view;
      set.view = error.empty() && folder.MountOnTop(&view) && MadeByCaller(view);
      if (!set.view || signals.Pending()) {
        const std::string undone = TearDown(&set, folder);
        if (error.empty()) error = "interrupted; nothing was left mounted";
        return Fail(io, undone.empty() ? error : error + "; " + undone);
      }
      shown = "The volume's files (" + type + ", served by " + ServerName(choice) + ") are in " +
              options.folder + ".";
    }
  }
  if (!set.view) {
    if (signals.Pending()) return Fail(io, "interrupted; nothing was left mounted");
    set.diskOnFolder = true;
    opened.served.privateDisk = false;
    set.server.place = {folder.ParentFd(), folder.Name(), options.folder};
    if (!StartServer(&opened.served, folder.Exact(), &set.server, io)) return kExitFailure;
    opened.Release();
    MountEntry disk;
    if (folder.MountOnTop(&disk)) set.diskId = disk.id;
    if (Root() && set.diskId != 0) RaiseReadAhead(disk);
    if (signals.Pending()) {
      const std::string undone = TearDown(&set, folder);
      return Fail(io, "interrupted; " + (undone.empty() ? "nothing was left mounted" : undone));
    }
  }
  // Set up: the server lives on by itself.
  const char settled = 1;
  if (write(set.server.setupFd, &settled, 1) != 1) {
    // The server ends by itself when it cannot hear; unmount cleans up.
  }
  fputs("Velmorcrypt volume successfully mounted.\n", io.out);
  if (!shown.empty()) fprintf(io.out, "%s\n", shown.c_str());
  if (!options.foreground) {
    CloseServer(&set.server);
    if (!set.diskOnFolder) ClosePlace(&set.server.place);
    return kExitSuccess;
  }

  // In the foreground: serve until the mount is gone or a termination
  // signal asks for the unmount (which waits while the files are in use).
  fprintf(io.err, "Serving %s on %s until it is unmounted (Ctrl+C unmounts).\n",
          options.volumePath.c_str(), options.folder.c_str());
  fflush(io.out);
  const int signalFd = signalfd(-1, &signals.Set(), SFD_CLOEXEC);
  for (;;) {
    struct pollfd watched[2] = {{set.server.pidFd, POLLIN, 0}, {signalFd, POLLIN, 0}};
    if (poll(watched, 2, -1) < 0 && errno != EINTR) break;
    if (watched[0].revents != 0) break;  // unmounted from elsewhere
    if (watched[1].revents == 0) continue;
    struct signalfd_siginfo info;
    if (read(signalFd, &info, sizeof info) < 0) continue;
    error = TearDown(&set, folder);
    if (error.empty()) break;
    Fail(io, error);
  }
  close(signalFd);
  // Unmounted from elsewhere, or the server died: what is left goes.
  MountEntry top;
  if (set.view) set.view = folder.MountOnTop(&top) && MadeByCaller(top);
  error = TearDown(&set, folder);
  return error.empty() ? kExitSuccess : Fail(io, error);
}

int RunUnmount(const std::string& folderPath, const CliStreams& io) {
  const EndSignalsHeld signals;  // the unmount runs to its end
  HeldFolder folder;
  const std::string error = folder.Hold(folderPath);
  if (!error.empty()) return Fail(io, error);
  MountEntry top;
  if (!folder.IsMountRoot() || !FindMount(folder.MountId(), &top)) {
    return Fail(io, "no velmorcrypt volume is mounted on " + folderPath);
  }
  MountSet set;
  std::string diskFolder;
  if (IsOurDisk(top)) {
    set.diskOnFolder = true;
    set.server.place = {folder.ParentFd(), folder.Name(), folderPath};
  } else if (MadeByCaller(top)) {
    // A view of the files: the kernel's or a FUSE server's (as root) on
    // our loop device, or a FUSE server's over our private disk.
    std::string backing = top.source;
    unsigned loop = 0;
    char end = 0;
    std::string sysfs;
    if (major(top.device) == kLoopMajor) {
      sysfs = "/sys/dev/block/" + std::to_string(major(top.device)) + ":" +
              std::to_string(minor(top.device));
    } else if (Root() && sscanf(top.source.c_str(), "/dev/loop%u%c", &loop, &end) == 1) {
      sysfs = "/sys/block/loop" + std::to_string(loop);
    }
    if (!sysfs.empty()) {
      const int fd = open((sysfs + "/loop/backing_file").c_str(), O_RDONLY | O_CLOEXEC);
      char text[4096] = {};
      const ssize_t length = fd >= 0 ? read(fd, text, sizeof text - 1) : -1;
      if (fd >= 0) close(fd);
      backing = length > 0 ? std::string(text, static_cast<size_t>(length)) : "";
      while (!backing.empty() && backing.back() == '\n') backing.pop_back();
    }
    diskFolder = PrivateFolderOf(backing);
    if (diskFolder.empty()) {
      return Fail(io, folderPath + " shows no velmorcrypt volume (" + top.type + " from " +
                          top.source + "); it was left as it is");
    }
    set.view = true;
    set.server.place.path = diskFolder;
    set.server.place.name = Basename(diskFolder);
    set.server.place.parent = open(Dirname(diskFolder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  } else {
    return Fail(io, "no velmorcrypt volume of yours is mounted on " + folderPath + " (it holds " +
                        top.type + "); it was left as it is");
  }
  if (set.diskOnFolder) set.diskId = top.id;
  MountEntry disk = top;
  if (set.view && !FindDiskAt(diskFolder, &disk)) disk = {};
  set.server.pidFd = ServerOf(disk);
  folder.Release();  // a descriptor in the mount would keep it busy
  // The name must still lead to the mount that was recognised (a name with
  // a mount on it cannot be renamed or replaced meanwhile).
  if (folder.MountIdNow() != top.id)
    return Fail(io, folderPath + " changed; nothing was unmounted");
  const std::string undone = TearDown(&set, folder);
  return undone.empty() ? kExitSuccess : Fail(io, undone);
}

int OpenDecryptedDisk(FileSystem& fileSystem, const std::string& volumePath,
                      const std::string& headerPath, const std::string& password, bool readOnly,
                      const CliStreams& io, DecryptedDisk* disk) {
  if (prctl(PR_SET_DUMPABLE, 0) != 0) return Fail(io, "cannot protect the keys from debuggers");
  std::string copy = password;
  OpenedVolume opened;
  const int result = OpenVolume(fileSystem, volumePath, headerPath, readOnly, &copy, io, &opened);
  if (result != kExitSuccess) return result;
  const EndSignalsHeld signals;
  Server server;
  if (!MakePrivateFolder(&server.place)) {
    return Fail(io, std::string("cannot make a private folder for the disk: ") + strerror(errno));
  }
  opened.served.privateDisk = true;
  const bool started = StartServer(&opened.served, server.place.path, &server, io);
  opened.Release();
  if (!started) {
    RemovePrivateDisk(&server.place);
    return kExitFailure;
  }
  // The server ends with this process, should it die before the destructor.
  disk->folder_ = server.place.path;
  disk->path_ = server.place.path + "/" + kVolumeFileName;
  disk->pidFd_ = server.pidFd;
  disk->setupFd_ = server.setupFd;
  ClosePlace(&server.place);
  return kExitSuccess;
}

DecryptedDisk::~DecryptedDisk() {
  if (folder_.empty()) return;
  const EndSignalsHeld signals;
  MountSet set;
  set.server.pidFd = pidFd_;
  set.server.setupFd = setupFd_;
  set.server.place.path = folder_;
  set.server.place.name = Basename(folder_);
  set.server.place.parent = open(Dirname(folder_).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  HeldFolder none;
  const std::string error = TearDown(&set, none);
  if (!error.empty()) fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
}
