// The recently mounted list's rules, the stored form of its entries and the
// program's folder.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::string VolumeName(int i) { return "D:\\vault\\volume" + std::to_string(i) + ".vmv"; }

// The list's invariants: used slots first, unique paths.
void ExpectWellFormed(const RecentlyMountedList& list) {
  const int used = UsedSlotCount(list);
  std::set<std::string> paths;
  for (int i = 0; i < kRecentSlotCount; ++i) {
    const RecentEntry& slot = list.slots[i];
    if (i < used) {
      EXPECT_TRUE(paths.insert(slot.volumePath).second) << "duplicate " << slot.volumePath;
    } else {
      EXPECT_TRUE(slot.volumePath.empty()) << "slot " << i << " after a free slot";
      EXPECT_TRUE(slot.drive.empty()) << "slot " << i;
    }
  }
}

std::vector<std::string> SavedValues(const RecentlyMountedList& list) {
  std::vector<std::string> values;
  for (int i = 0; i < UsedSlotCount(list); ++i) values.push_back(FormatRecentEntry(list.slots[i]));
  return values;
}

TEST(OptionFlagsTest, AllStartOn) {
  const OptionFlags flags;
  EXPECT_EQ(flags.RememberLastDirectory, 1);
  EXPECT_EQ(flags.RememberMountedDrives, 1);
  EXPECT_EQ(flags.ExploreDrivesAfterMounting, 1);
}

TEST(AddRecentEntryTest, NewVolumesGoToTheFront) {
  RecentlyMountedList list;
  EXPECT_EQ(UsedSlotCount(list), 0);
  EXPECT_TRUE(AddRecentEntry(list, "C:\\a.vmv", "E:"));
  EXPECT_TRUE(AddRecentEntry(list, "C:\\b.vmv", "F:"));
  ASSERT_EQ(UsedSlotCount(list), 2);
  EXPECT_EQ(list.slots[0].volumePath, "C:\\b.vmv");
  EXPECT_EQ(list.slots[0].drive, "F:");
  EXPECT_EQ(list.slots[1].volumePath, "C:\\a.vmv");
  EXPECT_EQ(list.slots[1].drive, "E:");
  ExpectWellFormed(list);
}

TEST(AddRecentEntryTest, SamePathOnAnotherDriveReplacesTheDriveInPlace) {
  RecentlyMountedList list;
  AddRecentEntry(list, "C:\\p.vmv", "E:");
  AddRecentEntry(list, "C:\\q.vmv", "G:");
  AddRecentEntry(list, "C:\\r.vmv", "H:");
  EXPECT_TRUE(AddRecentEntry(list, "C:\\p.vmv", "F:"));
  ASSERT_EQ(UsedSlotCount(list), 3);
  EXPECT_EQ(list.slots[0].volumePath, "C:\\r.vmv");
  EXPECT_EQ(list.slots[1].volumePath, "C:\\q.vmv");
  EXPECT_EQ(list.slots[2].volumePath, "C:\\p.vmv");
  EXPECT_EQ(list.slots[2].drive, "F:");
  ExpectWellFormed(list);
}

TEST(AddRecentEntryTest, SamePathAndDriveChangesNothing) {
  RecentlyMountedList list;
  AddRecentEntry(list, "C:\\p.vmv", "E:");
  AddRecentEntry(list, "C:\\q.vmv", "G:");
  const RecentlyMountedList before = list;
  EXPECT_FALSE(AddRecentEntry(list, "C:\\p.vmv", "E:"));
  for (int i = 0; i < kRecentSlotCount; ++i) {
    EXPECT_EQ(list.slots[i].volumePath, before.slots[i].volumePath) << "slot " << i;
    EXPECT_EQ(list.slots[i].drive, before.slots[i].drive) << "slot " << i;
  }
}

TEST(AddRecentEntryTest, EleventhVolumePushesOutTheFirst) {
  RecentlyMountedList list;
  for (int i = 0; i < kRecentSlotCount + 1; ++i) {
    EXPECT_TRUE(AddRecentEntry(list, VolumeName(i), "E:"));
  }
  ASSERT_EQ(UsedSlotCount(list), kRecentSlotCount);
  for (int slot = 0; slot < kRecentSlotCount; ++slot) {
    EXPECT_EQ(list.slots[slot].volumePath, VolumeName(kRecentSlotCount - slot)) << "slot " << slot;
  }
  ExpectWellFormed(list);
}

TEST(AddRecentEntryTest, ComparisonIsExactAndCaseSensitive) {
  RecentlyMountedList list;
  EXPECT_TRUE(AddRecentEntry(list, "C:\\Vault.vmv", "E:"));
  EXPECT_TRUE(AddRecentEntry(list, "c:\\vault.vmv", "E:"));
  EXPECT_TRUE(AddRecentEntry(list, "C:\\Vault.vmv ", "E:"));
  EXPECT_EQ(UsedSlotCount(list), 3);
  // The drive is compared exactly as well: "e:" is another drive text.
  EXPECT_TRUE(AddRecentEntry(list, "C:\\Vault.vmv", "e:"));
  EXPECT_EQ(list.slots[2].drive, "e:");
  EXPECT_EQ(UsedSlotCount(list), 3);
  ExpectWellFormed(list);
}

TEST(AddRecentEntryTest, EmptyPathIsRefused) {
  RecentlyMountedList list;
  AddRecentEntry(list, "C:\\a.vmv", "E:");
  EXPECT_FALSE(AddRecentEntry(list, "", "F:"));
  ASSERT_EQ(UsedSlotCount(list), 1);
  EXPECT_EQ(list.slots[0].volumePath, "C:\\a.vmv");
  ExpectWellFormed(list);
}

