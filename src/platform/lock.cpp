#include "platform/lock.h"

#include "platform/errors.h"
#include "platform/signals.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tarnwell {

bool holdLock(const std::string& path, const std::function<void()>& beforeWaiting, std::string* error) {
  // Never closed: the lock goes with the process. Not inherited by children.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = describeError("lock", path, errno);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  if (errno != EWOULDBLOCK) {
    *error = describeError("lock", path, errno);
    close(fd);
    return false;
  }
  beforeWaiting();
  for (;;) {
    if (int signal = stopSignal()) {
      *error = describeStop("lock", path, signal);
      break;
    }
    if (flock(fd, LOCK_EX) == 0) return true;
    if (errno != EINTR) {
      *error = describeError("lock", path, errno);
      break;
    }
  }
  close(fd);
  return false;
}

}  // namespace tarnwell
