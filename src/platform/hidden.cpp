#include "platform/files.h"

#include "platform/errors.h"

#include <cerrno>

#include <sys/stat.h>
#if defined(__APPLE__)
#include <unistd.h>
#else
#include <sys/xattr.h>
#endif

namespace tarnwell {

#if defined(__APPLE__)

std::optional<bool> isHidden(const std::string& path, std::string& failure) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    failure = describeError("read the hidden mark of", path, errno);
    return std::nullopt;
  }
  return (info.st_flags & UF_HIDDEN) != 0;
}

static Failure changeHidden(const std::string& path, bool hidden) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return describeError("read the hidden mark of", path, errno);
  unsigned flags = hidden ? (info.st_flags | UF_HIDDEN) : (info.st_flags & ~UF_HIDDEN);
  if (chflags(path.c_str(), flags) != 0) return describeError("change the hidden mark of", path, errno);
  return std::nullopt;
}

Failure clearHidden(const std::string& path) { return changeHidden(path, false); }
Failure setHidden(const std::string& path) { return changeHidden(path, true); }

#else

namespace {
constexpr const char* kHiddenAttribute = "user.hidden";

bool meansNoAttribute(int error) { return error == ENODATA || error == ENOTSUP; }
}  // namespace

std::optional<bool> isHidden(const std::string& path, std::string& failure) {
  char value[2];
  ssize_t n = getxattr(path.c_str(), kHiddenAttribute, value, sizeof value);
  if (n < 0 && errno == ERANGE) return false;  // longer than "1": some other value
  if (n < 0 && meansNoAttribute(errno)) return false;
  if (n < 0) {
    failure = describeError("read the hidden mark of", path, errno);
    return std::nullopt;
  }
  return n == 1 && value[0] == '1';
}

Failure clearHidden(const std::string& path) {
  if (removexattr(path.c_str(), kHiddenAttribute) != 0 && errno != ENODATA) {
    return describeError("change the hidden mark of", path, errno);
  }
  return std::nullopt;
}

Failure setHidden(const std::string& path) {
  if (setxattr(path.c_str(), kHiddenAttribute, "1", 1, 0) != 0) {
    return describeError("change the hidden mark of", path, errno);
  }
  return std::nullopt;
}

#endif

}  // namespace tarnwell
