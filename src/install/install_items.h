#pragma once

#include "platform/errors.h"

#include <string>
#include <vector>

namespace tarnwell {

struct InstallOutcome {
  bool installed = false;  // every item
  // Failed when the hidden mark of a copied bundle could not be read or
  // cleared: nothing after it was attempted, and the failure is the
  // caller's to report.
  Result unhide;
};

// Installs the named items from the volume at `mountPoint`, in order,
// stopping at the first that fails: packages through the system installer,
// application bundles copied into /Applications and unhidden.
// `baseDirectory` (the tool's own, trusted) only holds what the check of a
// large bundle-style package sets aside. A stop signal ends the loop after
// the current item, as a failure.
InstallOutcome installAppsAndPkg(const std::string& mountPoint, const std::string& baseDirectory,
                                 const std::vector<std::string>& files);

}  // namespace tarnwell
