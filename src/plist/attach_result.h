#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwell {

// What the saved attach result says about the attached volume.
struct AttachResult {
  enum class Outcome {
    NotAPropertyList,  // see `error`
    NoRows,            // no usable, non-empty "system-entities" array
    NoMountPoint,      // no entity with a usable text "mount-point"
    Found,             // `mountPoint` is set
  };
  Outcome outcome = Outcome::NotAPropertyList;
  std::string error;
  size_t entityCount = 0;
  // Every text "mount-point" looked at, in order; unusable ones included.
  // When the outcome is Found the last one is the mount point.
  std::vector<std::string> mountPointsSeen;
  std::string mountPoint;
  // The first "dev-entry" that names a whole disk (/dev/diskN), in any
  // entity: the image's own. Detaching an APFS volume by its mount point
  // leaves it attached. Empty when there is none.
  std::string imageDevice;
};

// A mount point names a folder below /Volumes, where hdiutil mounts, by
// an absolute path without "..". Anything else would have items installed
// from the root file system, the caller's directory, or a place a local
// user chose.
bool usableMountPoint(std::string_view path);

// Reads hdiutil's attach answer: the last XML property list in it, the
// text before it (a licence) and after it (warnings) left out; or a binary
// property list, whole.
AttachResult readAttachResult(std::string_view bytes);

}  // namespace tarnwell
