#pragma once

#include <string>

#include <sys/types.h>

namespace tarnwell {

// The image's own disk (/dev/diskN, from the attach result) as its node
// was right after the attach. Disk numbers are reused: a node at the same
// path that is not this one (device and inode) belongs to another image.
struct ImageDisk {
  std::string path;  // empty when the image has none, or its node was not there
  dev_t device = 0;
  ino_t inode = 0;

  static ImageDisk seen(const std::string& path);
  bool stillThere() const;
};

// Detaches the volume mounted at `path` with "hdiutil detach -force", and
// then the image's own disk if it is still there, as it is after an APFS
// volume. A detach that fails (a volume busy for a moment, with Spotlight
// or an antivirus in it) is logged and tried again, after pauses of 1, 2,
// 3 and 4 seconds, by the disk while it is still the image's, else by the
// mount point while that is there; a disk that went by itself meanwhile is
// no failure. None after a stop signal. Carries on whatever happens.
void unmountDMG(const std::string& path, const ImageDisk& disk = {});

}  // namespace tarnwell
