#include "settings/settings.h"

#include <stdio.h>

namespace {

// Drive (two characters), separator, then at least one character of path.
constexpr size_t kDriveLength = 2;
constexpr size_t kPathOffset = kDriveLength + 1;

}  // namespace

bool AddRecentEntry(RecentlyMountedList& list, const std::string& volumePath,
                    const std::string& drive) {
  if (volumePath.empty()) return false;
  for (RecentEntry& slot : list.slots) {
    if (slot.volumePath != volumePath) continue;
    if (slot.drive == drive) return false;
    slot.drive = drive;
    return true;
  }
  for (int i = kRecentSlotCount - 1; i > 0; --i) list.slots[i] = std::move(list.slots[i - 1]);
  list.slots[0] = RecentEntry{volumePath, drive};
  return true;
}

int UsedSlotCount(const RecentlyMountedList& list) {
  int count = 0;
  while (count < kRecentSlotCount && !list.slots[count].volumePath.empty()) ++count;
  return count;
}

std::string RecentEntryValueName(int slot) {
  char name[16];
  snprintf(name, sizeof name, "Entry%d", slot);
  return name;
}

std::string FormatRecentEntry(const RecentEntry& entry) {
  return entry.drive + "," + entry.volumePath;
}

bool ParseRecentEntry(std::string_view value, RecentEntry* entry) {
  if (value.size() <= kPathOffset) return false;
  entry->drive = std::string(value.substr(0, kDriveLength));
  entry->volumePath = std::string(value.substr(kPathOffset));
  return true;
}

void AddStoredRecentEntries(RecentlyMountedList& list, const std::vector<std::string>& values) {
  for (auto value = values.rbegin(); value != values.rend(); ++value) {
    RecentEntry entry;
    if (ParseRecentEntry(*value, &entry)) AddRecentEntry(list, entry.volumePath, entry.drive);
  }
}

std::string AppDirectoryFromModulePath(std::string_view modulePath) {
  const size_t lastSeparator = modulePath.rfind('\\');
  if (lastSeparator == std::string_view::npos) return {};
  return std::string(modulePath.substr(0, lastSeparator + 1));
}
