#include "harness.h"

#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarnwell::test {

bool Outcome::logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }

std::vector<Call> Outcome::callsOf(const std::string& program) const {
  std::vector<Call> found;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
               [&](const Call& c) { return c.program == program; });
  return found;
}

bool Outcome::detached() const {
  auto hdiutil = callsOf("hdiutil");
  return std::any_of(hdiutil.begin(), hdiutil.end(), [](const Call& c) { return c.args.at(0) == "detach"; });
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

void sh(const std::string& script) { ASSERT_EQ(std::system(script.c_str()), 0) << script; }

void scenario(const std::string& name, const std::string& value) { writeText("/standin/scenario/" + name, value); }

std::vector<std::string> names(const fs::path& directory) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(directory)) found.push_back(entry.path().filename());
  std::sort(found.begin(), found.end());
  return found;
}

pid_t startTool(const std::vector<std::string>& args, const std::vector<std::string>& wrapper, const std::string& base,
                const std::string& tag) {
  const std::string tool = base + "/Tools/bin/tarnwell";
  fs::create_directories(base + "/Tools/bin");
  fs::copy_file(TARNWELL_BINARY, tool, fs::copy_options::skip_existing);
  std::vector<std::string> words = {
      "/bin/sh", "-c", "cd /standin && exec \"$@\" > /standin/" + tag + ".out 2> /standin/" + tag + ".err", "sh"};
  words.insert(words.end(), wrapper.begin(), wrapper.end());
  words.push_back(tool);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

Outcome finishTool(pid_t tool, const std::string& tag) {
  Outcome run;
  int raw = 0;
  while (waitpid(tool, &raw, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
  EXPECT_EQ(readText("/standin/" + tag + ".out"), "");
  run.log = logEntries(readText("/standin/" + tag + ".err"));
  // syslog's records: the level, a blank, the text, a NUL. A run killed
  // with -9 may have written one less, or left a former run's stderr.
  if (kApple && !run.log.empty() && run.signal != SIGKILL) {
    const std::string records = "/standin/syslog." + std::to_string(tool);
    std::vector<std::string> notices;
    std::istringstream in(readText(records));
    for (std::string record; std::getline(in, record, '\0');)
      if (record.starts_with("5 ")) notices.push_back(record.substr(2));
    fs::remove(records);
    EXPECT_EQ(notices, run.log);
  }
  // Fields end with NUL, calls with a line feed: a field that starts with
  // one starts the next call (arguments may hold line feeds elsewhere).
  std::istringstream calls(readText("/standin/calls"));
  fs::remove("/standin/calls");
  std::vector<std::string> fields;
  for (std::string field; std::getline(calls, field, '\0');) {
    if (!field.starts_with('\n')) {
      fields.push_back(field);
      continue;
    }
    run.calls.push_back({fields.at(0), fields.at(1), fields.at(2), {fields.begin() + 3, fields.end()}});
    EXPECT_EQ(run.calls.back().inherited, "") << fields[0] << " inherited what it should not";
    fields = {field.substr(1)};
  }
  return run;
}

std::vector<std::string> under(const std::string& shell) { return {"/bin/sh", "-c", shell + " exec \"$0\" \"$@\""}; }

std::vector<std::string> withFault(const std::string& setting) {
  return under(setting + " LD_PRELOAD=" + TARNWELL_FAULT_LIBRARY + " ASAN_OPTIONS=verify_asan_link_order=0");
}

Outcome runTool(const std::vector<std::string>& args, const std::vector<std::string>& wrapper,
                const std::string& base) {
  return finishTool(startTool(args, wrapper, base));
}

std::vector<std::string> logEntries(const std::string& text) {
  static const std::regex prefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} tarnwell\[\d+:\d+\] )");
  std::vector<std::string> entries;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_search(line, match, prefix)) {
      entries.push_back(line.substr(static_cast<size_t>(match.length())));
    } else if (!entries.empty()) {
      entries.back() += "\n" + line;  // a text with line breaks in it
    } else {
      ADD_FAILURE() << "not a log entry: " << line;
    }
  }
  return entries;
}

fs::path sampleImage(const std::string& name, const std::string& base) {
  fs::path image = base + "/" + name;
  fs::create_directories(image / "Foo.app/Contents/MacOS");
  sh("cd '" + (image / "Foo.app/Contents").string() +
     "' && mkdir -p Versions/A && printf '#!/bin/sh\\necho foo\\n' > MacOS/Foo && chown 1234:5678 MacOS/Foo"
     " && echo '<plist><dict><key>CFBundleIdentifier</key><string>com.example.foo</string></dict></plist>' > Info.plist"
     " && chmod 4755 MacOS/Foo && setfattr -n user.note -v kept MacOS/Foo && ln -s A Versions/Current && ln -s /none "
     "dangling"
     " && echo data > Versions/A/data && ln Versions/A/data Versions/A/linked && truncate -s 1G Versions/A/sparse"
     " && head -c 300000 /dev/urandom > Versions/A/random"
     " && echo tail >> Versions/A/sparse && truncate -s 2G Versions/A/sparse && chmod 750 MacOS && touch -h -d "
     "'2017-07-14 02:40:00.123456789' MacOS/Foo dangling MacOS"
     " && setfattr -n " +
     kHiddenMark + " -v " + kHidden + " ..");
  writeText(image / "Bar.pkg", "xar!");
  return image;
}

std::string entitiesPlist(const std::vector<std::string>& mountPoints) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>system-entities</key><array>\n";
  for (const auto& mountPoint : mountPoints) {
    xml += "<dict><key>dev-entry</key><string>/dev/disk9</string>";
    if (mountPoint != "-")
      xml +=
          "<key>mount-point</key>" + (mountPoint.starts_with('<') ? mountPoint : "<string>" + mountPoint + "</string>");
    xml += "</dict>\n";
  }
  return xml + "</array></dict></plist>\n";
}

namespace {

int openChain(const fs::path& root, int depth, bool make) {
  fs::create_directories(root);
  int at = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < depth && at >= 0; ++i) {
    if (make) mkdirat(at, "d", 0755);
    int next = openat(at, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    close(at);
    at = next;
  }
  EXPECT_GE(at, 0) << root;
  return at;
}

}  // namespace

void makeChain(const fs::path& root, int depth) {
  int above = openChain(root, depth - 1, true), bottom = openChain(root, depth, true);
  close(openat(bottom, "a", O_WRONLY | O_CREAT, 0644));
  EXPECT_EQ(linkat(bottom, "a", above, "b", 0), 0);
  close(bottom);
  close(above);
}

struct stat chainBottom(const fs::path& root, int depth, const std::string& name) {
  int bottom = openChain(root, depth, false);
  struct stat info {};
  EXPECT_EQ(fstatat(bottom, name.c_str(), &info, AT_SYMLINK_NOFOLLOW), 0) << name;
  close(bottom);
  return info;
}

}  // namespace tarnwell::test