TEST(StoredFormTest, ValueNames) {
  EXPECT_EQ(RecentEntryValueName(0), "Entry0");
  EXPECT_EQ(RecentEntryValueName(9), "Entry9");
}

TEST(StoredFormTest, FormatIsDriveCommaPath) {
  EXPECT_EQ(FormatRecentEntry({"D:\\vault\\work.vmv", "E:"}), "E:,D:\\vault\\work.vmv");
}

TEST(StoredFormTest, ParseSplitsDriveSeparatorAndPath) {
  RecentEntry entry;
  ASSERT_TRUE(ParseRecentEntry("E:,D:\\vault\\work.vmv", &entry));
  EXPECT_EQ(entry.drive, "E:");
  EXPECT_EQ(entry.volumePath, "D:\\vault\\work.vmv");
  // The separator is not checked, and commas in the path are kept.
  ASSERT_TRUE(ParseRecentEntry("F:;C:\\a,b.vmv", &entry));
  EXPECT_EQ(entry.drive, "F:");
  EXPECT_EQ(entry.volumePath, "C:\\a,b.vmv");
  ASSERT_TRUE(ParseRecentEntry("G:,x", &entry));
  EXPECT_EQ(entry.volumePath, "x");
}

TEST(StoredFormTest, ParseRefusesValuesWithoutAPath) {
  RecentEntry entry{"kept", "K:"};
  for (const char* value : {"", "E", "E:", "E:,"}) {
    EXPECT_FALSE(ParseRecentEntry(value, &entry)) << '"' << value << '"';
  }
  EXPECT_EQ(entry.volumePath, "kept");
  EXPECT_EQ(entry.drive, "K:");
}

TEST(StoredEntriesTest, SaveFormatThenParseGivesTheSameList) {
  RecentlyMountedList list;
  for (int i = 0; i < 7; ++i) AddRecentEntry(list, VolumeName(i), std::string(1, 'E' + i) + ":");
  AddRecentEntry(list, VolumeName(2), "Z:");

  RecentlyMountedList loaded;
  AddStoredRecentEntries(loaded, SavedValues(list));
  ASSERT_EQ(UsedSlotCount(loaded), UsedSlotCount(list));
  for (int i = 0; i < kRecentSlotCount; ++i) {
    EXPECT_EQ(loaded.slots[i].volumePath, list.slots[i].volumePath) << "slot " << i;
    EXPECT_EQ(loaded.slots[i].drive, list.slots[i].drive) << "slot " << i;
  }
}

TEST(StoredEntriesTest, FullListSurvivesTheRoundTrip) {
  RecentlyMountedList list;
  for (int i = 0; i < 15; ++i) AddRecentEntry(list, VolumeName(i), "Q:");
  RecentlyMountedList loaded;
  AddStoredRecentEntries(loaded, SavedValues(list));
  EXPECT_EQ(SavedValues(loaded), SavedValues(list));
}

TEST(StoredEntriesTest, MalformedValuesAreSkippedAndTheOrderKept) {
  RecentlyMountedList list;
  AddStoredRecentEntries(
      list, {"E:,C:\\one.vmv", "F:", "G:,", "H:,C:\\two.vmv", "x", "I:,C:\\three.vmv"});
  ASSERT_EQ(UsedSlotCount(list), 3);
  EXPECT_EQ(FormatRecentEntry(list.slots[0]), "E:,C:\\one.vmv");
  EXPECT_EQ(FormatRecentEntry(list.slots[1]), "H:,C:\\two.vmv");
  EXPECT_EQ(FormatRecentEntry(list.slots[2]), "I:,C:\\three.vmv");
  ExpectWellFormed(list);
}

// Entries are added from the last stored to the first: a path stored twice
// keeps the place of its later copy and the drive of its earlier one.
TEST(StoredEntriesTest, DuplicatePathsGiveOneEntry) {
  RecentlyMountedList list;
  AddStoredRecentEntries(list, {"E:,C:\\a.vmv", "F:,C:\\b.vmv", "G:,C:\\a.vmv"});
  ASSERT_EQ(UsedSlotCount(list), 2);
  EXPECT_EQ(FormatRecentEntry(list.slots[0]), "F:,C:\\b.vmv");
  EXPECT_EQ(FormatRecentEntry(list.slots[1]), "E:,C:\\a.vmv");
  ExpectWellFormed(list);
}

TEST(StoredEntriesTest, LoadingAddsToWhatTheListHolds) {
  RecentlyMountedList list;
  AddRecentEntry(list, "C:\\earlier.vmv", "K:");
  AddStoredRecentEntries(list, {"E:,C:\\one.vmv", "F:,C:\\two.vmv"});
  ASSERT_EQ(UsedSlotCount(list), 3);
  EXPECT_EQ(list.slots[0].volumePath, "C:\\one.vmv");
  EXPECT_EQ(list.slots[1].volumePath, "C:\\two.vmv");
  EXPECT_EQ(list.slots[2].volumePath, "C:\\earlier.vmv");
}

TEST(AppDirectoryTest, DropsTheFileNameAndKeepsTheBackslash) {
  EXPECT_EQ(AppDirectoryFromModulePath("C:\\Tools\\Velmorcrypt\\velmorcrypt.exe"),
            "C:\\Tools\\Velmorcrypt\\");
  EXPECT_EQ(AppDirectoryFromModulePath("E:\\velmorcrypt.exe"), "E:\\");
  EXPECT_EQ(AppDirectoryFromModulePath("\\\\server\\share\\vm.exe"), "\\\\server\\share\\");
}

TEST(AppDirectoryTest, NoFolderGivesEmpty) {
  EXPECT_EQ(AppDirectoryFromModulePath(""), "");
  EXPECT_EQ(AppDirectoryFromModulePath("velmorcrypt.exe"), "");
}

}  // namespace
