#include "linux-mount/mount_table.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <sstream>

namespace {

// A field of mountinfo, whose blanks, tabs, newlines and backslashes are
// written as octal escapes.
std::string Unescape(const std::string& field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && isdigit(field[i + 1])) {
      text += static_cast<char>(strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

std::string ReadText(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  std::string text;
  if (fd < 0) return text;
  char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  close(fd);
  return text;
}

std::string FdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The mount id of an open descriptor, from /proc/self/fdinfo: the kernel
// answers it without asking the file system.
uint64_t MountIdOf(int fd) {
  const std::string info = ReadText(("/proc/self/fdinfo/" + std::to_string(fd)).c_str());
  const size_t at = info.find("mnt_id:");
  return at == std::string::npos ? 0 : strtoull(info.c_str() + at + 7, nullptr, 10);
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
  // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [TAGS...] - TYPE SOURCE SUPER-OPTIONS
  std::vector<MountEntry> mounts;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream head(line.substr(0, dash));
    std::istringstream tail(line.substr(dash + 3));
    MountEntry entry;
    std::string number, root, point, type, source, options;
    if (!(head >> entry.id >> entry.parent >> number >> root >> point) ||
        !(tail >> type >> source)) {
      continue;
    }
    tail >> options;
    unsigned major = 0, minor = 0;
    if (sscanf(number.c_str(), "%u:%u", &major, &minor) != 2) continue;
    entry.device = makedev(major, minor);
    entry.root = Unescape(root);
    entry.mountPoint = Unescape(point);
    entry.type = Unescape(type);
    entry.source = Unescape(source);
    entry.superOptions = Unescape(options);
    mounts.push_back(entry);
  }
  return mounts;
}

std::vector<MountEntry> ReadMounts() { return ParseMountInfo(ReadText("/proc/self/mountinfo")); }

bool FindMount(uint64_t id, MountEntry* entry) {
  for (const MountEntry& mount : ReadMounts()) {
    if (mount.id == id) {
      *entry = mount;
      return true;
    }
  }
  return false;
}

std::string MountOption(const std::string& options, const std::string& name) {
  std::istringstream list(options);
  std::string option;
  while (std::getline(list, option, ',')) {
    if (option.compare(0, name.size() + 1, name + "=") == 0) return option.substr(name.size() + 1);
  }
  return "";
}

HeldFolder::~HeldFolder() {
  if (folder_ >= 0) close(folder_);
  if (parent_ >= 0) close(parent_);
}

std::string HeldFolder::Hold(const std::string& path) {
  path_ = path;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : trimmed.substr(0, slash + 1);
  name_ = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  if (name_.empty() || name_ == "." || name_ == ".." || trimmed == "/") {
    return "name the folder itself, not " + path;
  }
  parent_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (parent_ >= 0) {
    folder_ = openat(parent_, name_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  }
  if (folder_ < 0) {
    if (errno == ENOENT) return path + " does not exist";
    return "cannot use " + path + ": " + strerror(errno);
  }
  // The type as the kernel has it cached: a mount whose server has ended
  // is not asked.
  struct statx held;
  if (statx(folder_, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_TYPE, &held) != 0) {
    return "cannot use " + path + ": " + strerror(errno);
  }
  if (S_ISLNK(held.stx_mode)) return path + " is a symbolic link; name the folder itself";
  if (!S_ISDIR(held.stx_mode)) return path + " is not a folder";
  return "";
}

void HeldFolder::Release() {
  if (folder_ >= 0) close(folder_);
  folder_ = -1;
}

std::string HeldFolder::Exact() const { return FdPath(folder_); }

std::string HeldFolder::InParent() const { return FdPath(parent_) + "/" + name_; }

uint64_t HeldFolder::MountId() const { return MountIdOf(folder_); }

bool HeldFolder::IsMountRoot() const {
  const uint64_t own = MountIdOf(folder_);
  return own != 0 && own != MountIdOf(parent_);
}

bool HeldFolder::Empty() const {
  const int fd = openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* folder = fd >= 0 ? fdopendir(fd) : nullptr;
  if (folder == nullptr) {
    if (fd >= 0) close(fd);
    return false;
  }
  bool empty = true;
  while (const dirent* entry = readdir(folder)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) empty = false;
  }
  closedir(folder);
  return empty;
}

bool HeldFolder::MountOnTop(MountEntry* entry) const {
  char place[4096];
  const ssize_t length = readlink(Exact().c_str(), place, sizeof place - 1);
  if (length <= 0) return false;
  place[length] = '\0';
  const uint64_t own = MountIdOf(folder_);
  bool found = false;
  for (const MountEntry& mount : ReadMounts()) {
    if (mount.parent == own && mount.mountPoint == place) {
      *entry = mount;  // the last one is on top
      found = true;
    }
  }
  return found;
}

uint64_t HeldFolder::MountIdNow() const {
  const int fd = openat(parent_, name_.c_str(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  const uint64_t id = MountIdOf(fd);
  close(fd);
  return id;
}

int AttachLoop(int backingFd, bool readOnly, int* device) {
  const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  if (control < 0) return -1;
  int number = -1;
  // Another program may take the free device first: try the next one.
  for (int attempt = 0; attempt < 8 && number < 0; ++attempt) {
    const int free = ioctl(control, LOOP_CTL_GET_FREE);
    if (free < 0) break;
    const std::string path = "/dev/loop" + std::to_string(free);
    const int fd = open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0) break;
    struct loop_config config = {};
    config.fd = static_cast<uint32_t>(backingFd);
    // Direct I/O: the file system's pages are cached once, above the loop
    // device, not a second time in the disk file's cache below it.
    config.info.lo_flags =
        LO_FLAGS_AUTOCLEAR | LO_FLAGS_DIRECT_IO | (readOnly ? LO_FLAGS_READ_ONLY : 0);
    const std::string name = FdPath(backingFd);
    char target[LO_NAME_SIZE] = {};
    const ssize_t length = readlink(name.c_str(), target, sizeof target - 1);
    if (length > 0) memcpy(config.info.lo_file_name, target, static_cast<size_t>(length));
    int result = ioctl(fd, LOOP_CONFIGURE, &config);
    if (result != 0 && errno == EINVAL) {
      config.info.lo_flags &= ~LO_FLAGS_DIRECT_IO;
      result = ioctl(fd, LOOP_CONFIGURE, &config);
    }
    if (result == 0) {
      number = free;
      *device = fd;
    } else {
      const int error = errno;
      close(fd);
      errno = error;
      if (error != EBUSY) break;
    }
  }
  const int error = errno;
  close(control);
  errno = error;
  return number;
}

bool LoopBacking(int number, std::string* name) {
  const int fd = open(("/dev/loop" + std::to_string(number)).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct loop_info64 info = {};
  const bool known = ioctl(fd, LOOP_GET_STATUS64, &info) == 0;
  close(fd);
  if (!known) return false;
  info.lo_file_name[LO_NAME_SIZE - 1] = 0;
  *name = reinterpret_cast<const char*>(info.lo_file_name);
  return true;
}
