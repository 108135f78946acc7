#include "sandbox.h"

#include <gtest/gtest.h>

using tarnwell::test::Sandbox;

namespace {

const char* kFirst = "/Library/Strandvale/Pelorin_Agent";
const char* kSecond = "/Library/Harrowmere_Agent";
const char* kThird = "/Library/Quillon_Agent";

void installService(Sandbox& sandbox, const std::string& base) {
  sandbox.setup("mkdir -p '" + base + "/bin' && touch '" + base + "/bin/qxagentservice'");
}

std::string lines(const std::vector<std::string>& values) {
  std::string text;
  for (const auto& value : values) text += value + "\n";
  return text;
}

}  // namespace

TEST(AgentTable, EachProbeLocationAndTheFallback) {
  for (const char* base : {kFirst, kSecond, kThird}) {
    Sandbox sandbox;
    installService(sandbox, base);
    std::string b = base;
    auto run = sandbox.runProbe({"agent", "get:agentPath", "get:logsPath", "get:userLogsPath", "get:dataPath", "get:basePath"});
    EXPECT_EQ(run.out, lines({"agentPath=" + b + "/bin", "logsPath=" + b + "/logs", "userLogsPath=" + b + "/logs/UserLogs",
                              "dataPath=" + b + "/data", "basePath=" + b}));
    EXPECT_TRUE(run.log.empty());
  }
  Sandbox none;
  auto run = none.runProbe({"agent", "get:basePath"});
  EXPECT_EQ(run.out, "basePath=/Library/Pelorin_Agent\n");
  EXPECT_TRUE(run.log.empty());
}

TEST(AgentTable, FirstPresentLocationWinsWithoutLaterProbes) {
  Sandbox sandbox;
  installService(sandbox, kFirst);
  installService(sandbox, kThird);
  sandbox.setup(std::string("mkdir -p ") + kSecond + "/bin && touch " + kSecond + "/bin/qxagentservice");
  auto run = sandbox.runProbe({"agent", "get:basePath"});
  EXPECT_EQ(run.out, std::string("basePath=") + kFirst + "\n");
}

TEST(AgentTable, SystemDataFolderOrTheDataFolderWithOneLogLine) {
  Sandbox present;
  installService(present, kSecond);
  present.setup(std::string("mkdir -p ") + kSecond + "/SystemData");
  auto run = present.runProbe({"agent", "get:systemDataPath"});
  EXPECT_EQ(run.out, std::string("systemDataPath=") + kSecond + "/SystemData\n");
  EXPECT_TRUE(run.log.empty());

  Sandbox absent;
  installService(absent, kSecond);
  run = absent.runProbe({"agent", "get:systemDataPath", "get:systemDataPath", "set:systemDataPath=/x", "get:systemDataPath"});
  EXPECT_EQ(run.out, lines({std::string("systemDataPath=") + kSecond + "/data", std::string("systemDataPath=") + kSecond + "/data",
                            "systemDataPath=/x"}));
  EXPECT_EQ(run.log, (std::vector<std::string>{"_systemDataPath refers to data folder"}));
}

TEST(AgentTable, DerivedValuesTakeBasePathAtTheirFirstAccess) {
  Sandbox sandbox;
  auto run = sandbox.runProbe({"agent", "get:agentPath", "set:basePath=/Custom/", "get:agentPath", "get:logsPath",
                               "set:logsPath=/L", "get:userLogsPath", "get:logsPath", "get:dataPath"});
  EXPECT_EQ(run.out, lines({"agentPath=/Library/Pelorin_Agent/bin", "agentPath=/Library/Pelorin_Agent/bin",
                            "logsPath=/Custom//logs", "userLogsPath=/Custom//logs/UserLogs", "logsPath=/L",
                            "dataPath=/Custom//data"}));
}

TEST(AgentTable, WriteAsFirstAccessStillComputesFirst) {
  Sandbox sandbox;
  // The write to systemDataPath computes it first, with its log line.
  auto run = sandbox.runProbe({"agent", "set:systemDataPath=/S", "get:systemDataPath", "set:basePath=/B", "get:agentPath"});
  EXPECT_EQ(run.out, lines({"systemDataPath=/S", "agentPath=/B/bin"}));
  EXPECT_EQ(run.log, (std::vector<std::string>{"_systemDataPath refers to data folder"}));
}

TEST(AgentTable, ManyThreadsMakeTheFirstAccessTogether) {
  Sandbox sandbox;
  installService(sandbox, kThird);
  auto run = sandbox.runProbe({"agent", "race:systemDataPath:32", "race:userLogsPath:32"});
  EXPECT_EQ(run.out, lines({std::string("systemDataPath race: 1 distinct, ") + kThird + "/data",
                            std::string("userLogsPath race: 1 distinct, ") + kThird + "/logs/UserLogs"}));
  EXPECT_EQ(run.log, (std::vector<std::string>{"_systemDataPath refers to data folder"}));
}
