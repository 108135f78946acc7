#include "main/run_lock.h"

#include "platform/fd.h"
#include "platform/signals.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace tarnwell {
namespace {
constexpr int kTurnMs = 100;
}  // namespace

Result holdLock(const std::string& path, const std::function<void()>& beforeWaiting) {
  // O_NONBLOCK: a FIFO at the name must not hold the open.
  Fd fd(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (!fd.valid()) return Result::error("lock", path, errno);
  struct stat info;
  if (fstat(fd.get(), &info) != 0) return Result::error("lock", path, errno);
  if (!S_ISREG(info.st_mode)) return Result::failure(describeFailure("lock", path, "it is not a regular file"));
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return Result::error("lock", path, errno);
    beforeWaiting();
    // In turns, waking on a stop signal: one that came just before a
    // blocking flock would not end it, and the run before may take an hour.
    for (;;) {
      if (int signal = stopSignal()) return Result::failure(describeStop("lock", path, signal));
      if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) break;
      if (errno != EWOULDBLOCK && errno != EINTR) return Result::error("lock", path, errno);
      struct pollfd wake = {stopSignalFd(), POLLIN, 0};
      poll(&wake, 1, kTurnMs);
    }
  }
  static Fd held;  // until the process ends; not inherited by children
  held = std::move(fd);
  return {};
}

}  // namespace tarnwell
