#pragma once

#include "platform/errors.h"

#include <string>
#include <vector>

namespace tarnwell {

// True when a file or directory is there, following symbolic links.
bool fileExists(const std::string& path);

// True when anything is there, a link (even a dangling one) included.
bool entryExists(const std::string& path);

// The whole regular file at `path`, refused when it is larger than
// `maxBytes`. A link is not followed, and a FIFO or device is refused
// without being waited on.
Result readFile(const std::string& path, size_t maxBytes, std::string* content);
// The same for `name` in the open `directory`, which `path` names in errors.
Result readFileAt(int directory, const std::string& name, const std::string& path, size_t maxBytes,
                  std::string* content);

// Names directly inside a directory, in the order the system gives them.
Result listDirectory(const std::string& path, std::vector<std::string>* names);

// Removes one file or link; a directory is refused.
Result removeFile(const std::string& path);

// Whether the access control list of the open directory lets anyone add,
// remove or rename entries in it, or change who may. On Apple an ACL stands
// beside the mode bits; on Linux the mode's group bits already show what a
// POSIX ACL grants at most, so there it is never so.
bool aclGrantsWrite(int directory);

}  // namespace tarnwell
