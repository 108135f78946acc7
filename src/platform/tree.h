#pragma once

#include "platform/fd.h"

#include <string>
#include <vector>
#include <sys/stat.h>

namespace tarnwell {

// Work below a directory that other processes may change at any moment
// (/Applications is writable by the admin group): everything goes through
// directory descriptors, and no symbolic link is ever followed. The `shown`
// paths only name entries in error texts.

// Opens the directory at the absolute `path`, following no link on the way.
bool openDirectory(const std::string& path, Fd* directory, std::string* error);

// The entry itself, a link included; false with errno set when there is none.
bool statEntry(int directory, const std::string& name, struct stat* info);

// The names in the open `directory`, "." and ".." left out.
bool listEntries(int directory, std::vector<std::string>* names, const std::string& shown, std::string* error);

// Removes everything inside the open `directory`, which must be private to
// the tool (or a subdirectory of such): names below it are trusted.
bool removeContents(int directory, const std::string& shown, std::string* error);

// Removes `name` in `directory` and everything below it, links removed and
// never followed. For entries inside a directory private to the tool.
bool removeTreeAt(int directory, const std::string& name, const std::string& shown, std::string* error);

// Moves `fromName` into place at `toName` in one step: swapping the two
// entries when `exchange` is set (both must exist), otherwise only when
// nothing is at `toName`. errno is kept for the caller.
bool renameAtomically(int fromDirectory, const std::string& fromName, int toDirectory, const std::string& toName,
                      bool exchange, const std::string& shown, std::string* error);

}  // namespace tarnwell
