#include "main/base_check.h"

#include "copy/directory_chain.h"
#include "platform/files.h"
#include "platform/log.h"

#include <cerrno>
#include <cstring>

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
  // A link anywhere on the way is refused: whoever may change it chooses
  // where the base directory is.
  Fd base;
  return openDirectory(path, &base, [&](const std::string& shown, int directory, int error) {
    struct stat info;
    if (error == ELOOP) return unsafe(path, shown, "is a symbolic link");
    if (directory < 0 || fstat(directory, &info) != 0)
      return unsafe(path, shown, std::string("cannot be opened: ") + std::strerror(directory < 0 ? error : errno));
    if (info.st_uid != 0 && info.st_uid != geteuid()) {
      return unsafe(path, shown, "is owned by user " + std::to_string(info.st_uid) + ", not root");
    }
    if (info.st_mode & (S_IWGRP | S_IWOTH)) return unsafe(path, shown, "may be written by group or others");
    if (aclGrantsWrite(directory))
      return unsafe(path, shown, "has an access control list that lets others write to it");
    return Result();
  });
}

}  // namespace tarnwell
