#pragma once

#include <string>

namespace tarnwell {

// Detaches the volume mounted at `path` with "hdiutil detach -force";
// logs a failure and carries on.
void unmountDMG(const std::string& path);

}  // namespace tarnwell
