#include "install/app_copy.h"

#include "main/base_path.h"
#include "main/workflow.h"
#include "platform/files.h"
#include "platform/log.h"

namespace tarnwell {
namespace {

// A free name beside `path` for the bundle being replaced: "/A/.X.app.replaced".
std::string asideName(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string stem = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".replaced";
  std::string candidate = stem;
  for (int n = 2; entryExists(candidate); ++n) candidate = stem + "-" + std::to_string(n);
  return candidate;
}

bool copyFailed(const std::string& description) {
  logLine("App Copied Failed!!!!!!!!!!! " + description);
  return false;
}

[[noreturn]] void unhideFailed(const std::string& description) {
  logLine(" checkAndUnhideApp : Getting/Setting App attributes Failed!!!!! " + description);
  removeFiles(resultFilePath());
  endRun(1);
}

}  // namespace

bool copyApp(const std::string& appPath, const std::string& toLocation) {
  // Copied as a link, the bundle would point into a volume about to be
  // detached, or anywhere the image's author chose.
  if (isSymbolicLink(appPath)) {
    return copyFailed("Could not copy \"" + appPath + "\": it is a symbolic link, not a bundle");
  }
  std::string aside;
  if (entryExists(toLocation)) {
    aside = asideName(toLocation);
    if (Failure failure = movePath(toLocation, aside)) return copyFailed(*failure);
    logLine("App already exist , hence replacing");
  }

  if (Failure failure = copyTree(appPath, toLocation)) {
    if (entryExists(toLocation)) removeTree(toLocation);  // our half-made copy
    if (!aside.empty()) {
      if (Failure restore = movePath(aside, toLocation)) {
        logLine("Could not put the replaced bundle back; it is kept at " + aside + ": " + *restore);
      }
    }
    return copyFailed(*failure);
  }
  if (!aside.empty()) {
    if (Failure failure = removeTree(aside)) logLine("Could not remove the replaced bundle: " + *failure);
  }
  logLine("App Copied successfully");
  return true;
}

void checkAndUnhideApp(const std::string& path) {
  std::string failure;
  std::optional<bool> hidden = isHidden(path, failure);
  if (!hidden) unhideFailed(failure);
  if (!*hidden) return;
  logLine("App is hidden, Hence Unhid app");
  if (Failure clearFailure = clearHidden(path)) unhideFailed(*clearFailure);
}

}  // namespace tarnwell
