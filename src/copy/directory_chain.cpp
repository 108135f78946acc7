#include "copy/directory_chain.h"

#include "platform/path.h"

#include <cerrno>

#include <fcntl.h>

namespace tarnwell {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A shown path longer than this keeps its first and last levels only.
constexpr size_t kShownLevels = 24;

// The string_views handed around come from listings and std::strings:
// they are followed by a NUL, as the calls need.
const char* cName(std::string_view name) { return name.data(); }

}  // namespace

DirectoryChain::DirectoryChain(int root, std::string rootShown) : root_(root), rootShown_(std::move(rootShown)) {}

Result DirectoryChain::push(std::string_view name, const struct stat* expected) {
  Fd opened(openat(fd(), cName(name), kDirectoryFlags));
  struct stat info;
  if (!opened.valid() || fstat(opened.get(), &info) != 0) return Result::error("open", shown(name), errno);
  if (expected && (info.st_dev != expected->st_dev || info.st_ino != expected->st_ino)) {
    return Result::failure(describeFailure("open", shown(name), "it was replaced while being read"));
  }
  levels_.push_back({std::move(opened), info.st_dev, info.st_ino, std::string(name)});
  if (levels_.size() - firstOpen_ > kOpenLevels) levels_[firstOpen_++].fd.reset();
  return {};
}

Result DirectoryChain::pop() {
  Level popped = std::move(levels_.back());
  levels_.pop_back();
  if (levels_.empty() || levels_.size() > firstOpen_) return {};
  // The parent let its descriptor go on the way down: ".." of the level
  // just left leads back to it, unless someone moved a directory between.
  Level& parent = levels_.back();
  Fd reopened(openat(popped.fd.get(), "..", kDirectoryFlags));
  struct stat info;
  if (!reopened.valid() || fstat(reopened.get(), &info) != 0) return Result::error("open", shown(), errno);
  if (info.st_dev != parent.device || info.st_ino != parent.inode) {
    return Result::failure(describeFailure("open", shown(), "it was moved while being read"));
  }
  parent.fd = std::move(reopened);
  firstOpen_ = levels_.size() - 1;
  return {};
}

DirectoryChain::Identity DirectoryChain::identity() const {
  if (levels_.empty()) return {};
  return {levels_.back().device, levels_.back().inode};
}

std::string DirectoryChain::shown(std::string_view name) const {
  std::string path = rootShown_;
  auto add = [&path](std::string_view part) { path = joinPath(path, part); };
  for (size_t i = 0; i < levels_.size(); ++i) {
    if (levels_.size() > kShownLevels && i == kShownLevels / 2) {
      add("...");
      i = levels_.size() - kShownLevels / 2;
    }
    add(levels_[i].name);
  }
  if (!name.empty()) add(name);
  return path;
}

std::string DirectoryChain::relative(std::string_view name) const {
  std::string path;
  for (const Level& level : levels_) path.append(level.name).push_back('/');
  return path.append(name);
}

Result openDirectory(const std::string& path, Fd* directory) {
  if (path.empty() || path[0] != '/') return Result::error("open", path, EINVAL);
  Fd at(open("/", kDirectoryFlags));
  for (std::string_view name : pathComponents(path)) {
    if (!at.valid()) break;
    at.reset(openat(at.get(), std::string(name).c_str(), kDirectoryFlags));
  }
  if (!at.valid()) return Result::error("open", path, errno);
  *directory = std::move(at);
  return {};
}

bool statEntry(int directory, std::string_view name, struct stat* info) {
  return fstatat(directory, cName(name), info, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace tarnwell
