#include "copy/directory_chain.h"

#include "platform/files.h"
#include "platform/path.h"

#include <cerrno>

#include <fcntl.h>

namespace tarnwell {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The string_views handed around come from listings and std::strings:
// they are followed by a NUL, as the calls need.
const char* cName(std::string_view name) { return name.data(); }

}  // namespace

DirectoryChain::DirectoryChain(int root, std::string rootShown)
    : root_(root), rootWhere_(rootNode(std::move(rootShown))) {}

Result DirectoryChain::push(std::string_view name, struct stat* seen) {
  auto opened = std::make_shared<Fd>(openat(fd(), cName(name), kDirectoryFlags));
  struct stat info;
  if (!opened->valid() || fstat(opened->get(), &info) != 0) return Result::error("open", shown(name), errno);
  if (seen) *seen = info;
  levels_.push_back({std::move(opened), {info.st_dev, info.st_ino}, childNode(where(), name)});
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
  auto reopened = std::make_shared<Fd>(openat(popped.fd->get(), "..", kDirectoryFlags));
  struct stat info;
  if (!reopened->valid() || fstat(reopened->get(), &info) != 0) return Result::error("open", shown(), errno);
  if (!(Identity{info.st_dev, info.st_ino} == parent.identity)) {
    return Result::failure(describeFailure("open", shown(), "it was moved while being read"));
  }
  parent.fd = std::move(reopened);
  firstOpen_ = levels_.size() - 1;
  return {};
}

Result openDirectory(const std::string& path, Fd* directory, const VisitDirectory& visit) {
  if (path.empty() || path[0] != '/') return Result::error("open", path, EINVAL);
  const std::vector<std::string_view> names = pathComponents(path);
  std::string shown = "/";
  Fd at(open("/", kDirectoryFlags));
  for (size_t next = 0; at.valid(); ++next) {
    if (Result seen = visit(shown, at.get(), 0); !seen) return seen;
    if (next == names.size()) {
      *directory = std::move(at);
      return {};
    }
    const std::string name(names[next]);
    shown = joinPath(shown, name);
    Fd below(openat(at.get(), name.c_str(), kDirectoryFlags));
    struct stat info;
    if (!below.valid()) {
      const int error = errno;
      errno = statEntry(at.get(), name, &info) && S_ISLNK(info.st_mode) ? ELOOP : error;
    }
    at = std::move(below);
  }
  const int error = errno;
  if (Result seen = visit(shown, -1, error); !seen) return seen;
  return Result::error("open", path, error);
}

bool statEntry(int directory, std::string_view name, struct stat* info) {
  return fstatat(directory, cName(name), info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool inspectBundle(int directory, const std::string& name, size_t maxBytes, struct stat* info, std::string* infoPlist) {
  infoPlist->clear();
  Fd bundle(openat(directory, name.c_str(), kDirectoryFlags));
  if (!bundle.valid()) return statEntry(directory, name, info);
  if (fstat(bundle.get(), info) != 0) return false;
  Fd contents(openat(bundle.get(), "Contents", kDirectoryFlags));
  if (contents.valid() && !readFileAt(contents.get(), "Info.plist", name, maxBytes, infoPlist)) infoPlist->clear();
  return true;
}

}  // namespace tarnwell
