#include "copy/staging.h"

#include "copy/copy_tree.h"
#include "copy/directory_chain.h"
#include "copy/listing.h"
#include "copy/remove_tree.h"
#include "platform/path.h"
#include "platform/system_copy.h"

#include <cctype>
#include <cerrno>
#include <random>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tarnwell {
namespace {

constexpr size_t kTokenLength = 8;
constexpr const char* kLockName = ".tarnwell-lock";

std::string stagingPrefix(const std::string& leaf) { return ".tarnwell-staging." + leaf + "."; }

// Ours and nobody else's: a directory of root's (or of whoever runs the
// tool) that no one else may enter.
bool isPrivate(int folder) {
  struct stat info;
  return fstat(folder, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

// The folder just made: private, empty and not marked.
bool isFresh(int folder) {
  Listings listing;
  std::string_view name;
  unsigned char type;
  std::string mark;
  return isPrivate(folder) && listing.push(folder, [] { return std::string(); }) && !listing.next(&name, &type) &&
         readAttribute(folder, std::string(kStagingMark), &mark) == kNoAttribute;
}

// The token of a staging name of `leaf`, or empty when it is not one.
std::string_view tokenOf(std::string_view name, const std::string& leaf) {
  const std::string prefix = stagingPrefix(leaf);
  if (!name.starts_with(prefix) || name.size() != prefix.size() + kTokenLength) return {};
  std::string_view token = name.substr(prefix.size());
  for (char c : token) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return {};
  }
  return token;
}

// Removes the staging folder `name` in `parent`, open as `folder`, whose
// lock `lock` this process holds: its contents, then the lock, then the
// folder, if it is still the one at that name.
Result removeFolder(int parent, const std::string& name, int folder, const std::string& shown) {
  Listings listing;  // a few entries
  if (Result listed = listing.push(folder, [&] { return shown; }); !listed) return listed;
  std::string_view entry;
  unsigned char type;
  while (listing.next(&entry, &type)) {
    if (entry == kLockName) continue;
    if (Result removed = removeTree(folder, std::string(entry), joinPath(shown, entry)); !removed) return removed;
  }
  if (unlinkat(folder, kLockName, 0) != 0 && errno != ENOENT)
    return Result::error("remove", joinPath(shown, kLockName), errno);
  struct stat there, ours;
  if (!statEntry(parent, name, &there)) return errno == ENOENT ? Result() : Result::error("remove", shown, errno);
  if (fstat(folder, &ours) != 0 || there.st_dev != ours.st_dev || there.st_ino != ours.st_ino) {
    return Result::failure(describeFailure("remove", shown, "another folder took its place"));
  }
  if (unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
    return Result::error("remove", shown, errno);
  return {};
}

}  // namespace

std::string freshName(std::string_view kind, const std::string& leaf, std::string* token) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::random_device random;
  std::string suffix;
  for (size_t i = 0; i < kTokenLength; ++i) suffix += kLetters[random() % (sizeof kLetters - 1)];
  if (token) *token = suffix;
  return ".tarnwell-" + std::string(kind) + "." + leaf + "." + suffix;
}

Result Staging::make(int parent, const std::string& parentShown, const std::string& leaf, Staging* staging) {
  std::string token;
  for (int attempt = 0; attempt < 16; ++attempt) {
    staging->name_ = freshName("staging", leaf, &token);
    staging->shown_ = joinPath(parentShown, staging->name_);
    if (mkdirat(parent, staging->name_.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return Result::error("create", staging->shown_, errno);
    }
    staging->parent_ = parent;
    staging->folder_.reset(openat(parent, staging->name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // A process that may write the parent could have put another folder at
    // the name meanwhile, even another run's staging folder: what is not
    // the empty folder just made is left alone, whatever it is.
    if (!staging->folder_.valid() || !isFresh(staging->folder_.get())) {
      staging->folder_.reset();
      return Result::failure(describeFailure("create", staging->shown_, "another process took its place"));
    }
    fchmod(staging->folder_.get(), 0700);  // whatever the umask left
    // Locked before it is marked: a marked folder without a lock held is a
    // leftover to every other run.
    staging->lock_.reset(openat(staging->fd(), kLockName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!staging->lock_.valid() || flock(staging->lock_.get(), LOCK_EX | LOCK_NB) != 0) {
      Result failed = Result::error("lock", staging->shown_, errno);
      staging->lock_.reset();
      staging->folder_.reset();
      return failed;
    }
    if (int error = writeAttribute(staging->fd(), std::string(kStagingMark), token)) {
      Result failed = Result::error("mark", staging->shown_, error);
      (void)staging->remove();
      return failed;
    }
    return {};
  }
  return Result::failure(describeFailure("create a private staging folder in", parentShown, "its name was taken"));
}

void Staging::keep() {
  (void)removeAttribute(fd(), std::string(kStagingMark));
  lock_.reset();
  folder_.reset();
}

Result Staging::intact(const std::string& leaf, uint64_t entries) const {
  struct stat there, ours;
  uint64_t counted = 0;
  bool same = statEntry(parent_, name_, &there) && fstat(fd(), &ours) == 0 && there.st_dev == ours.st_dev &&
              there.st_ino == ours.st_ino && countTree(fd(), leaf, joinPath(shown_, leaf), &counted) &&
              counted == entries;
  if (same) return {};
  return Result::failure(
      describeFailure("move into place", joinPath(shown_, leaf), "another process changed the copy"));
}

Result Staging::remove() {
  if (!folder_.valid()) return {};
  Result removed = removeFolder(parent_, name_, fd(), shown_);
  lock_.reset();
  folder_.reset();
  return removed;
}

std::vector<Leftover> removeLeftovers(int parent, const std::string& parentShown, const std::string& leaf) {
  std::vector<Leftover> leftovers;
  Listings listing;
  // A directory that cannot be listed fails the copy that follows, which
  // says why.
  if (!listing.push(parent, [&] { return parentShown; })) return leftovers;
  std::string_view name;
  unsigned char type;
  std::string mark;
  while (listing.next(&name, &type)) {
    std::string_view token = tokenOf(name, leaf);
    if (token.empty()) continue;
    Fd folder(openat(parent, name.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid() || !isPrivate(folder.get())) continue;
    if (readAttribute(folder.get(), std::string(kStagingMark), &mark) != 0 || mark != token) continue;
    Fd lock(openat(folder.get(), kLockName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (lock.valid() && flock(lock.get(), LOCK_EX | LOCK_NB) != 0) continue;  // a live run's
    const std::string shown = joinPath(parentShown, name);
    leftovers.push_back({shown, removeFolder(parent, std::string(name), folder.get(), shown)});
  }
  return leftovers;
}

}  // namespace tarnwell
