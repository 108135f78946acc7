#pragma once

#include "platform/errors.h"

#include <string>

namespace tarnwell {

// The absolute path of the running executable, links resolved; a failure
// when the system cannot tell it (no /proc on Linux).
Result executablePath(std::string* path);

}  // namespace tarnwell
