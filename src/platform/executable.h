#pragma once

#include <string>

namespace tarnwell {

// The absolute path of the running executable, links resolved.
std::string executablePath();

}  // namespace tarnwell
