// fcopyfile with COPYFILE_DATA, as copyfile-224 does it: the source's
// quarantine goes to the copy whatever the flags; the status callback is
// called after every write, and asked on every failed write, where
// COPYFILE_CONTINUE writes again; what was written stays on a failure.
//
// Faults, as the fault library names them: TARNWELL_FAULT_EIO=NAME fails
// every write of the copy of the file NAME with EIO; TARNWELL_FAULT_SLOW
// makes each copy take a tenth of a second.

#define TARNWELL_STANDIN_IMPLEMENTATION
#include "include/apple_standins.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/xattr.h>

struct copyfile_state {
  copyfile_callback_t callback = nullptr;
  void* context = nullptr;
};

copyfile_state_t copyfile_state_alloc() { return new copyfile_state; }

int copyfile_state_free(copyfile_state_t state) {
  delete state;
  return 0;
}

int copyfile_state_set(copyfile_state_t state, uint32_t flag, const void* value) {
  if (flag == COPYFILE_STATE_STATUS_CB) {
    state->callback = reinterpret_cast<copyfile_callback_t>(const_cast<void*>(value));
  } else if (flag == COPYFILE_STATE_STATUS_CTX) {
    state->context = const_cast<void*>(value);
  } else {
    errno = EINVAL;
    return -1;
  }
  return 0;
}

namespace {

// On a Mac a callback that answers COPYFILE_CONTINUE to a failed write is
// asked again for ever; here that ends the process, failing the test.
constexpr int kRetries = 1000;
constexpr char kQuarantine[] = "user.com.apple.quarantine";

int ask(copyfile_state_t state, int what, int stage, int otherwise) {
  return state && state->callback ? state->callback(what, stage, state, nullptr, nullptr, state->context) : otherwise;
}

// The errno every write of this copy fails with: TARNWELL_FAULT_EIO names the source.
int injectedError(int from) {
  const char* name = std::getenv("TARNWELL_FAULT_EIO");
  char path[4096] = {};
  if (!name || readlink(("/proc/self/fd/" + std::to_string(from)).c_str(), path, sizeof path - 1) < 0) return 0;
  const char* leaf = std::strrchr(path, '/');
  return leaf && std::strcmp(leaf + 1, name) == 0 ? EIO : 0;
}

// 0 when written, 1 when the callback skipped the rest, -1 on a failure.
int writeAt(int to, const char* data, size_t size, off_t at, copyfile_state_t state, int injected) {
  for (int retries = 0; size > 0;) {
    ssize_t n = injected ? (errno = injected, -1) : pwrite(to, data, size, at);
    if (n < 0) {
      standin_syslog(LOG_WARNING, "writing to output file got error: %m");
      int answer = ask(state, COPYFILE_COPY_DATA, COPYFILE_ERR, COPYFILE_QUIT);
      if (answer == COPYFILE_SKIP) return 1;
      if (answer != COPYFILE_CONTINUE) return -1;  // errno as the callback left it
      if (++retries == kRetries) {
        std::fprintf(stderr, "fcopyfile: the callback answered COPYFILE_CONTINUE to %d failed writes\n", kRetries);
        std::abort();
      }
      errno = 0;
      continue;
    }
    data += n, size -= static_cast<size_t>(n), at += n;
    if (ask(state, COPYFILE_COPY_DATA, COPYFILE_PROGRESS, COPYFILE_CONTINUE) == COPYFILE_QUIT) {
      errno = ECANCELED;
      return -1;
    }
  }
  return 0;
}

// Where the source has a hole, the copy is given its full size first and
// only the data is written; otherwise it is written whole, and cut to what
// was written.
int copyData(int from, int to, const struct stat& info, copyfile_state_t state, copyfile_flags_t flags) {
  if (std::getenv("TARNWELL_FAULT_SLOW")) usleep(100000);
  const int injected = injectedError(from);
  const off_t hole = (flags & COPYFILE_DATA_SPARSE) ? lseek(from, 0, SEEK_HOLE) : -1;
  const bool sparse = hole >= 0 && hole < info.st_size;
  if (sparse && ftruncate(to, info.st_size) != 0) return -1;
  std::vector<char> buffer(size_t{1} << 20);
  off_t at = 0, written = 0;
  while (at < info.st_size) {
    if (sparse && (at = lseek(from, at, SEEK_DATA)) < 0) break;  // a hole to the end
    const off_t end = sparse ? lseek(from, at, SEEK_HOLE) : info.st_size;
    for (; at < end; at = written) {
      ssize_t n = pread(from, buffer.data(), static_cast<size_t>(std::min<off_t>(end - at, buffer.size())), at);
      if (n < 0) return -1;  // a failed read is not the callback's to answer
      if (n == 0) return sparse || ftruncate(to, written) == 0 ? 0 : -1;  // the source shrank
      if (int rc = writeAt(to, buffer.data(), static_cast<size_t>(n), at, state, injected)) return rc < 0 ? -1 : 0;
      written = at + n;
    }
  }
  return sparse || ftruncate(to, written) == 0 ? 0 : -1;
}

}  // namespace

int fcopyfile(int from, int to, copyfile_state_t state, copyfile_flags_t flags) {
  struct stat in, out;
  if (from < 0 || to < 0) return errno = EINVAL, -1;
  if (::fstat(from, &in) != 0 || ::fstat(to, &out) != 0) return -1;
  if (!S_ISREG(in.st_mode) && !S_ISDIR(in.st_mode) && !S_ISLNK(in.st_mode)) return errno = ENOTSUP, -1;
  fchmod(to, out.st_mode | S_IRUSR | S_IWUSR);  // writable by its owner while it is written
  int rc = 0;
  char quarantine[4096];
  ssize_t n = ::fgetxattr(from, kQuarantine, quarantine, sizeof quarantine);
  if (n >= 0 && ::fsetxattr(to, kQuarantine, quarantine, static_cast<size_t>(n), 0) != 0 &&
      ask(state, COPYFILE_COPY_XATTR, COPYFILE_ERR, COPYFILE_CONTINUE) == COPYFILE_QUIT)
    rc = -1;
  if (rc == 0 && (flags & COPYFILE_DATA) && S_ISREG(in.st_mode)) rc = copyData(from, to, in, state, flags);
  const int error = rc == 0 ? 0 : errno;
  fchmod(to, out.st_mode & 07777);
  errno = error;
  return rc;
}
