#pragma once

#include "platform/errors.h"

#include <string>

#include <sys/stat.h>

namespace tarnwell {

struct Swapped {
  Result result;
  // Where what the swap took out of place went when it is not to be
  // deleted; empty when it took out nothing, or `old` to delete.
  std::string keptAt;
  Result kept;            // whether it could be put there
  bool surprise = false;  // it was not `old`: another process put it there during the copy
};

// Moves `leaf` in the staging folder `staging` into place at `leaf` in
// `parent` in one step: an exchange when `old` (the entry seen at the
// destination before the copy) is given, else a move that replaces
// nothing. When the destination came or went meanwhile, the other kind is
// made. What the exchange took out of place stays in the staging folder
// when it is `old` and `deleteOld` (the caller deletes it with the
// folder); anything else is not the tool's to delete, and is moved beside
// the destination as ".tarnwell-kept.NAME.TOKEN".
Swapped swapIntoPlace(int staging, int parent, const std::string& parentShown, const std::string& leaf,
                      const struct stat* old, bool deleteOld);

}  // namespace tarnwell
