#pragma once

#include "platform/errors.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell {

// What a removal left behind: entries it could not remove, and parts it
// would not remove.
struct Removal {
  Result first;                   // the first entry that could not be removed
  uint64_t failures = 0;          // entries that could not be removed
  std::vector<std::string> kept;  // lines for the log: each part left on purpose, and why

  bool complete() const { return failures == 0 && kept.empty(); }
  void fail(Result why);
  // The first failure, with how many there were; success without one.
  Result result() const;
};

// Removes `name` in the open `directory` and everything below it, at any
// depth, with a bounded number of descriptors and of memory (the listings
// may go to a file in `directory`; what lies deeper than 4096 levels is
// moved up beside `name` and removed from there); links are removed, never
// followed. It goes on past what it cannot remove. Nothing below a folder
// that is not root's, or that others may write, is removed: anyone could
// have moved anything in there (a folder of a bundle installed before the
// tool made bundles root's); that folder is kept. For entries inside a
// folder private to the tool.
void removeTree(int directory, const std::string& name, const std::string& shown, Removal* removal);

}  // namespace tarnwell
