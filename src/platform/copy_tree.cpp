#include "platform/files.h"

#include "platform/errors.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <copyfile.h>
#else
#include <sys/xattr.h>
#endif

namespace tarnwell {

#if defined(__APPLE__)

Failure copyTree(const std::string& from, const std::string& to) {
  copyfile_flags_t flags = COPYFILE_ALL | COPYFILE_RECURSIVE | COPYFILE_CLONE | COPYFILE_NOFOLLOW_SRC;
  if (copyfile(from.c_str(), to.c_str(), nullptr, flags) != 0) return describeError("copy", from, errno);
  return std::nullopt;
}

#else

namespace {

// Extended attributes, on an open file or (fd < 0) on the link itself.
Failure copyAttributes(int fromFd, int toFd, const std::string& from, const std::string& to) {
  auto list = [&](char* buffer, size_t size) {
    return fromFd >= 0 ? flistxattr(fromFd, buffer, size) : llistxattr(from.c_str(), buffer, size);
  };
  ssize_t size = list(nullptr, 0);
  if (size < 0) return errno == ENOTSUP ? Failure() : describeError("read the attributes of", from, errno);
  std::vector<char> names(static_cast<size_t>(size));
  size = list(names.data(), names.size());
  if (size < 0) return describeError("read the attributes of", from, errno);
  std::vector<char> value;
  for (ssize_t at = 0; at < size;) {
    const char* name = names.data() + at;
    at += static_cast<ssize_t>(strlen(name)) + 1;
    auto get = [&](void* buffer, size_t length) {
      return fromFd >= 0 ? fgetxattr(fromFd, name, buffer, length) : lgetxattr(from.c_str(), name, buffer, length);
    };
    ssize_t length = get(nullptr, 0);
    if (length < 0) return describeError("read the attributes of", from, errno);
    value.resize(static_cast<size_t>(length));
    length = get(value.data(), value.size());
    if (length < 0) return describeError("read the attributes of", from, errno);
    int rc = toFd >= 0 ? fsetxattr(toFd, name, value.data(), static_cast<size_t>(length), 0)
                       : lsetxattr(to.c_str(), name, value.data(), static_cast<size_t>(length), 0);
    // Namespaces other than user.* may be refused (security labels, links).
    bool userName = std::string_view(name).starts_with("user.");
    if (rc != 0 && errno != ENOTSUP && !(errno == EPERM && !userName)) {
      return describeError("write the attributes of", to, errno);
    }
  }
  return std::nullopt;
}

Failure copyContents(int fromFd, int toFd, const std::string& from, const std::string& to) {
  bool ranged = true;
  std::vector<char> buffer;
  for (;;) {
    ssize_t n;
    if (ranged) {
      n = copy_file_range(fromFd, nullptr, toFd, nullptr, size_t{1} << 30, 0);
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        ranged = false;
        buffer.resize(1 << 17);
        continue;
      }
    } else {
      n = read(fromFd, buffer.data(), buffer.size());
      for (ssize_t done = 0; n > 0 && done < n;) {
        ssize_t w = write(toFd, buffer.data() + done, static_cast<size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return describeError("write", to, errno);
        done += w;
      }
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return describeError("copy", from, errno);
    if (n == 0) return std::nullopt;
  }
}

// Owner, mode and times go last: a read-only mode must not stop the copy,
// and writing contents would change the times.
Failure finishFile(int toFd, const std::string& to, const struct stat& info) {
  if (fchown(toFd, info.st_uid, info.st_gid) != 0 && errno != EPERM) return describeError("change the owner of", to, errno);
  if (fchmod(toFd, info.st_mode & 07777) != 0) return describeError("change the mode of", to, errno);
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  if (futimens(toFd, times) != 0) return describeError("set the times of", to, errno);
  return std::nullopt;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

Failure copyFile(const std::string& from, const std::string& to, const struct stat& info) {
  Fd in(open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (in.get() < 0) return describeError("open", from, errno);
  Fd out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (out.get() < 0) return describeError("create", to, errno);
  if (auto failure = copyContents(in.get(), out.get(), from, to)) return failure;
  if (auto failure = copyAttributes(in.get(), out.get(), from, to)) return failure;
  return finishFile(out.get(), to, info);
}

Failure copyLink(const std::string& from, const std::string& to, const struct stat& info) {
  std::vector<char> target(static_cast<size_t>(info.st_size) + 1);
  ssize_t n = readlink(from.c_str(), target.data(), target.size());
  if (n < 0) return describeError("read the link", from, errno);
  if (symlink(std::string(target.data(), static_cast<size_t>(n)).c_str(), to.c_str()) != 0) {
    return describeError("create the link", to, errno);
  }
  if (lchown(to.c_str(), info.st_uid, info.st_gid) != 0 && errno != EPERM) {
    return describeError("change the owner of", to, errno);
  }
  if (auto failure = copyAttributes(-1, -1, from, to)) return failure;
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  if (utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    return describeError("set the times of", to, errno);
  }
  return std::nullopt;
}

Failure copyEntry(const std::string& from, const std::string& to);

Failure copyDirectory(const std::string& from, const std::string& to, const struct stat& info) {
  std::string failure;
  auto names = listDirectory(from, failure);
  if (!names) return failure;
  if (mkdir(to.c_str(), 0700) != 0) return describeError("create", to, errno);
  for (const auto& name : *names) {
    if (auto entryFailure = copyEntry(from + "/" + name, to + "/" + name)) return entryFailure;
  }
  Fd in(open(from.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (in.get() < 0) return describeError("open", from, errno);
  Fd out(open(to.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (out.get() < 0) return describeError("open", to, errno);
  if (auto attributeFailure = copyAttributes(in.get(), out.get(), from, to)) return attributeFailure;
  return finishFile(out.get(), to, info);
}

Failure copyEntry(const std::string& from, const std::string& to) {
  struct stat info;
  if (lstat(from.c_str(), &info) != 0) return describeError("copy", from, errno);
  if (S_ISLNK(info.st_mode)) return copyLink(from, to, info);
  if (S_ISDIR(info.st_mode)) return copyDirectory(from, to, info);
  if (S_ISREG(info.st_mode)) return copyFile(from, to, info);
  return describeError("copy", from, ENOTSUP);  // devices, sockets and pipes have no place in a bundle
}

}  // namespace

Failure copyTree(const std::string& from, const std::string& to) {
  return copyEntry(from, to);
}

#endif

}  // namespace tarnwell
