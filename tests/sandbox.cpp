#include "sandbox.h"

#include "platform/child.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include <stdlib.h>

namespace tarnwell::test {

std::string readFileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFileText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

bool Outcome::logged(const std::string& line) const {
  return std::find(log.begin(), log.end(), line) != log.end();
}

std::vector<Call> Outcome::callsOf(const std::string& program) const {
  std::vector<Call> found;
  for (const auto& call : calls) {
    if (call.program == program) found.push_back(call);
  }
  return found;
}

bool Outcome::detached() const {
  for (const auto& call : callsOf("hdiutil")) {
    if (!call.args.empty() && call.args[0] == "detach") return true;
  }
  return false;
}

fs::path makeTempDir(const std::string& stem) {
  std::string pattern = (fs::temp_directory_path() / (stem + ".XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

Sandbox::Sandbox() {
  exchange_ = makeTempDir("tarnwell-test");
  fs::create_directories(exchange_ / "bin");
  fs::create_directories(exchange_ / "scenario");
  fs::copy_file(TARNWELL_BINARY, exchange_ / "bin" / "tarnwell");
  fs::copy_file(TARNWELL_PROBE, exchange_ / "bin" / "tarnwell-probe");
  fs::copy_file(TARNWELL_FAULT_LIBRARY, exchange_ / "bin" / "libtarnwell_fault.so");
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(exchange_, ignored);
}

fs::path Sandbox::image(const std::string& name) {
  fs::path path = exchange_ / "images" / name;
  fs::create_directories(path);
  return path;
}

void Sandbox::scenario(const std::string& name, const std::string& value) {
  writeFileText(exchange_ / "scenario" / name, value);
}

void Sandbox::setup(const std::string& lines) {
  std::ofstream(exchange_ / "setup.sh", std::ios::app) << lines << "\n";
}

void Sandbox::check(const std::string& lines) {
  std::ofstream(exchange_ / "check.sh", std::ios::app) << lines << "\n";
}

void Sandbox::wrap(const std::vector<std::string>& command) {
  std::string packed;
  for (const auto& word : command) packed += word + '\0';
  writeFileText(exchange_ / "wrapper", packed);
}

std::string Sandbox::read(const std::string& relative) const { return readFileText(exchange_ / relative); }

Outcome Sandbox::runTool(const std::vector<std::string>& args) { return run(args, false); }
Outcome Sandbox::runProbe(const std::vector<std::string>& args) { return run(args, true); }

Outcome Sandbox::run(const std::vector<std::string>& args, bool probe) {
  std::string packed;
  for (const auto& arg : args) packed += arg + '\0';
  writeFileText(exchange_ / "args", packed);

  std::vector<std::string> command = {exchange_.string(), "/standin/stand-ins/whole-run"};
  if (probe) command.push_back("probe");
  Child child = Child::spawn({TARNWELL_SANDBOX, command, "", true});
  Outcome outcome;
  EXPECT_TRUE(child.started()) << child.startError();
  if (!child.started()) return outcome;
  // Generous: only a hang gets anywhere near it.
  if (child.wait(std::chrono::seconds(240)) != WaitResult::Ended) {
    child.terminate();
    ADD_FAILURE() << "the sandboxed run did not end";
    return outcome;
  }
  std::string sandboxOutput = child.takeOutput(std::chrono::seconds(1));
  EXPECT_EQ(child.exitStatus(), 0) << "the sandbox could not run the test:\n" << sandboxOutput;

  outcome.status = std::stoi("0" + read("status"));
  if (read("status").empty()) outcome.status = -1;
  outcome.out = read("stdout");
  outcome.err = read("stderr");
  outcome.log = logEntries(outcome.err);
  fs::path calls = exchange_ / "calls";
  if (fs::exists(calls)) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(calls)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      std::string raw = readFileText(file);
      std::vector<std::string> fields;
      for (size_t at = 0; at < raw.size();) {
        size_t end = raw.find('\0', at);
        fields.push_back(raw.substr(at, end - at));
        at = end + 1;
      }
      Call call;
      call.program = fields.at(0);
      call.directory = fields.at(1);
      call.args.assign(fields.begin() + 2, fields.end());
      outcome.calls.push_back(std::move(call));
    }
  }
  return outcome;
}

std::vector<std::string> logEntries(const std::string& stderrText) {
  static const std::regex prefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} tarnwell\[\d+:\d+\] )");
  std::vector<std::string> entries;
  size_t at = 0;
  while (at < stderrText.size()) {
    size_t end = stderrText.find('\n', at);
    std::string line = stderrText.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? stderrText.size() : end + 1;
    std::smatch match;
    if (std::regex_search(line, match, prefix)) {
      entries.push_back(line.substr(match.length()));
    } else if (!entries.empty()) {
      entries.back() += "\n" + line;  // a text with line breaks in it
    } else {
      ADD_FAILURE() << "stderr holds something other than log entries: " << line;
    }
  }
  return entries;
}

std::string entitiesPlist(const std::vector<std::string>& mountPoints) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "<key>system-entities</key>\n<array>\n";
  for (const auto& mountPoint : mountPoints) {
    xml += "<dict><key>dev-entry</key><string>/dev/disk9</string>";
    if (mountPoint != "-") xml += "<key>mount-point</key><string>" + mountPoint + "</string>";
    xml += "</dict>\n";
  }
  return xml + "</array>\n</dict>\n</plist>\n";
}

}  // namespace tarnwell::test
