#include "copy/staging.h"

#include "copy/copy_tree.h"
#include "copy/directory_chain.h"
#include "copy/listing.h"
#include "copy/remove_tree.h"
#include "platform/log.h"
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
Result isFresh(int folder, const std::string& shown) {
  Listings listing;  // none, or a few entries
  std::string_view name;
  unsigned char type;
  std::string mark;
  if (Result listed = listing.push(folder, [&] { return shown; }); !listed) return listed;
  if (isPrivate(folder) && !listing.next(&name, &type) &&
      readAttribute(folder, std::string(kStagingMark), &mark) == kNoAttribute)
    return {};
  return Result::failure(describeFailure("create", shown, "another process took its place"));
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

// Built a piece at a time: g++ 12 at -O3 warns falsely about " " + string.
std::string identity(const struct stat& info) {
  std::string text = " ";
  text += std::to_string(info.st_dev);
  text += ':';
  text += std::to_string(info.st_ino);
  return text;
}

// What a run killed before it marked its folder leaves there: nothing, or
// its lock, empty and not held (`lock`, held now by this process).
bool holdsNothing(int folder, int lock) {
  Listings listing;  // a few entries
  std::string_view name;
  unsigned char type;
  struct stat info;
  if (!listing.push(folder, [] { return std::string(); })) return false;
  while (listing.next(&name, &type)) {
    if (name != kLockName || lock < 0 || fstat(lock, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0)
      return false;
  }
  return true;
}

// Removes the staging folder `name` in `parent`, open as `folder`, whose
// lock this process holds: its entries (when `removable` lists identities,
// only those), then the lock, then the folder, if it is still the one at
// that name. Keeping anything on purpose unmarks it, so that no run
// removes it; one where something could not be removed stays marked, for
// the next run to try again.
Removal removeFolder(int parent, const std::string& name, int folder, const std::string& shown,
                     const std::string& removable) {
  Removal removal;
  Listings listing;  // a few entries
  // One that cannot be listed (short of descriptors) still goes below if
  // nothing but its lock is in it.
  const Result listed = listing.push(folder, [&] { return shown; });
  std::string_view entry;
  unsigned char type;
  struct stat info;
  while (listing.next(&entry, &type)) {
    if (entry == kLockName) continue;
    const std::string entryShown = joinPath(shown, entry);
    if (!removable.empty() &&
        (!statEntry(folder, entry, &info) || (removable + " ").find(identity(info) + " ") == std::string::npos)) {
      removal.kept.push_back("Kept " + escapeText(entryShown) + ": it is not the tool's to delete");
      continue;
    }
    removeTree(folder, std::string(entry), entryShown, &removal);
  }
  if (!removal.kept.empty()) (void)removeAttribute(folder, std::string(kStagingMark));
  if (!removal.complete()) return removal;
  if (unlinkat(folder, kLockName, 0) != 0 && errno != ENOENT) {
    removal.fail(Result::error("remove", joinPath(shown, kLockName), errno));
    return removal;
  }
  struct stat there, ours;
  if (!statEntry(parent, name, &there)) {
    if (errno != ENOENT) removal.fail(Result::error("remove", shown, errno));
  } else if (fstat(folder, &ours) != 0 || there.st_dev != ours.st_dev || there.st_ino != ours.st_ino) {
    removal.fail(Result::failure(describeFailure("remove", shown, "another folder took its place")));
  } else if (unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
    removal.fail(listed ? Result::error("remove", shown, errno) : listed);
  }
  return removal;
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
    const char* name = staging->name_.c_str();
    if (mkdirat(parent, name, 0700) != 0) {
      if (errno == EEXIST) continue;
      return Result::error("create", staging->shown_, errno);
    }
    staging->parent_ = parent;
    staging->folder_.reset(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!staging->folder_.valid()) {
      // Another run's clean-up may remove a folder not yet locked: it is
      // made again. Short of descriptors, the empty folder goes.
      if (errno == ENOENT) continue;
      Result failed = Result::error("open", staging->shown_, errno);
      (void)unlinkat(parent, name, AT_REMOVEDIR);
      return failed;
    }
    // A process that may write the parent could have put another folder at
    // the name meanwhile, even another run's staging folder: what is not
    // the empty folder just made is left alone, whatever it is.
    if (Result fresh = isFresh(staging->folder_.get(), staging->shown_); !fresh) {
      staging->folder_.reset();
      if (fresh.code() != 0) (void)unlinkat(parent, name, AT_REMOVEDIR);  // ours, if empty
      return fresh;
    }
    fchmod(staging->folder_.get(), 0700);  // whatever the umask left
    // Locked before it is marked: a marked folder without a lock held is a
    // leftover to every other run.
    staging->lock_.reset(openat(staging->fd(), kLockName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!staging->lock_.valid() || flock(staging->lock_.get(), LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      // Undone without a descriptor more: their limit may be what failed.
      (void)unlinkat(staging->fd(), kLockName, 0);
      (void)unlinkat(parent, name, AT_REMOVEDIR);
      staging->lock_.reset();
      staging->folder_.reset();
      if (error == ENOENT || error == EWOULDBLOCK) continue;  // another run's clean-up was at it
      return Result::error("lock", staging->shown_, error);
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

Staging::~Staging() {
  try {
    (void)remove();
  } catch (...) {  // memory refused again: a leftover, for the next run
  }
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

Result Staging::recordRemovable(const struct stat& copy, const struct stat* old) {
  removable_ = identity(copy) + (old ? identity(*old) : "");
  const std::string token = name_.substr(name_.size() - kTokenLength);
  if (int error = writeAttribute(fd(), std::string(kStagingMark), token + removable_))
    return Result::error("mark", shown_, error);
  return {};
}

Removal Staging::remove() {
  if (!folder_.valid()) return {};
  Removal removal = removeFolder(parent_, name_, fd(), shown_, removable_);
  lock_.reset();
  folder_.reset();
  return removal;
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
    Fd lock(openat(folder.get(), kLockName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (lock.valid() && flock(lock.get(), LOCK_EX | LOCK_NB) != 0) continue;  // a live run's
    // The token, then what the swap may leave to delete, when recorded.
    const bool marked = readAttribute(folder.get(), std::string(kStagingMark), &mark) == 0 && mark.starts_with(token) &&
                        (mark.size() == token.size() || mark[token.size()] == ' ');
    if (!marked && !holdsNothing(folder.get(), lock.get())) continue;
    const std::string shown = joinPath(parentShown, name);
    leftovers.push_back(
        {shown, removeFolder(parent, std::string(name), folder.get(), shown, marked ? mark.substr(token.size()) : "")});
  }
  return leftovers;
}

}  // namespace tarnwell
