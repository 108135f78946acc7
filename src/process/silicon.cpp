#include "process/silicon.h"

#include "platform/log.h"
#include "process/runners.h"

namespace tarnwell {

bool isSiliconMachine() {
  auto [status, output] = shell({"/usr/sbin/sysctl", "-n", "machdep.cpu.brand_string"});
  logLine("isSiliconMachine returnCode " + std::to_string(status) + " Output \"" + escapeText(output) + "\"");
  return status == 0 && output.find("Apple") != std::string::npos;
}

}  // namespace tarnwell
