#include "platform/path.h"

#include <algorithm>

namespace tarnwell {

PathParts splitPath(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {"", std::string(path)};
  return {slash == 0 ? "/" : std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
}

std::string joinPath(std::string_view directory, std::string_view name) {
  while (name.starts_with('/')) name.remove_prefix(1);
  std::string path(directory);
  if (path.empty() || path.back() != '/') path += '/';
  return path.append(name);
}

std::vector<std::string_view> pathComponents(std::string_view path) {
  std::vector<std::string_view> names;
  for (size_t start = 0; start <= path.size();) {
    size_t end = std::min(path.find('/', start), path.size());
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace tarnwell
