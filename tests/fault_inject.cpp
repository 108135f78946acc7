// Preloaded into the tool. To make the hidden mark of an installed bundle
// fail with EIO: TARNWELL_FAULT_XATTR=read fails fgetxattr, =clear fails
// fremovexattr, on descriptors of entries in /Applications (not the
// tool's staging folders). Every other call goes to the C library.

#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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
extern "C" ssize_t copy_file_range(int in, off64_t* inAt, int out, off64_t* outAt, size_t length, unsigned flags) {
  if (getenv("TARNWELL_FAULT_SLOW") && strcmp(program_invocation_short_name, "tarnwell") == 0) usleep(100000);
  static auto real = next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
  return real(in, inAt, out, outAt, length, flags);
}

// TARNWELL_FAULT_FIFO=NAME puts a FIFO in the place of the entry NAME the
// first time the tool opens it to read, as a process racing on a writable
// volume could between the listing and the open.
static int swapForFifo(int directory, const char* path, int flags) {
  static bool done = false;
  const char* name = getenv("TARNWELL_FAULT_FIFO");
  if (name && !done && !(flags & O_CREAT) && strcmp(path, name) == 0 && strcmp(program_invocation_short_name, "tarnwell") == 0) {
    done = true;
    unlinkat(directory, path, 0);
    mkfifoat(directory, path, 0644);
  }
  return 0;
}

extern "C" int openat(int directory, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
  va_end(args);
  swapForFifo(directory, path, flags);
  static auto real = next<int (*)(int, const char*, int, ...)>("openat");
  return real(directory, path, flags, mode);
}

extern "C" int openat64(int directory, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
  va_end(args);
  swapForFifo(directory, path, flags);
  static auto real = next<int (*)(int, const char*, int, ...)>("openat64");
  return real(directory, path, flags, mode);
}
