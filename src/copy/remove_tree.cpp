#include "copy/remove_tree.h"

#include "copy/directory_chain.h"
#include "copy/listing.h"
#include "platform/files.h"
#include "platform/log.h"
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

bool removeEntry(int directory, std::string_view name, bool folder, const DirectoryChain& chain, Removal* removal) {
  if (unlinkat(directory, name.data(), folder ? AT_REMOVEDIR : 0) == 0 || errno == ENOENT) return true;
  int error = errno;  // what clearing the flags does must not change the reason told
  if (error == EPERM && clearLockFlags(directory, name.data())) {
    if (unlinkat(directory, name.data(), folder ? AT_REMOVEDIR : 0) == 0) return true;
    error = errno;
  }
  removal->fail(Result::error("remove", chain.shown(name), error));
  return false;
}

enum class Entered { Yes, Gone, Stays };

// Goes down into the folder `name`, unless another may have put what is
// in it there: then it stays, and so it does when it cannot be opened. A
// chain that cannot come back up ends the removal (`lost`).
Entered enter(DirectoryChain& chain, std::string_view name, Removal* removal, bool* lost) {
  if (Result down = chain.push(name); !down) {
    // Gone meanwhile, or no longer a folder: the next listing tells.
    if (down.code() == ENOENT || down.code() == ENOTDIR) return Entered::Gone;
    removal->fail(down);
    return Entered::Stays;
  }
  const struct stat& info = chain.info();
  if (info.st_uid == geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 && !aclGrantsWrite(chain.fd()))
    return Entered::Yes;
  removal->kept.push_back("Kept " + escapeText(chain.shown()) + ": it is not root's, or others may write to it");
  if (Result up = chain.pop(); !up) {
    removal->fail(up);
    *lost = true;
  }
  return Entered::Stays;
}

// Empties the directory the chain ends in, then everything below `depth`,
// going on past what stays. Each level keeps the names of the folders
// inside it still to be done. True when the directory is empty.
bool emptyBelow(DirectoryChain& chain, size_t depth, Removal* removal) {
  struct Level {
    std::string folders;  // names, each followed by a NUL
    size_t next = 0;
    int listed = 0;
    bool stays = false;  // something in it stays: it is not listed again
  };
  std::vector<Level> levels(1);
  bool lost = false;
  while (!lost) {
    Level& level = levels.back();
    bool done = false;
    if (level.next == level.folders.size()) {
      Listing listing;
      if (level.stays) {
        done = true;
      } else if (level.listed == kRelists) {
        removal->fail(Result::error("remove", chain.shown(), ENOTEMPTY));
        level.stays = done = true;
      } else if (Result listed = Listing::read(chain.fd(), chain.shown(), &listing); !listed) {
        removal->fail(listed);
        level.stays = done = true;
      } else {
        ++level.listed;
        level.folders.clear();
        level.next = 0;
        std::string_view name;
        unsigned char type;
        while (listing.next(&name, &type)) {
          if (isDirectory(chain.fd(), name, type)) {
            level.folders.append(name.data(), name.size() + 1);
          } else if (!removeEntry(chain.fd(), name, false, chain, removal)) {
            level.stays = true;
          }
        }
        done = level.folders.empty();
      }
    }
    if (done) {
      // Done with it, and with its entry in the level above.
      if (chain.depth() == depth) return !level.stays;
      const bool stays = level.stays;
      std::string folder = chain.name();
      levels.pop_back();
      if (Result up = chain.pop(); !up) {
        removal->fail(up);
        return false;
      }
      if (stays || !removeEntry(chain.fd(), folder, true, chain, removal)) levels.back().stays = true;
      continue;
    }
    std::string_view name(level.folders.data() + level.next);
    level.next += name.size() + 1;
    const Entered entered = enter(chain, name, removal, &lost);
    if (entered == Entered::Stays) level.stays = true;
    if (entered == Entered::Yes) levels.emplace_back();
  }
  return false;
}

}  // namespace

void Removal::fail(Result why) {
  if (failures++ == 0) first = std::move(why);
}

Result Removal::result() const {
  if (failures <= 1) return first;
  return Result::failure(first.error() + "; " + std::to_string(failures) + " entries could not be removed",
                         first.code());
}

void removeTree(int directory, const std::string& name, const std::string& shown, Removal* removal) {
  struct stat info;
  if (!statEntry(directory, name, &info)) {
    if (errno != ENOENT) removal->fail(Result::error("remove", shown, errno));
    return;
  }
  if (S_ISDIR(info.st_mode)) {
    DirectoryChain inside(directory, splitPath(shown).parent);
    bool lost = false;
    if (enter(inside, name, removal, &lost) != Entered::Yes || !emptyBelow(inside, 1, removal)) return;
    if (Result up = inside.pop(); !up) return removal->fail(up);
  }
  if (unlinkat(directory, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0 && errno != ENOENT) {
    removal->fail(Result::error("remove", shown, errno));
  }
}

}  // namespace tarnwell
