#include "copy/remove_tree.h"

#include "copy/directory_chain.h"
#include "copy/listing.h"
#include "platform/path.h"
#include "platform/system_copy.h"

#include <cerrno>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {
namespace {

// Another process may add entries to a directory being emptied (a user
// who kept a descriptor inside an old bundle); it is listed again this
// many times before the removal gives up.
constexpr int kRelists = 8;

bool isDirectory(int directory, std::string_view name, unsigned char type) {
  if (type != DT_UNKNOWN) return type == DT_DIR;
  struct stat info;
  return statEntry(directory, name, &info) && S_ISDIR(info.st_mode);
}

Result removeEntry(int directory, std::string_view name, bool folder, const DirectoryChain& chain) {
  if (unlinkat(directory, name.data(), folder ? AT_REMOVEDIR : 0) == 0 || errno == ENOENT) return {};
  if (errno == EPERM && clearLockFlags(directory, name.data()) &&
      unlinkat(directory, name.data(), folder ? AT_REMOVEDIR : 0) == 0) {
    return {};
  }
  return Result::error("remove", chain.shown(name), errno);
}

// Empties the directory the chain ends in, then everything below `depth`.
// Each level keeps the names of the folders inside it still to be done.
Result emptyBelow(DirectoryChain& chain, size_t depth) {
  struct Level {
    std::string folders;  // names, each followed by a NUL
    size_t next = 0;
    int listed = 0;
  };
  std::vector<Level> levels(1);
  for (;;) {
    Level& level = levels.back();
    if (level.next == level.folders.size()) {
      if (level.listed == kRelists) return Result::error("remove", chain.shown(), ENOTEMPTY);
      Listing listing;
      if (Result listed = Listing::read(chain.fd(), chain.shown(), &listing); !listed) return listed;
      ++level.listed;
      level.folders.clear();
      level.next = 0;
      std::string_view name;
      unsigned char type;
      while (listing.next(&name, &type)) {
        if (isDirectory(chain.fd(), name, type)) {
          level.folders.append(name.data(), name.size() + 1);
        } else if (Result removed = removeEntry(chain.fd(), name, false, chain); !removed) {
          return removed;
        }
      }
      if (level.folders.empty()) {
        // Empty: done with it, and with its entry in the level above.
        if (chain.depth() == depth) return {};
        std::string folder = chain.name();
        if (Result up = chain.pop(); !up) return up;
        levels.pop_back();
        if (Result removed = removeEntry(chain.fd(), folder, true, chain); !removed) return removed;
        continue;
      }
    }
    std::string_view name(level.folders.data() + level.next);
    level.next += name.size() + 1;
    Result down = chain.push(name);
    if (!down) {
      // Gone meanwhile, or no longer a folder: the next listing tells.
      if (down.code() == ENOENT || down.code() == ENOTDIR) continue;
      return down;
    }
    levels.emplace_back();
  }
}

}  // namespace

Result removeContents(int directory, const std::string& shown) {
  DirectoryChain chain(directory, shown);
  return emptyBelow(chain, 0);
}

Result removeTree(int directory, const std::string& name, const std::string& shown) {
  struct stat info;
  if (!statEntry(directory, name, &info)) return errno == ENOENT ? Result() : Result::error("remove", shown, errno);
  if (S_ISDIR(info.st_mode)) {
    DirectoryChain inside(directory, splitPath(shown).parent);
    if (Result down = inside.push(name); !down) return down;
    if (Result emptied = emptyBelow(inside, 1); !emptied) return emptied;
    if (Result up = inside.pop(); !up) return up;
  }
  if (unlinkat(directory, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0 && errno != ENOENT) {
    return Result::error("remove", shown, errno);
  }
  return {};
}

}  // namespace tarnwell
