#pragma once

namespace tarnwell {

// True when sysctl names an Apple processor. Asks afresh on every call.
bool isSiliconMachine();

}  // namespace tarnwell
