#include "cleanup/unmount.h"

#include "platform/files.h"
#include "platform/log.h"
#include "platform/signals.h"
#include "process/runners.h"
#include "process/shell_escape.h"

#include <chrono>
#include <thread>

namespace tarnwell {
namespace {

constexpr int kRetries = 2;
constexpr std::chrono::seconds kFirstPause{1};

bool detach(const std::string& what) {
  const std::string command = "hdiutil detach -force \"" + escapeInDoubleQuotes(what) + "\"";
  auto status = parseStatusText(GetOutput("/bin/bash", command));
  if (status && *status == 0) return true;
  logLine("Error in unmount " + escapeText(what));
  return false;
}

}  // namespace

void unmountDMG(const std::string& path, const std::string& device) {
  bool detached = detach(path);
  auto pause = kFirstPause;
  for (int retry = 0; retry < kRetries && stopSignal() == 0; ++retry) {
    if (detached && (device.empty() || !entryExists(device))) return;
    if (!detached) {
      std::this_thread::sleep_for(pause);
      pause *= 2;
    }
    detached = detach(device.empty() ? path : device);
  }
}

}  // namespace tarnwell
