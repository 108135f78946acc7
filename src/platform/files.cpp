#include "platform/files.h"

#include "platform/fd.h"
#include "platform/path.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <sys/acl.h>
#endif

namespace tarnwell {

bool fileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool entryExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

Result readFile(const std::string& path, size_t maxBytes, std::string* content) {
  Fd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return Result::error("read", path, errno);
  struct stat info;
  if (fstat(fd.get(), &info) != 0) return Result::error("read", path, errno);
  if (!S_ISREG(info.st_mode)) {
    return Result::failure(
        describeFailure("read", path, S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "it is not a regular file"));
  }
  content->clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Result::error("read", path, errno);
    if (content->size() + static_cast<size_t>(n) > maxBytes) return Result::error("read", path, EFBIG);
    if (n == 0) return {};
    content->append(buffer, static_cast<size_t>(n));
  }
}

Result openDirectory(const std::string& path, Fd* directory) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  if (path.empty() || path[0] != '/') return Result::error("open", path, EINVAL);
  Fd at(open("/", kFlags));
  for (std::string_view name : pathComponents(path)) {
    if (!at.valid()) break;
    at.reset(openat(at.get(), std::string(name).c_str(), kFlags));
  }
  if (!at.valid()) return Result::error("open", path, errno);
  *directory = std::move(at);
  return {};
}

Result listDirectory(const std::string& path, const std::function<void(std::string_view)>& each) {
  Fd directory;
  if (Result opened = openDirectory(path, &directory); !opened)
    return Result::error("list the contents of", path, opened.code());
  DIR* stream = fdopendir(directory.get());
  if (!stream) return Result::error("list the contents of", path, errno);
  directory.release();  // the stream owns it now
  errno = 0;
  while (struct dirent* entry = readdir(stream)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) each(entry->d_name);
    errno = 0;
  }
  int failure = errno;
  closedir(stream);
  if (failure != 0) return Result::error("list the contents of", path, failure);
  return {};
}

Result removeFile(const std::string& path) {
  if (unlink(path.c_str()) == 0) return {};
  return Result::error("remove", path, errno);
}

#if defined(__APPLE__)
bool aclGrantsWrite(int directory) {
  acl_t acl = acl_get_fd_np(directory, ACL_TYPE_EXTENDED);
  if (!acl) return false;  // none
  bool grants = false;
  acl_entry_t entry;
  for (int which = ACL_FIRST_ENTRY; !grants && acl_get_entry(acl, which, &entry) == 0; which = ACL_NEXT_ENTRY) {
    acl_tag_t tag;
    acl_permset_t permissions;
    if (acl_get_tag_type(entry, &tag) != 0 || tag != ACL_EXTENDED_ALLOW || acl_get_permset(entry, &permissions) != 0)
      continue;
    for (acl_perm_t permission :
         {ACL_ADD_FILE, ACL_ADD_SUBDIRECTORY, ACL_DELETE_CHILD, ACL_WRITE_SECURITY, ACL_CHANGE_OWNER}) {
      if (acl_get_perm_np(permissions, permission) == 1) grants = true;
    }
  }
  acl_free(acl);
  return grants;
}
#else
bool aclGrantsWrite(int /*directory*/) { return false; }
#endif

}  // namespace tarnwell
