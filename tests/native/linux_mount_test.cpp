// Who shows a volume's files, for a given machine and caller, and how the
// mount table and the kernel's file system lists are read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <tuple>

#include "linux-mount/file_systems.h"
#include "linux-mount/mount_table.h"

namespace {

// A kernel like this machine's (no vfat, exfat or ntfs3) and one like a
// desktop's, whose modules provide them.
const std::set<std::string> kServerKernel = {"ext2", "ext3", "ext4", "xfs", "btrfs", "fuse"};
const std::set<std::string> kDesktopKernel = {"ext4", "vfat", "exfat", "ntfs3", "fuse"};

TEST(ChooseServerTest, EachFileSystemByTheWayTheMachineOffersIt) {
  const struct {
    const char* type;
    bool root;
    const std::set<std::string>* kernel;
    bool preferFuse;
    bool fuseInstalled;
    ViewServer expected;
    const char* reasonHas;  // for kNone
  } rows[] = {
      {"ext4", true, &kServerKernel, false, true, ViewServer::kKernel, ""},
      {"ext4", true, &kServerKernel, true, true, ViewServer::kFuse2fs, ""},
      {"ext4", true, &kServerKernel, true, false, ViewServer::kKernel, ""},
      {"ext4", false, &kServerKernel, false, true, ViewServer::kFuse2fs, ""},
      {"ext4", false, &kServerKernel, false, false, ViewServer::kNone,
       "install the Debian package fuse2fs"},
      {"exfat", true, &kServerKernel, false, true, ViewServer::kExfatFuse, ""},
      {"exfat", true, &kDesktopKernel, false, true, ViewServer::kKernel, ""},
      {"exfat", false, &kDesktopKernel, false, false, ViewServer::kNone, "or a mount as root"},
      {"ntfs", true, &kServerKernel, false, true, ViewServer::kNtfs3g, ""},
      {"ntfs", true, &kDesktopKernel, false, true, ViewServer::kKernel, ""},
      {"ntfs", false, &kDesktopKernel, false, true, ViewServer::kNtfs3g, ""},
      {"vfat", true, &kDesktopKernel, false, true, ViewServer::kKernel, ""},
      {"vfat", true, &kServerKernel, false, true, ViewServer::kNone, "kernel has no vfat"},
      {"vfat", false, &kDesktopKernel, false, true, ViewServer::kNone, "mount as root (sudo), or"},
      {"xfs", false, &kServerKernel, false, true, ViewServer::kNone, "only the kernel"},
      {"btrfs", true, &kDesktopKernel, false, true, ViewServer::kNone, "no btrfs driver"},
      {"crypto_LUKS", true, &kServerKernel, false, true, ViewServer::kNone, "(crypto_LUKS)"},
  };
  for (const auto& row : rows) {
    ServerInputs inputs;
    inputs.type = row.type;
    inputs.root = row.root;
    inputs.kernel = *row.kernel;
    inputs.preferFuse = row.preferFuse;
    inputs.installed = [&row](const char*) { return row.fuseInstalled; };
    const ServerChoice choice = ChooseServer(inputs);
    SCOPED_TRACE(std::string(row.type) + (row.root ? " as root" : " as a user"));
    EXPECT_EQ(choice.server, row.expected);
    EXPECT_NE(choice.reason.find(row.reasonHas), std::string::npos) << choice.reason;
    if (row.expected == ViewServer::kKernel) {
      EXPECT_TRUE(row.kernel->count(choice.kernelType));
    }
    // Only exfat-fuse run by root wants a block device; the others read the disk as a file.
    EXPECT_EQ(choice.blockDevice, row.expected == ViewServer::kExfatFuse && row.root);
  }
}

// What each mkfs tool writes into the memory image stays within the bound
// that create checks against the free memory (the rest is holes), and the
// bound for the largest volume (999999 MB) stays small.
TEST(NewFileSystemMemoryTest, ToolsWriteNoMoreThanTheBoundAndTheLargestVolumeIsBounded) {
  constexpr uint64_t kMiB = 1024 * 1024;
  const std::tuple<NewFileSystem, const char*, uint64_t> rows[] = {
      {NewFileSystem::kFat, "mkfs.fat", 256},
      {NewFileSystem::kExfat, "mkfs.exfat", 64},
      {NewFileSystem::kNtfs, "mkntfs", 128},
      {NewFileSystem::kExt4, "mkfs.ext4", 64}};
  for (const auto& [type, tool, largestMiB] : rows) {
    EXPECT_LE(NewFileSystemMemory(type, 999999 * kMiB), largestMiB * kMiB) << tool;
    for (const uint64_t size : {64 * kMiB, 10240 * kMiB}) {
      std::string error;
      const bool installed = ProgramInstalled(tool);  // the mount test names a missing tool
      const int image = installed ? MakeFileSystemImage(type, size, &error) : -1;
      EXPECT_EQ(image >= 0, installed) << error;
      struct stat written = {};
      if (image >= 0) fstat(image, &written);
      EXPECT_LE(static_cast<uint64_t>(written.st_blocks) * 512, NewFileSystemMemory(type, size))
          << tool << " " << size / kMiB << " MiB " << error;
      if (image >= 0) close(image);
    }
  }
}

TEST(KernelFileSystemsTest, ProcFilesystemsAndModules) {
  const std::set<std::string> types = KernelFileSystems(
      "nodev\tsysfs\n\text4\nnodev\tfuse\n",
      "kernel/fs/fat/vfat.ko.xz: kernel/fs/fat/fat.ko.xz\nkernel/fs/ntfs3/ntfs3.ko\n"
      "kernel/drivers/block/loop.ko.zst:\n");
  EXPECT_EQ(types, (std::set<std::string>{"sysfs", "ext4", "fuse", "vfat", "ntfs3"}));
}

TEST(MountTableTest, FieldsWithEscapesAndOptionalTags) {
  const std::vector<MountEntry> mounts = ParseMountInfo(
      "36 35 98:0 / /mnt/my\\040vault rw,noatime master:1 shared:2 - fuse.velmorcrypt velmorcrypt "
      "rw,user_id=1000,group_id=1000\n"
      "40 36 7:3 / /mnt/x rw - ext4 /dev/loop3 rw\n"
      "broken line\n");
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts[0].id, 36u);
  EXPECT_EQ(mounts[0].parent, 35u);
  EXPECT_EQ(mounts[0].mountPoint, "/mnt/my vault");
  EXPECT_EQ(mounts[0].type, "fuse.velmorcrypt");
  EXPECT_EQ(MountOption(mounts[0].superOptions, "user_id"), "1000");
  EXPECT_EQ(MountOption(mounts[0].superOptions, "uid"), "");
  EXPECT_EQ(major(mounts[1].device), 7u);
  EXPECT_EQ(minor(mounts[1].device), 3u);
  EXPECT_EQ(mounts[1].source, "/dev/loop3");
}

}  // namespace
