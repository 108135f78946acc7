#pragma once

#include <string>
#include <vector>

namespace tarnwell {

// Installs the named items from the volume at `mountPoint`, in order,
// stopping at the first that fails: packages through the system installer,
// application bundles copied into /Applications and unhidden. True when
// every item was installed. `baseDirectory` is not consulted. When the
// hidden mark of a copied bundle cannot be read or cleared, returns false
// at once with `unhideError` set: that failure is the caller's to report.
// A stop signal ends the loop after the current item, with false.
bool installAppsAndPkg(const std::string& mountPoint, const std::string& baseDirectory,
                       const std::vector<std::string>& files, std::string* unhideError);

}  // namespace tarnwell
