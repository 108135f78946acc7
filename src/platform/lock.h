#pragma once

#include <functional>
#include <string>

namespace tarnwell {

// Takes an exclusive lock on the file at `path` (created if need be) and
// holds it until the process ends. When another process holds it,
// `beforeWaiting` runs once and the call waits. A stop signal ends the wait
// with false.
bool holdLock(const std::string& path, const std::function<void()>& beforeWaiting, std::string* error);

}  // namespace tarnwell
