#include "process/launch.h"

#include "platform/child.h"
#include "platform/log.h"
#include "platform/signals.h"

namespace tarnwell {
namespace {
constexpr const char* kName = "launchProcess(atPath:withArgs:_:timeout:)";
constexpr std::chrono::seconds kTurn{1};
// How long a child asked to end because the tool was stopped may take.
constexpr std::chrono::seconds kStopGrace{10};
}  // namespace

int32_t launchProcess(const std::string& atPath, const std::vector<std::string>& withArgs,
                      const std::string& inDirectory, int64_t timeout) {
  logLine(std::string(kName) + ":Given launchPath:" + atPath + ", withArgs:" + renderList(withArgs) +
          ", inDirectory:" + inDirectory + ", timeoutIn:" + std::to_string(timeout) + "seconds");

  Child child = Child::spawn({atPath, withArgs, inDirectory, false});
  if (!child.started()) {
    logLine(std::string(kName) + ":" + child.startError());
    return kCannotStartStatus;
  }

  // Each turn ends as soon as the child does, and counts one unit whatever
  // its length. A child still running when the budget is spent, or a wait
  // that fails, is given up on: asking it for a status would be meaningless.
  for (int64_t budget = timeout > 1 ? timeout : 1; budget > 0; --budget) {
    WaitResult result = child.wait(kTurn, true);
    if (result == WaitResult::Stopped) {
      logLine(std::string(kName) + ":Execution stopped by signal " + std::to_string(stopSignal()));
      child.terminate();
      child.wait(kStopGrace);
      return 1;
    }
    if (result == WaitResult::Failed) break;
    if (result == WaitResult::Ended) {
      logLine(std::string(kName) + " : ExecutionStatus : " + std::to_string(child.exitStatus()));
      return child.exitStatus();
    }
  }
  logLine(std::string(kName) + ":Execution time out");
  child.terminate();
  return 1;
}

}  // namespace tarnwell
