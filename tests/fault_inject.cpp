// Preloaded into the tool by whole-run tests to make the hidden mark of an
// installed bundle fail: TARNWELL_FAULT_XATTR=read fails getxattr, =clear
// fails removexattr, for paths under /Applications, with EIO. Every other
// call goes to the C library.

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/xattr.h>

namespace {

bool failing(const char* which, const char* path) {
  const char* fault = getenv("TARNWELL_FAULT_XATTR");
  return fault && strcmp(fault, which) == 0 && strncmp(path, "/Applications/", 14) == 0;
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t getxattr(const char* path, const char* name, void* value, size_t size) {
  if (failing("read", path)) {
    errno = EIO;
    return -1;
  }
  static auto real = next<ssize_t (*)(const char*, const char*, void*, size_t)>("getxattr");
  return real(path, name, value, size);
}

extern "C" int removexattr(const char* path, const char* name) {
  if (failing("clear", path)) {
    errno = EIO;
    return -1;
  }
  static auto real = next<int (*)(const char*, const char*)>("removexattr");
  return real(path, name);
}
