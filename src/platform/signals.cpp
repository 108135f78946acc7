#include "platform/signals.h"

#include "platform/fd.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {
namespace {

// Read by the threads of a copy too; lock-free, so the handler may set it.
std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free);
Pipe wake;  // lives as long as the process; the handler writes to it

void noteStop(int signal) {
  int none = 0;
  received.compare_exchange_strong(none, signal);
  int saved = errno;
  if (wake.write.valid()) (void)!write(wake.write.get(), "", 1);  // full pipe: it is readable already
  errno = saved;
}

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

}  // namespace

void catchStopSignals() {
  if (openPipe(&wake)) {
    fcntl(wake.read.get(), F_SETFL, O_NONBLOCK);
    fcntl(wake.write.get(), F_SETFL, O_NONBLOCK);
  }
  struct sigaction action = {};
  action.sa_handler = noteStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking lock or wait returns EINTR and looks at the flag
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
}

int stopSignal() { return received; }

int stopSignalFd() { return wake.read.get(); }

void endBySignal(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  sigprocmask(SIG_UNBLOCK, &one, nullptr);
  raise(signal);
  _exit(128 + signal);
}

}  // namespace tarnwell
