// The settings store against the registry of the test's own Wine prefix. Each
// test starts without the product's keys; the stored values are inspected
// with the registry calls themselves, not through the code under test.
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "settings/auto_dismount_setting.h"
#include "settings/registry_key.h"
#include "settings/settings_store.h"

namespace {

constexpr char kProduct[] = "SOFTWARE\\Kestrane\\Velmorcrypt";
constexpr char kSettings[] = "SOFTWARE\\Kestrane\\Velmorcrypt\\Settings";
constexpr char kRecent[] = "SOFTWARE\\Kestrane\\Velmorcrypt\\RecentlyMountedList";
constexpr char kDirectories[] = "SOFTWARE\\Kestrane\\Velmorcrypt\\LastDirectories";
constexpr const char* kFlagNames[] = {"RememberLastDirectory", "RememberMountedDrives",
                                      "ExploreDrivesAfterMounting"};

struct Stored {
  bool exists = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;

  std::string Text() const {
    return std::string(data.begin(), data.end() - (data.empty() || data.back() != 0 ? 0 : 1));
  }
};

Stored Query(HKEY root, const char* subkey, const char* name) {
  Stored stored;
  HKEY key;
  if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return stored;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &stored.type, nullptr, &size) == ERROR_SUCCESS) {
    stored.data.resize(size);
    stored.exists = RegQueryValueExA(key, name, nullptr, &stored.type, stored.data.data(), &size) ==
                    ERROR_SUCCESS;
    stored.data.resize(size);
  }
  RegCloseKey(key);
  return stored;
}

void Store(HKEY root, const char* subkey, const char* name, DWORD type, const void* data,
           DWORD size) {
  ASSERT_EQ(RegSetKeyValueA(root, subkey, name, type, data, size), ERROR_SUCCESS) << name;
}

void StoreDword(const char* subkey, const char* name, DWORD value) {
  Store(HKEY_CURRENT_USER, subkey, name, REG_DWORD, &value, sizeof value);
}

void StoreString(const char* subkey, const char* name, const std::string& text) {
  Store(HKEY_CURRENT_USER, subkey, name, REG_SZ, text.c_str(), DWORD(text.size() + 1));
}

void ExpectDword(HKEY root, const char* subkey, const char* name, DWORD value) {
  const Stored stored = Query(root, subkey, name);
  ASSERT_TRUE(stored.exists) << name;
  EXPECT_EQ(stored.type, DWORD(REG_DWORD)) << name;
  ASSERT_EQ(stored.data.size(), sizeof(DWORD)) << name;
  DWORD got;
  memcpy(&got, stored.data.data(), sizeof got);
  EXPECT_EQ(got, value) << name;
}

// A REG_SZ with its terminating NUL, nothing more.
void ExpectString(const char* subkey, const char* name, const std::string& text) {
  const Stored stored = Query(HKEY_CURRENT_USER, subkey, name);
  ASSERT_TRUE(stored.exists) << name;
  EXPECT_EQ(stored.type, DWORD(REG_SZ)) << name;
  EXPECT_EQ(stored.data.size(), text.size() + 1) << name;
  EXPECT_EQ(stored.Text(), text) << name;
}

bool KeyExists(HKEY root, const char* subkey) {
  HKEY key;
  if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

DWORD ValueCount(const char* subkey) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD count = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return count;
}

std::string EntryName(int slot) { return "Entry" + std::to_string(slot); }

class SettingsRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, kProduct);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kProduct);
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kProduct));
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProduct));
  }
};

using OptionFlagsStoreTest = SettingsRegistryTest;
using RecentListStoreTest = SettingsRegistryTest;
using LastDirectoriesStoreTest = SettingsRegistryTest;
using AutoDismountStoreTest = SettingsRegistryTest;
using RegistryKeyTest = SettingsRegistryTest;

TEST_F(SettingsRegistryTest, FirstRunWritesTheFlagsAndCreatesTheOtherKeysEmpty) {
  OptionFlags flags;
  ASSERT_TRUE(LoadOptionFlags(flags));
  EXPECT_EQ(flags.RememberLastDirectory, 1);
  EXPECT_EQ(flags.RememberMountedDrives, 1);
  EXPECT_EQ(flags.ExploreDrivesAfterMounting, 1);
  for (const char* name : kFlagNames) ExpectDword(HKEY_CURRENT_USER, kSettings, name, 1);
  EXPECT_EQ(ValueCount(kSettings), 3u);

  RecentlyMountedList list;
  ASSERT_TRUE(LoadRecentlyMountedList(list));
  EXPECT_EQ(UsedSlotCount(list), 0);
  std::string create = "A\\", mount = "A\\", tools = "A\\";
  ASSERT_TRUE(LoadLastDirectories(create, mount, tools));
  EXPECT_EQ(create + mount + tools, "A\\A\\A\\");

  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kRecent));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kDirectories));
  EXPECT_EQ(ValueCount(kRecent), 0u);
  EXPECT_EQ(ValueCount(kDirectories), 0u);
}

