#pragma once

#include "platform/errors.h"

#include <string>

namespace tarnwell {

// Whether an installed bundle is marked hidden: by the system's flag
// (platform/hidden.h), or by Finder's own invisible bit in the extended
// attribute com.apple.FinderInfo. `name` in `directory` is opened without
// following a link; `shown` names it in errors.
struct HiddenMark {
  Result read;
  bool hidden = false;
};
HiddenMark readHiddenMark(int directory, const std::string& name, const std::string& shown);

// Clears both marks.
Result clearHiddenMark(int directory, const std::string& name, const std::string& shown);

// Finder's invisible bit (kIsInvisible in fdFlags, big-endian at offset 8
// of the 32 bytes of FinderInfo), read and cleared in place.
bool finderInfoInvisible(const std::string& finderInfo);
void clearFinderInfoInvisible(std::string* finderInfo);

}  // namespace tarnwell
