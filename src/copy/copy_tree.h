#pragma once

#include "copy/copy_entry.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tarnwell {

// Where a copy starts or ends: `name` in the open `directory`, which
// `directoryShown` names in the log.
struct Place {
  int directory;
  std::string name;
  std::string directoryShown;
};

// The deepest bundle that is copied; anything deeper is refused.
constexpr size_t kMaxDepth = 4096;

// Copies `from` to `to`, which must not exist, as an installed bundle:
// links stay links, hard links inside the tree stay linked, holes stay
// holes, extended attributes and times come along; owners and modes are
// the installed ones (copy_entry.h). The walk is iterative and holds a
// bounded number of descriptors at any depth. `to.directory` must be
// private to the tool. A stop signal abandons the copy; what was made
// stays for the caller to remove. `entries` counts what was made.
Result copyTree(const Place& from, const Place& to, const CopyRules& rules, uint64_t* entries);

// Hands every entry below the folder `name` in `directory` to `visit`,
// with its type (DT_DIR, DT_REG, DT_LNK, or DT_UNKNOWN for anything else),
// and goes into each folder after; a failure `visit` returns ends the
// walk. Links are not followed, and no folder deeper than kMaxDepth is
// gone into: the walk fails there. `spillAt` is a folder private to the tool
// where the walk's listings may go when they grow large (Listings).
Result walkTree(int directory, const std::string& name, const std::string& shown, int spillAt,
                const std::function<Result(const Entry&, unsigned char)>& visit);

// The number of entries in the tree at `name` in `directory`, itself
// included. For trees private to the tool.
Result countTree(int directory, const std::string& name, const std::string& shown, uint64_t* entries);

}  // namespace tarnwell
