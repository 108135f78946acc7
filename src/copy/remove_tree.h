#pragma once

#include "platform/errors.h"

#include <string>

namespace tarnwell {

// Removes `name` in the open `directory` and everything below it, at any
// depth, with a bounded number of descriptors and of memory (the listings
// may go to a file in `directory`); links are removed, never followed. For
// entries inside a folder private to the tool.
Result removeTree(int directory, const std::string& name, const std::string& shown);

}  // namespace tarnwell
