#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwell {

// Paths are plain text in this tool; these are the only places that take
// them apart or put them together.

struct PathParts {
  std::string parent;  // "/" for an entry of the root; empty without a slash
  std::string leaf;
};

// "/A/B.app" is "B.app" in "/A".
PathParts splitPath(std::string_view path);

// `name` appended to `directory` with one slash between them: a slash that
// leads `name` does not lead out of the directory.
std::string joinPath(std::string_view directory, std::string_view name);

// The names along `path`, empty ones (doubled or trailing slashes) left out.
std::vector<std::string_view> pathComponents(std::string_view path);

}  // namespace tarnwell
