#include "settings/auto_dismount_setting.h"

#include "settings/registry_key.h"

namespace {

constexpr char kProductKey[] = "SOFTWARE\\Kestrane\\Velmorcrypt";
constexpr char kAutoDismountValue[] = "AutoDismount";

}  // namespace

uint32_t LoadAutoDismount() {
  RegistryKey key;
  if (!key.Create(HKEY_LOCAL_MACHINE, kProductKey)) return 0;
  DWORD minutes = 0;
  if (!key.ReadDword(kAutoDismountValue, &minutes)) {
    key.WriteDword(kAutoDismountValue, 0);
    return 0;
  }
  return minutes;
}

bool SaveAutoDismount(uint32_t minutes) {
  RegistryKey key;
  if (!key.Create(HKEY_LOCAL_MACHINE, kProductKey)) return false;
  key.WriteDword(kAutoDismountValue, minutes);
  return true;
}
