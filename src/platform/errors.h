#pragma once

#include <string>
#include <string_view>

namespace tarnwell {

// A readable description of a failed system call, naming what was being
// done, the path and the reason: Could not remove "/x": Permission denied
std::string describeError(std::string_view action, std::string_view path, int errorNumber);

}  // namespace tarnwell
