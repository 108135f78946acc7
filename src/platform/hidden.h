#pragma once

#include <string>

namespace tarnwell {

// The hidden mark of `name` in `directory`, opened without following a
// link: UF_HIDDEN on Apple, the extended attribute user.hidden="1" on
// Linux, where a file system that cannot hold it reads as not hidden.
// `shown` names the entry in error texts.
bool isHiddenAt(int directory, const std::string& name, const std::string& shown, bool* hidden, std::string* error);
bool clearHiddenAt(int directory, const std::string& name, const std::string& shown, std::string* error);

}  // namespace tarnwell
