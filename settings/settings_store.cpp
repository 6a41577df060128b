#include "settings/settings_store.h"

#include <iterator>
#include <vector>

#include "settings/registry_key.h"

namespace {

constexpr char kSettingsKey[] = "SOFTWARE\\Kestrane\\Velmorcrypt\\Settings";
constexpr char kRecentListKey[] = "SOFTWARE\\Kestrane\\Velmorcrypt\\RecentlyMountedList";
constexpr char kLastDirectoriesKey[] = "SOFTWARE\\Kestrane\\Velmorcrypt\\LastDirectories";

constexpr DWORD kFlagSize = 4;
// Stored strings (recent entries, directories) are read into this many bytes.
constexpr DWORD kStringBufferSize = 1024;

struct FlagValue {
  const char* name;
  int32_t OptionFlags::*field;
};

// The order in which the flags are read and written.
constexpr FlagValue kFlagValues[] = {
    {"RememberLastDirectory", &OptionFlags::RememberLastDirectory},
    {"RememberMountedDrives", &OptionFlags::RememberMountedDrives},
    {"ExploreDrivesAfterMounting", &OptionFlags::ExploreDrivesAfterMounting},
};

constexpr const char* kDirectoryValues[] = {"CreateDirectory", "MountDirectory", "ToolsDirectory"};

// A flag counts as read only when it is a REG_DWORD of exactly four bytes.
bool ReadFlag(const RegistryKey& key, const char* name, DWORD* value) {
  DWORD length = 0;
  DWORD type = REG_NONE;
  return key.ReadDword(name, value, &length, &type) && type == REG_DWORD && length == kFlagSize;
}

}  // namespace

bool LoadOptionFlags(OptionFlags& flags) {
  RegistryKey key;
  if (!key.Create(HKEY_CURRENT_USER, kSettingsKey)) return false;
  for (const FlagValue& flag : kFlagValues) {
    DWORD value = 0;
    if (!ReadFlag(key, flag.name, &value)) {
      key.WriteDword(flag.name, 1);
    } else if (value == 0) {
      flags.*flag.field = 0;
    }
  }
  return true;
}

bool SaveOptionFlags(const OptionFlags& flags) {
  RegistryKey key;
  if (!key.Create(HKEY_CURRENT_USER, kSettingsKey)) return false;
  for (const FlagValue& flag : kFlagValues) key.WriteDword(flag.name, flags.*flag.field != 0);
  return true;
}

bool LoadRecentlyMountedList(RecentlyMountedList& list) {
  RegistryKey key;
  if (!key.Create(HKEY_CURRENT_USER, kRecentListKey)) return false;
  std::vector<std::string> values;
  for (int slot = 0; slot < kRecentSlotCount; ++slot) {
    std::string value;
    if (!key.ReadString(RecentEntryValueName(slot).c_str(), kStringBufferSize, &value) ||
        value.empty()) {
      break;
    }
    values.push_back(std::move(value));
  }
  AddStoredRecentEntries(list, values);
  return true;
}

bool SaveRecentlyMountedList(const RecentlyMountedList& list) {
  RegistryKey key;
  if (!key.Create(HKEY_CURRENT_USER, kRecentListKey)) return false;
  const int used = UsedSlotCount(list);
  for (int slot = 0; slot < used; ++slot) {
    key.WriteString(RecentEntryValueName(slot).c_str(), FormatRecentEntry(list.slots[slot]));
  }
  return true;
}

bool ClearRecentlyMountedList() {
  RegistryKey key;
  if (!key.Create(HKEY_CURRENT_USER, kRecentListKey)) return false;
  for (int slot = 0; slot < kRecentSlotCount; ++slot) {
    key.WriteString(RecentEntryValueName(slot).c_str(), std::string());
  }
  return true;
}

bool LoadLastDirectories(std::string& createDirectory, std::string& mountDirectory,
                         std::string& toolsDirectory) {
  RegistryKey key;
  if (!key.Create(HKEY_CURRENT_USER, kLastDirectoriesKey)) return false;
  std::string* const holders[] = {&createDirectory, &mountDirectory, &toolsDirectory};
  for (size_t i = 0; i < std::size(kDirectoryValues); ++i) {
    if (!key.ReadString(kDirectoryValues[i], kStringBufferSize, holders[i])) break;
  }
  return true;
}

bool SaveLastDirectories(int32_t rememberLastDirectory, const std::string& createDirectory,
                         const std::string& mountDirectory, const std::string& toolsDirectory,
                         const std::string& appDirectory) {
  RegistryKey key;
  if (!key.Create(HKEY_CURRENT_USER, kLastDirectoriesKey)) return false;
  const std::string* const holders[] = {&createDirectory, &mountDirectory, &toolsDirectory};
  for (size_t i = 0; i < std::size(kDirectoryValues); ++i) {
    key.WriteString(kDirectoryValues[i], rememberLastDirectory ? *holders[i] : appDirectory);
  }
  return true;
}

std::string AppDirectory() {
  char moduleName[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, moduleName, sizeof moduleName);
  // 0 is a failure; a full buffer means the name was cut short.
  if (length == 0 || length >= sizeof moduleName) return {};
  return AppDirectoryFromModulePath(std::string_view(moduleName, length));
}
