#pragma once

namespace tarnwell {

// The system's own hidden mark of an open entry: UF_HIDDEN on Apple. On
// Linux the extended attribute user.hidden="1" stands in for it, and a
// file system that cannot hold one reads as not hidden.
struct HiddenFlag {
  int error = 0;  // an errno when it could not be read
  bool hidden = false;
};
HiddenFlag readHiddenFlag(int fd);
int clearHiddenFlag(int fd);  // 0 or an errno

}  // namespace tarnwell
