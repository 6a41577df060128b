#include "linux-mount/file_systems.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <sstream>
#include <vector>

#include "linux-mount/programs.h"

namespace {

struct KnownFileSystem {
  const char* type;           // libblkid's name
  const char* name;           // for people
  const char* kernel;         // the kernel's driver
  ViewServer fuse;            // the maintained FUSE server, if any
  const char* program;        // its program
  const char* package;        // its Debian package
  bool rootNeedsBlockDevice;  // the program, run by root, takes only a block device
};

constexpr KnownFileSystem kKnown[] = {
    {"vfat", "FAT", "vfat", ViewServer::kNone, nullptr, nullptr, false},
    {"exfat", "exFAT", "exfat", ViewServer::kExfatFuse, "mount.exfat-fuse", "exfat-fuse", true},
    {"ntfs", "NTFS", "ntfs3", ViewServer::kNtfs3g, "ntfs-3g", "ntfs-3g", false},
    {"ext2", "ext2", "ext2", ViewServer::kFuse2fs, "fuse2fs", "fuse2fs", false},
    {"ext3", "ext3", "ext3", ViewServer::kFuse2fs, "fuse2fs", "fuse2fs", false},
    {"ext4", "ext4", "ext4", ViewServer::kFuse2fs, "fuse2fs", "fuse2fs", false},
    {"xfs", "XFS", "xfs", ViewServer::kNone, nullptr, nullptr, false},
    {"btrfs", "Btrfs", "btrfs", ViewServer::kNone, nullptr, nullptr, false},
};

const KnownFileSystem* Known(const std::string& type) {
  for (const KnownFileSystem& known : kKnown) {
    if (type == known.type) return &known;
  }
  return nullptr;
}

// Why nothing here serves the file system, and what would.
std::string NoServerReason(const KnownFileSystem& known, const ServerInputs& inputs) {
  const bool kernelHasIt = inputs.kernel.count(known.kernel) != 0;
  const std::string disk = "; --disk shows the raw disk as FOLDER/volume";
  if (known.fuse == ViewServer::kNone && std::string(known.type) == "vfat") {
    return std::string("the volume holds a FAT file system, which ") +
           (kernelHasIt ? "only the kernel's vfat shows as a folder: mount as root (sudo), or "
                        : "this machine cannot show as a folder (its kernel has no vfat, and no "
                          "FUSE server writes FAT safely): ") +
           "mount with --disk and use mtools on FOLDER/volume (mdir -i FOLDER/volume)";
  }
  std::string reason = std::string("the volume holds ") + known.name + ", which ";
  if (known.program != nullptr) {
    reason += std::string("needs ") + known.program + " (install the Debian package " +
              known.package + ")";
    if (!inputs.root && kernelHasIt) reason += std::string(" or a mount as root (sudo)");
  } else if (kernelHasIt) {
    reason += "only the kernel shows as a folder: mount as root (sudo)";
  } else {
    reason += std::string("this kernel cannot show (no ") + known.kernel + " driver)";
  }
  return reason + disk;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  lseek(fd, 0, SEEK_SET);
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  return text;
}

// The last line a tool wrote that says something.
std::string LastLine(const std::string& text) {
  std::istringstream lines(text);
  std::string line, last;
  while (std::getline(lines, line)) {
    if (line.find_first_not_of(" \t") != std::string::npos) last = line;
  }
  return last;
}

}  // namespace

ServerChoice ChooseServer(const ServerInputs& inputs) {
  ServerChoice choice;
  const KnownFileSystem* known = Known(inputs.type);
  if (known == nullptr) {
    choice.reason = "the volume holds a file system (" + inputs.type +
                    ") that velmorcrypt-cli cannot show as a folder; --disk shows the raw disk "
                    "as FOLDER/volume";
    return choice;
  }
  const bool kernel = inputs.root && inputs.kernel.count(known->kernel) != 0;
  const bool fuse = known->program != nullptr && inputs.installed(known->program);
  if (kernel && (!inputs.preferFuse || !fuse)) {
    choice.server = ViewServer::kKernel;
    choice.kernelType = known->kernel;
  } else if (fuse) {
    choice.server = known->fuse;
    choice.program = known->program;
    choice.blockDevice = inputs.root && known->rootNeedsBlockDevice;
  } else {
    choice.reason = NoServerReason(*known, inputs);
  }
  return choice;
}

std::set<std::string> KernelFileSystems(const std::string& procFilesystems,
                                        const std::string& modules) {
  std::set<std::string> types;
  std::istringstream lines(procFilesystems);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word, last;
    while (words >> word) last = word;
    if (!last.empty()) types.insert(last);
  }
  // "kernel/fs/fat/vfat.ko.xz: kernel/fs/fat/fat.ko.xz": a module of a
  // file system lies under fs/ and is named after it.
  std::istringstream paths(modules);
  while (std::getline(paths, line)) {
    const std::string path = line.substr(0, line.find(':'));
    if (path.find("/fs/") == std::string::npos) continue;
    std::string name = path.substr(path.rfind('/') + 1);
    name = name.substr(0, name.find(".ko"));
    if (!name.empty()) types.insert(name);
  }
  return types;
}

