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
