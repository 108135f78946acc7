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

// Puts a new, empty file at `path` that only its owner may read or write,
// in place of any file or link there, and opens it for reading and writing.
Result createPrivateFile(const std::string& path, Fd* file);

// The whole of the file that createPrivateFile made and `made` holds open,
// refused when it is larger than `maxBytes`, or when the entry at `path`
// is no longer that file, private to root (or to whoever runs the tool)
// with one link. The entry is opened without following a link, and a FIFO
// or device is refused without being waited on.
Result readMadeFile(int made, const std::string& path, size_t maxBytes, std::string* content);

// The whole regular file `name` in the open `directory`, which `path`
// names in errors, refused when it is larger than `maxBytes`. A link is
// not followed, and a FIFO or device is refused without being waited on.
Result readFileAt(int directory, const std::string& name, const std::string& path, size_t maxBytes,
                  std::string* content);

// The open directory at the absolute `path`, following no link on the way.
Result openDirectory(const std::string& path, Fd* directory);

// Hands each name directly inside the directory at `path` to `each`, in
// the order the system gives them; no link is followed on the way there.
Result listDirectory(const std::string& path, const std::function<void(std::string_view)>& each);

// Removes one file or link; a directory is refused.
Result removeFile(const std::string& path);

// Whether an access control list of the open file or directory lets
// anyone write it (add, remove or rename entries in a directory), or
// change who may; for a directory, also one that what is made in it
// inherits. On Apple an ACL stands beside the mode bits; on Linux the
// mode's group bits show what an access ACL grants at most, but not what a
// default ACL hands down.
bool aclGrantsWrite(int fd);

}  // namespace tarnwell
