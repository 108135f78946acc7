#include "platform/files.h"

#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/tree.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwell {

bool fileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool readFile(const std::string& path, size_t maxBytes, std::string* content, std::string* error) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    *error = describeError("read", path, errno);
    return false;
  }
  content->clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || content->size() + static_cast<size_t>(std::max<ssize_t>(n, 0)) > maxBytes) {
      *error = describeError("read", path, n < 0 ? errno : EFBIG);
      return false;
    }
    if (n == 0) return true;
    content->append(buffer, static_cast<size_t>(n));
  }
}

bool listDirectory(const std::string& path, std::vector<std::string>* names, std::string* error) {
  Fd directory(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.valid()) {
    *error = describeError("list the contents of", path, errno);
    return false;
  }
  return listEntries(directory.get(), names, path, error);
}

bool removeFile(const std::string& path, std::string* error) {
  if (unlink(path.c_str()) == 0) return true;
  *error = describeError("remove", path, errno);
  return false;
}

}  // namespace tarnwell
