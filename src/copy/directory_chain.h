#pragma once

#include "copy/entry.h"
#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/files.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace tarnwell {

// The chain of directories a walk has gone down through, from a root it
// was given to the directory it is in. Opened with O_NOFOLLOW, so a link
// never takes it elsewhere. Only the deepest few levels (and the root)
// keep their descriptor, whatever the depth: a level whose descriptor was
// let go is reopened through ".." of the level below it on the way up, and
// must then be the directory that was seen on the way down (device and
// inode); another process may have moved it meanwhile. Work handed to
// other threads shares a level's descriptor, which stays open as long as
// that work holds it.
class DirectoryChain {
 public:
  static constexpr size_t kOpenLevels = 8;

  // `root` stays the caller's and must outlive the chain.
  DirectoryChain(int root, std::string rootShown);

  // Goes down into `name` in the current directory, whose fstat goes to
  // `seen` when asked for.
  Result push(std::string_view name, struct stat* seen = nullptr);
  // Goes back up one level.
  Result pop();

  int fd() const { return levels_.empty() ? root_ : levels_.back().fd->get(); }
  // The current directory's descriptor, to share; none for the root.
  std::shared_ptr<const Fd> sharedFd() const { return levels_.empty() ? nullptr : levels_.back().fd; }
  size_t depth() const { return levels_.size(); }
  // The name of the current directory in its parent.
  const std::string& name() const { return levels_.back().where->name; }
  const Where& where() const { return levels_.empty() ? rootWhere_ : levels_.back().where; }

  // `name` in the current directory as a path for the log, the middle of a
  // very deep one left out.
  std::string shown(std::string_view name = {}) const { return shownPath(where().get(), name); }

 private:
  // A directory's device and inode.
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
  };
  // A small frame a level.
  struct Level {
    std::shared_ptr<Fd> fd;
    Identity identity;
    Where where;
  };

  int root_;
  Where rootWhere_;
  std::vector<Level> levels_;
  size_t firstOpen_ = 0;  // levels before it have let their descriptor go
};

// Shown each directory on the way by openDirectory: its path and open
// descriptor, or -1 and the errno of the open that failed (ELOOP where a
// link stands), which ends the walk. A failure it returns ends it too.
using VisitDirectory = std::function<Result(const std::string& shown, int directory, int error)>;

// The open directory at the absolute `path`, following no link on the way
// (as platform/files.h's openDirectory), `visit` shown "/" and every
// directory below it on the way, `path` last.
Result openDirectory(const std::string& path, Fd* directory, const VisitDirectory& visit);

// The entry itself, a link included; false with errno set when there is none.
bool statEntry(int directory, std::string_view name, struct stat* info);

// What is at `name` in `directory` (its lstat; false when nothing is) and,
// when it is a folder, the bytes of its Contents/Info.plist: none when
// there is no such file, or it is larger than `maxBytes`. Opened following
// no link, with the folder's fstat, so both are of the one folder.
bool inspectBundle(int directory, const std::string& name, size_t maxBytes, struct stat* info, std::string* infoPlist);

}  // namespace tarnwell
