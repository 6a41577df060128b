#include "platform/path.h"

std::string FolderOfPath(std::string_view path) {
  const size_t separator = path.find_last_of("\\/");
  if (separator != std::string_view::npos) {
    return std::string(path.substr(0, separator + 1));
  }
  if (path.size() >= 2 && path[1] == ':') {
    return std::string(path.substr(0, 2));
  }
  return std::string();
}

bool SamePath(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] == '/' ? '\\' : a[i];
    char y = b[i] == '/' ? '\\' : b[i];
#ifdef _WIN32
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
#endif
    if (x != y) return false;
  }
  return true;
}
