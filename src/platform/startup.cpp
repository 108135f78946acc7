#include "platform/startup.h"

#include "platform/signals.h"

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {

void prepareProcess() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) {
      int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != fd) {
        dup2(opened, fd);
        close(opened);
      }
    }
  }
  signal(SIGPIPE, SIG_IGN);
  catchStopSignals();
}

}  // namespace tarnwell
