// A registry key that closes itself: open or create a key below a root, read
// a value into a caller's buffer of a fixed size, write a number or a string.
// Keys are opened and closed within one operation; nothing is held open.
#pragma once
#include <windows.h>

#include <string>

class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { Close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens `subkey` below `root`, creating it when missing (non-volatile
  // storage, no class, default security). A key already open is closed first.
  bool Create(HKEY root, const char* subkey, REGSAM access = KEY_ALL_ACCESS);
  // Opens an existing key and never creates one.
  bool Open(HKEY root, const char* subkey, REGSAM access = KEY_READ);
  bool IsOpen() const { return key_ != nullptr; }
  void Close();

  // Reads the value `name` into `buffer`, which holds `size` bytes. False when
  // the key is not open, the value is missing or larger than the buffer, or
  // the read fails otherwise. On success `length` (if given) receives the
  // number of bytes read and `type` (if given) the stored type.
  bool ReadValue(const char* name, void* buffer, DWORD size, DWORD* length = nullptr,
                 DWORD* type = nullptr) const;
  // Reads a value of at most four bytes as a little-endian number (a shorter
  // value gives its bytes, zero-extended). `length` and `type` as above.
  bool ReadDword(const char* name, DWORD* value, DWORD* length = nullptr,
                 DWORD* type = nullptr) const;
  // Reads a value of at most `size` bytes as text: up to its first NUL, or
  // all the bytes read when it holds none. The stored type is not checked.
  bool ReadString(const char* name, DWORD size, std::string* text) const;

  // Writes a REG_DWORD (4 bytes).
  bool WriteDword(const char* name, DWORD value) const;
  // Writes a REG_SZ with its terminating NUL (length plus one bytes).
  bool WriteString(const char* name, const std::string& text) const;

 private:
  HKEY key_ = nullptr;
};
