// Preloaded into the tool, to make it meet faults it cannot meet on its own.
// TARNWELL_FAULT_XATTR=read fails fgetxattr, =clear fails fremovexattr,
// with EIO, on descriptors of entries in /Applications (not the tool's
// staging folders): the hidden mark of an installed bundle; =refuse makes
// fsetxattr of the stand-ins for macOS's own attributes (user.com.apple.*)
// fail with EPERM, =deny with EACCES. Every other call goes to the C library.

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

bool failing(const char* which, int fd) {
  const char* fault = getenv("TARNWELL_FAULT_XATTR");
  char link[64], path[4096] = {};
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  if (!fault || strcmp(fault, which) != 0 || readlink(link, path, sizeof path - 1) < 0) return false;
  return strncmp(path, "/Applications/", 14) == 0 && !strstr(path, "/.tarnwell-");
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) {
  if (failing("read", fd)) {
    errno = EIO;
    return -1;
  }
  static auto real = next<ssize_t (*)(int, const char*, void*, size_t)>("fgetxattr");
  return real(fd, name, value, size);
}

extern "C" int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  const char* fault = getenv("TARNWELL_FAULT_XATTR");
  if (fault && (strcmp(fault, "refuse") == 0 || strcmp(fault, "deny") == 0) &&
      strncmp(name, "user.com.apple.", 15) == 0 && strcmp(program_invocation_short_name, "tarnwell") == 0) {
    errno = fault[0] == 'd' ? EACCES : EPERM;
    return -1;
  }
  static auto real = next<int (*)(int, const char*, const void*, size_t, int)>("fsetxattr");
  return real(fd, name, value, size, flags);
}

// TARNWELL_FAULT_RENAME refuses every renameat2 (EPERM), as macOS refuses
// changes to application bundles without the App Management grant.
extern "C" int renameat2(int from, const char* fromName, int to, const char* toName, unsigned flags) {
  if (getenv("TARNWELL_FAULT_RENAME") && strcmp(program_invocation_short_name, "tarnwell") == 0) {
    errno = EPERM;
    return -1;
  }
  static auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return real(from, fromName, to, toName, flags);
}

extern "C" int fremovexattr(int fd, const char* name) {
  if (failing("clear", fd)) {
    errno = EIO;
    return -1;
  }
  static auto real = next<int (*)(int, const char*)>("fremovexattr");
  return real(fd, name);
}

// TARNWELL_FAULT_SLOW makes every ranged copy of the tool (not of its
// children) take a tenth of a second, so that a test can act while a
// bundle is being copied.
// TARNWELL_FAULT_EIO=NAME makes the copy of the file NAME fail with EIO.
static int failingCopy = -1;

extern "C" ssize_t copy_file_range(int in, off64_t* inAt, int out, off64_t* outAt, size_t length, unsigned flags) {
  if (getenv("TARNWELL_FAULT_SLOW") && strcmp(program_invocation_short_name, "tarnwell") == 0) usleep(100000);
  if (in == __atomic_load_n(&failingCopy, __ATOMIC_SEQ_CST)) {
    errno = EIO;
    return -1;
  }
  static auto real = next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
  return real(in, inAt, out, outAt, length, flags);
}

using OpenAt = int (*)(int, const char*, int, ...);

// The tool's opens of an entry to read it: TARNWELL_FAULT_FIFO=NAME puts
// a FIFO in the place of NAME the first time, as a process racing on a
// writable volume could between the listing and the open; the open of
// TARNWELL_FAULT_EIO is noted, so that its copy fails.
static int openWithFaults(OpenAt real, int directory, const char* path, int flags, mode_t mode) {
  static bool done = false;
  const bool reading = !(flags & O_CREAT) && strcmp(program_invocation_short_name, "tarnwell") == 0;
  const char* fifo = getenv("TARNWELL_FAULT_FIFO");
  if (reading && fifo && !done && strcmp(path, fifo) == 0) {
    done = true;
    unlinkat(directory, path, 0);
    mkfifoat(directory, path, 0644);
  }
  int fd = real(directory, path, flags, mode);
  const char* eio = getenv("TARNWELL_FAULT_EIO");
  if (reading && eio && strcmp(path, eio) == 0) __atomic_store_n(&failingCopy, fd, __ATOMIC_SEQ_CST);
  return fd;
}

extern "C" int openat(int directory, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
  va_end(args);
  static auto real = next<OpenAt>("openat");
  return openWithFaults(real, directory, path, flags, mode);
}

extern "C" int openat64(int directory, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
  va_end(args);
  static auto real = next<OpenAt>("openat64");
  return openWithFaults(real, directory, path, flags, mode);
}
