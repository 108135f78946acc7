#pragma once

#include <string>

namespace tarnwell {

// Detaches the volume mounted at `path` with "hdiutil detach -force", and
// then the image's own disk `device` (/dev/diskN, from the attach result)
// if that is still attached, as it is after an APFS volume. A detach that
// fails (a volume busy for a moment, with Spotlight or an antivirus in it)
// is logged and tried again a few times, with a short pause between; none
// after a stop signal. Carries on whatever happens.
void unmountDMG(const std::string& path, const std::string& device = {});

}  // namespace tarnwell
