// The program's state between runs, in memory: the option flags, the recently
// mounted list and the program's folder. Plain data and rules, no registry
// access (that is settings_store.h), so it builds and is tested everywhere.
#pragma once
#include <stdint.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

// The three check boxes of the Options page, named after their stored values.
// Each is 0 (off) or 1 (on); all three start on.
struct OptionFlags {
  int32_t RememberLastDirectory = 1;
  int32_t RememberMountedDrives = 1;
  int32_t ExploreDrivesAfterMounting = 1;
};

// One mounted volume: its path exactly as the user gave it, and the drive it
// was mounted on ("E:"). Both are empty in a free slot.
struct RecentEntry {
  std::string volumePath;
  std::string drive;
};

inline constexpr int kRecentSlotCount = 10;

// Most recently added first. Used slots come first: once a slot has an empty
// volume path, every later slot is free too. Volume paths are unique, compared
// as exact byte strings.
struct RecentlyMountedList {
  std::array<RecentEntry, kRecentSlotCount> slots;
};

// Records a mount. A listed volume keeps its place and takes the new drive;
// a new one goes to slot 0 and pushes the others down (the one in the last
// slot is dropped). Returns false when the list is left unchanged: the volume
// is listed with the same drive, or the path is empty (an empty path would
// mark a free slot in front of used ones).
bool AddRecentEntry(RecentlyMountedList& list, const std::string& volumePath,
                    const std::string& drive);

// The number of used slots at the front of the list.
int UsedSlotCount(const RecentlyMountedList& list);

// The name of the stored value of a slot: "Entry0" to "Entry9".
std::string RecentEntryValueName(int slot);

// The stored form of an entry: drive, comma, volume path ("E:,D:\vault\a.vmv").
std::string FormatRecentEntry(const RecentEntry& entry);

// Splits a stored value: the drive is its first two characters, the third
// separates (it is not checked), the volume path is the rest. False for a
// value too short to hold a non-empty path.
bool ParseRecentEntry(std::string_view value, RecentEntry* entry);

// Adds stored values, given in slot order (Entry0 first), to the list from
// the last to the first, so that the list ends in the stored order. Values
// that do not parse are skipped.
void AddStoredRecentEntries(RecentlyMountedList& list, const std::vector<std::string>& values);

// The program's folder from its module file name: the last path component is
// removed and a backslash appended ("C:\Tools\vm.exe" gives "C:\Tools\").
// Empty when the name holds no backslash (no folder can be told).
std::string AppDirectoryFromModulePath(std::string_view modulePath);
