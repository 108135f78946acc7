#include "process/launch.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace tarnwell;

namespace {

struct Launched {
  int32_t status;
  std::vector<std::string> log;
  std::string out;
  std::chrono::steady_clock::duration elapsed;
};

Launched launch(const std::string& script, const std::string& directory, int64_t timeout) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  auto start = std::chrono::steady_clock::now();
  Launched run;
  run.status = launchProcess("/bin/sh", {"-c", script}, directory, timeout);
  run.elapsed = std::chrono::steady_clock::now() - start;
  run.log = test::logEntries(testing::internal::GetCapturedStderr());
  run.out = testing::internal::GetCapturedStdout();
  return run;
}

const std::string kName = "launchProcess(atPath:withArgs:_:timeout:)";

}  // namespace

TEST(TimedLaunch, FirstLineNamesEverythingAndOutputGoesNowhere) {
  Launched run = launch("echo \"secret-output\"; echo secret-error >&2", "/", 3600);
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.log.size(), 2u);
  EXPECT_EQ(run.log[0], kName + R"(:Given launchPath:/bin/sh, withArgs:["-c", "echo \"secret-output\"; echo secret-error >&2"], inDirectory:/, timeoutIn:3600seconds)");
  EXPECT_EQ(run.log[1], kName + " : ExecutionStatus : 0");
  EXPECT_EQ(run.out, "");
}

TEST(TimedLaunch, WorkingDirectoryIsUsedWhenGiven) {
  auto file = std::filesystem::temp_directory_path() / "tarnwell-launch-pwd";
  std::filesystem::remove(file);
  Launched run = launch("pwd > " + file.string(), "/", 5);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(test::readFileText(file), "/\n");

  Launched own = launch("pwd > " + file.string(), "", 5);
  EXPECT_EQ(own.status, 0);
  EXPECT_EQ(test::readFileText(file), std::filesystem::current_path().string() + "\n");
  EXPECT_NE(own.log[0].find(", inDirectory:, timeoutIn:5seconds"), std::string::npos) << own.log[0];
  std::filesystem::remove(file);
}

TEST(TimedLaunch, ChildThatEndsLaterReturnsItsStatus) {
  Launched run = launch("sleep 2; exit 4", "/", 3600);
  EXPECT_EQ(run.status, 4);
  ASSERT_EQ(run.log.size(), 2u);
  EXPECT_EQ(run.log[1], kName + " : ExecutionStatus : 4");
}

TEST(TimedLaunch, LimitOfZeroOrLessGivesOneTurn) {
  for (int64_t limit : {0, -5, 1}) {
    Launched run = launch("sleep 3", "/", limit);
    EXPECT_EQ(run.status, 1) << limit;
    ASSERT_EQ(run.log.size(), 2u);
    EXPECT_EQ(run.log[1], kName + ":Execution time out");
    EXPECT_LT(run.elapsed, std::chrono::milliseconds(2500)) << "one turn, not the child's three seconds";
  }
  Launched quick = launch("exit 0", "", -5);
  EXPECT_NE(quick.log[0].find("timeoutIn:-5seconds"), std::string::npos);
  EXPECT_EQ(quick.log[1], kName + " : ExecutionStatus : 0");
}

TEST(TimedLaunch, TimeOutTerminatesTheChild) {
  auto marker = std::filesystem::temp_directory_path() / "tarnwell-launch-survivor";
  std::filesystem::remove(marker);
  Launched run = launch("trap 'exit 0' TERM; sleep 4 & wait; touch " + marker.string(), "/", 2);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.log.back(), kName + ":Execution time out");
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_FALSE(std::filesystem::exists(marker)) << "the child was not told to end";
}

TEST(TimedLaunch, ProgramThatCannotStart) {
  testing::internal::CaptureStderr();
  int32_t status = launchProcess("/nonexistent/installer", {"-pkg", "x"}, "/", 10);
  auto log = test::logEntries(testing::internal::GetCapturedStderr());
  EXPECT_NE(status, 0);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].rfind(kName + ":Given launchPath:/nonexistent/installer", 0), 0u);
  EXPECT_EQ(log[1], kName + ":Could not start \"/nonexistent/installer\" in \"/\": No such file or directory");
}

TEST(TimedLaunch, ChildThatIgnoresTerminationDoesNotHoldTheCaller) {
  Launched run = launch("trap '' TERM; sleep 8", "/", 1);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.log.back(), kName + ":Execution time out");
  EXPECT_LT(run.elapsed, std::chrono::seconds(5));
}

TEST(TimedLaunch, FloodingChildIsNeverBlocked) {
  Launched run = launch("head -c 200000000 /dev/zero; exit 7", "/", 120);
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(run.log.size(), 2u);
  EXPECT_EQ(run.out, "");
}