TEST_F(OptionFlagsStoreTest, StoredZeroTurnsAFlagOffAndStays) {
  StoreDword(kSettings, "RememberMountedDrives", 0);
  OptionFlags flags;
  ASSERT_TRUE(LoadOptionFlags(flags));
  EXPECT_EQ(flags.RememberLastDirectory, 1);
  EXPECT_EQ(flags.RememberMountedDrives, 0);
  EXPECT_EQ(flags.ExploreDrivesAfterMounting, 1);
  ExpectDword(HKEY_CURRENT_USER, kSettings, "RememberMountedDrives", 0);
  ExpectDword(HKEY_CURRENT_USER, kSettings, "RememberLastDirectory", 1);
}

TEST_F(OptionFlagsStoreTest, AnyOtherNumberCountsAsOnAndIsSavedAsOne) {
  StoreDword(kSettings, "RememberLastDirectory", 2);
  StoreDword(kSettings, "RememberMountedDrives", 0xFFFFFFFF);
  StoreDword(kSettings, "ExploreDrivesAfterMounting", 0x100);
  OptionFlags flags;
  ASSERT_TRUE(LoadOptionFlags(flags));
  EXPECT_EQ(flags.RememberLastDirectory, 1);
  EXPECT_EQ(flags.RememberMountedDrives, 1);
  EXPECT_EQ(flags.ExploreDrivesAfterMounting, 1);
  ExpectDword(HKEY_CURRENT_USER, kSettings, "RememberLastDirectory", 2);

  ASSERT_TRUE(SaveOptionFlags(flags));
  for (const char* name : kFlagNames) ExpectDword(HKEY_CURRENT_USER, kSettings, name, 1);
}

TEST_F(OptionFlagsStoreTest, LoadingNeverTurnsAFlagOn) {
  for (const char* name : kFlagNames) StoreDword(kSettings, name, 1);
  OptionFlags flags{0, 0, 0};
  ASSERT_TRUE(LoadOptionFlags(flags));
  EXPECT_EQ(flags.RememberLastDirectory, 0);
  EXPECT_EQ(flags.RememberMountedDrives, 0);
  EXPECT_EQ(flags.ExploreDrivesAfterMounting, 0);
}

TEST_F(OptionFlagsStoreTest, ValuesThatAreNotFourByteNumbersAreRewrittenAsOne) {
  struct Case {
    DWORD type;
    const char* bytes;
    DWORD size;
  };
  const Case cases[] = {
      {REG_SZ, "0", 2},                     // a string, whatever it says
      {REG_SZ, "\0\0\0", 4},                // four bytes, but not a number
      {REG_BINARY, "\0\0\0\0", 4},          // idem
      {REG_DWORD, "\0\0", 2},               // too short
      {REG_BINARY, "\0\0\0\0\0\0\0\0", 8},  // too long
  };
  for (const Case& stored : cases) {
    Store(HKEY_CURRENT_USER, kSettings, "RememberMountedDrives", stored.type, stored.bytes,
          stored.size);
    OptionFlags flags;
    ASSERT_TRUE(LoadOptionFlags(flags));
    EXPECT_EQ(flags.RememberMountedDrives, 1) << stored.type << "/" << stored.size;
    ExpectDword(HKEY_CURRENT_USER, kSettings, "RememberMountedDrives", 1);
  }
}

TEST_F(OptionFlagsStoreTest, SaveWritesOneOrZero) {
  ASSERT_TRUE(SaveOptionFlags(OptionFlags{0, 5, 1}));
  ExpectDword(HKEY_CURRENT_USER, kSettings, "RememberLastDirectory", 0);
  ExpectDword(HKEY_CURRENT_USER, kSettings, "RememberMountedDrives", 1);
  ExpectDword(HKEY_CURRENT_USER, kSettings, "ExploreDrivesAfterMounting", 1);
}

