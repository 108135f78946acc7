#pragma once

#include "platform/errors.h"

#include <functional>
#include <string>

namespace tarnwell {

// Takes an exclusive lock on the regular file at `path` (created if need
// be, never through a link) and holds it until the process ends. When
// another process holds it, `beforeWaiting` runs once and the call waits;
// a stop signal ends the wait. Any failure is returned: the caller must
// not go on unlocked.
Result holdLock(const std::string& path, const std::function<void()>& beforeWaiting);

}  // namespace tarnwell
