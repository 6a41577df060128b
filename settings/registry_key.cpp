#include "settings/registry_key.h"

#include <string.h>

#include <vector>

bool RegistryKey::Create(HKEY root, const char* subkey, REGSAM access) {
  Close();
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  key_ = key;
  return true;
}

bool RegistryKey::Open(HKEY root, const char* subkey, REGSAM access) {
  Close();
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subkey, 0, access, &key) != ERROR_SUCCESS) return false;
  key_ = key;
  return true;
}

void RegistryKey::Close() {
  if (key_ == nullptr) return;
  RegCloseKey(key_);
  key_ = nullptr;
}

bool RegistryKey::ReadValue(const char* name, void* buffer, DWORD size, DWORD* length,
                            DWORD* type) const {
  if (key_ == nullptr) return false;
  DWORD read = size;
  DWORD storedType = REG_NONE;
  if (RegQueryValueExA(key_, name, nullptr, &storedType, static_cast<BYTE*>(buffer), &read) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (length != nullptr) *length = read;
  if (type != nullptr) *type = storedType;
  return true;
}

bool RegistryKey::ReadDword(const char* name, DWORD* value, DWORD* length, DWORD* type) const {
  BYTE bytes[sizeof(DWORD)] = {};
  if (!ReadValue(name, bytes, sizeof bytes, length, type)) return false;
  *value = static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
           static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
  return true;
}

bool RegistryKey::ReadString(const char* name, DWORD size, std::string* text) const {
  std::vector<char> buffer(size);
  DWORD length = 0;
  if (!ReadValue(name, buffer.data(), size, &length)) return false;
  text->assign(buffer.data(), strnlen(buffer.data(), length));
  return true;
}

bool RegistryKey::WriteDword(const char* name, DWORD value) const {
  if (key_ == nullptr) return false;
  return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

bool RegistryKey::WriteString(const char* name, const std::string& text) const {
  if (key_ == nullptr) return false;
  return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}
