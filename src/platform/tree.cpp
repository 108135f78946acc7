#include "platform/tree.h"

#include "platform/errors.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {

bool openDirectory(const std::string& path, Fd* directory, std::string* error) {
  if (path.empty() || path[0] != '/') {
    *error = describeError("open", path, EINVAL);
    return false;
  }
  Fd at(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (size_t start = 1; at.valid() && start < path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      std::string part = path.substr(start, end - start);
      at.reset(openat(at.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    start = end + 1;
  }
  if (!at.valid()) {
    *error = describeError("open", path, errno);
    return false;
  }
  *directory = std::move(at);
  return true;
}

bool statEntry(int directory, const std::string& name, struct stat* info) {
  return fstatat(directory, name.c_str(), info, AT_SYMLINK_NOFOLLOW) == 0;
}

// Read through a descriptor of its own, so that `directory` keeps its place.
bool listEntries(int directory, std::vector<std::string>* names, const std::string& shown, std::string* error) {
  int copy = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = copy >= 0 ? fdopendir(copy) : nullptr;
  if (!listing) {
    if (copy >= 0) close(copy);
    *error = describeError("list the contents of", shown, errno);
    return false;
  }
  errno = 0;
  while (struct dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(std::move(name));
    errno = 0;
  }
  int failure = errno;
  closedir(listing);
  if (failure != 0) {
    *error = describeError("list the contents of", shown, failure);
    return false;
  }
  return true;
}

bool removeContents(int directory, const std::string& shown, std::string* error) {
  std::vector<std::string> names;
  if (!listEntries(directory, &names, shown, error)) return false;
  for (const std::string& name : names) {
    if (!removeTreeAt(directory, name, shown + "/" + name, error)) return false;
  }
  return true;
}

bool removeTreeAt(int directory, const std::string& name, const std::string& shown, std::string* error) {
  struct stat info;
  if (!statEntry(directory, name, &info)) {
    *error = describeError("remove", shown, errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    Fd inside(openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!inside.valid()) {
      *error = describeError("remove", shown, errno);
      return false;
    }
    if (!removeContents(inside.get(), shown, error)) return false;
  }
  if (unlinkat(directory, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0) {
    *error = describeError("remove", shown, errno);
    return false;
  }
  return true;
}

bool renameAtomically(int fromDirectory, const std::string& fromName, int toDirectory, const std::string& toName,
                      bool exchange, const std::string& shown, std::string* error) {
#if defined(__APPLE__)
  int rc = renameatx_np(fromDirectory, fromName.c_str(), toDirectory, toName.c_str(), exchange ? RENAME_SWAP : RENAME_EXCL);
#else
  int rc = renameat2(fromDirectory, fromName.c_str(), toDirectory, toName.c_str(), exchange ? RENAME_EXCHANGE : RENAME_NOREPLACE);
#endif
  if (rc != 0) {
    int failure = errno;
    *error = describeError("move into place", shown, failure);
    errno = failure;
    return false;
  }
  return true;
}

}  // namespace tarnwell
