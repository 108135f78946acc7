#pragma once

// The calls of a bundle copy that differ between the systems. Everything
// else about the copy (what is copied, owners, modes, what is refused) is
// shared and lives in src/copy.

#include "platform/errors.h"
#include "platform/fd.h"

#include <cerrno>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace tarnwell {

// A stop signal that arrived, or 0: long copies look at it between pieces.
using StopCheck = std::function<int()>;

// The access and modification times of an entry, as futimens takes them.
struct EntryTimes {
  explicit EntryTimes(const struct stat& info);
  struct timespec both[2];
};

// How a data copy ended: the errno of the call that failed and whether it
// was writing, or the stop signal that ended it; all 0 when it worked.
// Names are left to the caller, who knows them.
struct DataCopy {
  int error = 0;
  bool writing = false;
  int signal = 0;
};

// Copies the data of the regular file `in` (whose fstat is `info`) into
// the empty `out`, holes kept: fcopyfile on Apple, copy_file_range or a
// buffer elsewhere.
DataCopy copyFileData(int in, int out, const struct stat& info, const StopCheck& stopped);

// Extended attributes through a descriptor, named as on macOS. On Linux,
// where they stand in for them, they are the user.* attributes with the
// prefix left out; others are not listed. Each returns 0 or an errno.
extern const int kNoAttribute;                                // the errno of a name that is not there
int listAttributes(int fd, std::vector<std::string>* names);  // none where not supported
int readAttribute(int fd, const std::string& name, std::string* value);
int writeAttribute(int fd, const std::string& name, std::string_view value);
int removeAttribute(int fd, const std::string& name);

// The link `name` itself, opened for its attributes (O_SYMLINK on Apple);
// none when it is no longer a link. Linux keeps no user attributes on
// links: there it is not opened.
Fd openLinkItself(int directory, const char* name);

// The group an entry gets when it is created in `directory`: the
// directory's on Apple (and on Linux when it is set-group-ID), else the
// process's.
gid_t groupOfNewEntries(const struct stat& directory);

// Gives `out` the file flags of `info` that an installed bundle keeps
// (Apple: the hidden flag; no locks, nothing only root may set). Nothing
// elsewhere.
int copyFlags(int out, const struct stat& info);  // 0 or an errno

// Clears the flags that stop `name` in `directory`, and `directory`
// itself, from being removed (locked in Finder: uchg, uappnd). False when
// there was nothing to clear, as on Linux.
bool clearLockFlags(int directory, const char* name);

// Moves `fromName` to `toName` in one step: swapping the two entries, both
// of which must exist, or only when nothing is at `toName`. 0 or an errno.
int renameSwap(int fromDirectory, const char* fromName, int toDirectory, const char* toName);
int renameNoReplace(int fromDirectory, const char* fromName, int toDirectory, const char* toName);

}  // namespace tarnwell
