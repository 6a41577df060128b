// What the Linux mount knows of the system's mounts, and how it holds the
// folder it mounts on or unmounts: by descriptor, never by a path that
// another user could change between a check and its use.
#pragma once
#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

// One line of /proc/self/mountinfo.
struct MountEntry {
  uint64_t id = 0;
  uint64_t parent = 0;
  dev_t device = 0;        // the file system's device (major:minor)
  std::string root;        // the file system's folder that is mounted
  std::string mountPoint;  // relative to this process's root
  std::string type;        // "ext4", "fuse.velmorcrypt", ...
  std::string source;
  std::string superOptions;  // "rw,user_id=0,group_id=0"
};

// Parses mountinfo text (fields with blanks and backslashes written as
// octal escapes); lines it cannot read are left out.
std::vector<MountEntry> ParseMountInfo(const std::string& text);
// The mounts as this process sees them now.
std::vector<MountEntry> ReadMounts();
// The mount with `id`, or false when there is none (any more).
bool FindMount(uint64_t id, MountEntry* entry);
// The value of `name` in a comma-separated option list ("user_id" in
// "rw,user_id=0"), or "" when it is not there.
std::string MountOption(const std::string& options, const std::string& name);

// A folder named by the user, held from the moment it was named: its parent
// and the folder itself by descriptor (O_PATH), and the folder's name in its
// parent. The last component is never followed when it is a symbolic link;
// a folder held here stays the same folder whatever is renamed or swapped
// in its path afterwards, and a name with a mount on it cannot be renamed
// or removed.
class HeldFolder {
 public:
  HeldFolder() = default;
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;
  ~HeldFolder();

  // Opens `path`; answers an error text, or "" when it is a folder.
  std::string Hold(const std::string& path);
  const std::string& Path() const { return path_; }
  int Fd() const { return folder_; }
  int ParentFd() const { return parent_; }
  const std::string& Name() const { return name_; }
  // Lets go of the folder itself (the parent stays held): a descriptor in
  // a mount keeps it busy.
  void Release();
  // A path that reaches exactly the held folder ("/proc/self/fd/N").
  std::string Exact() const;
  // A path that reaches whatever is mounted on the held folder's name in
  // its held parent, the name itself never followed as a link.
  std::string InParent() const;
  // The id of the mount that the held folder lies in, without asking its
  // file system (a dead FUSE server cannot block it); 0 when unknown.
  uint64_t MountId() const;
  // Whether the held folder is the root of a mount (something is mounted
  // on the name).
  bool IsMountRoot() const;
  // Whether the folder holds no entry; false when it cannot be read.
  bool Empty() const;
  // The mount that was made on the held folder itself (its parent mount is
  // the folder's, its mount point the folder's place), or false.
  bool MountOnTop(MountEntry* entry) const;
  // Opens the name in the held parent again, never following a link, and
  // answers the mount id it lies in now (0 when it cannot be opened).
  uint64_t MountIdNow() const;

 private:
  std::string path_;
  std::string name_;
  int parent_ = -1;
  int folder_ = -1;
};

// The loop devices (root only): a loop device over an open file, detached
// automatically at its last close, so that a mount on it keeps it and its
// unmount frees it. Answers the device's number, or -1 with errno set; the
// device's descriptor goes to `*device`.
int AttachLoop(int backingFd, bool readOnly, int* device);
// The name of the file behind loop device `number` as it was given when it
// was attached (only root attaches); false when it has none.
bool LoopBacking(int number, std::string* name);
