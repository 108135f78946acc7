#include "install/app_copy.h"

#include "platform/copy_tree.h"
#include "platform/errors.h"
#include "platform/hidden.h"
#include "platform/log.h"
#include "platform/tree.h"

#include <cctype>
#include <cerrno>
#include <random>

#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {
namespace {

// "/A/B.app" is "B.app" in "/A". The paths here are absolute.
struct Place {
  std::string parent;
  std::string leaf;
};

Place splitPath(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string joinPath(const std::string& parent, const std::string& name) {
  return parent.ends_with('/') ? parent + name : parent + "/" + name;
}

// The tool's own folders beside a bundle: ".tarnwell-staging.NAME.XXXXXXXX"
// while a copy runs, ".tarnwell-kept.NAME.XXXXXXXX" for what another
// process put in the bundle's place meanwhile.
constexpr const char* kStaging = ".tarnwell-staging.";
constexpr const char* kKept = ".tarnwell-kept.";
constexpr size_t kSuffixLength = 8;

std::string freshName(const char* kind, const std::string& leaf) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::random_device random;
  std::string name = kind + leaf + ".";
  for (size_t i = 0; i < kSuffixLength; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

bool isStagingOf(const std::string& name, const std::string& leaf) {
  std::string stem = kStaging + leaf + ".";
  if (!name.starts_with(stem) || name.size() != stem.size() + kSuffixLength) return false;
  for (size_t i = stem.size(); i < name.size(); ++i) {
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

// Ours, and nobody else's to enter: a racing process could have put its
// own directory at the name, or renamed another one there.
bool isPrivate(int directory) {
  struct stat info;
  return fstat(directory, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

Fd openPrivate(int parent, const std::string& name) {
  Fd directory(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (directory.valid() && !isPrivate(directory.get())) directory.reset();
  return directory;
}

// Emptied through its descriptor, so that only what is really inside goes.
bool removeStaging(int parent, const std::string& name, int staging, const std::string& shown, std::string* error) {
  if (!removeContents(staging, shown, error)) return false;
  if (unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) {
    *error = describeError("remove", shown, errno);
    return false;
  }
  return true;
}

void removeLeftovers(int parent, const Place& destination) {
  std::vector<std::string> names;
  std::string error;
  if (!listEntries(parent, &names, destination.parent, &error)) return;  // the copy will meet the same fault
  for (const std::string& name : names) {
    if (!isStagingOf(name, destination.leaf)) continue;
    const std::string shown = joinPath(destination.parent, name);
    Fd staging = openPrivate(parent, name);
    if (!staging.valid()) continue;  // not made by this tool
    if (removeStaging(parent, name, staging.get(), shown, &error)) {
      logLine("Removed " + escapeControls(shown) + ", left by an interrupted run");
    } else {
      logLine(error);
    }
  }
}

bool makeStaging(int parent, const Place& destination, std::string* name, Fd* staging, std::string* error) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    *name = freshName(kStaging, destination.leaf);
    if (mkdirat(parent, name->c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      *error = describeError("create", joinPath(destination.parent, *name), errno);
      return false;
    }
    *staging = openPrivate(parent, *name);
    if (!staging->valid()) break;
    fchmod(staging->get(), 0700);  // whatever the umask left
    return true;
  }
  *error = describeError("create a private staging folder", joinPath(destination.parent, *name), EEXIST);
  return false;
}

// Moves the copy into place. When the destination came or went while the
// copy ran, the other kind of move is made. What the swap takes out of
// place goes with the staging folder only when it is the bundle seen
// before the copy; anything else is not the tool's to delete.
bool swapIntoPlace(int parent, int staging, const std::string& leaf, const std::string& destination,
                   const struct stat* old, std::string* error) {
  bool exchange = old != nullptr;
  if (!renameAtomically(staging, leaf, parent, leaf, exchange, destination, error)) {
    if (errno != (exchange ? ENOENT : EEXIST)) return false;
    exchange = !exchange;
    if (!renameAtomically(staging, leaf, parent, leaf, exchange, destination, error)) return false;
  }
  if (!exchange) return true;
  struct stat out;
  if (old && statEntry(staging, leaf, &out) && out.st_dev == old->st_dev && out.st_ino == old->st_ino) return true;
  const std::string kept = freshName(kKept, leaf);
  const std::string keptShown = joinPath(splitPath(destination).parent, kept);
  std::string keepError;
  if (renameAtomically(staging, leaf, parent, kept, false, keptShown, &keepError)) {
    logLine("Another process put an entry at " + escapeControls(destination) + " during the copy; it is kept at " +
            escapeControls(keptShown));
  } else {
    logLine(keepError);
  }
  return true;
}

bool replaceBundle(const std::string& appPath, const std::string& toLocation, std::string* error) {
  const Place source = splitPath(appPath), destination = splitPath(toLocation);
  Fd sourceParent, parent;
  if (!openDirectory(source.parent, &sourceParent, error)) return false;
  struct stat info;
  if (!statEntry(sourceParent.get(), source.leaf, &info)) {
    *error = describeError("copy", appPath, errno);
    return false;
  }
  // Copied as a link, the bundle would point into a volume about to be
  // detached, or anywhere the image's author chose.
  if (S_ISLNK(info.st_mode)) {
    *error = "Could not copy \"" + escapeControls(appPath) + "\": it is a symbolic link, not a bundle";
    return false;
  }
  if (!openDirectory(destination.parent, &parent, error)) return false;
  removeLeftovers(parent.get(), destination);

  struct stat old;
  bool replacing = statEntry(parent.get(), destination.leaf, &old);
  if (replacing) logLine("App already exist , hence replacing");

  std::string stagingName;
  Fd staging;
  if (!makeStaging(parent.get(), destination, &stagingName, &staging, error)) return false;
  const std::string stagingShown = joinPath(destination.parent, stagingName);
  bool placed = copyTree({sourceParent.get(), source.leaf, appPath},
                         {staging.get(), destination.leaf, joinPath(stagingShown, destination.leaf)}, error) &&
                swapIntoPlace(parent.get(), staging.get(), destination.leaf, toLocation, replacing ? &old : nullptr, error);
  std::string cleanupError;
  if (!removeStaging(parent.get(), stagingName, staging.get(), stagingShown, &cleanupError)) logLine(cleanupError);
  return placed;
}

}  // namespace

bool copyApp(const std::string& appPath, const std::string& toLocation) {
  std::string error;
  if (!replaceBundle(appPath, toLocation, &error)) {
    logLine("App Copied Failed!!!!!!!!!!! " + error);
    return false;
  }
  logLine("App Copied successfully");
  return true;
}

bool checkAndUnhideApp(const std::string& path, std::string* error) {
  const Place place = splitPath(path);
  Fd parent;
  bool hidden = false;
  if (!openDirectory(place.parent, &parent, error) || !isHiddenAt(parent.get(), place.leaf, path, &hidden, error)) {
    return false;
  }
  if (!hidden) return true;
  logLine("App is hidden, Hence Unhid app");
  return clearHiddenAt(parent.get(), place.leaf, path, error);
}

}  // namespace tarnwell
