#include "platform/system_copy.h"

#include "platform/apple.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#if !TARNWELL_APPLE
#include <sys/xattr.h>
#endif

namespace tarnwell {

#if TARNWELL_APPLE

const int kNoAttribute = ENOATTR;

EntryTimes::EntryTimes(const struct stat& info) : both{info.st_atimespec, info.st_mtimespec} {}

namespace {

struct Progress {
  const StopCheck& stopped;
  bool writeFailed = false;
};

// Called after every write and on every failure. A stop ends the copy at
// any stage. A failed write ends it too, with the write's errno: to go on
// would be to write again, for ever on a full disk.
int onStatus(int what, int stage, copyfile_state_t, const char*, const char*, void* context) {
  auto& progress = *static_cast<Progress*>(context);
  const int error = errno;  // fcopyfile returns what the callback leaves
  int answer = COPYFILE_CONTINUE;
  if (progress.stopped()) {
    answer = COPYFILE_QUIT;
  } else if (what == COPYFILE_COPY_DATA && stage == COPYFILE_ERR) {
    progress.writeFailed = true;
    answer = COPYFILE_QUIT;
  }
  errno = error;
  return answer;
}

}  // namespace

DataCopy copyFileData(int in, int out, const struct stat& /*info*/, const StopCheck& stopped) {
  copyfile_state_t state = copyfile_state_alloc();
  if (!state) return {errno, false, 0};
  Progress progress{stopped};
  copyfile_callback_t callback = onStatus;
  copyfile_state_set(state, COPYFILE_STATE_STATUS_CB, reinterpret_cast<const void*>(callback));
  copyfile_state_set(state, COPYFILE_STATE_STATUS_CTX, &progress);
  int rc = fcopyfile(in, out, state, COPYFILE_DATA | COPYFILE_DATA_SPARSE);
  int error = errno;
  copyfile_state_free(state);
  if (int signal = stopped()) return {0, false, signal};
  if (rc != 0) return {error, progress.writeFailed, 0};
  // fcopyfile gives the copy the source's quarantine whatever it is asked
  // to copy: a quarantined bundle would ask every user before it runs. A
  // volume without attributes has none to remove.
  if (fremovexattr(out, "com.apple.quarantine", 0) != 0 && errno != ENOATTR && errno != ENOTSUP)
    return {errno, true, 0};
  return {};
}

int listAttributes(int fd, std::vector<std::string>* names) {
  ssize_t size = flistxattr(fd, nullptr, 0, 0);
  if (size <= 0) return size < 0 && errno != ENOTSUP ? errno : 0;
  std::vector<char> buffer(static_cast<size_t>(size));
  size = flistxattr(fd, buffer.data(), buffer.size(), 0);
  if (size < 0) return errno;
  for (ssize_t at = 0; at < size;) {
    std::string name(buffer.data() + at);
    at += static_cast<ssize_t>(name.size()) + 1;
    names->push_back(std::move(name));
  }
  return 0;
}

int readAttribute(int fd, const std::string& name, std::string* value) {
  ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0, 0, 0);
  if (size < 0) return errno;
  value->resize(static_cast<size_t>(size));
  size = fgetxattr(fd, name.c_str(), value->data(), value->size(), 0, 0);
  if (size < 0) return errno;
  value->resize(static_cast<size_t>(size));
  return 0;
}

int writeAttribute(int fd, const std::string& name, std::string_view value) {
  return fsetxattr(fd, name.c_str(), value.data(), value.size(), 0, 0) == 0 ? 0 : errno;
}

int removeAttribute(int fd, const std::string& name) { return fremovexattr(fd, name.c_str(), 0) == 0 ? 0 : errno; }

Fd openLinkItself(int directory, const char* name) {
  // O_NOFOLLOW would refuse it; O_NONBLOCK, so that a FIFO put in its
  // place does not hold the open, and it must still be a link.
  Fd link(openat(directory, name, O_RDONLY | O_SYMLINK | O_NONBLOCK | O_CLOEXEC));
  struct stat info;
  if (link.valid() && (fstat(link.get(), &info) != 0 || !S_ISLNK(info.st_mode))) link.reset();
  return link;
}

int copyFlags(int out, const struct stat& info) {
  return (info.st_flags & UF_HIDDEN) != 0 && fchflags(out, UF_HIDDEN) != 0 ? errno : 0;
}

gid_t groupOfNewEntries(const struct stat& directory) { return directory.st_gid; }

namespace {
constexpr unsigned kLocks = UF_IMMUTABLE | UF_APPEND;
bool unlock(int fd) {
  struct stat info;
  return fd >= 0 && fstat(fd, &info) == 0 && (info.st_flags & kLocks) != 0 &&
         fchflags(fd, info.st_flags & ~kLocks) == 0;
}
}  // namespace

bool clearLockFlags(int directory, const char* name) {
  Fd entry(openat(directory, name, O_RDONLY | O_SYMLINK | O_NONBLOCK | O_CLOEXEC));
  bool entryCleared = unlock(entry.get());
  bool directoryCleared = unlock(directory);
  return entryCleared || directoryCleared;
}

int renameSwap(int fromDirectory, const char* fromName, int toDirectory, const char* toName) {
  return renameatx_np(fromDirectory, fromName, toDirectory, toName, RENAME_SWAP) == 0 ? 0 : errno;
}