TEST_F(RecentListStoreTest, SaveThenLoadGivesTheSameList) {
  RecentlyMountedList list;
  AddRecentEntry(list, "D:\\vault\\work.vmv", "E:");
  AddRecentEntry(list, "C:\\Users\\a\\Mixed Case.vmv", "Q:");
  AddRecentEntry(list, "\\\\server\\share\\b.vmv", "Z:");
  ASSERT_TRUE(SaveRecentlyMountedList(list));
  ExpectString(kRecent, "Entry0", "Z:,\\\\server\\share\\b.vmv");
  ExpectString(kRecent, "Entry1", "Q:,C:\\Users\\a\\Mixed Case.vmv");
  ExpectString(kRecent, "Entry2", "E:,D:\\vault\\work.vmv");
  EXPECT_EQ(ValueCount(kRecent), 3u);

  RecentlyMountedList loaded;
  ASSERT_TRUE(LoadRecentlyMountedList(loaded));
  for (int i = 0; i < kRecentSlotCount; ++i) {
    EXPECT_EQ(loaded.slots[i].volumePath, list.slots[i].volumePath) << i;
    EXPECT_EQ(loaded.slots[i].drive, list.slots[i].drive) << i;
  }
}

TEST_F(RecentListStoreTest, SaveLeavesValuesAfterTheLastUsedSlot) {
  StoreString(kRecent, "Entry1", "Y:,C:\\stale1.vmv");
  StoreString(kRecent, "Entry7", "Y:,C:\\stale7.vmv");
  RecentlyMountedList list;
  AddRecentEntry(list, "C:\\new.vmv", "E:");
  ASSERT_TRUE(SaveRecentlyMountedList(list));
  ExpectString(kRecent, "Entry0", "E:,C:\\new.vmv");
  ExpectString(kRecent, "Entry1", "Y:,C:\\stale1.vmv");
  ExpectString(kRecent, "Entry7", "Y:,C:\\stale7.vmv");
}

TEST_F(RecentListStoreTest, ClearWritesTenEmptyValues) {
  StoreString(kRecent, "Entry0", "E:,C:\\a.vmv");
  ASSERT_TRUE(ClearRecentlyMountedList());
  for (int slot = 0; slot < kRecentSlotCount; ++slot)
    ExpectString(kRecent, EntryName(slot).c_str(), "");
  EXPECT_EQ(ValueCount(kRecent), 10u);
  RecentlyMountedList loaded;
  ASSERT_TRUE(LoadRecentlyMountedList(loaded));
  EXPECT_EQ(UsedSlotCount(loaded), 0);
}

TEST_F(RecentListStoreTest, ListEndsAtTheFirstMissingOrEmptyValue) {
  StoreString(kRecent, "Entry0", "E:,C:\\zero.vmv");
  StoreString(kRecent, "Entry1", "F:,C:\\one.vmv");
  StoreString(kRecent, "Entry3", "G:,C:\\three.vmv");
  RecentlyMountedList loaded;
  ASSERT_TRUE(LoadRecentlyMountedList(loaded));
  ASSERT_EQ(UsedSlotCount(loaded), 2);
  EXPECT_EQ(loaded.slots[1].volumePath, "C:\\one.vmv");

  StoreString(kRecent, "Entry1", "");
  StoreString(kRecent, "Entry2", "H:,C:\\two.vmv");
  RecentlyMountedList again;
  ASSERT_TRUE(LoadRecentlyMountedList(again));
  EXPECT_EQ(UsedSlotCount(again), 1);
}

TEST_F(RecentListStoreTest, ValueLongerThanTheBufferEndsTheList) {
  // 1023 characters and the NUL fill the 1024-byte buffer exactly.
  const std::string fits = "F:," + std::string(1020, 'f');
  StoreString(kRecent, "Entry0", "E:,C:\\zero.vmv");
  StoreString(kRecent, "Entry1", fits);
  StoreString(kRecent, "Entry2", "G:," + std::string(1021, 'g'));
  StoreString(kRecent, "Entry3", "H:,C:\\three.vmv");
  RecentlyMountedList loaded;
  ASSERT_TRUE(LoadRecentlyMountedList(loaded));
  ASSERT_EQ(UsedSlotCount(loaded), 2);
  EXPECT_EQ(loaded.slots[0].volumePath, "C:\\zero.vmv");
  EXPECT_EQ(loaded.slots[1].volumePath, fits.substr(3));
}

