#include "platform/copy_tree.h"

#include "platform/copy_entry.h"
#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/signals.h"
#include "platform/tree.h"

#include <cerrno>
#include <map>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {
namespace {

class TreeCopy {
 public:
  TreeCopy(int root, std::string* error) : root_(root), error_(error) {}

  // `relative` is `to` relative to the root of the copy.
  bool copy(const Entry& from, const Entry& to, const std::string& relative) {
    if (int signal = stopSignal()) {
      *error_ = describeStop("copy", from.shown, signal);
      return false;
    }
    struct stat info;
    if (!statEntry(from.directory, from.name, &info)) return fail("copy", from.shown, errno);
    if (S_ISDIR(info.st_mode)) return copyDirectory(from, to, info, relative);
    if (S_ISLNK(info.st_mode)) return copyLinkEntry(from, to, info, error_);
    if (!S_ISREG(info.st_mode)) return fail("copy", from.shown, ENOTSUP);  // devices, sockets and pipes have no place in a bundle
    if (info.st_nlink < 2) return copyFileEntry(from, to, info, error_);

    // Hard links: the first name is copied, the others linked to it.
    auto key = std::make_pair(info.st_dev, info.st_ino);
    auto first = linked_.find(key);
    if (first != linked_.end()) {
      if (linkat(root_, first->second.c_str(), to.directory, to.name.c_str(), 0) != 0) return fail("link", to.shown, errno);
      return true;
    }
    if (!copyFileEntry(from, to, info, error_)) return false;
    linked_.emplace(key, relative);
    return true;
  }

 private:
  bool copyDirectory(const Entry& from, const Entry& to, const struct stat& info, const std::string& relative) {
    Fd in(openat(from.directory, from.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.valid()) return fail("open", from.shown, errno);
    if (mkdirat(to.directory, to.name.c_str(), 0700) != 0) return fail("create", to.shown, errno);
    Fd out(openat(to.directory, to.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!out.valid()) return fail("open", to.shown, errno);

    std::vector<std::string> names;
    if (!listEntries(in.get(), &names, from.shown, error_)) return false;
    for (const std::string& name : names) {
      if (!copy({in.get(), name, from.shown + "/" + name}, {out.get(), name, to.shown + "/" + name}, relative + "/" + name)) {
        return false;
      }
    }
    return finishDirectory(in.get(), out.get(), info, to.shown, error_);
  }

  bool fail(const char* action, const std::string& shown, int errorNumber) {
    *error_ = describeError(action, shown, errorNumber);
    return false;
  }

  int root_;
  std::string* error_;
  std::map<std::pair<dev_t, ino_t>, std::string> linked_;
};

}  // namespace

bool copyTree(const Entry& from, const Entry& to, std::string* error) {
  return TreeCopy(to.directory, error).copy(from, to, to.name);
}

}  // namespace tarnwell