int renameNoReplace(int fromDirectory, const char* fromName, int toDirectory, const char* toName) {
  return renameatx_np(fromDirectory, fromName, toDirectory, toName, RENAME_EXCL) == 0 ? 0 : errno;
}

#else

const int kNoAttribute = ENODATA;

EntryTimes::EntryTimes(const struct stat& info) : both{info.st_atim, info.st_mtim} {}

namespace {

constexpr size_t kChunk = size_t{64} << 20;  // between two looks at the stop flag
constexpr std::string_view kUserPrefix = "user.";

// Copies [at, end) at the same offsets; copy_file_range where the file
// systems allow it, else through a buffer.
// `at` ends where the copy ended: short of `end` when the source shrank.
DataCopy copyRange(int in, int out, off_t& at, off_t end, const StopCheck& stopped) {
  bool ranged = true;
  std::vector<char> buffer;
  while (at < end) {
    if (int signal = stopped()) return {0, false, signal};
    size_t want = static_cast<size_t>(std::min<off_t>(end - at, static_cast<off_t>(kChunk)));
    ssize_t n;
    if (ranged) {
      off_t inAt = at, outAt = at;
      n = copy_file_range(in, &inAt, out, &outAt, want, 0);
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        ranged = false;
        continue;
      }
      if (n < 0 && errno != EINTR) return {errno, false, 0};
    } else {
      buffer.resize(size_t{1} << 17);
      n = pread(in, buffer.data(), std::min(want, buffer.size()), at);
      if (n < 0 && errno != EINTR) return {errno, false, 0};
      for (ssize_t done = 0; n > 0 && done < n;) {
        ssize_t w = pwrite(out, buffer.data() + done, static_cast<size_t>(n - done), at + done);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return {errno, true, 0};
        done += w;
      }
    }
    if (n == 0) break;  // the source shrank meanwhile
    if (n > 0) at += n;
  }
  return {};
}

}  // namespace

// Files that look sparse (fewer blocks than their size needs) are walked
// with SEEK_DATA/SEEK_HOLE, so that only their data is copied.
DataCopy copyFileData(int in, int out, const struct stat& info, const StopCheck& stopped) {
  off_t size = info.st_size;
  bool sparse = info.st_blocks * 512 < size;
  off_t written = 0;
  for (off_t at = 0; at < size;) {
    off_t data = sparse ? lseek(in, at, SEEK_DATA) : at;
    if (data < 0 && errno == ENXIO) break;  // a hole to the end
    if (data < 0) data = at;                // no hole support: all data
    off_t hole = sparse ? lseek(in, data, SEEK_HOLE) : size;
    if (hole < 0 || hole > size) hole = size;
    written = data;
    if (DataCopy copied = copyRange(in, out, written, hole, stopped); copied.error || copied.signal) return copied;
    if (written < hole) break;  // the source shrank meanwhile
    at = hole;
  }
  // A hole at the end, or a source that shrank, leaves the copy short.
  if (written != size && ftruncate(out, size) != 0) return {errno, true, 0};
  return {};
}

int listAttributes(int fd, std::vector<std::string>* names) {
  ssize_t size = flistxattr(fd, nullptr, 0);
  if (size <= 0) return size < 0 && errno != ENOTSUP ? errno : 0;
  std::vector<char> buffer(static_cast<size_t>(size));
  size = flistxattr(fd, buffer.data(), buffer.size());
  if (size < 0) return errno;
  for (ssize_t at = 0; at < size;) {
    std::string_view name(buffer.data() + at);
    at += static_cast<ssize_t>(name.size()) + 1;
    if (name.starts_with(kUserPrefix)) names->emplace_back(name.substr(kUserPrefix.size()));
  }
  return 0;
}

int readAttribute(int fd, const std::string& name, std::string* value) {
  const std::string full = std::string(kUserPrefix) + name;
  ssize_t size = fgetxattr(fd, full.c_str(), nullptr, 0);
  if (size < 0) return errno;
  value->resize(static_cast<size_t>(size));
  size = fgetxattr(fd, full.c_str(), value->data(), value->size());
  if (size < 0) return errno;
  value->resize(static_cast<size_t>(size));
  return 0;
}

int writeAttribute(int fd, const std::string& name, std::string_view value) {
  const std::string full = std::string(kUserPrefix) + name;
  return fsetxattr(fd, full.c_str(), value.data(), value.size(), 0) == 0 ? 0 : errno;
}

int removeAttribute(int fd, const std::string& name) {
  const std::string full = std::string(kUserPrefix) + name;
  return fremovexattr(fd, full.c_str()) == 0 ? 0 : errno;
}

Fd openLinkItself(int /*directory*/, const char* /*name*/) { return Fd(); }

int copyFlags(int /*out*/, const struct stat& /*info*/) { return 0; }

gid_t groupOfNewEntries(const struct stat& directory) {
  return (directory.st_mode & S_ISGID) ? directory.st_gid : getegid();
}

bool clearLockFlags(int /*directory*/, const char* /*name*/) { return false; }

int renameSwap(int fromDirectory, const char* fromName, int toDirectory, const char* toName) {
  return renameat2(fromDirectory, fromName, toDirectory, toName, RENAME_EXCHANGE) == 0 ? 0 : errno;
}

int renameNoReplace(int fromDirectory, const char* fromName, int toDirectory, const char* toName) {
  return renameat2(fromDirectory, fromName, toDirectory, toName, RENAME_NOREPLACE) == 0 ? 0 : errno;
}

#endif

}  // namespace tarnwell
