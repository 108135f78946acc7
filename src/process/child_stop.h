#pragma once

#include "platform/child.h"

#include <chrono>

namespace tarnwell {

// How long a child asked to end because the tool was stopped has before
// it is killed.
constexpr std::chrono::seconds kStopGrace{5};

// Ends a child once the tool was asked to stop: it is given `patience` to
// end by itself, then its process group is sent SIGTERM, and SIGKILL
// kStopGrace later; what is left of the group when the child ends is
// killed. Returns once it has ended, or when even SIGKILL did not end it
// within kStopGrace.
WaitResult endAfterStop(Child& child, std::chrono::milliseconds patience);

// Waits for a child as long as it runs; once a stop signal came (before or
// during the wait), ends it as endAfterStop does, after kStopGrace.
WaitResult waitBounded(Child& child);

}  // namespace tarnwell
