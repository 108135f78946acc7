// kqueue for a child's end and its pipes, posix_spawn's Apple attributes,
// the executable's path, thread ids and syslog, as macOS gives them.

#define TARNWELL_STANDIN_IMPLEMENTATION
#include "include/apple_standins.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace {

std::mutex lock;
// What each queue watches. A queue is a placeholder descriptor until it
// watches a process; then it is that process's pidfd.
std::map<int, std::vector<struct kevent>> queues;
// Of the descriptors 0, 1 and 2, those each set of file actions gives the
// child; and the attributes that ask for POSIX_SPAWN_CLOEXEC_DEFAULT.
std::map<const void*, int> given;
std::map<const void*, bool> closeByDefault;

int fail(int error) {
  errno = error;
  return -1;
}

}  // namespace

int kqueue() {
  int queue = open("/dev/null", O_RDONLY | O_CLOEXEC);  // a kqueue is never inherited
  std::lock_guard<std::mutex> hold(lock);
  if (queue >= 0) queues[queue].clear();
  return queue;
}

// A process that cannot be found, or that has ended and not been reaped,
// is ESRCH, reported by the call itself: the tool passes no room for
// errors among the events.
int kevent(int queue, const struct kevent* changes, int changeCount, struct kevent* events, int eventCount,
           const struct timespec* timeout) {
  std::unique_lock<std::mutex> hold(lock);
  std::vector<struct kevent>& watched = queues[queue];
  for (const struct kevent* change = changes; change < changes + changeCount; ++change) {
    if (change->filter == EVFILT_PROC) {
      const pid_t pid = static_cast<pid_t>(change->ident);
      int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
      siginfo_t ended{};
      if (pidfd >= 0 && waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          ended.si_pid == pid) {
        close(pidfd);
        pidfd = -1;
      }
      if (pidfd < 0) return fail(ESRCH);
      dup3(pidfd, queue, O_CLOEXEC);
      close(pidfd);
    }
    std::erase_if(watched,
                  [&](const struct kevent& e) { return e.ident == change->ident && e.filter == change->filter; });
    watched.push_back(*change);
  }
  if (eventCount == 0) return 0;
  std::vector<struct pollfd> fds;
  for (const struct kevent& e : watched)
    fds.push_back({e.filter == EVFILT_PROC ? queue : static_cast<int>(e.ident), POLLIN, 0});
  hold.unlock();
  const int ms = timeout ? static_cast<int>(timeout->tv_sec * 1000 + (timeout->tv_nsec + 999999) / 1000000) : -1;
  if (poll(fds.data(), fds.size(), ms) < 0) return -1;
  hold.lock();
  int count = 0;
  for (size_t i = 0; i < fds.size() && count < eventCount; ++i) {
    if (fds[i].revents == 0) continue;
    struct kevent& happened = events[count++] = watched[i];
    happened.flags = (fds[i].revents & POLLHUP) ? EV_EOF : 0;
    happened.fflags = happened.filter == EVFILT_PROC ? NOTE_EXIT : 0;
    watched[i].flags = 0;  // one-shot: fired
  }
  std::erase_if(watched, [](const struct kevent& e) { return e.flags == 0; });
  return count;
}

int standin_spawnattr_setflags(posix_spawnattr_t* attributes, short flags) {
  std::lock_guard<std::mutex> hold(lock);
  closeByDefault[attributes] = flags & POSIX_SPAWN_CLOEXEC_DEFAULT;
  return posix_spawnattr_setflags(attributes, static_cast<short>(flags & ~POSIX_SPAWN_CLOEXEC_DEFAULT));
}

int standin_adddup2(posix_spawn_file_actions_t* actions, int fd, int to) {
  posix_spawn_file_actions_addinherit_np(actions, to);
  return posix_spawn_file_actions_adddup2(actions, fd, to);
}

int standin_addopen(posix_spawn_file_actions_t* actions, int fd, const char* path, int flags, mode_t mode) {
  posix_spawn_file_actions_addinherit_np(actions, fd);
  return posix_spawn_file_actions_addopen(actions, fd, path, flags, mode);
}

// Only 0, 1 and 2 can be kept this way here; the tool keeps no other.
int posix_spawn_file_actions_addinherit_np(posix_spawn_file_actions_t* actions, int fd) {
  std::lock_guard<std::mutex> hold(lock);
  if (fd > 2) return EINVAL;
  given[actions] |= 1 << fd;
  return 0;
}

// With POSIX_SPAWN_CLOEXEC_DEFAULT the child has only what the file
// actions gave it.
int standin_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                  const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
  std::unique_lock<std::mutex> hold(lock);
  if (actions && attributes && closeByDefault[attributes]) {
    auto* amended = const_cast<posix_spawn_file_actions_t*>(actions);
    for (int fd = 0; fd <= 2; ++fd) {
      if (!(given[actions] & (1 << fd))) posix_spawn_file_actions_addclose(amended, fd);
    }
    posix_spawn_file_actions_addclosefrom_np(amended, 3);
  }
  given.erase(actions);
  closeByDefault.erase(attributes);
  hold.unlock();
  return posix_spawn(pid, path, actions, attributes, argv, envp);
}

// The path exec was given, as dyld gives it: a link is not resolved.
int _NSGetExecutablePath(char* buffer, uint32_t* size) {
  const char* path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  const uint32_t needed = static_cast<uint32_t>(std::strlen(path) + 1);
  if (!buffer || *size < needed) {
    *size = needed;
    return -1;
  }
  std::memcpy(buffer, path, needed);
  return 0;
}

int pthread_threadid_np(void* /*thread: the caller's*/, uint64_t* id) {
  *id = static_cast<uint64_t>(syscall(SYS_gettid));
  return 0;
}

// Each message as the level, a blank and the text, ended by NUL, in a file
// of the process's own.
void standin_syslog(int level, const char* format, ...) {
  const int saved = errno;
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  std::string record = std::to_string(level) + " ";
  const size_t at = record.size();
  record.resize(at + static_cast<size_t>(std::vsnprintf(nullptr, 0, format, args)) + 1);
  errno = saved;  // for %m
  std::vsnprintf(record.data() + at, record.size() - at, format, again);
  va_end(again);
  va_end(args);
  const std::string file = "/standin/syslog." + std::to_string(getpid());
  int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    (void)!write(fd, record.data(), record.size());  // a record lost fails the tests' comparison
    close(fd);
  }
  errno = saved;
}