// The stored type is not checked: text without a NUL that fills the whole
// buffer is taken as it is, without reading past the buffer.
TEST_F(RecentListStoreTest, ValueWithoutTerminatorIsReadWithinTheBuffer) {
  const std::string full = "E:," + std::string(1021, 'e');
  Store(HKEY_CURRENT_USER, kRecent, "Entry0", REG_BINARY, full.data(), DWORD(full.size()));
  RecentlyMountedList loaded;
  ASSERT_TRUE(LoadRecentlyMountedList(loaded));
  ASSERT_EQ(UsedSlotCount(loaded), 1);
  EXPECT_EQ(loaded.slots[0].volumePath, full.substr(3));
}

TEST_F(RecentListStoreTest, MalformedValuesAreSkipped) {
  StoreString(kRecent, "Entry0", "E:,C:\\zero.vmv");
  StoreString(kRecent, "Entry1", "F:");
  StoreString(kRecent, "Entry2", "G:,C:\\two.vmv");
  StoreString(kRecent, "Entry3", "G:,C:\\zero.vmv");
  RecentlyMountedList loaded;
  ASSERT_TRUE(LoadRecentlyMountedList(loaded));
  ASSERT_EQ(UsedSlotCount(loaded), 2);
  EXPECT_EQ(FormatRecentEntry(loaded.slots[0]), "G:,C:\\two.vmv");
  EXPECT_EQ(FormatRecentEntry(loaded.slots[1]), "E:,C:\\zero.vmv");
}

TEST_F(LastDirectoriesStoreTest, StoredValuesReplaceTheHolders) {
  StoreString(kDirectories, "CreateDirectory", "C:\\create\\");
  StoreString(kDirectories, "MountDirectory", "C:\\mount\\");
  StoreString(kDirectories, "ToolsDirectory", "C:\\tools\\");
  std::string create = "A\\", mount = "A\\", tools = "A\\";
  ASSERT_TRUE(LoadLastDirectories(create, mount, tools));
  EXPECT_EQ(create, "C:\\create\\");
  EXPECT_EQ(mount, "C:\\mount\\");
  EXPECT_EQ(tools, "C:\\tools\\");
}

TEST_F(LastDirectoriesStoreTest, FirstMissingValueEndsTheLoading) {
  StoreString(kDirectories, "MountDirectory", "C:\\mount\\");
  StoreString(kDirectories, "ToolsDirectory", "C:\\tools\\");
  const std::string app = AppDirectory();
  std::string create = app, mount = app, tools = app;
  ASSERT_TRUE(LoadLastDirectories(create, mount, tools));
  EXPECT_EQ(create, app);
  EXPECT_EQ(mount, app);
  EXPECT_EQ(tools, app);

  StoreString(kDirectories, "CreateDirectory", "C:\\create\\");
  RegDeleteKeyValueA(HKEY_CURRENT_USER, kDirectories, "MountDirectory");
  ASSERT_TRUE(LoadLastDirectories(create, mount, tools));
  EXPECT_EQ(create, "C:\\create\\");
  EXPECT_EQ(mount, app);
  EXPECT_EQ(tools, app);
}

TEST_F(LastDirectoriesStoreTest, ValueLongerThanTheBufferEndsTheLoading) {
  StoreString(kDirectories, "CreateDirectory", "C:\\create\\");
  StoreString(kDirectories, "MountDirectory", "C:\\" + std::string(1030, 'm'));
  StoreString(kDirectories, "ToolsDirectory", "C:\\tools\\");
  std::string create = "A\\", mount = "A\\", tools = "A\\";
  ASSERT_TRUE(LoadLastDirectories(create, mount, tools));
  EXPECT_EQ(create, "C:\\create\\");
  EXPECT_EQ(mount, "A\\");
  EXPECT_EQ(tools, "A\\");
}

TEST_F(LastDirectoriesStoreTest, SaveWritesTheHoldersWhenRemembering) {
  ASSERT_TRUE(SaveLastDirectories(1, "C:\\create\\", "D:\\mount\\", "E:\\tools\\", "C:\\app\\"));
  ExpectString(kDirectories, "CreateDirectory", "C:\\create\\");
  ExpectString(kDirectories, "MountDirectory", "D:\\mount\\");
  ExpectString(kDirectories, "ToolsDirectory", "E:\\tools\\");
}

