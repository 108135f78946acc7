#include "platform/child.h"

#include "platform/apple.h"
#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/signals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if !TARNWELL_APPLE
#include <sys/syscall.h>
#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#endif

namespace tarnwell {
namespace {

// What every child is given instead of the tool's environment: the
// system's own folders to search, and the C locale, in which a shell reads
// each byte on its own (in Big5, GBK, GB18030 or Shift-JIS a name's last
// byte would take the escaping backslash into a character of its own).
// Nothing else: no BASH_ENV, ENV, CDPATH or IFS of whoever started the tool.
char kSearchPath[] = "PATH=/usr/bin:/bin:/usr/sbin:/sbin";
char kLocale[] = "LC_ALL=C";
char* const kEnvironment[] = {kSearchPath, kLocale, nullptr};

// Files a child makes get the system's usual modes, not the tool's own
// private ones.
constexpr mode_t kChildUmask = 022;

using Clock = std::chrono::steady_clock;

struct Events {
  bool exited = false;
  bool readable = false;
};

int millisUntil(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// A descriptor that becomes readable when the child ends, or none. When
// the child has ended before it could be watched, `ended` is set.
#if TARNWELL_APPLE
Fd watchExit(int pid, bool& ended) {
  Fd queue(kqueue());
  if (!queue.valid()) return queue;
  fcntl(queue.get(), F_SETFD, FD_CLOEXEC);
  struct kevent change;
  EV_SET(&change, pid, EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0, nullptr);
  if (kevent(queue.get(), &change, 1, nullptr, 0, nullptr) < 0) {
    ended = errno == ESRCH;
    queue.reset();
  }
  return queue;
}

// Returns -1 with errno set, 0 on time-out, 1 when something happened. A
// readable `stopFd` only wakes the wait; the caller looks at the signal.
int waitEvents(int queue, int outputFd, int stopFd, int timeoutMs, Events& events) {
  for (int fd : {outputFd, stopFd}) {
    if (fd < 0) continue;
    struct kevent change;
    EV_SET(&change, fd, EVFILT_READ, EV_ADD | EV_ONESHOT, 0, 0, nullptr);
    if (kevent(queue, &change, 1, nullptr, 0, nullptr) < 0) return -1;
  }
  struct timespec limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
  struct kevent happened[3];
  int n = kevent(queue, nullptr, 0, happened, 3, timeoutMs < 0 ? nullptr : &limit);
  for (int i = 0; i < n; ++i) {
    if (happened[i].filter == EVFILT_PROC) events.exited = true;
    if (happened[i].filter == EVFILT_READ && static_cast<int>(happened[i].ident) == outputFd) events.readable = true;
  }
  return n < 0 ? -1 : (n > 0);
}
#else
Fd watchExit(int pid, bool& /*ended*/) {
  return Fd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));  // pidfds are close-on-exec
}

int waitEvents(int pidfd, int outputFd, int stopFd, int timeoutMs, Events& events) {
  struct pollfd fds[3] = {{pidfd, POLLIN, 0}, {outputFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  int n = poll(fds, 3, timeoutMs);  // negative descriptors are skipped
  if (n > 0) {
    events.exited = fds[0].revents != 0;
    events.readable = fds[1].revents != 0;
  }
  return n < 0 ? -1 : (n > 0);
}
#endif

int pollReadable(int fd, int timeoutMs) {
  struct pollfd one = {fd, POLLIN, 0};
  return poll(&one, 1, timeoutMs);
}

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

}  // namespace

Child Child::spawn(SpawnOptions options) {
  Child child;
  Pipe pipe;
  const bool capture = static_cast<bool>(options.output);
  if (capture && !openPipe(&pipe)) {
    child.startError_ = describeError("start", options.program, errno);
    return child;
  }

  SpawnSetup setup;
  if (capture) {
    posix_spawn_file_actions_adddup2(&setup.actions, pipe.write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, pipe.write.get(), STDERR_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
  }
  if (!options.workingDirectory.empty()) {
    posix_spawn_file_actions_addchdir_np(&setup.actions, options.workingDirectory.c_str());
  }
  // A group of its own, so that a stop can reach whatever it started too.
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP;
  posix_spawnattr_setpgroup(&setup.attributes, 0);
#if TARNWELL_APPLE
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
  posix_spawn_file_actions_addinherit_np(&setup.actions, STDIN_FILENO);
#else
  // Descriptors that some library opened without O_CLOEXEC stay with us.
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
#endif
  sigset_t empty, all;
  sigemptyset(&empty);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&setup.attributes, &empty);
  posix_spawnattr_setsigdefault(&setup.attributes, &all);
  posix_spawnattr_setflags(&setup.attributes, flags);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(options.program.c_str()));
  for (const auto& arg : options.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  // The umask is the process's: children are started from the main thread
  // while no copy runs, so no other thread makes a file meanwhile.
  mode_t ownUmask = umask(kChildUmask);
  int rc = posix_spawn(&pid, options.program.c_str(), &setup.actions, &setup.attributes, argv.data(), kEnvironment);
  umask(ownUmask);
  pipe.write.reset();
  if (rc != 0) {
    std::string what = options.program;
    if (!options.workingDirectory.empty()) what += "\" in \"" + options.workingDirectory;
    child.startError_ = describeError("start", what, rc);
    return child;
  }
  child.pid_ = pid;
  child.outputFd_ = std::move(pipe.read);
  child.output_ = std::move(options.output);
  child.exitFd_ = watchExit(pid, child.endedUnwatched_);
  return child;
}

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      exitFd_(std::move(other.exitFd_)),
      outputFd_(std::move(other.outputFd_)),
      output_(std::move(other.output_)),
      reaped_(other.reaped_),
      endedUnwatched_(other.endedUnwatched_),
      killGroupAtEnd_(other.killGroupAtEnd_),
      status_(other.status_),
      startError_(std::move(other.startError_)) {}

Child::~Child() {
  // A child that even SIGKILL did not end is left; one that has already
  // ended is reaped here so that no zombie stays behind.
  if (pid_ > 0 && !reaped_) waitpid(pid_, nullptr, WNOHANG);
}

void Child::readSome() {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(outputFd_.get(), buffer, sizeof buffer);
    if (n > 0) {
      output_(std::string_view(buffer, static_cast<size_t>(n)));
      return;
    }
    if (n < 0 && errno == EINTR) continue;
    outputFd_.reset();
    return;
  }
}

WaitResult Child::wait(std::optional<std::chrono::milliseconds> limit, bool interruptible) {
  if (!started()) return WaitResult::Failed;
  if (reaped_) return WaitResult::Ended;
  std::optional<Clock::time_point> deadline;
  if (limit) deadline = Clock::now() + *limit;
  for (;;) {
    if (interruptible && stopSignal() != 0) return WaitResult::Interrupted;
    Events events;
    if (exitFd_.valid()) {
      int n = waitEvents(exitFd_.get(), outputFd_.get(), interruptible ? stopSignalFd() : -1, millisUntil(deadline),
                         events);
      if (n < 0 && errno != EINTR) return WaitResult::Failed;
    } else if (endedUnwatched_) {
      events.exited = true;
    } else {
      // Without a pidfd (a kernel before 5.3, or valgrind) the end is
      // looked for every few milliseconds instead.
      if (reap(WNOHANG)) return WaitResult::Ended;
      int timeout = deadline ? std::min(millisUntil(deadline), 10) : 10;
      events.readable = pollReadable(outputFd_.get(), timeout) > 0;  // no pipe: poll just sleeps
    }
    if (events.readable) readSome();
    if (events.exited) return reap(0) ? WaitResult::Ended : WaitResult::Failed;
    if (deadline && Clock::now() >= *deadline) return WaitResult::StillRunning;
  }
}

bool Child::reap(int options) {
  if (killGroupAtEnd_) {
    siginfo_t ended{};
    while (waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOWAIT | options) < 0 && errno == EINTR) {
    }
    if (ended.si_pid != pid_) return false;
    kill(-pid_, SIGKILL);
  }
  int raw = 0;
  pid_t got;
  do {
    got = waitpid(pid_, &raw, options);
  } while (got < 0 && errno == EINTR);
  if (got != pid_) return false;
  reaped_ = true;
  exitFd_.reset();  // a run with many items must not run out of descriptors
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? WTERMSIG(raw) : -1;
  return true;
}

void Child::drainOutput(std::chrono::milliseconds grace) {
  auto deadline = Clock::now() + grace;
  while (outputFd_.valid() && Clock::now() < deadline) {
    int n = pollReadable(outputFd_.get(), millisUntil(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    readSome();
  }
  outputFd_.reset();
}

void Child::signalGroup(int signal) {
  if (started() && !reaped_) kill(-pid_, signal);
}

}  // namespace tarnwell
