// The agent's location table. Each row runs in a fresh child process, so
// that every property starts uncomputed, with the service programs of the
// row in place.

#include "agent/OrvoAgent.h"
#include "harness.h"

#include <barrier>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using tarnwell::OrvoAgent;
using namespace tarnwell::test;

namespace {

struct Property {
  std::string (*get)();
  void (*set)(std::string);
};

const std::map<std::string, Property> kProperties = {
    {"basePath", {OrvoAgent::basePath, OrvoAgent::setBasePath}},
    {"agentPath", {OrvoAgent::agentPath, OrvoAgent::setAgentPath}},
    {"systemDataPath", {OrvoAgent::systemDataPath, OrvoAgent::setSystemDataPath}},
    {"logsPath", {OrvoAgent::logsPath, OrvoAgent::setLogsPath}},
    {"userLogsPath", {OrvoAgent::userLogsPath, OrvoAgent::setUserLogsPath}},
    {"dataPath", {OrvoAgent::dataPath, OrvoAgent::setDataPath}},
};

// "get:NAME" reads, "set:NAME=VALUE" writes, "race:NAME" makes 32 threads
// read it at once and gives the number of distinct values they saw.
std::string perform(const std::vector<std::string>& operations) {
  std::string out;
  for (const std::string& op : operations) {
    std::string name = op.substr(op.find(':') + 1, op.find('=') - op.find(':') - 1);
    const Property& property = kProperties.at(name);
    if (op.starts_with("set:")) {
      property.set(op.substr(op.find('=') + 1));
    } else if (op.starts_with("get:")) {
      out += property.get() + " ";
    } else {
      std::barrier start(32);
      std::vector<std::string> seen(32);
      std::vector<std::thread> threads;
      for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&, i] { start.arrive_and_wait(), seen[i] = property.get(); });
      for (auto& thread : threads) thread.join();
      out += std::to_string(std::set<std::string>(seen.begin(), seen.end()).size()) + ":" + seen[0] + " ";
    }
  }
  return out;
}

// What the operations give, and the log, in a fresh child process.
std::pair<std::string, std::vector<std::string>> inFreshProcess(const std::vector<std::string>& operations) {
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    freopen("/standin/agent.log", "w", stderr);
    std::string out = perform(operations);
    FILE* file = fopen("/standin/agent.out", "w");
    fputs(out.c_str(), file);
    fclose(file);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  return {readText("/standin/agent.out"), logEntries(readText("/standin/agent.log"))};
}

struct Row {
  std::string name;
  std::vector<std::string> present;  // folders of service programs, "/SystemData" folders
  std::vector<std::string> operations;
  std::string out;
  bool logsDataFolder;
};

const std::string kFirst = "/Library/Strandvale/Pelorin_Agent", kSecond = "/Library/Harrowmere_Agent", kThird = "/Library/Quillon_Agent";
const std::string kDerived = "get:agentPath get:logsPath get:userLogsPath get:dataPath get:basePath";

std::vector<std::string> split(const std::string& words) {
  std::vector<std::string> out;
  std::istringstream in(words);
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

std::string derived(const std::string& base) {
  return base + "/bin " + base + "/logs " + base + "/logs/UserLogs " + base + "/data " + base + " ";
}

const std::vector<Row> kRows = {
    {"FirstLocation", {kFirst + "/bin"}, split(kDerived), derived(kFirst), false},
    {"SecondLocation", {kSecond + "/bin"}, split(kDerived), derived(kSecond), false},
    {"ThirdLocation", {kThird + "/bin"}, split(kDerived), derived(kThird), false},
    {"NoneFallsBack", {}, split(kDerived), derived("/Library/Pelorin_Agent"), false},
    {"FirstPresentWins", {kFirst + "/bin", kSecond + "/bin", kThird + "/bin"}, {"get:basePath"}, kFirst + " ", false},
    {"SystemDataFolder", {kSecond + "/bin", kSecond + "/SystemData"}, {"get:systemDataPath"}, kSecond + "/SystemData ", false},
    {"DataFolderLoggedOnce", {kSecond + "/bin"}, split("get:systemDataPath get:systemDataPath set:systemDataPath=/x get:systemDataPath"),
     kSecond + "/data " + kSecond + "/data /x ", true},
    {"DerivedTakeBasePathAtFirstAccess", {},
     split("get:agentPath set:basePath=/Custom/ get:agentPath get:logsPath set:logsPath=/L get:userLogsPath get:logsPath get:dataPath"),
     "/Library/Pelorin_Agent/bin /Library/Pelorin_Agent/bin /Custom//logs /Custom//logs/UserLogs /L /Custom//data ", false},
    {"WriteAsFirstAccessComputesFirst", {}, split("set:systemDataPath=/S get:systemDataPath set:basePath=/B get:agentPath"),
     "/S /B/bin ", true},
    {"ThreadsRaceTheFirstAccess", {kThird + "/bin"}, split("race:systemDataPath race:userLogsPath"),
     "1:" + kThird + "/data 1:" + kThird + "/logs/UserLogs ", true},
};

class AgentTable : public testing::TestWithParam<Row> {};

TEST_P(AgentTable, Values) {
  REQUIRE_SANDBOX();
  const Row& row = GetParam();
  for (const std::string& folder : row.present) {
    fs::create_directories(folder);
    if (folder.ends_with("/bin")) writeText(folder + "/qxagentservice", "");
  }
  auto [out, log] = inFreshProcess(row.operations);
  EXPECT_EQ(out, row.out);
  EXPECT_EQ(log, row.logsDataFolder ? std::vector<std::string>{"_systemDataPath refers to data folder"} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Agent, AgentTable, testing::ValuesIn(kRows), [](const auto& info) { return info.param.name; });

}  // namespace
