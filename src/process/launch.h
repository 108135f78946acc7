#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell {

// Starts `atPath` with `withArgs` (in `inDirectory` unless it is empty) and
// waits for it in turns of at most one second, at most max(timeout, 1)
// turns. Returns the child's exit status, or 1 when it gives up on the
// child, which it then ends as endAfterStop does (child_stop.h). The
// child's output is discarded.
int32_t launchProcess(const std::string& atPath, const std::vector<std::string>& withArgs,
                      const std::string& inDirectory, int64_t timeout);

}  // namespace tarnwell
