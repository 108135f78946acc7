#include "cleanup/unmount.h"

#include "platform/log.h"
#include "process/runners.h"
#include "process/shell_escape.h"

namespace tarnwell {

void unmountDMG(const std::string& path) {
  const std::string command = "hdiutil detach -force \"" + escapeInDoubleQuotes(path) + "\"";
  auto status = parseStatusText(GetOutput("/bin/bash", command));
  if (!status || *status != 0) logLine("Error in unmount " + escapeText(path));
}

}  // namespace tarnwell
