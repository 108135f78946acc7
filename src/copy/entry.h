#pragma once

#include "copy/directory_chain.h"

#include <string>
#include <string_view>

namespace tarnwell {

// One entry of a walk: its name in an open directory, and the chain that
// names it in the log, worked out only when a line needs it.
struct Entry {
  int directory;
  std::string_view name;  // followed by a NUL
  const DirectoryChain* chain;

  std::string shown() const { return chain->shown(name); }
};

}  // namespace tarnwell
