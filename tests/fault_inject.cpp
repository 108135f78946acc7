// Preloaded into the tool, to make it meet faults it cannot meet on its own.
// TARNWELL_FAULT_XATTR=read fails fgetxattr, =clear fails fremovexattr,
// with EIO, on descriptors of entries in /Applications (not the tool's
// staging folders): the hidden mark of an installed bundle; =refuse makes
// fsetxattr of the stand-ins for macOS's own attributes (user.com.apple.*)
// fail with EPERM, =deny with EACCES; =huge makes user.note of a file say
// it is larger than any memory. Every other call goes to the C library.

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
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

bool tool() { return strcmp(program_invocation_short_name, "tarnwell") == 0; }

}  // namespace

extern "C" ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) {
  const char* fault = getenv("TARNWELL_FAULT_XATTR");
  if (!value && fault && strcmp(fault, "huge") == 0 && strcmp(name, "user.note") == 0 && tool()) return 1l << 50;
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
      strncmp(name, "user.com.apple.", 15) == 0 && tool()) {
    errno = fault[0] == 'd' ? EACCES : EPERM;
    return -1;
  }
  static auto real = next<int (*)(int, const char*, const void*, size_t, int)>("fsetxattr");
  return real(fd, name, value, size, flags);
}

// TARNWELL_FAULT_RENAME=ERRNO refuses every renameat2 with that errno (1,
// EPERM; 13, EACCES), as macOS refuses changes to application bundles
// without the App Management grant; =kill kills the tool as it is about
// to keep what a swap took out.
extern "C" int renameat2(int from, const char* fromName, int to, const char* toName, unsigned flags) {
  const char* fault = getenv("TARNWELL_FAULT_RENAME");
  if (fault && tool() && strcmp(fault, "kill") == 0 && strncmp(toName, ".tarnwell-kept", 14) == 0) raise(SIGKILL);
  if (fault && tool() && strcmp(fault, "kill") != 0) {
    errno = atoi(fault);
    return -1;
  }
  static auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return real(from, fromName, to, toName, flags);
}

// TARNWELL_FAULT_THREADS: no thread starts, as under a limit of processes.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*), void* arg) {
  if (getenv("TARNWELL_FAULT_THREADS") && tool()) return EAGAIN;
  static auto real = next<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create");
  return real(thread, attributes, start, arg);
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
// TARNWELL_FAULT_EIO=NAME makes the copy of the file NAME fail with EIO
// (the Apple personality's fcopyfile honours both).
extern "C" ssize_t copy_file_range(int in, off64_t* inAt, int out, off64_t* outAt, size_t length, unsigned flags) {
  if (getenv("TARNWELL_FAULT_SLOW") && tool()) usleep(100000);
  const char* eio = tool() ? getenv("TARNWELL_FAULT_EIO") : nullptr;
  char link[64], path[4096] = {};
  snprintf(link, sizeof link, "/proc/self/fd/%d", in);
  const char* leaf = eio && readlink(link, path, sizeof path - 1) > 0 ? strrchr(path, '/') : nullptr;
  if (leaf && strcmp(leaf + 1, eio) == 0) {
    errno = EIO;
    return -1;
  }
  static auto real = next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
  return real(in, inAt, out, outAt, length, flags);
}

// TARNWELL_FAULT_EXE stands for what /proc/self/exe says: a path, or, set
// empty, nothing at all (no /proc).
extern "C" ssize_t readlink(const char* path, char* buffer, size_t size) {
  const char* exe = getenv("TARNWELL_FAULT_EXE");
  if (!exe || strcmp(path, "/proc/self/exe") != 0) {
    static auto real = next<ssize_t (*)(const char*, char*, size_t)>("readlink");
    return real(path, buffer, size);
  }
  const size_t length = strnlen(exe, size);
  memcpy(buffer, exe, length);
  errno = ENOENT;
  return length ? static_cast<ssize_t>(length) : -1;
}

using OpenAt = int (*)(int, const char*, int, ...);

// The tool's opens of an entry to read it: TARNWELL_FAULT_FIFO=NAME puts
// a FIFO in the place of NAME the first time, as a process racing on a
// writable volume could between the listing and the open.
static int openWithFaults(OpenAt real, int directory, const char* path, int flags, mode_t mode) {
  static bool done = false;
  const bool reading = !(flags & O_CREAT) && tool();
  const char* fifo = getenv("TARNWELL_FAULT_FIFO");
  if (reading && fifo && !done && strcmp(path, fifo) == 0) {
    done = true;
    unlinkat(directory, path, 0);
    mkfifoat(directory, path, 0644);
  }
  return real(directory, path, flags, mode);
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
