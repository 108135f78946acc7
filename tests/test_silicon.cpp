#include "sandbox.h"

#include <gtest/gtest.h>

using tarnwell::test::Sandbox;

namespace {

struct Answer {
  const char* output;
  const char* status;
  const char* expected;
};

}  // namespace

TEST(ProcessorDetection, ReadsTheBrandStringFromSysctl) {
  for (const Answer& answer : {Answer{"Apple M2 Pro\n", "0", "true"}, Answer{"apple m1 (lower case)\n", "0", "false"},
                               Answer{"sysctl: Apple key missing\n", "1", "false"}, Answer{"", "0", "false"},
                               Answer{"Intel(R) Xeon(R) 100% %s\n", "0", "false"}}) {
    Sandbox sandbox;
    sandbox.scenario("sysctl-output", answer.output);
    sandbox.scenario("sysctl-status", answer.status);
    auto run = sandbox.runProbe({"silicon"});
    EXPECT_EQ(run.out, std::string(answer.expected) + "\n") << answer.output;
    ASSERT_EQ(run.log.size(), 1u);
    EXPECT_EQ(run.log[0], std::string("isSiliconMachine returnCode ") + answer.status + " Output \"" + answer.output + "\"");
    ASSERT_EQ(run.calls.size(), 1u);
    EXPECT_EQ(run.calls[0].program, "sysctl");
    EXPECT_EQ(run.calls[0].args, (std::vector<std::string>{"-n", "machdep.cpu.brand_string"}));
  }
}

TEST(ProcessorDetection, AsksAgainOnEveryCall) {
  Sandbox sandbox;
  sandbox.scenario("sysctl-output", "Apple M1\n");
  auto run = sandbox.runProbe({"silicon", "2"});
  EXPECT_EQ(run.out, "true\ntrue\n");
  EXPECT_EQ(run.log.size(), 2u);
  EXPECT_EQ(run.calls.size(), 2u);
}

TEST(ProcessorDetection, MissingSysctlIsNotAnAppleProcessor) {
  Sandbox sandbox;
  sandbox.setup("rm /usr/sbin/sysctl");
  auto run = sandbox.runProbe({"silicon"});
  EXPECT_EQ(run.out, "false\n");
  ASSERT_EQ(run.log.size(), 1u);
  EXPECT_EQ(run.log[0].rfind("isSiliconMachine returnCode 127 Output \"", 0), 0u) << run.log[0];
}
