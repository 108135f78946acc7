#include "platform/copy_entry.h"

#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/signals.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <copyfile.h>
#else
#include <sys/xattr.h>
#endif

namespace tarnwell {
namespace {

bool fail(const char* action, const std::string& shown, int errorNumber, std::string* error) {
  *error = describeError(action, shown, errorNumber);
  return false;
}

Fd openSource(const Entry& from, int flags) {
  return Fd(openat(from.directory, from.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | flags));
}

Fd createFile(const Entry& to) {
  return Fd(openat(to.directory, to.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
}

bool copyLinkTarget(const Entry& from, const Entry& to, const struct stat& info, std::string* error) {
  std::string target(static_cast<size_t>(std::max<off_t>(info.st_size, 0)) + 1, '\0');
  ssize_t n = readlinkat(from.directory, from.name.c_str(), target.data(), target.size());
  if (n < 0 || static_cast<size_t>(n) >= target.size()) {  // gone, or changed since it was looked at
    return fail("read the link", from.shown, n < 0 ? errno : EAGAIN, error);
  }
  target.resize(static_cast<size_t>(n));
  if (symlinkat(target.c_str(), to.directory, to.name.c_str()) != 0) return fail("create the link", to.shown, errno, error);
  return true;
}

}  // namespace

#if defined(__APPLE__)

// copyfile does the platform's own copy of data and metadata (ACLs, flags,
// extended attributes, owner, mode, times), holes kept.
bool copyFileEntry(const Entry& from, const Entry& to, const struct stat& /*info*/, std::string* error) {
  Fd in = openSource(from, 0);
  if (!in.valid()) return fail("open", from.shown, errno, error);
  Fd out = createFile(to);
  if (!out.valid()) return fail("create", to.shown, errno, error);
  if (fcopyfile(in.get(), out.get(), nullptr, COPYFILE_ALL | COPYFILE_DATA_SPARSE) != 0) {
    return fail("copy", from.shown, errno, error);
  }
  if (int signal = stopSignal()) {
    *error = describeStop("copy", from.shown, signal);
    return false;
  }
  return true;
}

// O_SYMLINK opens the link itself, so its metadata is copied like a file's.
bool copyLinkEntry(const Entry& from, const Entry& to, const struct stat& info, std::string* error) {
  if (!copyLinkTarget(from, to, info, error)) return false;
  Fd in(openat(from.directory, from.name.c_str(), O_RDONLY | O_SYMLINK | O_CLOEXEC));  // O_NOFOLLOW would refuse it
  if (!in.valid()) return fail("open", from.shown, errno, error);
  Fd out(openat(to.directory, to.name.c_str(), O_RDONLY | O_SYMLINK | O_CLOEXEC));
  if (!out.valid()) return fail("open", to.shown, errno, error);
  if (fcopyfile(in.get(), out.get(), nullptr, COPYFILE_METADATA) != 0) return fail("copy", from.shown, errno, error);
  return true;
}

bool finishDirectory(int from, int to, const struct stat& /*info*/, const std::string& shown, std::string* error) {
  if (fcopyfile(from, to, nullptr, COPYFILE_METADATA) != 0) return fail("copy the attributes to", shown, errno, error);
  return true;
}

#else

namespace {

// An entry's extended attributes: through its descriptor, or for a link
// (which cannot be opened) through its directory's descriptor in /proc.
struct Attributes {
  int fd = -1;
  std::string link;

  ssize_t list(char* buffer, size_t size) const {
    return fd >= 0 ? flistxattr(fd, buffer, size) : llistxattr(link.c_str(), buffer, size);
  }
  ssize_t get(const char* name, void* buffer, size_t size) const {
    return fd >= 0 ? fgetxattr(fd, name, buffer, size) : lgetxattr(link.c_str(), name, buffer, size);
  }
  int set(const char* name, const void* value, size_t size) const {
    return fd >= 0 ? fsetxattr(fd, name, value, size, 0) : lsetxattr(link.c_str(), name, value, size, 0);
  }
};

Attributes ofLink(const Entry& entry) {
  return {-1, "/proc/self/fd/" + std::to_string(entry.directory) + "/" + entry.name};
}

bool copyAttributes(const Attributes& from, const Attributes& to, const std::string& fromShown,
                    const std::string& toShown, std::string* error) {
  ssize_t size = from.list(nullptr, 0);
  if (size < 0) return errno == ENOTSUP || fail("read the attributes of", fromShown, errno, error);
  std::vector<char> names(static_cast<size_t>(size));
  size = from.list(names.data(), names.size());
  if (size < 0) return fail("read the attributes of", fromShown, errno, error);
  std::vector<char> value;
  for (ssize_t at = 0; at < size;) {
    const char* name = names.data() + at;
    at += static_cast<ssize_t>(strlen(name)) + 1;
    ssize_t length = from.get(name, nullptr, 0);
    if (length < 0) return fail("read the attributes of", fromShown, errno, error);
    value.resize(static_cast<size_t>(length));
    length = from.get(name, value.data(), value.size());
    if (length < 0) return fail("read the attributes of", fromShown, errno, error);
    // Namespaces other than user.* may be refused (security labels, links).
    bool userName = std::string_view(name).starts_with("user.");
    if (to.set(name, value.data(), static_cast<size_t>(length)) != 0 && errno != ENOTSUP && (errno != EPERM || userName)) {
      return fail("write the attributes of", toShown, errno, error);
    }
  }
  return true;
}

// Owner, mode and times go last: a read-only mode must not stop the copy,
// and writing contents would change the times. Without root the owner
// stays the copier's, as cp -a leaves it.
bool finish(int fd, const struct stat& info, const std::string& shown, std::string* error) {
  if (fchown(fd, info.st_uid, info.st_gid) != 0 && errno != EPERM) return fail("change the owner of", shown, errno, error);
  if (fchmod(fd, info.st_mode & 07777) != 0) return fail("change the mode of", shown, errno, error);
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  if (futimens(fd, times) != 0) return fail("set the times of", shown, errno, error);
  return true;
}

constexpr size_t kChunk = size_t{64} << 20;  // between two looks at the stop flag

// Copies [at, end) at the same offsets; copy_file_range where the file
// systems allow it, else through a buffer.
bool copyRange(int in, int out, off_t at, off_t end, const Entry& from, const Entry& to, std::string* error) {
  bool ranged = true;
  std::vector<char> buffer;
  while (at < end) {
    if (int signal = stopSignal()) {
      *error = describeStop("copy", from.shown, signal);
      return false;
    }
    size_t want = static_cast<size_t>(std::min<off_t>(end - at, static_cast<off_t>(kChunk)));
    ssize_t n;
    if (ranged) {
      off_t inAt = at, outAt = at;
      n = copy_file_range(in, &inAt, out, &outAt, want, 0);
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        ranged = false;
        continue;
      }
      if (n < 0 && errno != EINTR) return fail("copy", from.shown, errno, error);
    } else {
      buffer.resize(size_t{1} << 17);
      n = pread(in, buffer.data(), std::min(want, buffer.size()), at);
      if (n < 0 && errno != EINTR) return fail("read", from.shown, errno, error);
      for (ssize_t done = 0; n > 0 && done < n;) {
        ssize_t w = pwrite(out, buffer.data() + done, static_cast<size_t>(n - done), at + done);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return fail("write", to.shown, errno, error);
        done += w;
      }
    }
    if (n == 0) break;  // the source shrank meanwhile
    if (n > 0) at += n;
  }
  return true;
}

// Only the data is copied; holes stay holes. Files that look sparse (fewer
// blocks than their size needs) are walked with SEEK_DATA/SEEK_HOLE.
bool copyData(int in, int out, const struct stat& info, const Entry& from, const Entry& to, std::string* error) {
  off_t size = info.st_size;
  bool sparse = info.st_blocks * 512 < size;
  for (off_t at = 0; at < size;) {
    off_t data = sparse ? lseek(in, at, SEEK_DATA) : at;
    if (data < 0 && errno == ENXIO) break;  // a hole to the end
    if (data < 0) data = at;                // no hole support: all data
    off_t hole = sparse ? lseek(in, data, SEEK_HOLE) : size;
    if (hole < 0 || hole > size) hole = size;
    if (!copyRange(in, out, data, hole, from, to, error)) return false;
    at = hole;
  }
  if (ftruncate(out, size) != 0) return fail("write", to.shown, errno, error);
  return true;
}

}  // namespace

bool copyFileEntry(const Entry& from, const Entry& to, const struct stat& info, std::string* error) {
  Fd in = openSource(from, 0);
  if (!in.valid()) return fail("open", from.shown, errno, error);
  Fd out = createFile(to);
  if (!out.valid()) return fail("create", to.shown, errno, error);
  return copyData(in.get(), out.get(), info, from, to, error) &&
         copyAttributes({in.get(), {}}, {out.get(), {}}, from.shown, to.shown, error) &&
         finish(out.get(), info, to.shown, error);
}

bool copyLinkEntry(const Entry& from, const Entry& to, const struct stat& info, std::string* error) {
  if (!copyLinkTarget(from, to, info, error)) return false;
  if (fchownat(to.directory, to.name.c_str(), info.st_uid, info.st_gid, AT_SYMLINK_NOFOLLOW) != 0 && errno != EPERM) {
    return fail("change the owner of", to.shown, errno, error);
  }
  if (!copyAttributes(ofLink(from), ofLink(to), from.shown, to.shown, error)) return false;
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  if (utimensat(to.directory, to.name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    return fail("set the times of", to.shown, errno, error);
  }
  return true;
}

bool finishDirectory(int from, int to, const struct stat& info, const std::string& shown, std::string* error) {
  return copyAttributes({from, {}}, {to, {}}, shown, shown, error) && finish(to, info, shown, error);
}

#endif

}  // namespace tarnwell
