#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwell {

// A property list as the tool needs it: dictionaries, arrays and strings;
// every other kind of value is only known as "other".
struct PlistNode {
  enum class Kind { Dictionary, Array, String, Other };
  Kind kind = Kind::Other;
  std::string text;                                       // String
  std::vector<std::pair<std::string, PlistNode>> entries;  // Dictionary, in order
  std::vector<PlistNode> items;                             // Array

  const PlistNode* find(std::string_view key) const;
};

struct PlistParse {
  bool ok = false;
  PlistNode root;
  std::string error;  // why the bytes are not a property list
};

// XML and binary property lists.
PlistParse parsePropertyList(std::string_view bytes);

}  // namespace tarnwell
