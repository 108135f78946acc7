#include "platform/startup.h"

#include "platform/fd.h"
#include "platform/signals.h"

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwell {

void prepareProcess() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0) continue;
    // The lowest free number is `fd` itself, which the open then takes.
    Fd opened(open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY));
    if (opened.get() == fd) opened.release();
  }
  // Whatever the tool makes is private unless it says otherwise: the
  // caller's umask may be 000.
  umask(077);
  signal(SIGPIPE, SIG_IGN);
  catchStopSignals();
}

}  // namespace tarnwell
