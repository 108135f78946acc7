#include "agent/OrvoAgent.h"

#include "platform/files.h"
#include "platform/log.h"

#include <mutex>

namespace tarnwell {
namespace {

// One class-level value: computed once, under its own guard, at the first
// read or write; afterwards every read and write takes the lock.
class LazyPath {
 public:
  explicit LazyPath(std::string (*compute)()) : compute_(compute) {}

  std::string read() {
    ensure();
    std::lock_guard<std::mutex> hold(lock_);
    return value_;
  }

  void write(std::string value) {
    ensure();
    std::lock_guard<std::mutex> hold(lock_);
    value_ = std::move(value);
  }

 private:
  void ensure() {
    std::call_once(once_, [this] {
      std::string computed = compute_();
      std::lock_guard<std::mutex> hold(lock_);
      value_ = std::move(computed);
    });
  }

  std::string (*compute_)();
  std::once_flag once_;
  std::mutex lock_;
  std::string value_;
};

struct Probe {
  const char* serviceProgram;
  const char* baseDirectory;
};

constexpr Probe kProbes[] = {
    {"/Library/Strandvale/Pelorin_Agent/bin/qxagentservice", "/Library/Strandvale/Pelorin_Agent"},
    {"/Library/Harrowmere_Agent/bin/qxagentservice", "/Library/Harrowmere_Agent"},
    {"/Library/Quillon_Agent/bin/qxagentservice", "/Library/Quillon_Agent"},
};
constexpr const char* kFallbackBase = "/Library/Pelorin_Agent";

}  // namespace

std::string OrvoAgent::_basePath() {
  for (const Probe& probe : kProbes) {
    if (fileExists(probe.serviceProgram)) return probe.baseDirectory;
  }
  return kFallbackBase;
}

std::string OrvoAgent::_systemDataPath() {
  std::string base = basePath();
  if (fileExists(base + "/SystemData")) return base + "/SystemData";
  logLine("_systemDataPath refers to data folder");
  return base + "/data";
}

struct OrvoAgentProbes {
  static std::string basePath() { return OrvoAgent::_basePath(); }
  static std::string systemDataPath() { return OrvoAgent::_systemDataPath(); }
};

// Each function-local static is built on first use, so nothing is probed
// before a property is touched.
#define TARNWELL_AGENT_PROPERTY(getter, setter, compute)             \
  static LazyPath& getter##Value() {                                 \
    static LazyPath value(compute);                                  \
    return value;                                                    \
  }                                                                  \
  std::string OrvoAgent::getter() { return getter##Value().read(); } \
  void OrvoAgent::setter(std::string value) { getter##Value().write(std::move(value)); }

TARNWELL_AGENT_PROPERTY(basePath, setBasePath, &OrvoAgentProbes::basePath)
TARNWELL_AGENT_PROPERTY(agentPath, setAgentPath, [] { return OrvoAgent::basePath() + "/bin"; })
TARNWELL_AGENT_PROPERTY(systemDataPath, setSystemDataPath, &OrvoAgentProbes::systemDataPath)
TARNWELL_AGENT_PROPERTY(logsPath, setLogsPath, [] { return OrvoAgent::basePath() + "/logs"; })
TARNWELL_AGENT_PROPERTY(userLogsPath, setUserLogsPath, [] { return OrvoAgent::basePath() + "/logs" + "/UserLogs"; })
TARNWELL_AGENT_PROPERTY(dataPath, setDataPath, [] { return OrvoAgent::basePath() + "/data"; })

#undef TARNWELL_AGENT_PROPERTY

}  // namespace tarnwell
