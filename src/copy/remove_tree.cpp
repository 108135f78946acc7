#include "copy/remove_tree.h"

#include "copy/directory_chain.h"
#include "copy/listing.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/path.h"
#include "platform/system_copy.h"

#include <cerrno>
#include <cstdint>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {
namespace {

// Another process may add entries to a directory being emptied (a user
// who kept a descriptor inside an old bundle); it is listed again, up to
// this many times, before the removal gives up.
constexpr int kRelists = 8;
constexpr size_t kDeepest = 4096;

std::string deeperName(uint64_t n) { return ".tarnwell-deeper." + std::to_string(n); }

bool isDirectory(int directory, std::string_view name, unsigned char type) {
  if (type != DT_UNKNOWN) return type == DT_DIR;
  struct stat info;
  return statEntry(directory, name, &info) && S_ISDIR(info.st_mode);
}

// 0, or the errno of the removal: what clearing the flags does must not
// change the reason told.
int removeAt(int directory, std::string_view name, bool folder) {
  if (unlinkat(directory, name.data(), folder ? AT_REMOVEDIR : 0) == 0 || errno == ENOENT) return 0;
  int error = errno;
  if (error == EPERM && clearLockFlags(directory, name.data())) {
    if (unlinkat(directory, name.data(), folder ? AT_REMOVEDIR : 0) == 0) return 0;
    error = errno;
  }
  return error;
}

enum class Entered { Yes, Gone, Stays };

// Goes down into the folder `name` and lists it, unless another may have
// put what is in it there: then it stays, and so it does when it cannot
// be opened or listed. A chain that cannot come back up ends the removal
// (`lost`).
Entered enter(DirectoryChain& chain, Listings& listings, std::string_view name, Removal* removal, bool* lost) {
  struct stat info;
  if (Result down = chain.push(name, &info); !down) {
    // Gone meanwhile, or no longer a folder: the next listing tells.
    if (down.code() == ENOENT || down.code() == ENOTDIR) return Entered::Gone;
    removal->fail(down);
    return Entered::Stays;
  }
  if (info.st_uid == geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 && !aclGrantsWrite(chain.fd())) {
    Result listed = listings.push(chain.fd(), [&] { return chain.shown(); });
    if (listed) return Entered::Yes;
    removal->fail(listed);
  } else {
    removal->kept.push_back("Kept " + escapeText(chain.shown()) + ": it is not root's, or others may write to it");
  }
  if (Result up = chain.pop(); !up) {
    removal->fail(up);
    *lost = true;
  }
  return Entered::Stays;
}

// A small frame a level.
struct Level {
  uint8_t listed = 1;  // how often it was listed
  bool stays = false;  // something in it stays: it is neither listed again nor removed
};

// Removes the folder `name` in `directory`, going on past what stays:
// each folder is listed once, its entries removed and its folders emptied
// in turn, then it is removed itself. Paths are made only for a line that
// needs one: the work is linear in the entries. A folder met deeper than
// kDeepest is moved up into `directory`, as ".tarnwell-deeper.N" for N
// from `*moved` on, to be removed from there later: the walk's memory is
// bounded at any depth.
void removeFolder(int directory, const std::string& name, const std::string& shown, uint64_t* moved, Removal* removal) {
  DirectoryChain chain(directory, splitPath(shown).parent);
  Listings listings(directory);
  std::vector<Level> levels;
  bool lost = false;
  if (enter(chain, listings, name, removal, &lost) != Entered::Yes) return;
  levels.emplace_back();
  std::string_view entry;
  unsigned char type;
  while (!lost && !levels.empty()) {
    if (listings.next(&entry, &type)) {
      if (!isDirectory(chain.fd(), entry, type)) {
        if (int error = removeAt(chain.fd(), entry, false); error != 0) {
          removal->fail(Result::error("remove", chain.shown(entry), error));
          levels.back().stays = true;
        }
        continue;
      }
      if (chain.depth() >= kDeepest) {
        int error;
        while ((error = renameNoReplace(chain.fd(), entry.data(), directory, deeperName(*moved).c_str())) == EEXIST)
          ++*moved;  // one that a killed run left goes too
        if (error == 0) {
          ++*moved;
          continue;
        }
      }
      const Entered entered = enter(chain, listings, entry, removal, &lost);
      if (entered == Entered::Stays) levels.back().stays = true;
      if (entered == Entered::Yes) levels.emplace_back();
      continue;
    }
    if (!listings.failure()) return removal->fail(listings.failure());
    listings.pop();
    const Level done = levels.back();
    levels.pop_back();
    const std::string folder = chain.name();
    if (Result up = chain.pop(); !up) return removal->fail(up);
    int error = done.stays ? 0 : removeAt(chain.fd(), folder, true);
    if (!done.stays && (error == ENOTEMPTY || error == EEXIST) && done.listed < kRelists) {
      const Entered entered = enter(chain, listings, folder, removal, &lost);
      if (entered == Entered::Yes) levels.push_back({static_cast<uint8_t>(done.listed + 1), false});
      if (entered == Entered::Stays && !levels.empty()) levels.back().stays = true;
      continue;
    }
    if (error != 0) removal->fail(Result::error("remove", chain.shown(folder), error));
    if ((done.stays || error != 0) && !levels.empty()) levels.back().stays = true;
  }
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
  if (!S_ISDIR(info.st_mode)) {
    if (unlinkat(directory, name.c_str(), 0) != 0 && errno != ENOENT)
      removal->fail(Result::error("remove", shown, errno));
    return;
  }
  uint64_t moved = 0;
  removeFolder(directory, name, shown, &moved, removal);
  for (uint64_t done = 0; done < moved; ++done) {
    const std::string deeper = deeperName(done);
    removeFolder(directory, deeper, joinPath(splitPath(shown).parent, deeper), &moved, removal);
  }
}

}  // namespace tarnwell
