#include "platform/hidden.h"

#include "platform/apple.h"

#include <cerrno>

#include <sys/stat.h>
#if !TARNWELL_APPLE
#include <sys/xattr.h>
#endif

namespace tarnwell {

#if TARNWELL_APPLE

HiddenFlag readHiddenFlag(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) return {errno, false};
  return {0, (info.st_flags & UF_HIDDEN) != 0};
}

int clearHiddenFlag(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0 || fchflags(fd, info.st_flags & ~UF_HIDDEN) != 0) return errno;
  return 0;
}

#else

namespace {
constexpr const char* kHiddenAttribute = "user.hidden";
}  // namespace

HiddenFlag readHiddenFlag(int fd) {
  char value[2];
  ssize_t n = fgetxattr(fd, kHiddenAttribute, value, sizeof value);
  // No attribute, a file system without them, or a value longer than "1".
  if (n < 0 && (errno == ENODATA || errno == ENOTSUP || errno == ERANGE)) return {};
  if (n < 0) return {errno, false};
  return {0, n == 1 && value[0] == '1'};
}

int clearHiddenFlag(int fd) { return fremovexattr(fd, kHiddenAttribute) != 0 && errno != ENODATA ? errno : 0; }

#endif

}  // namespace tarnwell
