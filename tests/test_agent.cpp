// The agent's location table. Each row runs in a fresh child process, so
// that every property starts uncomputed, with the row's service programs
// in place.

#include "agent/OrvoAgent.h"
#include "harness.h"

#include <barrier>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using tarnwell::OrvoAgent;
using namespace tarnwell::test;

namespace {

const std::map<std::string, std::pair<std::string (*)(), void (*)(std::string)>> kProperties = {
    {"basePath", {OrvoAgent::basePath, OrvoAgent::setBasePath}},
    {"agentPath", {OrvoAgent::agentPath, OrvoAgent::setAgentPath}},
    {"systemDataPath", {OrvoAgent::systemDataPath, OrvoAgent::setSystemDataPath}},
    {"logsPath", {OrvoAgent::logsPath, OrvoAgent::setLogsPath}},
    {"userLogsPath", {OrvoAgent::userLogsPath, OrvoAgent::setUserLogsPath}},
    {"dataPath", {OrvoAgent::dataPath, OrvoAgent::setDataPath}},
};

// "NAME" reads a property, "NAME=VALUE" writes it, "race:NAME" has 32
// threads read it at once and gives how many distinct values they saw.
std::string perform(const std::string& operations) {
  std::istringstream in(operations);
  std::string out;
  for (std::string op; in >> op;) {
    if (op.starts_with("race:")) {
      std::barrier start(32);
      std::vector<std::string> seen(32);
      std::vector<std::thread> threads;
      for (auto& value : seen)
        threads.emplace_back([&, slot = &value] {
          start.arrive_and_wait();
          *slot = kProperties.at(op.substr(5)).first();
        });
      for (auto& thread : threads) thread.join();
      out += std::to_string(std::set<std::string>(seen.begin(), seen.end()).size()) + ":" + seen[0] + " ";
    } else if (size_t equals = op.find('='); equals != std::string::npos) {
      kProperties.at(op.substr(0, equals)).second(op.substr(equals + 1));
    } else {
      out += kProperties.at(op).first() + " ";
    }
  }
  return out;
}

struct Row {
  std::string name;
  std::vector<std::string> present;  // service program folders ("/bin") and "/SystemData" folders
  std::string operations, out;
  bool logsDataFolder = false;
};

const std::string kFirst = "/Library/Strandvale/Pelorin_Agent", kSecond = "/Library/Harrowmere_Agent",
                  kThird = "/Library/Quillon_Agent";
const std::string kDerived = "agentPath logsPath userLogsPath dataPath basePath";

std::string derived(const std::string& base) {
  return base + "/bin " + base + "/logs " + base + "/logs/UserLogs " + base + "/data " + base + " ";
}

const std::vector<Row> kRows = {
    {"FirstLocation", {kFirst + "/bin"}, kDerived, derived(kFirst)},
    {"SecondLocation", {kSecond + "/bin"}, kDerived, derived(kSecond)},
    {"ThirdLocation", {kThird + "/bin"}, kDerived, derived(kThird)},
    {"NoneFallsBack", {}, kDerived, derived("/Library/Pelorin_Agent")},
    {"FirstPresentWins", {kFirst + "/bin", kSecond + "/bin", kThird + "/bin"}, "basePath", kFirst + " "},
    {"SystemDataFolder", {kSecond + "/bin", kSecond + "/SystemData"}, "systemDataPath", kSecond + "/SystemData "},
    {"DataFolderLoggedOnce",
     {kSecond + "/bin"},
     "systemDataPath systemDataPath systemDataPath=/x systemDataPath",
     kSecond + "/data " + kSecond + "/data /x ",
     true},
    {"DerivedTakeBasePathAtFirstAccess",
     {},
     "agentPath basePath=/Custom/ agentPath logsPath logsPath=/L userLogsPath logsPath dataPath",
     "/Library/Pelorin_Agent/bin /Library/Pelorin_Agent/bin /Custom//logs /Custom//logs/UserLogs /L /Custom//data "},
    {"WriteAsFirstAccessComputesFirst",
     {},
     "systemDataPath=/S systemDataPath basePath=/B agentPath",
     "/S /B/bin ",
     true},
    {"ThreadsRaceTheFirstAccess",
     {kThird + "/bin"},
     "race:systemDataPath race:userLogsPath",
     "1:" + kThird + "/data 1:" + kThird + "/logs/UserLogs ",
     true},
};

class AgentTable : public testing::TestWithParam<Row> {};

TEST_P(AgentTable, Values) {
  REQUIRE_SANDBOX();
  const Row& row = GetParam();
  for (const std::string& folder : row.present)
    writeText(folder + (folder.ends_with("/bin") ? "/qxagentservice" : "/.keep"), "");
  fflush(nullptr);
  if (pid_t child = fork(); child == 0) {
    freopen("/standin/agent.log", "w", stderr);
    writeText("/standin/agent.out", perform(row.operations));
    _exit(0);
  } else {
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(readText("/standin/agent.out"), row.out);
  EXPECT_EQ(logEntries(readText("/standin/agent.log")),
            row.logsDataFolder ? std::vector<std::string>{"_systemDataPath refers to data folder"}
                               : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Agent, AgentTable, testing::ValuesIn(kRows), [](const auto& info) { return info.param.name; });

}  // namespace
