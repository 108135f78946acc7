#pragma once

namespace tarnwell {

// SIGTERM, SIGINT and SIGHUP ask the run to stop: each is only noted, and
// the work stops at its next safe point, cleans up, and then ends by the
// same signal. SIGXFSZ is ignored, so that a file larger than RLIMIT_FSIZE
// fails to copy (EFBIG) instead of killing the tool mid-copy.
void catchStopSignals();

// The first stop signal received, or 0.
int stopSignal();

// Readable once a stop signal has arrived, so that a wait can end on it;
// -1 before catchStopSignals.
int stopSignalFd();

// Ends the process by `signal`, its default action restored, as if it had
// never been caught: the caller sees what it would have seen.
[[noreturn]] void endBySignal(int signal);

}  // namespace tarnwell
