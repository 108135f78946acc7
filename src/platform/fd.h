#pragma once

#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {

// Owns one open descriptor and closes it.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read, write;
};

// A pipe whose two ends are close-on-exec; false with errno set.
inline bool openPipe(Pipe* pipe) {
  int fds[2];
#if defined(__APPLE__)
  if (::pipe(fds) != 0) return false;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#else
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
#endif
  pipe->read.reset(fds[0]);
  pipe->write.reset(fds[1]);
  return true;
}

}  // namespace tarnwell
