#pragma once

#include "platform/errors.h"

#include <string>
#include <string_view>

namespace tarnwell {

// Property lists given to the parser are bounded first: the size, the
// depth of nested arrays and dictionaries, and for binary lists, whose
// objects may be shared, the number of values once every reference is
// expanded. libplist 2.2 recurses without a limit and copies shared
// objects, so a small hostile file could exhaust the stack or the memory.
constexpr size_t kMaxPlistBytes = 1 << 20;
constexpr size_t kMaxPlistDepth = 64;
constexpr size_t kMaxPlistValues = 100000;

// True when the bytes are within the limits; else false with the reason.
// Only XML lists in UTF-8 and binary lists pass; binary lists whose
// structure does not hold together are refused too.
Result plistWithinLimits(std::string_view bytes);

}  // namespace tarnwell
