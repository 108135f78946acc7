#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnwell {

// Failures come back as a readable description (see describeError); an
// empty optional means success.
using Failure = std::optional<std::string>;

// True when a file or directory is there, following symbolic links.
bool fileExists(const std::string& path);

// True when there is an entry at the path itself, a dangling link included.
bool entryExists(const std::string& path);

bool isSymbolicLink(const std::string& path);

// The whole file; nullopt with `failure` set when it cannot be read or is
// larger than `maxBytes`.
std::optional<std::string> readFile(const std::string& path, size_t maxBytes, std::string& failure);

// Names directly inside a directory, in the order the system gives them.
std::optional<std::vector<std::string>> listDirectory(const std::string& path, std::string& failure);

// Removes a file, a link or a whole directory tree (links are not followed).
Failure removeTree(const std::string& path);

// Removes one file or link; a directory is refused.
Failure removeFile(const std::string& path);

// Renames within one file system; the entry itself moves, never a link's target.
Failure movePath(const std::string& from, const std::string& to);

// Copies a file or directory tree to a destination that does not exist yet,
// as faithfully as the platform copies a bundle: links stay links, and
// modes, owners, times and extended attributes come along.
Failure copyTree(const std::string& from, const std::string& to);

// The hidden mark: UF_HIDDEN on Apple, the xattr user.hidden="1" on Linux.
// An attribute the file system cannot hold reads as not hidden.
std::optional<bool> isHidden(const std::string& path, std::string& failure);
Failure clearHidden(const std::string& path);
Failure setHidden(const std::string& path);

// The absolute path of the running executable, links resolved.
std::string executablePath();

}  // namespace tarnwell
