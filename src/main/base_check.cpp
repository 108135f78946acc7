#include "main/base_check.h"

#include "platform/fd.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/path.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwell {

namespace {

Result unsafe(const std::string& path, const std::string& folder, const std::string& why) {
  return Result::failure("The base directory \"" + escapeText(path) + "\" is not safe: \"" + escapeText(folder) +
                         "\" " + why);
}

}  // namespace

Result checkBaseDirectory(const std::string& path) {
  if (path.empty() || path[0] != '/') return unsafe(path, path, "is not an absolute path");
  std::string shown = "/";
  Fd at(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::vector<std::string_view> names = pathComponents(path);
  for (size_t next = 0;; ++next) {
    struct stat info;
    if (!at.valid() || fstat(at.get(), &info) != 0)
      return unsafe(path, shown, std::string("cannot be opened: ") + std::strerror(errno));
    if (info.st_uid != 0 && info.st_uid != geteuid()) {
      return unsafe(path, shown, "is owned by user " + std::to_string(info.st_uid) + ", not root");
    }
    if (info.st_mode & (S_IWGRP | S_IWOTH)) return unsafe(path, shown, "may be written by group or others");
    if (aclGrantsWrite(at.get())) return unsafe(path, shown, "has an access control list that lets others write to it");
    if (next == names.size()) return {};
    shown = joinPath(shown, names[next]);
    // A link anywhere on the way is refused: whoever may change it chooses
    // where the base directory is.
    at.reset(openat(at.get(), std::string(names[next]).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
}

}  // namespace tarnwell
