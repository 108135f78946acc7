#include "copy/remove_tree.h"

#include "copy/directory_chain.h"
#include "copy/listing.h"
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

Result removeEntry(int directory, std::string_view name, bool folder, const DirectoryChain& chain) {
  if (unlinkat(directory, name.data(), folder ? AT_REMOVEDIR : 0) == 0 || errno == ENOENT) return {};
  if (errno == EPERM && clearLockFlags(directory, name.data()) &&
      unlinkat(directory, name.data(), folder ? AT_REMOVEDIR : 0) == 0) {
    return {};
  }
  return Result::error("remove", chain.shown(name), errno);
}

// Removes the folder `name` in `directory`: each folder is listed once,
// its entries removed and its folders emptied in turn, then it is removed
// itself. Paths are made only for a line that needs one: the work is
// linear in the entries. A folder met deeper than kDeepest is moved up
// into `directory`, as ".tarnwell-deeper.N" for N from `*moved` on, to be
// removed from there later: the walk's memory is bounded at any depth.
Result removeFolder(int directory, const std::string& name, const std::string& shown, uint64_t* moved) {
  DirectoryChain chain(directory, splitPath(shown).parent);
  Listings listings(directory);
  auto list = [&] { return listings.push(chain.fd(), [&] { return chain.shown(); }); };
  std::vector<uint8_t> listed(1, 1);  // how often each level was listed
  if (Result down = chain.push(name); !down) return down;
  if (Result first = list(); !first) return first;
  std::string_view entry;
  unsigned char type;
  while (chain.depth() > 0) {
    if (listings.next(&entry, &type)) {
      if (!isDirectory(chain.fd(), entry, type)) {
        if (Result removed = removeEntry(chain.fd(), entry, false, chain); !removed) return removed;
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
      if (Result down = chain.push(entry); !down) {
        // Gone meanwhile, or no longer a folder: the next listing tells.
        if (down.code() == ENOENT || down.code() == ENOTDIR) continue;
        return down;
      }
      if (Result inside = list(); !inside) return inside;
      listed.push_back(1);
      continue;
    }
    if (!listings.failure()) return listings.failure();
    listings.pop();
    const std::string folder = chain.name();
    if (Result up = chain.pop(); !up) return up;
    Result removed = removeEntry(chain.fd(), folder, true, chain);
    if (!removed && (removed.code() == ENOTEMPTY || removed.code() == EEXIST) && listed.back() < kRelists) {
      if (Result down = chain.push(folder); !down) return down;
      if (Result again = list(); !again) return again;
      ++listed.back();
      continue;
    }
    if (!removed) return removed;
    listed.pop_back();
  }
  return {};
}

}  // namespace

Result removeTree(int directory, const std::string& name, const std::string& shown) {
  struct stat info;
  if (!statEntry(directory, name, &info)) return errno == ENOENT ? Result() : Result::error("remove", shown, errno);
  if (!S_ISDIR(info.st_mode)) {
    if (unlinkat(directory, name.c_str(), 0) != 0 && errno != ENOENT) return Result::error("remove", shown, errno);
    return {};
  }
  uint64_t moved = 0;
  Result removed = removeFolder(directory, name, shown, &moved);
  for (uint64_t done = 0; removed && done < moved; ++done) {
    const std::string deeper = deeperName(done);
    removed = removeFolder(directory, deeper, joinPath(splitPath(shown).parent, deeper), &moved);
  }
  return removed;
}

}  // namespace tarnwell
