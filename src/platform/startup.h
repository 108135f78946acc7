#pragma once

namespace tarnwell {

// Makes the process safe to run whatever its parent left it: a closed
// standard descriptor is opened on /dev/null (or the next file opened would
// take its number and receive the log), the umask is 077, a reader of the
// log that went away does not end the run with SIGPIPE, and stop signals
// are caught (signals.h).
void prepareProcess();

}  // namespace tarnwell