std::set<std::string> MachineKernelFileSystems() {
  struct utsname system;
  std::string modules;
  if (uname(&system) == 0) {
    const std::string folder = std::string("/lib/modules/") + system.release + "/";
    for (const char* list : {"modules.dep", "modules.builtin"}) {
      const int fd = open((folder + list).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      modules += ReadAll(fd);
      close(fd);
    }
  }
  const int fd = open("/proc/filesystems", O_RDONLY | O_CLOEXEC);
  const std::string proc = fd >= 0 ? ReadAll(fd) : "";
  if (fd >= 0) close(fd);
  return KernelFileSystems(proc, modules);
}

bool ProgramInstalled(const char* program) { return !FindProgram(program).empty(); }

std::string DetectFileSystem(int fd) {
  blkid_probe probe = blkid_new_probe();
  if (probe == nullptr) return "";
  const char* type = "";
  if (blkid_probe_set_device(probe, fd, 0, 0) == 0) {
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE);
    const int result = blkid_do_safeprobe(probe);
    const char* value = nullptr;
    if (result == 0 && blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0) {
      type = value;
    } else if (result == -2) {
      type = "?";
    }
  }
  // Copied before the probe that owns the value goes.
  std::string answer(type);
  blkid_free_probe(probe);
  return answer;
}

std::string KernelMountOptions(const std::string& kernelType, unsigned uid, unsigned gid) {
  const std::string owner =
      "uid=" + std::to_string(uid) + ",gid=" + std::to_string(gid) + ",umask=077";
  if (kernelType == "vfat") return owner + ",utf8";
  if (kernelType == "exfat" || kernelType == "ntfs3") return owner;
  return "";
}

uint64_t NewFileSystemMemory(NewFileSystem type, uint64_t size) {
  constexpr uint64_t kKiB = 1024, kMiB = 1024 * kKiB, kGiB = 1024 * kMiB;
  // The tools' default cluster sizes grow with the disk.
  const auto clusters = [size](uint64_t clusterSize) {
    return (size + clusterSize - 1) / clusterSize;
  };
  switch (type) {
    case NewFileSystem::kFat: {
      const uint64_t cluster = size <= 8 * kGiB    ? 4 * kKiB
                               : size <= 16 * kGiB ? 8 * kKiB
                               : size <= 32 * kGiB ? 16 * kKiB
                                                   : 32 * kKiB;
      return 2 * 4 * clusters(cluster) + kMiB;
    }
    case NewFileSystem::kExfat: {
      const uint64_t cluster = size <= 256 * kMiB  ? 4 * kKiB
                               : size <= 32 * kGiB ? 32 * kKiB
                                                   : 128 * kKiB;
      return 4 * clusters(cluster) + clusters(cluster) / 8 + 4 * kMiB;
    }
    case NewFileSystem::kNtfs:
      return 64 * kMiB + clusters(4 * kKiB) / 8 + 8 * kMiB;
    case NewFileSystem::kExt4:
      return 16 * kMiB + size / 65536;
    case NewFileSystem::kNone:
      break;
  }
  return 0;
}

namespace {

// The memory the machine has free for new pages (MemAvailable), or 0 when
// it does not say.
uint64_t AvailableMemory() {
  const int fd = open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
  const std::string text = fd >= 0 ? ReadAll(fd) : "";
  if (fd >= 0) close(fd);
  const size_t at = text.find("MemAvailable:");
  return at == std::string::npos ? 0 : strtoull(text.c_str() + at + 13, nullptr, 10) * 1024;
}

}  // namespace

int MakeFileSystemImage(NewFileSystem type, uint64_t size, std::string* error) {
  const uint64_t needed = NewFileSystemMemory(type, size);
  const uint64_t available = AvailableMemory();
  if (available != 0 && needed > available) {
    *error = "making this file system takes up to " + std::to_string(needed >> 20) +
             " MiB of memory, and " + std::to_string(available >> 20) +
             " MiB are free; make a smaller volume, or free memory";
    return -1;
  }
  static const struct {
    NewFileSystem type;
    const char* program;
    const char* package;
    std::vector<const char*> options;
  } kTools[] = {
      {NewFileSystem::kFat, "mkfs.fat", "dosfstools", {}},
      {NewFileSystem::kExfat, "mkfs.exfat", "exfatprogs", {}},
      // A quick format (the disk reads as zeros already), forced onto a file.
      {NewFileSystem::kNtfs, "mkntfs", "ntfs-3g", {"-Q", "-F", "-q"}},
      {NewFileSystem::kExt4, "mkfs.ext4", "e2fsprogs", {"-q", "-F"}},
  };
  for (const auto& tool : kTools) {
    if (tool.type != type) continue;
    const std::string program = FindProgram(tool.program);
    if (program.empty()) {
      *error =
          std::string(tool.program) + " is not installed (Debian package " + tool.package + ")";
      return -1;
    }
    int image = memfd_create("velmorcrypt-format", MFD_CLOEXEC);
    const int messages = memfd_create("velmorcrypt-format-messages", MFD_CLOEXEC);
    if (image < 0 || messages < 0 || ftruncate(image, static_cast<off_t>(size)) != 0) {
      *error = std::string("no memory for the new file system: ") + strerror(errno);
      if (image >= 0) close(image);
      if (messages >= 0) close(messages);
      return -1;
    }
    // The tool finds the image as its descriptor 3.
    std::vector<std::string> arguments = {tool.program};
    for (const char* option : tool.options) arguments.push_back(option);
    arguments.push_back("/proc/self/fd/3");
    const ProgramRun run = RunProgram(program, arguments, {{image, 3}, {messages, 2}});
    if (!run.succeeded) {
      const std::string said = LastLine(ReadAll(messages));
      *error = std::string(tool.program) + " could not make the file system" +
               (said.empty() ? "" : ": " + said);
      close(image);
      image = -1;
    }
    close(messages);
    return image;
  }
  *error = "no file system to make";
  return -1;
}
