#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tarnwell {

// Where a folder of a walk is, for the log: its name and its parent's
// node, up to a root that holds a whole path. Nodes never change, so any
// thread may name an entry from one while the walk goes on elsewhere; a
// walk keeps one a level, and work handed to another thread keeps its own.
struct PathNode {
  std::shared_ptr<const PathNode> parent;
  std::string name;  // the root's is its whole path
  size_t depth = 0;
};
using Where = std::shared_ptr<const PathNode>;

Where rootNode(std::string path);
Where childNode(const Where& parent, std::string_view name);

// `name` in the folder at `where` as a path for the log, the middle of a
// very deep one left out.
std::string shownPath(const PathNode* where, std::string_view name);

// One entry of a walk: its name in an open directory, and where that
// directory is, worked out as a path only when a line needs it.
struct Entry {
  int directory;
  std::string_view name;  // followed by a NUL
  const PathNode* where;

  std::string shown() const { return shownPath(where, name); }
};

}  // namespace tarnwell
