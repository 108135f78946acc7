#include "copy/copy_tree.h"

#include "copy/listing.h"
#include "platform/path.h"

#include <cerrno>
#include <deque>
#include <map>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {
namespace {

// A hard-linked file already copied: where its copy is, as a path below
// the copy's root, so that links to it can be made at any depth.
struct FirstCopy {
  DirectoryChain::Identity directory;
  std::string path;  // from the directory the copy was made in
  size_t nameAt;     // where the name starts in `path`
};

class TreeCopy {
 public:
  TreeCopy(const Place& from, const Place& to, const CopyRules& rules)
      : from_(from.directory, from.directoryShown), to_(to.directory, to.directoryShown), root_(to.directory), rules_(rules) {}

  Result run(const Place& from, const Place& to) {
    if (Result first = visit(from.name, to.name); !first) return first;
    while (!levels_.empty()) {
      std::string_view name;
      unsigned char type;
      if (levels_.back().listing.next(&name, &type)) {
        if (Result copied = visit(name, name); !copied) return copied;
        continue;
      }
      const struct stat info = levels_.back().info;
      levels_.pop_back();
      if (Result done = finishFolder({from_.fd(), {}, &from_}, {to_.fd(), {}, &to_}, info, rules_); !done) return done;
      if (Result up = from_.pop(); !up) return up;
      if (Result up = to_.pop(); !up) return up;
    }
    return {};
  }

  uint64_t made() const { return made_; }

 private:
  struct Level {
    Listing listing;
    struct stat info;
  };

  Result visit(std::string_view fromName, std::string_view toName) {
    const Entry from{from_.fd(), fromName, &from_}, to{to_.fd(), toName, &to_};
    if (int signal = rules_.stopped()) return Result::failure(describeStop("copy", from.shown(), signal));
    struct stat info;
    if (!statEntry(from.directory, fromName, &info)) return Result::error("copy", from.shown(), errno);
    if (S_ISDIR(info.st_mode)) return enter(from, to, info);
    Result copied;
    if (S_ISLNK(info.st_mode)) {
      copied = copyLink(from, to, info, rules_);
    } else if (!S_ISREG(info.st_mode)) {
      // Devices, sockets and pipes have no place in a bundle.
      copied = Result::failure(describeFailure("copy", from.shown(), "it is not a file, folder or link"));
    } else if (info.st_nlink > 1) {
      copied = copyLinked(from, to, info);
    } else {
      copied = copyFile(from, to, info, rules_);
    }
    if (copied) ++made_;
    return copied;
  }

  Result enter(const Entry& from, const Entry& to, const struct stat& info) {
    if (from_.depth() >= kMaxDepth) {
      return Result::failure(describeFailure("copy", from.shown(), "it nests deeper than " + std::to_string(kMaxDepth) + " levels"));
    }
    if (Result down = from_.push(from.name, &info); !down) return down;
    if (mkdirat(to.directory, to.name.data(), 0700) != 0) return Result::error("create", to.shown(), errno);
    ++made_;
    if (Result down = to_.push(to.name); !down) return down;
    levels_.push_back({{}, info});
    return Listing::read(from_.fd(), from_.shown(), &levels_.back().listing);
  }

  // The first name of a hard-linked file is copied; the others are linked
  // to its copy once it is complete.
  Result copyLinked(const Entry& from, const Entry& to, const struct stat& info) {
    auto key = std::make_pair(info.st_dev, info.st_ino);
    auto first = linked_.find(key);
    if (first == linked_.end()) {
      if (Result copied = copyFile(from, to, info, rules_); !copied) return copied;
      std::string path = to_.relative(to.name);
      linked_.emplace(key, FirstCopy{to_.identity(), path, path.size() - to.name.size()});
      return {};
    }
    const FirstCopy& copy = first->second;
    Fd directory;
    int at = to.directory;
    if (!(copy.directory == to_.identity())) {
      // Elsewhere in the copy: down from its root, one level at a time.
      Result opened = openBelow(copy.path.substr(0, copy.nameAt), &directory);
      if (!opened) return opened;
      at = directory.get();
    }
    if (linkat(at, copy.path.c_str() + copy.nameAt, to.directory, to.name.data(), 0) != 0) {
      return Result::error("link", to.shown(), errno);
    }
    return {};
  }

  Result openBelow(const std::string& path, Fd* directory) {
    Fd at;
    for (std::string_view name : pathComponents(path)) {
      Fd next(openat(at.valid() ? at.get() : root_, std::string(name).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!next.valid()) return Result::error("link", to_.shown(), errno);
      at = std::move(next);
    }
    *directory = std::move(at);
    return {};
  }

  DirectoryChain from_, to_;
  int root_;
  const CopyRules& rules_;
  std::deque<Level> levels_;  // references stay put as it grows
  std::map<std::pair<dev_t, ino_t>, FirstCopy> linked_;
  uint64_t made_ = 0;
};

}  // namespace

Result copyTree(const Place& from, const Place& to, const CopyRules& rules, uint64_t* entries) {
  TreeCopy copy(from, to, rules);
  Result copied = copy.run(from, to);
  *entries = copy.made();
  return copied;
}

Result countTree(int directory, const std::string& name, const std::string& shown, uint64_t* entries) {
  *entries = 0;
  struct stat info;
  if (!statEntry(directory, name, &info)) return Result::error("open", shown, errno);
  *entries = 1;
  if (!S_ISDIR(info.st_mode)) return {};
  DirectoryChain chain(directory, splitPath(shown).parent);
  if (Result down = chain.push(name); !down) return down;
  std::deque<Listing> listings(1);
  if (Result listed = Listing::read(chain.fd(), chain.shown(), &listings.back()); !listed) return listed;
  while (!listings.empty()) {
    std::string_view entry;
    unsigned char type;
    if (!listings.back().next(&entry, &type)) {
      listings.pop_back();
      if (Result up = chain.pop(); !up) return up;
      continue;
    }
    ++*entries;
    struct stat entryInfo;
    bool folder = type == DT_DIR || (type == DT_UNKNOWN && statEntry(chain.fd(), entry, &entryInfo) && S_ISDIR(entryInfo.st_mode));
    if (!folder) continue;
    if (Result down = chain.push(entry); !down) return down;
    listings.emplace_back();
    if (Result listed = Listing::read(chain.fd(), chain.shown(), &listings.back()); !listed) return listed;
  }
  return {};
}

}  // namespace tarnwell