TEST_F(LastDirectoriesStoreTest, SaveWritesTheAppDirectoryWhenNotRemembering) {
  const std::string app = AppDirectory();
  ASSERT_TRUE(SaveLastDirectories(0, "C:\\create\\", "D:\\mount\\", "E:\\tools\\", app));
  for (const char* name : {"CreateDirectory", "MountDirectory", "ToolsDirectory"}) {
    ExpectString(kDirectories, name, app);
  }
}

TEST(AppDirectoryTest, IsTheFolderOfThisProgram) {
  const std::string app = AppDirectory();
  ASSERT_FALSE(app.empty());
  EXPECT_EQ(app.back(), '\\');
  EXPECT_NE(GetFileAttributesA((app + "settings_registry_test.exe").c_str()),
            INVALID_FILE_ATTRIBUTES)
      << app;
}

TEST_F(AutoDismountStoreTest, MissingValueIsCreatedAsZero) {
  EXPECT_EQ(LoadAutoDismount(), 0u);
  ExpectDword(HKEY_LOCAL_MACHINE, kProduct, "AutoDismount", 0);
}

TEST_F(AutoDismountStoreTest, WrittenValueReadsBack) {
  ASSERT_TRUE(SaveAutoDismount(15));
  ExpectDword(HKEY_LOCAL_MACHINE, kProduct, "AutoDismount", 15);
  EXPECT_EQ(LoadAutoDismount(), 15u);
  ASSERT_TRUE(SaveAutoDismount(0));
  EXPECT_EQ(LoadAutoDismount(), 0u);
}

TEST_F(AutoDismountStoreTest, StoredTypeIsNotChecked) {
  const BYTE minutes[4] = {30, 0, 0, 0};
  Store(HKEY_LOCAL_MACHINE, kProduct, "AutoDismount", REG_BINARY, minutes, sizeof minutes);
  EXPECT_EQ(LoadAutoDismount(), 30u);
  Store(HKEY_LOCAL_MACHINE, kProduct, "AutoDismount", REG_BINARY, minutes, 1);
  EXPECT_EQ(LoadAutoDismount(), 30u);
}

TEST_F(AutoDismountStoreTest, UnreadableValueIsRewrittenAsZero) {
  const BYTE tooLong[8] = {5, 0, 0, 0, 0, 0, 0, 0};
  Store(HKEY_LOCAL_MACHINE, kProduct, "AutoDismount", REG_BINARY, tooLong, sizeof tooLong);
  EXPECT_EQ(LoadAutoDismount(), 0u);
  ExpectDword(HKEY_LOCAL_MACHINE, kProduct, "AutoDismount", 0);
}

TEST_F(RegistryKeyTest, OpenNeverCreatesAKey) {
  RegistryKey key;
  EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, kSettings));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettings));
  DWORD value = 0;
  EXPECT_FALSE(key.ReadDword("RememberLastDirectory", &value));
  EXPECT_FALSE(key.WriteDword("RememberLastDirectory", 1));

  ASSERT_TRUE(key.Create(HKEY_CURRENT_USER, kSettings));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettings));
  RegistryKey reopened;
  EXPECT_TRUE(reopened.Open(HKEY_CURRENT_USER, kSettings));
}

TEST_F(RegistryKeyTest, ReadFailsWhenMissingOrLargerThanTheBuffer) {
  RegistryKey key;
  ASSERT_TRUE(key.Create(HKEY_CURRENT_USER, kProduct));
  ASSERT_TRUE(key.WriteString("Text", "abcdef"));
  ExpectString(kProduct, "Text", "abcdef");

  std::string text = "unchanged";
  EXPECT_FALSE(key.ReadString("Missing", 64, &text));
  EXPECT_FALSE(key.ReadString("Text", 6, &text));
  EXPECT_EQ(text, "unchanged");
  ASSERT_TRUE(key.ReadString("Text", 7, &text));
  EXPECT_EQ(text, "abcdef");

  char buffer[16];
  DWORD length = 0, type = REG_NONE;
  ASSERT_TRUE(key.ReadValue("Text", buffer, sizeof buffer, &length, &type));
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(type, DWORD(REG_SZ));

  const BYTE shortValue[2] = {0x34, 0x12};
  Store(HKEY_CURRENT_USER, kProduct, "Short", REG_BINARY, shortValue, sizeof shortValue);
  DWORD value = 0xFFFFFFFF;
  ASSERT_TRUE(key.ReadDword("Short", &value, &length, &type));
  EXPECT_EQ(value, 0x1234u);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(type, DWORD(REG_BINARY));
}

}  // namespace
