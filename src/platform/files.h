#pragma once

#include <string>
#include <vector>

namespace tarnwell {

// Failures come back as false, with a readable description (see
// describeError) in `error`.

// True when a file or directory is there, following symbolic links.
bool fileExists(const std::string& path);

// The whole file, refused when it is larger than `maxBytes`.
bool readFile(const std::string& path, size_t maxBytes, std::string* content, std::string* error);

// Names directly inside a directory, in the order the system gives them.
bool listDirectory(const std::string& path, std::vector<std::string>* names, std::string* error);

// Removes one file or link; a directory is refused.
bool removeFile(const std::string& path, std::string* error);

}  // namespace tarnwell
