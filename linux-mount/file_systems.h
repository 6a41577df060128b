// The file systems a volume can hold on Linux, which program serves each
// as a folder on this machine, and how a new volume gets one. We never
// write a file system of our own: the kernel's drivers, Debian's FUSE
// servers and its mkfs tools do.
#pragma once
#include <stdint.h>

#include <functional>
#include <set>
#include <string>

#include "linux-mount/mount.h"

// Who shows a volume's files in the folder.
enum class ViewServer {
  kNone,       // nothing on this machine: `reason` says what to do
  kKernel,     // the kernel's own driver on a loop device (root only)
  kFuse2fs,    // fuse2fs (e2fsprogs): ext2/3/4
  kNtfs3g,     // ntfs-3g: NTFS
  kExfatFuse,  // exfat-fuse: exFAT
};

// What the choice depends on: the machine, the caller and the user's wish.
struct ServerInputs {
  std::string type;              // as libblkid names it: "vfat", "exfat", "ntfs", "ext4", ...
  bool root = false;             // the caller may mount kernel file systems and loop devices
  std::set<std::string> kernel;  // file systems the kernel has or can load
  bool preferFuse = false;       // --fuse: a FUSE server even where the kernel could serve
  std::function<bool(const char*)> installed;  // whether a program is on the PATH
};

struct ServerChoice {
  ViewServer server = ViewServer::kNone;
  std::string kernelType;    // the kernel's name for the file system ("ntfs3" for "ntfs")
  std::string program;       // the FUSE server's program
  bool blockDevice = false;  // it reads the disk through a loop device (else as a file)
  std::string reason;        // for kNone: why, and what would serve it
};

// Decides who serves `inputs.type`, in this order: as root, the kernel's
// driver; else the maintained FUSE server from Debian where it is
// installed; else (also as root with --fuse and no FUSE server) the kernel;
// else nothing, with the reason. FAT has no FUSE server that writes safely:
// without the kernel's vfat it is reached with --disk and mtools.
ServerChoice ChooseServer(const ServerInputs& inputs);

// The file systems the running kernel has or can load: those in
// /proc/filesystems and those its modules provide (modules.dep and
// modules.builtin of /lib/modules/RELEASE), from their texts.
std::set<std::string> KernelFileSystems(const std::string& procFilesystems,
                                        const std::string& modules);
// The same for this machine.
std::set<std::string> MachineKernelFileSystems();
// Whether `program` is found on the PATH.
bool ProgramInstalled(const char* program);

// The file system type that libblkid finds on the disk open as `fd`: ""
// when it finds none, "?" when the signatures contradict each other.
std::string DetectFileSystem(int fd);

// The options a kernel mount gets: FAT, exFAT and NTFS belong to the user
// `uid`/`gid` (the one who ran sudo) and to nobody else; names are UTF-8.
std::string KernelMountOptions(const std::string& kernelType, unsigned uid, unsigned gid);

// Makes a file system of `type` for a disk of `size` bytes in memory (a
// memfd that never reaches a disk unencrypted), with the mkfs tool from
// Debian. Answers the memfd's descriptor, or -1 with the reason in `error`
// (also when the machine lacks the memory it would take).
int MakeFileSystemImage(NewFileSystem type, uint64_t size, std::string* error);

// At most the memory that making a file system of `type` for a disk of
// `size` bytes takes: what the tool writes into the image, whose other
// bytes stay holes. FAT writes both its tables whole (4 bytes a cluster of
// up to 32 KiB), exFAT its table and bitmap (clusters of up to 128 KiB),
// NTFS its log (up to 64 MiB) and cluster bitmap; ext4 leaves its inode
// tables and journal to be set up later. For the largest volume (999999
// MB) that is about 250 MiB for FAT and at most about 100 MiB otherwise.
uint64_t NewFileSystemMemory(NewFileSystem type, uint64_t size);
