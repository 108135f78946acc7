#include "platform/files.h"

#include "platform/apple.h"
#include "platform/fd.h"
#include "platform/path.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if !TARNWELL_APPLE
#include <sys/xattr.h>
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

namespace {

// The whole of the open file `fd`, refused when larger than `maxBytes`.
Result readAll(int fd, const std::string& path, size_t maxBytes, std::string* content) {
  content->clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = pread(fd, buffer, sizeof buffer, static_cast<off_t>(content->size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Result::error("read", path, errno);
    if (content->size() + static_cast<size_t>(n) > maxBytes) return Result::error("read", path, EFBIG);
    if (n == 0) return {};
    content->append(buffer, static_cast<size_t>(n));
  }
}

std::string notRegular(const struct stat& info) {
  return S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "it is not a regular file";
}

}  // namespace

Result createPrivateFile(const std::string& path, Fd* file) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return Result::error("remove", path, errno);
  file->reset(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file->valid()) return Result::error("create", path, errno);
  return {};
}

Result readMadeFile(int made, const std::string& path, size_t maxBytes, std::string* content) {
  Fd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info, own;
  if (!fd.valid() || fstat(fd.get(), &info) != 0 || fstat(made, &own) != 0) return Result::error("read", path, errno);
  std::string why;
  if (!S_ISREG(info.st_mode)) {
    why = notRegular(info);
  } else if (info.st_dev != own.st_dev || info.st_ino != own.st_ino) {
    why = "it is not the file the tool made";
  } else if (info.st_uid != 0 && info.st_uid != geteuid()) {
    why = "it is owned by user " + std::to_string(info.st_uid);
  } else if (info.st_nlink != 1) {
    why = "it has " + std::to_string(info.st_nlink) + " links";
  } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) || aclGrantsWrite(made)) {
    why = "others may write to it";
  }
  if (!why.empty()) return Result::failure(describeFailure("read", path, why));
  return readAll(made, path, maxBytes, content);
}

Result readFileAt(int directory, const std::string& name, const std::string& path, size_t maxBytes,
                  std::string* content) {
  Fd fd(openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info;
  if (!fd.valid() || fstat(fd.get(), &info) != 0) return Result::error("read", path, errno);
  if (!S_ISREG(info.st_mode)) return Result::failure(describeFailure("read", path, notRegular(info)));
  return readAll(fd.get(), path, maxBytes, content);
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

#if TARNWELL_APPLE
// Inheritable entries are in the walk like any other.
bool aclGrantsWrite(int fd) {
  acl_t acl = acl_get_fd_np(fd, ACL_TYPE_EXTENDED);
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
// Linux keeps a POSIX ACL in an attribute: a 4-byte version, then entries
// of a 2-byte tag, 2-byte permissions and a 4-byte id, little-endian. The
// mask caps what the named users and groups and the owning group get.
bool aclGrantsWrite(int fd) {
  enum : unsigned { kOwner = 0x01, kMask = 0x10, kOthers = 0x20, kWrite = 2 };
  for (const char* name : {"system.posix_acl_access", "system.posix_acl_default"}) {
    unsigned char acl[4 + 8 * 512];
    ssize_t size = fgetxattr(fd, name, acl, sizeof acl);
    if (size < 0 && errno == ERANGE) return true;  // more entries than anyone needs: not trusted
    bool capped = false, maskAllows = true, others = false;
    for (ssize_t at = 4; at + 8 <= size; at += 8) {
      const unsigned tag = acl[at] | acl[at + 1] << 8;
      const bool write = acl[at + 2] & kWrite;
      if (tag == kMask) {
        maskAllows = write;
      } else if (tag == kOthers) {
        others = write;
      } else if (tag != kOwner) {
        capped = capped || write;
      }
    }
    if (others || (capped && maskAllows)) return true;
  }
  return false;
}
#endif

}  // namespace tarnwell
