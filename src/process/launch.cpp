#include "process/launch.h"

#include "platform/child.h"
#include "platform/log.h"
#include "platform/signals.h"
#include "process/child_stop.h"

namespace tarnwell {
namespace {
constexpr const char* kName = "launchProcess(atPath:withArgs:_:timeout:)";
constexpr std::chrono::seconds kTurn{1};
}  // namespace

int32_t launchProcess(const std::string& atPath, const std::vector<std::string>& withArgs,
                      const std::string& inDirectory, int64_t timeout) {
  logLine(std::string(kName) + ":Given launchPath:" + escapeText(atPath) + ", withArgs:" + renderList(withArgs) +
          ", inDirectory:" + escapeText(inDirectory) + ", timeoutIn:" + std::to_string(timeout) + "seconds");

  Child child = Child::spawn({atPath, withArgs, inDirectory, {}});
  if (!child.started()) {
    logLine(std::string(kName) + ":" + child.startError());
    return kCannotStartStatus;
  }

  // Each turn ends as soon as the child does, and counts one unit whatever
  // its length. A child still running when the budget is spent, or a wait
  // that fails, is given up on: asking it for a status would be
  // meaningless. It is ended as after a stop, so that the volume it reads
  // from is not detached under it.
  for (int64_t budget = timeout > 1 ? timeout : 1; budget > 0; --budget) {
    WaitResult result = child.wait(kTurn, true);
    if (result == WaitResult::Interrupted) {
      // Nothing it installs could be finished now: it is told to end at
      // once, and the volume it reads from is not detached under it.
      logLine(std::string(kName) + ":Execution stopped by signal " + std::to_string(stopSignal()));
      endAfterStop(child, std::chrono::milliseconds(0));
      return 1;
    }
    if (result == WaitResult::Failed) break;
    if (result == WaitResult::Ended) {
      logLine(std::string(kName) + " : ExecutionStatus : " + std::to_string(child.terminationStatus()));
      return child.terminationStatus();
    }
  }
  logLine(std::string(kName) + ":Execution time out");
  endAfterStop(child, std::chrono::milliseconds(0));
  return 1;
}

}  // namespace tarnwell
