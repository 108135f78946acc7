#include "install/install_items.h"

#include "copy/copy_tree.h"
#include "copy/directory_chain.h"
#include "install/app_copy.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/path.h"
#include "platform/signals.h"
#include "process/launch.h"
#include "process/shell_escape.h"
#include "process/silicon.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include <dirent.h>

namespace tarnwell {
namespace {

constexpr const char* kName = "installAppsAndPkg(_:_:_:)";
constexpr int64_t kInstallerTimeLimit = 3600;

// False when the copy failed; an unhide failure comes back in `unhide`.
bool installApp(const std::string& source, const std::string& name, Result* unhide) {
  const std::string destination = "/Applications/" + name;
  logLine(std::string(kName) + ":Copying from appPath : " + escapeText(source) +
          " destinationPath :" + escapeText(destination));
  if (!copyApp(source, destination)) {
    logLine(std::string(kName) + ":Copying from appPath : " + escapeText(source) +
            " destinationPath : " + escapeText(destination) + "->failed");
    return false;
  }
  *unhide = checkAndUnhideApp(destination);
  return static_cast<bool>(*unhide);
}

// The installer follows links: a package that is one, or that lies behind
// one, could be anywhere a local user may write. So could anything it
// reads inside a bundle-style package (a folder: Contents, its archive,
// its scripts), so there every entry must be a file or a folder; a FIFO
// or a device would hold or feed the installer. `base` (the tool's own
// folder) takes what a large listing sets aside.
Result plainPackage(const std::string& package, const std::string& base) {
  const PathParts place = splitPath(package);
  Fd parent, spillAt;
  struct stat info;
  if (Result opened = openDirectory(place.parent, &parent); !opened) return opened;
  if (!statEntry(parent.get(), place.leaf, &info)) return Result::error("install", package, errno);
  if (S_ISLNK(info.st_mode))
    return Result::failure(describeFailure("install", package, "it is a symbolic link, not a package"));
  if (!S_ISDIR(info.st_mode)) return {};
  if (Result opened = openDirectory(base, &spillAt); !opened) return opened;
  return walkTree(parent.get(), place.leaf, package, spillAt.get(), [&](const Entry& entry, unsigned char type) {
    if (type == DT_DIR || type == DT_REG) return Result();
    return Result::failure(describeFailure(
        "install", package,
        "\"" + escapeText(entry.shown()) + "\" is " + (type == DT_LNK ? "a symbolic link" : "not a file or folder")));
  });
}

bool installPackage(const std::string& package, const std::string& base) {
  logLine(std::string(kName) + ":Installing pkg : " + escapeText(package));
  int32_t status = 1;
  if (Result plain = plainPackage(package, base); !plain) {
    logLine(plain.error());
  } else if (isSiliconMachine()) {
    const std::string command = "arch -arch arm64 installer -pkg \"" + escapeInDoubleQuotes(package) + "\" -target /";
    status = launchProcess("/bin/sh", {"-c", command}, "/", kInstallerTimeLimit);
  } else {
    status = launchProcess("/usr/sbin/installer", {"-pkg", package, "-target", "/"}, "/", kInstallerTimeLimit);
  }
  if (status != 0) {
    logLine(std::string(kName) + ":Installing pkg : " + escapeText(package) + " -> failed ");
    return false;
  }
  return true;
}

bool climbsOut(const std::string& name) {
  std::vector<std::string_view> names = pathComponents(name);
  return std::find(names.begin(), names.end(), "..") != names.end();
}

}  // namespace

InstallOutcome installAppsAndPkg(const std::string& mountPoint, const std::string& baseDirectory,
                                 const std::vector<std::string>& files) {
  InstallOutcome outcome;
  for (const std::string& name : files) {
    // A name that climbs out of the volume would have a root process delete
    // and write outside /Applications.
    if (climbsOut(name)) {
      logLine("Not handled " + escapeText(name));
      return outcome;
    }
    const std::string itemPath = mountPoint + "/" + name;
    if (!fileExists(itemPath)) {
      logLine("intallfile : " + escapeText(name) + " not found");
      return outcome;
    }
    bool installed = false;
    try {
      if (name.ends_with(".app")) {
        installed = installApp(itemPath, name, &outcome.unhide);
      } else if (name.ends_with(".pkg")) {
        installed = installPackage(itemPath, baseDirectory);
      } else {
        logLine("Not handled " + escapeText(name));
      }
    } catch (const std::bad_alloc&) {
      // Memory refused (RLIMIT_AS): what the item made is undone on the
      // way here, and the run still cleans up.
      logLine(describeError("install", itemPath, ENOMEM));
    }
    if (!installed || stopSignal() != 0) return outcome;
  }
  outcome.installed = true;
  return outcome;
}

}  // namespace tarnwell
