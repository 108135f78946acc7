#pragma once

#include "platform/errors.h"

#include <string>

namespace tarnwell {

// Puts the bundle at `appPath` at `toLocation` (an absolute path),
// replacing what is there. The new bundle is copied into a staging folder
// beside the destination that only the tool can enter, swapped into place
// in one step, and the old one deleted with the staging folder: at every
// instant the destination holds the complete old or the complete new
// bundle. Staging folders that an interrupted run left for the same bundle
// are removed first. Logs its lines; true when the new bundle is in place.
bool copyApp(const std::string& appPath, const std::string& toLocation);

// Clears the hidden mark of the bundle at `path`, logging that it does so.
// A mark that cannot be read or cleared is returned as the failure.
Result checkAndUnhideApp(const std::string& path);

}  // namespace tarnwell
