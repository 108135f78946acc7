#pragma once

#include "platform/errors.h"

#include <string>

#include <sys/stat.h>

namespace tarnwell {

struct Swapped {
  Result result;
  // Where the entry went that another process put at the destination
  // during the copy, when the swap took that out of place; empty when it
  // took out the bundle seen before the copy, or nothing.
  std::string keptAt;
  Result kept;  // whether it could be put there
};

// Moves `leaf` in the staging folder `staging` into place at `leaf` in
// `parent` in one step: an exchange when `old` (the entry seen at the
// destination before the copy) is given, else a move that replaces
// nothing. When the destination came or went meanwhile, the other kind is
// made. What the exchange took out of place stays in the staging folder,
// unless it is not `old`: that is not the tool's to delete, and is moved
// beside the destination as ".tarnwell-kept.NAME.TOKEN".
Swapped swapIntoPlace(int staging, int parent, const std::string& parentShown, const std::string& leaf,
                      const struct stat* old);

}  // namespace tarnwell
