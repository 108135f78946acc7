// Test helper run inside the sandbox, where the probed system paths are
// under the test's control. Prints one line per result on stdout.
//   tarnwell-probe silicon [COUNT]
//   tarnwell-probe agent OP...   OP: get:NAME  set:NAME=VALUE  race:NAME:THREADS

#include "agent/OrvoAgent.h"
#include "process/silicon.h"

#include <barrier>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

using tarnwell::OrvoAgent;

namespace {

struct Property {
  std::function<std::string()> get;
  std::function<void(std::string)> set;
};

const std::map<std::string, Property>& properties() {
  static const std::map<std::string, Property> table = {
      {"basePath", {OrvoAgent::basePath, OrvoAgent::setBasePath}},
      {"agentPath", {OrvoAgent::agentPath, OrvoAgent::setAgentPath}},
      {"systemDataPath", {OrvoAgent::systemDataPath, OrvoAgent::setSystemDataPath}},
      {"logsPath", {OrvoAgent::logsPath, OrvoAgent::setLogsPath}},
      {"userLogsPath", {OrvoAgent::userLogsPath, OrvoAgent::setUserLogsPath}},
      {"dataPath", {OrvoAgent::dataPath, OrvoAgent::setDataPath}},
  };
  return table;
}

int agent(const std::vector<std::string>& ops) {
  for (const std::string& op : ops) {
    if (op.starts_with("get:")) {
      std::string name = op.substr(4);
      std::printf("%s=%s\n", name.c_str(), properties().at(name).get().c_str());
    } else if (op.starts_with("set:")) {
      size_t equals = op.find('=');
      properties().at(op.substr(4, equals - 4)).set(op.substr(equals + 1));
    } else if (op.starts_with("race:")) {
      size_t colon = op.find(':', 5);
      std::string name = op.substr(5, colon - 5);
      int count = std::stoi(op.substr(colon + 1));
      std::barrier start(count);
      std::vector<std::string> seen(static_cast<size_t>(count));
      std::vector<std::thread> threads;
      for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
          start.arrive_and_wait();
          seen[static_cast<size_t>(i)] = properties().at(name).get();
        });
      }
      for (auto& thread : threads) thread.join();
      std::set<std::string> distinct(seen.begin(), seen.end());
      std::printf("%s race: %zu distinct, %s\n", name.c_str(), distinct.size(), seen.front().c_str());
    } else {
      std::fprintf(stderr, "unknown operation %s\n", op.c_str());
      return 2;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "silicon") {
    int count = args.size() > 1 ? std::stoi(args[1]) : 1;
    for (int i = 0; i < count; ++i) std::printf("%s\n", tarnwell::isSiliconMachine() ? "true" : "false");
    return 0;
  }
  if (!args.empty() && args[0] == "agent") return agent({args.begin() + 1, args.end()});
  std::fprintf(stderr, "usage: tarnwell-probe silicon [COUNT] | agent OP...\n");
  return 2;
}
