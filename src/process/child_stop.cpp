#include "process/child_stop.h"

#include "platform/signals.h"

#include <csignal>

namespace tarnwell {

WaitResult endAfterStop(Child& child, std::chrono::milliseconds patience) {
  child.killGroupAtEnd();
  if (patience.count() > 0) {
    if (WaitResult waited = child.wait(patience); waited != WaitResult::StillRunning) return waited;
  }
  child.signalGroup(SIGTERM);
  if (WaitResult waited = child.wait(kStopGrace); waited != WaitResult::StillRunning) return waited;
  child.signalGroup(SIGKILL);
  return child.wait(kStopGrace);
}

WaitResult waitBounded(Child& child) {
  if (stopSignal() == 0) {
    WaitResult waited = child.wait(std::nullopt, true);
    if (waited != WaitResult::Interrupted) return waited;
  }
  return endAfterStop(child, kStopGrace);
}

}  // namespace tarnwell
