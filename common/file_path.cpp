#include "common/file_path.h"

std::u16string fileInDirectory(std::u16string_view dir, std::u16string_view name) {
  std::u16string path;
  if (!dir.empty() && dir.find(u'\0') == std::u16string_view::npos) {
    path.reserve(dir.size() + 1 + name.size());
    path.append(dir).push_back(u'/');
  }
  path.append(name);
  return path;
}
