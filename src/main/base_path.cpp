#include "main/base_path.h"

namespace tarnwell {
namespace {

std::string& storedBasePath() {
  static std::string path;
  return path;
}

// Like a file URL's deletingLastPathComponent followed by its path: no
// trailing slash, and the root stays the root.
std::string_view parentDirectory(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  path = path.substr(0, slash);
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

const std::string& basePath() { return storedBasePath(); }

void setBasePath(std::string path) { storedBasePath() = std::move(path); }

std::string basePathForExecutable(std::string_view executablePath) {
  std::string_view bundle = parentDirectory(executablePath);
  return std::string(parentDirectory(parentDirectory(bundle)));
}

std::string appendPathComponent(std::string_view directory, std::string_view component) {
  while (component.starts_with('/')) component.remove_prefix(1);
  std::string path(directory);
  if (path.empty() || path.back() != '/') path += '/';
  path.append(component);
  return path;
}

std::string resultFilePath() { return appendPathComponent(basePath(), "qxmount.plist"); }

}  // namespace tarnwell
