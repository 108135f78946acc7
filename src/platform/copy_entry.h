#pragma once

// The per-entry work of the tree copy: all that differs between platforms.
// Each makes `to` (which does not exist yet) like `from`, whose lstat is
// `info`, data and metadata alike.

#include "platform/copy_tree.h"

#include <sys/stat.h>

namespace tarnwell {

bool copyFileEntry(const Entry& from, const Entry& to, const struct stat& info, std::string* error);
bool copyLinkEntry(const Entry& from, const Entry& to, const struct stat& info, std::string* error);

// A directory's own metadata, once its contents are in place (writing
// them would change its times, and a read-only mode would refuse them).
bool finishDirectory(int from, int to, const struct stat& info, const std::string& shown, std::string* error);

}  // namespace tarnwell
