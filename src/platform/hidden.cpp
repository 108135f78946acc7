#include "platform/hidden.h"

#include "platform/errors.h"
#include "platform/fd.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#if !defined(__APPLE__)
#include <sys/xattr.h>
#endif

namespace tarnwell {
namespace {

bool openEntry(int directory, const std::string& name, const std::string& shown, Fd* entry, std::string* error) {
  entry->reset(openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (entry->valid()) return true;
  *error = describeError("read the hidden mark of", shown, errno);
  return false;
}

#if !defined(__APPLE__)
constexpr const char* kHiddenAttribute = "user.hidden";
#endif

}  // namespace

bool isHiddenAt(int directory, const std::string& name, const std::string& shown, bool* hidden, std::string* error) {
  Fd entry;
  if (!openEntry(directory, name, shown, &entry, error)) return false;
#if defined(__APPLE__)
  struct stat info;
  if (fstat(entry.get(), &info) != 0) {
    *error = describeError("read the hidden mark of", shown, errno);
    return false;
  }
  *hidden = (info.st_flags & UF_HIDDEN) != 0;
#else
  char value[2];
  ssize_t n = fgetxattr(entry.get(), kHiddenAttribute, value, sizeof value);
  // No attribute, a file system without them, or a value longer than "1".
  if (n < 0 && (errno == ENODATA || errno == ENOTSUP || errno == ERANGE)) n = 0;
  if (n < 0) {
    *error = describeError("read the hidden mark of", shown, errno);
    return false;
  }
  *hidden = n == 1 && value[0] == '1';
#endif
  return true;
}

bool clearHiddenAt(int directory, const std::string& name, const std::string& shown, std::string* error) {
  Fd entry;
  if (!openEntry(directory, name, shown, &entry, error)) return false;
#if defined(__APPLE__)
  struct stat info;
  if (fstat(entry.get(), &info) != 0 || fchflags(entry.get(), info.st_flags & ~UF_HIDDEN) != 0) {
#else
  if (fremovexattr(entry.get(), kHiddenAttribute) != 0 && errno != ENODATA) {
#endif
    *error = describeError("change the hidden mark of", shown, errno);
    return false;
  }
  return true;
}

}  // namespace tarnwell
