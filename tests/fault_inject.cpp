// Preloaded into the tool. To make the hidden mark of an installed bundle
// fail with EIO: TARNWELL_FAULT_XATTR=read fails fgetxattr, =clear fails
// fremovexattr, on descriptors of entries in /Applications (not the
// tool's staging folders). Every other call goes to the C library.

#include <dlfcn.h>
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

// TARNWELL_FAULT_SLOW makes every ranged copy take a tenth of a second, so
// that a test can act while a bundle is being copied.
extern "C" ssize_t copy_file_range(int in, off64_t* inAt, int out, off64_t* outAt, size_t length, unsigned flags) {
  if (getenv("TARNWELL_FAULT_SLOW")) usleep(100000);
  static auto real = next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
  return real(in, inAt, out, outAt, length, flags);
}
