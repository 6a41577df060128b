// The stored values of the recently mounted list ("Entry0" to "Entry9") and
// the list's rule, driven by a sequence of operations on one list.
//
// Input, repeated to its end: an operation (Byte). Even: a mount,
// AddRecentEntry with a volume path and a drive (Strings). Odd: a load,
// AddStoredRecentEntries with a count (Byte, modulo 12) of stored values
// (Strings).
//
// After every operation the list keeps its invariants: used slots first,
// free slots wholly empty, unique volume paths, at most ten. A mount returns
// false exactly when the list is left unchanged, and acts as the rule says:
// a listed volume takes the new drive in its place, a new one goes to the
// front. A load into an empty list of distinct, well-formed values gives
// back the values in their stored order. A value parses as two characters of
// drive, a separator and a non-empty path, and formatting a parsed entry
// gives the value back but for its separator.
#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "settings/settings.h"

namespace {

constexpr size_t kDriveLength = 2;
constexpr size_t kPathOffset = 3;  // after the drive and its separator
constexpr int kMaxStoredValues = 12;

void CheckInvariants(const RecentlyMountedList& list) {
  std::set<std::string> paths;
  bool freeSeen = false;
  int used = 0;
  for (const RecentEntry& slot : list.slots) {
    if (slot.volumePath.empty()) {
      freeSeen = true;
      FUZZ_CHECK(slot.drive.empty());
      continue;
    }
    FUZZ_CHECK(!freeSeen);
    FUZZ_CHECK(paths.insert(slot.volumePath).second);
    ++used;
  }
  FUZZ_CHECK(UsedSlotCount(list) == used);
  FUZZ_CHECK(used <= kRecentSlotCount);
}

bool SameList(const RecentlyMountedList& a, const RecentlyMountedList& b) {
  for (int i = 0; i < kRecentSlotCount; ++i) {
    if (a.slots[i].volumePath != b.slots[i].volumePath || a.slots[i].drive != b.slots[i].drive) {
      return false;
    }
  }
  return true;
}

// What a mount of `path` on `drive` makes of `before`.
RecentlyMountedList ExpectedAfterMount(const RecentlyMountedList& before, const std::string& path,
                                       const std::string& drive) {
  RecentlyMountedList after = before;
  if (path.empty()) return after;
  for (RecentEntry& slot : after.slots) {
    if (slot.volumePath == path) {
      slot.drive = drive;
      return after;
    }
  }
  for (int i = kRecentSlotCount - 1; i > 0; --i) after.slots[i] = before.slots[i - 1];
  after.slots[0] = {path, drive};
  return after;
}

// Parses one stored value and checks the split against the value itself.
bool ParseValue(const std::string& value, RecentEntry* entry) {
  const bool parsed = ParseRecentEntry(value, entry);
  FUZZ_CHECK(parsed == (value.size() > kPathOffset));
  if (parsed) {
    FUZZ_CHECK(entry->drive == value.substr(0, kDriveLength));
    FUZZ_CHECK(entry->volumePath == value.substr(kPathOffset));
    const std::string formatted = FormatRecentEntry(*entry);
    FUZZ_CHECK(formatted.size() == value.size() && formatted[kDriveLength] == ',');
    FUZZ_CHECK(formatted.compare(0, kDriveLength, value, 0, kDriveLength) == 0);
    FUZZ_CHECK(formatted.compare(kPathOffset, std::string::npos, value, kPathOffset) == 0);
  }
  return parsed;
}

void Load(RecentlyMountedList& list, const std::vector<std::string>& values) {
  // The values are added from the last to the first, each as a mount.
  std::vector<RecentEntry> entries;
  RecentlyMountedList expected = list;
  for (auto value = values.rbegin(); value != values.rend(); ++value) {
    RecentEntry entry;
    if (!ParseValue(*value, &entry)) continue;
    expected = ExpectedAfterMount(expected, entry.volumePath, entry.drive);
    entries.insert(entries.begin(), entry);
  }
  const bool wasEmpty = UsedSlotCount(list) == 0;
  AddStoredRecentEntries(list, values);
  FUZZ_CHECK(SameList(list, expected));

  std::set<std::string> paths;
  for (const RecentEntry& entry : entries) paths.insert(entry.volumePath);
  if (wasEmpty && paths.size() == entries.size() && entries.size() <= kRecentSlotCount) {
    for (size_t i = 0; i < entries.size(); ++i) {
      FUZZ_CHECK(list.slots[i].volumePath == entries[i].volumePath);
      FUZZ_CHECK(list.slots[i].drive == entries[i].drive);
    }
    FUZZ_CHECK(UsedSlotCount(list) == static_cast<int>(entries.size()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  RecentlyMountedList list;
  while (!input.AtEnd()) {
    if (input.Byte() % 2 == 0) {
      const RecentlyMountedList before = list;
      const std::string path = input.String();
      const std::string drive = input.String();
      const bool changed = AddRecentEntry(list, path, drive);
      FUZZ_CHECK(SameList(list, ExpectedAfterMount(before, path, drive)));
      FUZZ_CHECK(changed == !SameList(list, before));
    } else {
      std::vector<std::string> values(input.Byte() % kMaxStoredValues);
      for (std::string& value : values) value = input.String();
      Load(list, values);
    }
    CheckInvariants(list);
  }
  return 0;
}
