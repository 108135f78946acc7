// Whole runs that need more than one row: the golden run with its full
// log, and the tool stopped, raced and run twice at once.

#include "harness.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <set>
#include <thread>
#include <tuple>

#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

using namespace tarnwell::test;

namespace {

struct stat statOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

void waitFor(const std::function<bool()>& ready) {
  for (int i = 0; i < 20000 && !ready(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Foo.app with `files` files saying `version`, in the image and (old) installed, both com.example.foo.
void versionedBundles(int files) {
  sh("for i in $(seq " + std::to_string(files) + "); do echo new > " + (sampleImage() / "Foo.app/Contents/f").string() +
     "$i; done; mkdir -p /old/Contents && cp " + kBase +
     "/Sample.dmg/Foo.app/Contents/Info.plist /old/Contents && for i in $(seq " + std::to_string(files) +
     "); do echo old > /old/Contents/f$i; done; cp -a /old /Applications/Foo.app");
}

// What every file of the installed bundle says, or "partial".
std::string installedVersion(int files) {
  std::set<std::string> seen;
  for (int i = 1; i <= files; ++i) seen.insert(readText("/Applications/Foo.app/Contents/f" + std::to_string(i)));
  return seen.size() == 1 ? *seen.begin() : "partial";
}

const std::vector<std::string> kSlowCopy = withFault("TARNWELL_FAULT_SLOW=1");

}  // namespace

// /Applications on a file system of its own: the copy goes through a
// buffer where copy_file_range cannot cross (the other runs use it).
TEST(Runs, GoldenInstallOfAnApplicationAndAPackage) {
  REQUIRE_SANDBOX();
  sampleImage();
  sh("mount -t tmpfs tmpfs /Applications && echo admin:x:80: >> /etc/group");
  Outcome run = runTool({"Sample.dmg", "Foo.app", "Bar.pkg"});
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> expected = {
      "Base Path " + kBase,
      "Given Args dmgName:Sample.dmg,\nargArray :[\"Foo.app\", \"Bar.pkg\"]",
      "Mount cmd ->echo YES | hdiutil attach -nobrowse -readonly -plist " + kBase + "/Sample.dmg>" + kResult,
      "Given Command /bin/bash echo YES | hdiutil attach -nobrowse -readonly -plist " + kBase + "/Sample.dmg>" +
          kResult,
      "terminationStatus : 0 output : ",
      "Array count in systemEntities 2",
      "mount-point : /Volumes/Sample",
      "Files list in the volume : [\"Bar.pkg\", \"Foo.app\"]\n files count 2",
      "installAppsAndPkg(_:_:_:):Copying from appPath : /Volumes/Sample/Foo.app destinationPath :/Applications/Foo.app",
      "Dropped the set-user-ID bit of \"/Volumes/Sample/Foo.app/Contents/MacOS/Foo\"",
      "App Copied successfully",
      "App is hidden, Hence Unhid app",
      "installAppsAndPkg(_:_:_:):Installing pkg : /Volumes/Sample/Bar.pkg",
      "isSiliconMachine returnCode 0 Output \"Intel(R) Core(TM) i7-9750H CPU @ 2.60GHz\\n\"",
      "launchProcess(atPath:withArgs:_:timeout:):Given launchPath:/usr/sbin/installer, withArgs:[\"-pkg\", "
      "\"/Volumes/Sample/Bar.pkg\", \"-target\", \"/\"], inDirectory:/, timeoutIn:3600seconds",
      "launchProcess(atPath:withArgs:_:timeout:) : ExecutionStatus : 0",
      "Given Command /bin/bash hdiutil detach -force \"/Volumes/Sample\"",
      "terminationStatus : 0 output : \"/Volumes/Sample\" ejected.\\n",
  };
  std::vector<std::string> log = run.log;  // the listing's order is the file system's
  if (log.size() > 7 && log[7] == "Files list in the volume : [\"Foo.app\", \"Bar.pkg\"]\n files count 2")
    log[7] = expected[7];
  EXPECT_EQ(log, expected);
  ASSERT_EQ(run.calls.size(), 4u);
  EXPECT_EQ(run.calls[0].args,
            (std::vector<std::string>{"attach", "-nobrowse", "-readonly", "-plist", kBase + "/Sample.dmg"}));
  EXPECT_EQ(run.calls[2].args, (std::vector<std::string>{"-pkg", "/Volumes/Sample/Bar.pkg", "-target", "/"}));
  EXPECT_EQ(run.calls[2].directory, "/");
  EXPECT_EQ(run.calls[3].args, (std::vector<std::string>{"detach", "-force", "/Volumes/Sample"}));
  EXPECT_EQ(readText("/standin/installed"), "Bar.pkg\n");
  EXPECT_FALSE(fs::exists(kResult));
  EXPECT_EQ(names("/Volumes"), std::vector<std::string>{});

  // Owned by root and the admin group, whatever the image said; modes
  // without group or other write and without the set-user-ID bit.
  const std::string app = "/Applications/Foo.app/Contents/";
  const std::pair<const char*, mode_t> modes[] = {{"", S_IFDIR | 0755},
                                                  {"MacOS", S_IFDIR | 0755},
                                                  {"MacOS/Foo", S_IFREG | 0755},
                                                  {"dangling", S_IFLNK | 0777},
                                                  {"Versions/Current", S_IFLNK | 0777},
                                                  {"Versions/A/data", S_IFREG | 0644}};
  for (const auto& [path, mode] : modes) {
    struct stat from = statOf(kBase + "/Sample.dmg/Foo.app/Contents/" + path), to = statOf(app + path);
    EXPECT_EQ(std::tie(mode, from.st_size, from.st_mtim.tv_sec, from.st_mtim.tv_nsec),
              std::tie(to.st_mode, to.st_size, to.st_mtim.tv_sec, to.st_mtim.tv_nsec))
        << path;
    EXPECT_EQ(to.st_uid, 0u) << path;
    EXPECT_EQ(to.st_gid, 80u) << path;
  }
  EXPECT_EQ(readText(app + "MacOS/Foo"), "#!/bin/sh\necho foo\n");
  char note[8] = {};
  EXPECT_EQ(getxattr((app + "MacOS/Foo").c_str(), "user.note", note, sizeof note), 4) << note;
  EXPECT_EQ(fs::read_symlink(app + "dangling"), "/none");
  EXPECT_EQ(statOf(app + "Versions/A/data").st_ino, statOf(app + "Versions/A/linked").st_ino)
      << "hard links stay linked";
  EXPECT_EQ(statOf(app + "Versions/A/sparse").st_size, 1l << 31);
  EXPECT_LT(statOf(app + "Versions/A/sparse").st_blocks, 1024) << "holes stay holes";
  std::ifstream sparse(app + "Versions/A/sparse");
  std::string tail(5, ' ');
  sparse.seekg(1 << 30).read(tail.data(), 5);
  EXPECT_EQ(tail, "tail\n");
  EXPECT_EQ(readText(app + "Versions/A/random"), readText(kBase + "/Sample.dmg/Foo.app/Contents/Versions/A/random"));
  EXPECT_LT(getxattr("/Applications/Foo.app", kHiddenMark.c_str(), nullptr, 0), 0) << "still hidden";
  EXPECT_EQ(names("/Applications"), std::vector<std::string>{"Foo.app"});
}

struct Stop {
  int signal;
  std::string when;  // "DuringCopy", "DuringInstaller" or "WaitingForTheLock" (another run's)
};

class Stopped : public testing::TestWithParam<Stop> {};

// The run stops at a safe point, cleans up, and ends by the same signal;
// one still waiting for another run's lock never attaches.
TEST_P(Stopped, CleansUpAndEndsByTheSameSignal) {
  REQUIRE_SANDBOX();
  const Stop stop = GetParam();
  const bool locked = stop.when == "WaitingForTheLock";
  versionedBundles(40);
  // The installer's call is recorded before its script runs: a stop before
  // the record is whole would cut it short.
  scenario("installer-script", "touch /standin/installing; sleep 30 & wait");
  // Another run's lock, held for longer than the wait below.
  if (locked)
    sh("flock " + kBase + "/tarnwell.lock sleep 80 >/dev/null 2>&1 & until ! flock -n " + kBase +
       "/tarnwell.lock true; do sleep 0.01; done");
  pid_t tool = startTool({"Sample.dmg", stop.when == "DuringCopy" ? "Foo.app" : "Bar.pkg"}, kSlowCopy);
  waitFor([&] {
    if (stop.when == "DuringCopy") return names("/Applications").size() > 1;
    if (!locked) return fs::exists("/standin/installing");
    return readText("/standin/tool.err").find("waiting for it to finish") != std::string::npos;
  });
  kill(tool, stop.signal);
  siginfo_t end{};
  waitFor([&] { return waitid(P_PID, tool, &end, WEXITED | WNOHANG | WNOWAIT) == 0 && end.si_pid == tool; });
  EXPECT_EQ(end.si_pid, tool) << "still running well after the stop";
  if (locked) sh("pkill -f 'sleep 80$' || true");
  Outcome run = finishTool(tool);
  EXPECT_EQ(run.signal, stop.signal);
  EXPECT_EQ(run.log.back(), "Stopped by signal " + std::to_string(stop.signal) + " (" + strsignal(stop.signal) + ")");
  EXPECT_FALSE(fs::exists(kResult));
  EXPECT_TRUE(locked ? run.calls.empty() : run.detached());
  EXPECT_EQ(names("/Applications"), std::vector<std::string>{"Foo.app"});
  EXPECT_EQ(installedVersion(40), "old\n");
  EXPECT_EQ(readText("/standin/installer-signals"), stop.when == "DuringInstaller" ? "terminated\n" : "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Runs, Stopped,
                         testing::Values(Stop{.signal = SIGTERM, .when = "DuringCopy"}, Stop{.signal = SIGINT, .when = "DuringCopy"},
                                         Stop{.signal = SIGHUP, .when = "DuringCopy"}, Stop{.signal = SIGTERM, .when = "DuringInstaller"},
                                         Stop{.signal = SIGINT, .when = "DuringInstaller"}, Stop{.signal = SIGHUP, .when = "DuringInstaller"},
                                         Stop{.signal = SIGTERM, .when = "WaitingForTheLock"}),
                         [](const auto& info) { return sigabbrev_np(info.param.signal) + info.param.when; });
// clang-format on

// Killed at any instant, the bundle is the complete old or the complete new
// one, and the next run leaves nothing else behind.
TEST(Runs, KilledAtAnyInstantKeepsACompleteBundle) {
  REQUIRE_SANDBOX();
  constexpr int kFiles = 1500, kTrials = 24;
  versionedBundles(kFiles);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(runTool({"Sample.dmg", "Foo.app"}).status, 0);
  auto whole = std::chrono::steady_clock::now() - start;
  for (int trial = 0; trial < kTrials; ++trial) {
    sh("rm -rf /Applications/Foo.app && cp -a /old /Applications/Foo.app");
    pid_t tool = startTool({"Sample.dmg", "Foo.app"});
    std::this_thread::sleep_for(whole * trial / kTrials);
    kill(tool, SIGKILL);
    finishTool(tool);
    std::string version = installedVersion(kFiles);
    EXPECT_TRUE(version == "old\n" || version == "new\n") << "trial " << trial << ": " << version;
  }
  EXPECT_EQ(runTool({"Sample.dmg", "Foo.app"}).status, 0);
  EXPECT_EQ(installedVersion(kFiles), "new\n");
  EXPECT_EQ(names("/Applications"), std::vector<std::string>{"Foo.app"});
}

// A process with group write on /Applications swaps the half-built bundle
// for links and moves another bundle into the destination's place while
// the copy runs: nothing outside the bundle is written, re-owned or lost.
TEST(Runs, ARacerInApplicationsChangesNothingOutside) {
  REQUIRE_SANDBOX();
  versionedBundles(40);
  sh("chown -R 1234:1234 /Library/Tarnwell/Sample.dmg && mkdir -p /victim /Applications/Other.app && echo v > "
     "/victim/file"
     " && echo other > /Applications/Other.app/file && chgrp 20 /Applications && chmod 775 /Applications");
  writeText("/standin/racer", R"(until [ -e /standin/stop ]; do
  for s in /Applications/.tarnwell-staging.Foo.app.????????; do
    if [ -d "$s" ] && [ ! -L "$s" ]; then
      mv /Applications/Foo.app /Applications/Foo.moved && mv /Applications/Other.app /Applications/Foo.app
      mv "$s" "$s.moved" && ln -s /victim "$s"
    fi
  done
done)");
  sh("setpriv --reuid=501 --regid=20 --clear-groups bash /standin/racer 2>/dev/null &");
  Outcome run = runTool({"Sample.dmg", "Foo.app"}, kSlowCopy);
  sh("touch /standin/stop && sleep 0.5");
  EXPECT_TRUE(run.status == 0 || run.status == 1);
  EXPECT_EQ(names("/victim"), std::vector<std::string>{"file"});
  EXPECT_EQ(statOf("/victim").st_uid, 0u);
  EXPECT_EQ(readText("/victim/file"), "v\n");
  std::string kept;
  for (const auto& name : names("/Applications")) kept += readText("/Applications/" + name + "/file");
  EXPECT_NE(kept.find("other"), std::string::npos) << "the other bundle is gone";
}

TEST(Runs, OverlappingRunsTakeTurns) {
  REQUIRE_SANDBOX();
  versionedBundles(10);
  scenario("installer-script", "sleep 2");
  pid_t first = startTool({"Sample.dmg", "Foo.app", "Bar.pkg"}, {}, kBase, "first");
  waitFor([] { return readText("/standin/calls").find("installer") != std::string::npos; });
  pid_t second = startTool({"Sample.dmg", "Foo.app", "Bar.pkg"}, {}, kBase, "second");
  Outcome one = finishTool(first, "first"), two = finishTool(second, "second");
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(two.status, 0);
  EXPECT_TRUE(two.logged("Another run holds " + kBase + "/tarnwell.lock; waiting for it to finish"));
  EXPECT_EQ(readText("/standin/installed"), "Bar.pkg\nBar.pkg\n");
  EXPECT_EQ(names("/Volumes"), std::vector<std::string>{});
  EXPECT_EQ(names("/Applications"), std::vector<std::string>{"Foo.app"});
  EXPECT_EQ(installedVersion(10), "new\n");
}

// Another run, or root itself, at the staging folder or the destination
// while a copy runs: a live run's folder is never removed, a copy that was
// changed is never swapped in, and what appeared in the destination's place
// is kept.
struct Race {
  std::string name;
  std::function<pid_t()> during;  // a second run, or 0
  int status = 0;
  std::string version = "new\n";
  bool firstInstall = false;  // no bundle installed before the run
  bool keeps = false;         // this run keeps what it took out of place
};

class Races : public testing::TestWithParam<Race> {};

TEST_P(Races, NeverSwapInAPartialCopy) {
  REQUIRE_SANDBOX();
  constexpr int kFiles = 40;
  const Race& race = GetParam();
  versionedBundles(kFiles);
  if (race.firstInstall) fs::remove_all("/Applications/Foo.app");
  pid_t first = startTool({"Sample.dmg", "Foo.app"}, kSlowCopy);
  waitFor([] {
    return std::system("test $(ls /Applications/.tarnwell-staging.*/Foo.app/Contents 2>/dev/null | wc -l) -ge 5") == 0;
  });
  pid_t second = race.during();
  Outcome run = finishTool(first);
  EXPECT_EQ(run.status, race.status);
  if (second) EXPECT_EQ(finishTool(second, "second").status, 0);
  EXPECT_EQ(installedVersion(kFiles), race.version);
  // A run that swapped second keeps what the other put in place meanwhile.
  std::vector<std::string> left, kept;
  for (const std::string& name : names("/Applications"))
    (name.starts_with(".tarnwell-kept.Foo.app.") ? kept : left).push_back(name);
  EXPECT_EQ(left, std::vector<std::string>{"Foo.app"});
  if (race.keeps)
    EXPECT_TRUE(
        kept.size() == 1 &&
        run.logged(
            "Another process put an entry at /Applications/Foo.app during the copy; it is kept at /Applications/" +
            kept[0]));
}

std::function<pid_t()> byRoot(const std::string& script) {
  return [=] {
    sh(script);
    return pid_t{0};
  };
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Runs, Races,
    testing::Values(Race{.name = "ARunFromAnotherBaseDirectory",
                         .during = [] {
                           sh("mkdir -p /Library/Other && cp -a /Library/Tarnwell/Sample.dmg /Library/Other/");
                   // clang-format on
                   return startTool({"Sample.dmg", "Foo.app"}, kSlowCopy, "/Library/Other", "second");
                 }},
        Race{.name = "RootRemovesACopiedFile",
             .during = byRoot("rm \"$(ls -d /Applications/.tarnwell-staging.*/Foo.app/Contents/f* | head -1)\""),
             .status = 1,
             .version = "old\n"},
        Race{.name = "RootRemovesTheInstalledBundle", .during = byRoot("rm -rf /Applications/Foo.app")},
        Race{.name = "RootReplacesTheInstalledBundle",
             .during = byRoot("mv /Applications/Foo.app /moved && mkdir /Applications/Foo.app"),
             .keeps = true},
        Race{.name = "RootMakesAFolderInAFirstInstallsPlace",
             .during = byRoot("mkdir /Applications/Foo.app"),
             .firstInstall = true,
             .keeps = true}),
    [](const auto& info) { return info.param.name; });

// Children that do not end when the tool is stopped: each is killed with
// its process group in the end, before the volume is detached, and the
// tool ends by the signal.
struct Stubborn {
  std::string name;
  std::string setting;  // the stand-in's scenario switch that makes it stubborn
  std::string sleep;    // how long it sleeps, ignoring SIGTERM
  bool detached;
  std::string before = "";  // what it does first
};

class HostileChildren : public testing::TestWithParam<Stubborn> {};

TEST_P(HostileChildren, AreKilledAfterAStop) {
  REQUIRE_SANDBOX();
  const Stubborn& child = GetParam();
  const std::string sleeping = "pgrep -f 'sleep " + child.sleep + "$'";
  sampleImage();
  scenario("installer-script", "touch /standin/stubborn; sleep 30 & wait");
  scenario("detach-script", sleeping + " >> /standin/at-detach");
  const std::string stubborn = child.before + "trap '' TERM; touch /standin/stubborn; sleep " + child.sleep;
  scenario(child.setting,
           child.setting == "detach-script" ? readText("/standin/scenario/detach-script") + "; " + stubborn : stubborn);
  pid_t tool = startTool({"Sample.dmg", "Bar.pkg"});
  waitFor([&] { return fs::exists("/standin/stubborn"); });
  kill(tool, SIGTERM);
  Outcome run = finishTool(tool);
  EXPECT_EQ(run.signal, SIGTERM);
  EXPECT_EQ(run.detached(), child.detached);
  EXPECT_FALSE(fs::exists(kResult));
  EXPECT_EQ(readText("/standin/at-detach"), "") << "the volume was detached under a running child";
  EXPECT_NE(std::system((sleeping + " >/dev/null").c_str()), 0) << "a child outlived the tool";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Runs, HostileChildren,
    testing::Values(Stubborn{.name = "AnAttachThatHangs", .setting = "attach-script", .sleep = "611", .detached = false},
                    Stubborn{.name = "AnAttachThatAnsweredThenHangs", .setting = "attach-script", .sleep = "614", .detached = true,
                             .before = "printf '%s' '" + entitiesPlist({"/Volumes/Sample"}) + "'; "},
                    Stubborn{.name = "AnInstallerThatIgnoresTerm", .setting = "installer-script", .sleep = "612", .detached = true},
                    Stubborn{.name = "ADetachThatHangs", .setting = "detach-script", .sleep = "613", .detached = true}),
    [](const auto& info) { return info.param.name; });
// clang-format on
