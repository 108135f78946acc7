#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwell {

// A property list as the tool needs it: dictionaries, arrays and strings;
// every other kind of value is only known as "other". Dictionaries hold
// only the keys that the caller asked for.
struct PlistNode {
  enum class Kind { Dictionary, Array, String, Other };
  Kind kind = Kind::Other;
  std::string text;               // String
  std::vector<std::string> keys;  // Dictionary, in order; values in `items`
  std::vector<PlistNode> items;   // Array elements, or the dictionary's values

  const PlistNode* find(std::string_view key) const;
};

struct PlistParse {
  bool ok = false;
  PlistNode root;
  std::string error;  // why the bytes are not a property list
};

// XML and binary property lists; `keys` are the dictionary keys to keep.
PlistParse parsePropertyList(std::string_view bytes, const std::vector<std::string>& keys);

// The CFBundleIdentifier of an application's Info.plist; empty when the
// bytes hold none, or are not a property list within the bounds.
std::string bundleIdentifier(std::string_view infoPlist);

}  // namespace tarnwell
