#include "copy/swap.h"

#include "copy/directory_chain.h"
#include "copy/staging.h"
#include "platform/path.h"
#include "platform/system_copy.h"

#include <cerrno>

namespace tarnwell {

Swapped swapIntoPlace(int staging, int parent, const std::string& parentShown, const std::string& leaf,
                      const struct stat* old, bool deleteOld) {
  const std::string destination = joinPath(parentShown, leaf);
  const char* name = leaf.c_str();
  bool exchange = old != nullptr;
  int error = exchange ? renameSwap(staging, name, parent, name) : renameNoReplace(staging, name, parent, name);
  // The installed bundle vanished during the copy, or one appeared.
  if (error == (exchange ? ENOENT : EEXIST)) {
    exchange = !exchange;
    error = exchange ? renameSwap(staging, name, parent, name) : renameNoReplace(staging, name, parent, name);
  }
  Swapped swapped;
  if (error != 0) {
    swapped.result = Result::error("move into place", destination, error);
    return swapped;
  }
  struct stat out;
  if (!exchange) return swapped;
  const bool wasOld = old && statEntry(staging, leaf, &out) && out.st_dev == old->st_dev && out.st_ino == old->st_ino;
  if (wasOld && deleteOld) return swapped;
  swapped.surprise = !wasOld;
  const std::string kept = freshName("kept", leaf);
  swapped.keptAt = joinPath(parentShown, kept);
  if (int keptError = renameNoReplace(staging, name, parent, kept.c_str())) {
    swapped.kept = Result::error("keep", swapped.keptAt, keptError);
  }
  return swapped;
}

}  // namespace tarnwell
