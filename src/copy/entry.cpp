#include "copy/entry.h"

#include "platform/path.h"

#include <vector>

namespace tarnwell {
namespace {

// A shown path deeper than this keeps its first and last levels only.
constexpr size_t kShownLevels = 24;

}  // namespace

Where rootNode(std::string path) { return std::make_shared<const PathNode>(PathNode{nullptr, std::move(path), 0}); }

Where childNode(const Where& parent, std::string_view name) {
  return std::make_shared<const PathNode>(PathNode{parent, std::string(name), parent->depth + 1});
}

std::string shownPath(const PathNode* where, std::string_view name) {
  std::vector<const PathNode*> levels;  // from the deepest up
  for (const PathNode* at = where; at && at->parent; at = at->parent.get()) levels.push_back(at);
  const PathNode* root = where;
  while (root && root->parent) root = root->parent.get();
  std::string path = root ? root->name : std::string();
  const size_t count = levels.size();
  for (size_t i = 0; i < count; ++i) {
    if (count > kShownLevels && i == kShownLevels / 2) {
      path = joinPath(path, "...");
      i = count - kShownLevels / 2;
    }
    path = joinPath(path, levels[count - 1 - i]->name);
  }
  return name.empty() ? path : joinPath(path, name);
}

}  // namespace tarnwell
