#include "platform/fd.h"

#include "platform/apple.h"

namespace tarnwell {

bool openPipe(Pipe* pipe) {
  int fds[2];
#if TARNWELL_APPLE
  if (::pipe(fds) != 0) return false;  // no pipe2 there
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
