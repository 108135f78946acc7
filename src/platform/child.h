#pragma once

#include "platform/fd.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwell {

struct SpawnOptions {
  std::string program;            // absolute path; no search path is used
  std::vector<std::string> args;  // the arguments after argv[0]
  std::string workingDirectory;   // empty: the tool's own
  // Receives stdout and stderr, merged on one pipe, as they come; without
  // one they go to /dev/null.
  std::function<void(std::string_view)> output;
};

// The status reported for a program that could not be started, as a shell does.
constexpr int kCannotStartStatus = 127;

// Interrupted: a stop signal (see signals.h) arrived during the wait.
enum class WaitResult { Ended, StillRunning, Interrupted, Failed };

// One child process, the leader of a process group of its own, and the
// reading end of its output pipe. The child gets a fixed environment
// (PATH=/usr/bin:/bin:/usr/sbin:/sbin and LC_ALL=C, nothing of the tool's),
// the umask 022, the tool's standard input, default signal handling, an
// empty signal mask, and no descriptor other than 0, 1 and 2.
class Child {
 public:
  // A program that cannot be started gives a Child whose started() is false.
  static Child spawn(SpawnOptions options);

  Child(Child&& other) noexcept;  // the moved-from one no longer owns the child
  Child& operator=(Child&&) = delete;
  Child(const Child&) = delete;
  ~Child();

  bool started() const { return pid_ > 0; }
  const std::string& startError() const { return startError_; }

  // Waits for the child's end, at most `limit` (none: as long as it runs),
  // reading its output meanwhile so that it never blocks on a full pipe.
  // With `interruptible`, a stop signal ends the wait too.
  WaitResult wait(std::optional<std::chrono::milliseconds> limit, bool interruptible = false);

  // After the end: reads what is left in the pipe. A background process
  // that inherited the pipe may keep it open; it is read for at most
  // `grace`, and then the pipe is closed on it.
  void drainOutput(std::chrono::milliseconds grace);

  // After the end: the exit code, or the signal number for a child killed
  // by a signal, as a termination status.
  int terminationStatus() const { return status_; }

  // Sends `signal` to the child's process group while the child has not
  // been waited for (after that its group id may belong to another).
  void signalGroup(int signal);

  // From now on, when the child ends, whatever is left of its process group
  // is killed before the child is waited for: its group id is still its
  // own then.
  void killGroupAtEnd() { killGroupAtEnd_ = true; }

 private:
  Child() = default;
  void readSome();  // closes the pipe at end of file or on error
  bool reap(int waitOptions);

  int pid_ = -1;
  Fd exitFd_;  // pidfd on Linux, kqueue on Apple
  Fd outputFd_;
  std::function<void(std::string_view)> output_;
  bool reaped_ = false;
  bool endedUnwatched_ = false;  // it ended before its end could be watched
  bool killGroupAtEnd_ = false;
  int status_ = -1;
  std::string startError_;
};

}  // namespace tarnwell
