#pragma once

#include "platform/errors.h"
#include "platform/fd.h"

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
// inode); another process may have moved it meanwhile.
class DirectoryChain {
 public:
  static constexpr size_t kOpenLevels = 8;

  // `root` stays the caller's and must outlive the chain.
  DirectoryChain(int root, std::string rootShown);

  // Goes down into `name` in the current directory. With `expected`, the
  // directory must be that one (the entry may have been replaced since it
  // was looked at). Fails with the errno of the open.
  Result push(std::string_view name, const struct stat* expected = nullptr);
  // Goes back up one level.
  Result pop();

  int fd() const { return levels_.empty() ? root_ : levels_.back().fd.get(); }
  size_t depth() const { return levels_.size(); }
  // The device and inode of the current directory; none for the root.
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
  };
  Identity identity() const;
  // The name of the current directory in its parent.
  const std::string& name() const { return levels_.back().name; }
  // `name` in the current directory as a path from the root, in full.
  std::string relative(std::string_view name) const;

  // `name` in the current directory as a path for the log, the middle
  // left out of very deep ones.
  std::string shown(std::string_view name = {}) const;

 private:
  struct Level {
    Fd fd;
    dev_t device;
    ino_t inode;
    std::string name;
  };

  int root_;
  std::string rootShown_;
  std::vector<Level> levels_;
  size_t firstOpen_ = 0;  // levels before it have let their descriptor go
};

// The open directory at the absolute `path`, following no link on the way.
Result openDirectory(const std::string& path, Fd* directory);

// The entry itself, a link included; false with errno set when there is none.
bool statEntry(int directory, std::string_view name, struct stat* info);

}  // namespace tarnwell
