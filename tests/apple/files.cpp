// File flags, extended attributes, ACLs and the swapping rename, as macOS
// gives them, on Linux's calls.

#define TARNWELL_STANDIN_IMPLEMENTATION
#include "include/apple_standins.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <sys/xattr.h>

namespace {

constexpr char kFlags[] = "user.standin.flags", kAcl[] = "user.standin.acl";
constexpr char kFinderInfo[] = "com.apple.FinderInfo";

int fail(int error) {
  errno = error;
  return -1;
}

bool isLink(int fd) {
  struct stat info;
  return ::fstat(fd, &info) == 0 && S_ISLNK(info.st_mode);
}

// The f-calls refuse a descriptor opened O_SYMLINK, which is O_PATH here;
// such a file (never a link: those are answered before) is opened again.
class Usable {
 public:
  explicit Usable(int given) : fd(given) {
    if (fcntl(given, F_GETFL) & O_PATH)
      fd = owned_ = open(("/proc/self/fd/" + std::to_string(given)).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
  ~Usable() {
    if (owned_ >= 0) close(owned_);
  }
  int fd;

 private:
  int owned_ = -1;
};

// Like the calls that read them, this leaves errno alone.
unsigned flagsOf(int fd) {
  const int saved = errno;
  char text[16] = {};
  unsigned flags =
      !isLink(fd) && ::fgetxattr(Usable(fd).fd, kFlags, text, sizeof text - 1) > 0 ? std::strtoul(text, nullptr, 0) : 0;
  errno = saved;
  return flags;
}

// What every call refuses before it looks at the file: options the
// descriptor forms do not take, a position (only resource forks have
// one), and the names the system keeps to itself.
int refused(const char* name, uint32_t position, int options) {
  if (position != 0 || (options & XATTR_NOFOLLOW)) return EINVAL;
  return std::strncmp(name, "com.apple.system.", 17) == 0 ? EPERM : 0;
}

std::string linuxName(const char* name) { return std::string("user.") + name; }

}  // namespace

int standin_fstat(int fd, struct stat* info) {
  if (::fstat(fd, info) != 0) return -1;
  info->st_flags = flagsOf(fd);
  return 0;
}

// Locked entries, or entries of a locked folder, cannot be removed.
int standin_unlinkat(int directory, const char* name, int flags) {
  constexpr unsigned kLocks = UF_IMMUTABLE | UF_APPEND | SF_IMMUTABLE | SF_APPEND;
  int entry = openat(directory, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  bool locked = (flagsOf(directory) & kLocks) || (entry >= 0 && (flagsOf(entry) & kLocks));
  if (entry >= 0) close(entry);
  return locked ? fail(EPERM) : ::unlinkat(directory, name, flags);
}

// The whole word is replaced. Bits outside what may be set, or clearing
// a system flag (the securelevel is above 0), are refused even for root.
int fchflags(int fd, unsigned flags) {
  unsigned old = flagsOf(fd);
  if (((old ^ flags) & ~0x3fffffffu) || (old & ~flags & 0xffff0000u)) return fail(EPERM);
  if (isLink(fd)) return flags == 0 ? 0 : fail(ENOTSUP);  // no side store for links' flags
  Usable file(fd);
  if (flags == 0) return ::fremovexattr(file.fd, kFlags) == 0 || errno == ENODATA ? 0 : -1;
  const std::string text = std::to_string(flags);
  return ::fsetxattr(file.fd, kFlags, text.data(), text.size(), 0);
}

// Linux keeps no user attributes on links: links list none, and take none.
ssize_t flistxattr(int fd, char* names, size_t size, int options) {
  if (options & XATTR_NOFOLLOW) return fail(EINVAL);
  if (isLink(fd)) return 0;
  std::vector<char> all(65536);
  ssize_t n = ::flistxattr(Usable(fd).fd, all.data(), all.size());
  if (n < 0) return -1;
  std::string listed;
  for (const char* at = all.data(); at < all.data() + n; at += std::strlen(at) + 1) {
    if (std::strncmp(at, "user.", 5) == 0 && std::strncmp(at, "user.standin.", 13) != 0 && !refused(at + 5, 0, 0))
      listed.append(at + 5, std::strlen(at + 5) + 1);
  }
  if (!names) return static_cast<ssize_t>(listed.size());
  if (size < listed.size()) return fail(ERANGE);
  std::copy(listed.begin(), listed.end(), names);
  return static_cast<ssize_t>(listed.size());
}

// A FinderInfo of zeros does not exist.
ssize_t fgetxattr(int fd, const char* name, void* value, size_t size, uint32_t position, int options) {
  if (int error = refused(name, position, options)) return fail(error);
  if (isLink(fd)) return fail(ENOATTR);
  Usable file(fd);
  char info[32];
  if (std::strcmp(name, kFinderInfo) == 0 && ::fgetxattr(file.fd, linuxName(name).c_str(), info, 32) == 32 &&
      std::all_of(info, info + 32, [](char c) { return c == 0; }))
    return fail(ENOATTR);
  return ::fgetxattr(file.fd, linuxName(name).c_str(), value, size);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, uint32_t position, int options) {
  if (int error = refused(name, position, options)) return fail(error);
  if (std::strcmp(name, kFinderInfo) == 0 && size != 32) return fail(ERANGE);
  if (isLink(fd)) return fail(ENOTSUP);
  if (flagsOf(fd) & (UF_IMMUTABLE | SF_IMMUTABLE)) return fail(EPERM);
  return ::fsetxattr(Usable(fd).fd, linuxName(name).c_str(), value, size, 0);
}

int fremovexattr(int fd, const char* name, int options) {
  if (int error = refused(name, 0, options)) return fail(error);
  if (isLink(fd)) return fail(ENOATTR);
  if (flagsOf(fd) & (UF_IMMUTABLE | SF_IMMUTABLE)) return fail(EPERM);
  return ::fremovexattr(Usable(fd).fd, linuxName(name).c_str());
}

// TARNWELL_APPLE_HFS: the destination is an HFS+ volume, which has no swap.
int renameatx_np(int fromDirectory, const char* from, int toDirectory, const char* to, unsigned flags) {
  if ((flags & ~0x17u) || ((flags & RENAME_SWAP) && (flags & RENAME_EXCL))) return fail(EINVAL);
  if ((flags & RENAME_SWAP) && std::getenv("TARNWELL_APPLE_HFS")) return fail(ENOTSUP);
  return renameat2(fromDirectory, from, toDirectory, to,
                   (flags & RENAME_SWAP)   ? RENAME_EXCHANGE
                   : (flags & RENAME_EXCL) ? RENAME_NOREPLACE
                                           : 0);
}

struct standin_acl_entry {
  acl_tag_t tag;
  unsigned permissions;
};
struct standin_acl {
  std::vector<standin_acl_entry> entries;
  size_t next = 0;
};

// No ACL is NULL with ENOENT.
acl_t acl_get_fd_np(int fd, acl_type_t type) {
  char text[4096] = {};
  ssize_t n = type == ACL_TYPE_EXTENDED ? ::fgetxattr(Usable(fd).fd, kAcl, text, sizeof text - 1) : fail(EINVAL);
  if (n < 0 && errno == ENODATA) errno = ENOENT;
  if (n < 0) return nullptr;
  auto acl = new standin_acl;
  std::istringstream lines(text);
  std::string kind;
  for (unsigned bits; lines >> kind >> bits;)
    acl->entries.push_back({kind == "allow" ? ACL_EXTENDED_ALLOW : ACL_EXTENDED_DENY, bits});
  return acl;
}

// 0 for an entry; -1 with EINVAL after the last.
int acl_get_entry(acl_t acl, int which, acl_entry_t* entry) {
  size_t at = which == ACL_FIRST_ENTRY ? 0 : which == ACL_NEXT_ENTRY ? acl->next : acl->entries.size();
  if (at >= acl->entries.size()) return fail(EINVAL);
  acl->next = at + 1;
  *entry = &acl->entries[at];
  return 0;
}

int acl_get_tag_type(acl_entry_t entry, acl_tag_t* tag) {
  *tag = entry->tag;
  return 0;
}

int acl_get_permset(acl_entry_t entry, acl_permset_t* permissions) {
  *permissions = &entry->permissions;
  return 0;
}

int acl_get_perm_np(acl_permset_t permissions, acl_perm_t permission) { return (*permissions & permission) != 0; }

int acl_free(void* acl) {
  delete static_cast<standin_acl*>(acl);
  return 0;
}
