#pragma once

#include <string>
#include <string_view>

namespace tarnwell {

// A readable description of a failed system call, naming what was being
// done, the path and the reason: Could not remove "/x": Permission denied.
// Control characters in the path are escaped, so that a file name from an
// image cannot start a log entry of its own.
std::string describeError(std::string_view action, std::string_view path, int errorNumber);

// The same for work abandoned on a stop signal.
std::string describeStop(std::string_view action, std::string_view path, int signal);

}  // namespace tarnwell
