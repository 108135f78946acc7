#include "process/runners.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace tarnwell;

namespace {

struct Logged {
  std::string result;
  std::vector<std::string> log;
};

Logged getOutput(const std::string& program, const std::string& command) {
  testing::internal::CaptureStderr();
  Logged logged;
  logged.result = GetOutput(program, command);
  logged.log = test::logEntries(testing::internal::GetCapturedStderr());
  return logged;
}

}  // namespace

TEST(GetOutput, LogsCommandThenStatusAndMergedOutput) {
  testing::internal::CaptureStdout();
  Logged run = getOutput("/bin/bash", "echo one; echo two >&2; echo three");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(run.result, "0");
  ASSERT_EQ(run.log.size(), 2u);
  EXPECT_EQ(run.log[0], "Given Command /bin/bash echo one; echo two >&2; echo three");
  EXPECT_EQ(run.log[1], "terminationStatus : 0 output : one\ntwo\nthree\n");
}

TEST(GetOutput, NonZeroStatusAndPercentSigns) {
  Logged run = getOutput("/bin/bash", "printf '%s' '100%d %n'; exit 3");
  EXPECT_EQ(run.result, "3");
  ASSERT_EQ(run.log.size(), 2u);
  EXPECT_EQ(run.log[0], "Given Command /bin/bash printf '%s' '100%d %n'; exit 3");
  EXPECT_EQ(run.log[1], "terminationStatus : 3 output : 100%d %n");
}

TEST(GetOutput, PipesAndRedirectionsAreTheShells) {
  auto dir = std::filesystem::temp_directory_path() / "tarnwell-runner-redirect";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  Logged run = getOutput("/bin/bash", "echo YES | tr Y N>" + (dir / "out").string());
  EXPECT_EQ(run.result, "0");
  EXPECT_EQ(test::readFileText(dir / "out"), "NES\n");
  EXPECT_EQ(run.log[1], "terminationStatus : 0 output : ");
  std::filesystem::remove_all(dir);
}

TEST(GetOutput, ProgramThatCannotStart) {
  Logged run = getOutput("/nonexistent/bash", "true");
  EXPECT_NE(run.result, "0");
  EXPECT_TRUE(parseStatusText(run.result).has_value());
  ASSERT_EQ(run.log.size(), 2u);
  EXPECT_EQ(run.log[0], "Given Command /nonexistent/bash true");
  EXPECT_NE(run.log[1].find("/nonexistent/bash"), std::string::npos) << run.log[1];
  EXPECT_NE(run.log[1].find("No such file or directory"), std::string::npos) << run.log[1];
}

TEST(GetOutput, BackgroundGrandchildHoldingThePipeDoesNotHang) {
  auto start = std::chrono::steady_clock::now();
  Logged run = getOutput("/bin/bash", "sleep 30 & echo started");
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.result, "0");
  EXPECT_EQ(run.log[1], "terminationStatus : 0 output : started\n");
  EXPECT_LT(elapsed, std::chrono::seconds(20));  // against a hang, not a speed goal
}

TEST(Shell, RunsThroughEnvAndReturnsStatusAndOutput) {
  auto [status, output] = shell({"/bin/sh", "-c", "echo out; echo err >&2; exit 5"});
  EXPECT_EQ(status, 5);
  EXPECT_EQ(output, "out\nerr\n");
  auto [found, path] = shell({"sh", "-c", "printf '%s' \"$0\""});  // env searches PATH
  EXPECT_EQ(found, 0);
  EXPECT_EQ(path, "sh");
  auto [missing, text] = shell({"/nonexistent/program"});
  EXPECT_NE(missing, 0);
}

TEST(Shell, TenMegabytesOnEachStreamAreAllCaptured) {
  auto [status, output] = shell({"/bin/sh", "-c",
                                 "head -c 10000000 /dev/zero | tr '\\0' o; head -c 10000000 /dev/zero | tr '\\0' e >&2"});
  EXPECT_EQ(status, 0);
  ASSERT_EQ(output.size(), 20000000u);
  EXPECT_EQ(std::count(output.begin(), output.end(), 'o'), 10000000);
  EXPECT_EQ(output.front(), 'o');
  EXPECT_EQ(output.back(), 'e');
}

TEST(Shell, InvalidUtf8BecomesReplacementCharacters) {
  auto [status, output] = shell({"/usr/bin/printf", "a\\377b\\303\\251\\355\\240\\200"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "a\xEF\xBF\xBD" "b\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(StatusText, OnlyASignedDecimalInRangeCounts) {
  EXPECT_EQ(parseStatusText("0"), 0);
  EXPECT_EQ(parseStatusText("+0"), 0);
  EXPECT_EQ(parseStatusText("-0"), 0);
  EXPECT_EQ(parseStatusText("26"), 26);
  EXPECT_EQ(parseStatusText("-15"), -15);
  EXPECT_EQ(parseStatusText("9223372036854775807"), INT64_MAX);
  for (const char* bad : {"", "+", "-", " 0", "0 ", "0\n", "+-1", "1e3", "0x0", "9223372036854775808"}) {
    EXPECT_FALSE(parseStatusText(bad).has_value()) << bad;
  }
}
