#pragma once

#include <string>
#include <vector>

namespace tarnwell {

// Installs the named items from the volume at `mountPoint`, in order,
// stopping at the first that fails: packages through the system installer,
// application bundles copied into /Applications and unhidden. True when
// every item was installed. `baseDirectory` is not consulted.
bool installAppsAndPkg(const std::string& mountPoint, const std::string& baseDirectory,
                       const std::vector<std::string>& files);

// True when a path component of `name` is "..".
bool climbsOut(const std::string& name);

}  // namespace tarnwell
