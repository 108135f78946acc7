#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/types.h>

namespace tarnwell::test {

namespace fs = std::filesystem;

// Whole runs touch /Applications, /Volumes and /Library: ctest starts the
// test binary inside tests/sandbox/enter, and anywhere else they skip.
#define REQUIRE_SANDBOX() \
  if (!std::getenv("TARNWELL_SANDBOX")) GTEST_SKIP() << "runs only inside tests/sandbox/enter"

// The hidden mark the tool reads: the attribute user.hidden on Linux; in
// the Apple personality the flag UF_HIDDEN, kept by the stand-ins in an
// attribute of their own.
#if defined(TARNWELL_APPLE_STANDINS)
inline constexpr bool kApple = true;
inline const std::string kHiddenMark = "user.standin.flags", kHidden = "32768";
#else
inline constexpr bool kApple = false;
inline const std::string kHiddenMark = "user.hidden", kHidden = "1";
#endif

inline const std::string kBase = "/Library/Tarnwell";
inline const std::string kResult = kBase + "/qxmount.plist";

// One call of a stand-in command, as it recorded itself.
struct Call {
  std::string program, directory, inherited;
  std::vector<std::string> args;
};

struct Outcome {
  int status = -1;  // the exit status; -1 when a signal ended the tool
  int signal = 0;
  std::vector<std::string> log;  // the texts of the log entries
  std::vector<Call> calls;

  bool logged(const std::string& line) const;
  std::vector<Call> callsOf(const std::string& program) const;
  bool detached() const;
};

// Lays the tool out at BASE/Tools/bin/tarnwell and starts it in /standin,
// not "/", so that its children find "/" only if it puts them there, with
// `args`, under `wrapper` when one is given; its output goes to
// /standin/TAG.out and .err. Every finished run is checked for an empty
// stdout, a log of well-formed entries only, and stand-ins that inherited
// no descriptor (and in the Apple personality, that syslog was given the
// same entries); the run takes the calls recorded so far.
pid_t startTool(const std::vector<std::string>& args, const std::vector<std::string>& wrapper = {},
                const std::string& base = kBase, const std::string& tag = "tool");
Outcome finishTool(pid_t tool, const std::string& tag = "tool");
Outcome runTool(const std::vector<std::string>& args, const std::vector<std::string>& wrapper = {},
                const std::string& base = kBase);

// Wrappers: the tool run after these shell words ("ulimit -n 32;"), or
// with the fault library preloaded and set ("TARNWELL_FAULT_SLOW=1").
std::vector<std::string> under(const std::string& shell);
std::vector<std::string> withFault(const std::string& setting);

// The texts of the log entries on a stream of the tool's stderr.
std::vector<std::string> logEntries(const std::string& text);

std::string readText(const fs::path& path);
void writeText(const fs::path& path, const std::string& text);
// Shell lines, as root; a failure fails the test.
void sh(const std::string& script);
void scenario(const std::string& name, const std::string& value);
// The names in a directory, sorted.
std::vector<std::string> names(const fs::path& directory);

// A folder image in BASE: Foo.app (hidden; the identifier com.example.foo;
// an executable with an owner, a set-user-ID mode, old times and an
// extended attribute; links, a dangling one among them; a sparse file; two
// hard links) and Bar.pkg.
fs::path sampleImage(const std::string& name = "Sample.dmg", const std::string& base = kBase);

// An attach answer whose entities have these mount points ("-": none;
// "<...>": that value, not text).
std::string entitiesPlist(const std::vector<std::string>& mountPoints);

// A chain of `depth` folders named "d" below `root` (made if need be),
// deeper than any path the system takes whole, ending in a file "a", with
// a hard link "b" to it one level up; and the lstat of `name` at `depth`.
void makeChain(const fs::path& root, int depth);
struct stat chainBottom(const fs::path& root, int depth, const std::string& name);

}  // namespace tarnwell::test
