#include "cleanup/unmount.h"

#include "platform/files.h"
#include "platform/log.h"
#include "platform/signals.h"
#include "process/runners.h"
#include "process/shell_escape.h"

#include <poll.h>
#include <sys/stat.h>

namespace tarnwell {
namespace {

constexpr int kPausesMs[] = {1000, 2000, 3000, 4000};

// A failed detach of the image's disk is logged only while the disk is
// still there: after a busy answer its eject may finish by itself.
bool detach(const std::string& what, const ImageDisk* disk = nullptr) {
  const std::string command = "hdiutil detach -force \"" + escapeInDoubleQuotes(what) + "\"";
  auto status = parseStatusText(GetOutput("/bin/bash", command));
  if (status && *status == 0) return true;
  if (!disk || disk->stillThere()) logLine("Error in unmount " + escapeText(what));
  return false;
}

}  // namespace

ImageDisk ImageDisk::seen(const std::string& path) {
  struct stat info;
  if (path.empty() || lstat(path.c_str(), &info) != 0) return {};
  return {path, info.st_dev, info.st_ino};
}

bool ImageDisk::stillThere() const {
  struct stat info;
  return !path.empty() && lstat(path.c_str(), &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

void unmountDMG(const std::string& path, const ImageDisk& disk) {
  bool detached = detach(path);
  for (int pause : kPausesMs) {
    if (!detached) {  // ends at once on a stop signal
      struct pollfd wake = {stopSignalFd(), POLLIN, 0};
      poll(&wake, 1, pause);
    }
    if (stopSignal()) return;
    const bool ours = disk.stillThere();
    if (!ours && (detached || !entryExists(path))) return;
    detached = ours ? detach(disk.path, &disk) : detach(path);
  }
}

}  // namespace tarnwell
