#include "main/base_path.h"

#include "platform/path.h"

namespace tarnwell {
namespace {

std::string& storedBasePath() {
  static std::string path;
  return path;
}

}  // namespace

const std::string& basePath() { return storedBasePath(); }

void setBasePath(std::string path) { storedBasePath() = std::move(path); }

// As a file URL's deletingLastPathComponent, three times over, then its
// path: no trailing slash, and the root stays the root.
std::string basePathForExecutable(std::string_view executablePath) {
  std::vector<std::string_view> names = pathComponents(executablePath);
  names.resize(names.size() > 3 ? names.size() - 3 : 0);
  std::string path = "/";
  for (std::string_view name : names) path = joinPath(path, name);
  return path;
}

std::string resultFilePath() { return joinPath(basePath(), "qxmount.plist"); }

}  // namespace tarnwell
