#pragma once

#include <string>

namespace tarnwell {

// One entry of a tree copy: its name in an open directory, and the path
// that names it in error texts.
struct Entry {
  int directory;
  std::string name;
  std::string shown;
};

// Copies `from` to `to`, which must not exist, as faithfully as the
// platform copies a bundle: links stay links, hard links inside the tree
// stay linked, holes stay holes, and modes, owners, times, flags and
// extended attributes come along. `to.directory` must be private to the
// tool: nothing else may change below it while the copy runs. A stop
// signal abandons the copy; what was made stays for the caller to remove.
bool copyTree(const Entry& from, const Entry& to, std::string* error);

}  // namespace tarnwell
