#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tarnwell {

struct SpawnOptions {
  std::string program;             // absolute path; no search path is used
  std::vector<std::string> args;   // the arguments after argv[0]
  std::string workingDirectory;    // empty: the tool's own
  bool captureOutput = true;       // stdout and stderr on one pipe, else /dev/null
};

// The status reported for a program that could not be started, as a shell does.
constexpr int kCannotStartStatus = 127;

enum class WaitResult { Ended, StillRunning, Stopped, Failed };

// One child process and the reading end of its output pipe. The child gets
// the tool's environment and standard input, default signal handling, an
// empty signal mask, and no descriptor other than 0, 1 and 2.
class Child {
 public:
  // A program that cannot be started gives a Child whose started() is false.
  static Child spawn(const SpawnOptions& options);

  Child(Child&& other) noexcept;
  Child& operator=(Child&&) = delete;
  Child(const Child&) = delete;
  ~Child();

  bool started() const { return pid_ > 0; }
  const std::string& startError() const { return startError_; }

  // Waits for the child's end, at most `limit` (none: as long as it runs),
  // reading its output meanwhile so that it never blocks on a full pipe.
  // With `stoppable`, a stop signal (see signals.h) ends the wait too.
  WaitResult wait(std::optional<std::chrono::milliseconds> limit, bool stoppable = false);

  // After the end: everything the child wrote. A background process that
  // inherited the pipe may keep it open; its output is taken for at most
  // `grace`, and then the pipe is closed on it.
  std::string takeOutput(std::chrono::milliseconds grace);

  // The exit code, or the signal number for a child killed by a signal.
  int exitStatus() const { return status_; }

  // Asks a running child to end (SIGTERM); does not wait.
  void terminate();

 private:
  Child() = default;
  void readSome();  // closes the pipe at end of file or on error
  bool reap(int waitOptions);
  void closeOutput();

  int pid_ = -1;
  int exitFd_ = -1;    // pidfd on Linux, kqueue on Apple
  int outputFd_ = -1;
  bool reaped_ = false;
  bool endedUnwatched_ = false;  // it ended before its end could be watched
  int status_ = -1;
  std::string output_;
  std::string startError_;
};

}  // namespace tarnwell
