#pragma once

#include <string>

namespace tarnwell {

// Puts the bundle at `appPath` at `toLocation`, replacing what is there.
// The bundle it replaces is kept aside until the copy has succeeded and
// put back when it fails. True when the new bundle is in place.
bool copyApp(const std::string& appPath, const std::string& toLocation);

// Clears the hidden mark of the bundle at `path`. When the mark cannot be
// read or cleared, deletes the saved attach result and ends the run with 1.
void checkAndUnhideApp(const std::string& path);

}  // namespace tarnwell
