#pragma once

#include "platform/errors.h"
#include "platform/fd.h"

#include <functional>
#include <string>
#include <string_view>

namespace tarnwell {

// True when a file or directory is there, following symbolic links.
bool fileExists(const std::string& path);

// True when anything is there, a link (even a dangling one) included.
bool entryExists(const std::string& path);

// The whole regular file at `path`, refused when it is larger than
// `maxBytes`. A link is not followed, and a FIFO or device is refused
// without being waited on.
Result readFile(const std::string& path, size_t maxBytes, std::string* content);

// The open directory at the absolute `path`, following no link on the way.
Result openDirectory(const std::string& path, Fd* directory);

// Hands each name directly inside the directory at `path` to `each`, in
// the order the system gives them; no link is followed on the way there.
Result listDirectory(const std::string& path, const std::function<void(std::string_view)>& each);

// Removes one file or link; a directory is refused.
Result removeFile(const std::string& path);

// Whether the access control list of the open directory lets anyone add,
// remove or rename entries in it, or change who may. On Apple an ACL stands
// beside the mode bits; on Linux the mode's group bits already show what a
// POSIX ACL grants at most, so there it is never so.
bool aclGrantsWrite(int directory);

}  // namespace tarnwell
