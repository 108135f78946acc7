#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tarnwell::test {

namespace fs = std::filesystem;

// One call of a stand-in command, as it recorded itself.
struct Call {
  std::string program;
  std::string directory;
  std::vector<std::string> args;
};

// Where whole-run tests place the tool: its base directory and saved result.
inline const std::string kToolBase = "/Library/Tarnwell";
inline const std::string kResultFile = kToolBase + "/qxmount.plist";

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> log;  // the texts of the log entries, prefixes removed
  std::vector<Call> calls;

  bool logged(const std::string& line) const;
  std::string lastLine() const { return log.empty() ? "" : log.back(); }
  std::vector<Call> callsOf(const std::string& program) const;
  bool detached() const;  // hdiutil was asked to detach
};

// A throw-away copy of the machine (tests/sandbox/enter) and the exchange
// folder seen inside it as /standin: images, scenario switches and set-up
// go in, and the run's output, the stand-ins' calls and a copy of what the
// run left behind (after/) come out.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const fs::path& exchange() const { return exchange_; }
  // A folder image beside the tool: /Library/Tarnwell/NAME inside.
  fs::path image(const std::string& name);
  void scenario(const std::string& name, const std::string& value = "");
  // Shell lines run as root inside, before the tool (setup) and after it (check).
  void setup(const std::string& lines);
  void check(const std::string& lines);
  // Runs the tool under this command (its path and arguments follow).
  void wrap(const std::vector<std::string>& command);

  Outcome runTool(const std::vector<std::string>& args);
  Outcome runProbe(const std::vector<std::string>& args);

  fs::path after(const std::string& relative) const { return exchange_ / "after" / relative; }
  std::string read(const std::string& relative) const;

 private:
  Outcome run(const std::vector<std::string>& args, bool probe);
  fs::path exchange_;
};

// Splits what the tool wrote to stderr into log entries; fails the test on
// anything that is not shaped as a log entry.
std::vector<std::string> logEntries(const std::string& stderrText);

// A fresh folder under the temporary directory.
fs::path makeTempDir(const std::string& stem);

// A test with a folder of its own, removed afterwards.
class ScratchTest : public testing::Test {
 protected:
  void SetUp() override { dir = makeTempDir("tarnwell-scratch"); }
  void TearDown() override { fs::remove_all(dir); }
  std::string at(const std::string& relative) const { return (dir / relative).string(); }
  fs::path dir;
};

std::string readFileText(const fs::path& path);
void writeFileText(const fs::path& path, const std::string& text);

// A small property list of system-entities, each given by its mount point
// ("" for an empty one, "-" for none).
std::string entitiesPlist(const std::vector<std::string>& mountPoints);

}  // namespace tarnwell::test
