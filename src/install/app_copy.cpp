#include "install/app_copy.h"

#include "copy/copy_tree.h"
#include "copy/directory_chain.h"
#include "copy/hidden_mark.h"
#include "copy/staging.h"
#include "copy/swap.h"
#include "copy/work_queue.h"
#include "platform/log.h"
#include "platform/path.h"
#include "platform/signals.h"

#include <cerrno>

namespace tarnwell {
namespace {

// Root is not exempt: from macOS 13 on, changing an application bundle
// needs the App Management grant for the program that started the tool.
// Said once a run, after the line that failed.
void explainRefusal(const Result& result) {
  static bool said = false;
  if (result.code() != EPERM || said) return;
  said = true;
  logLine(
      "The system refused a change in /Applications (Operation not permitted). From macOS 13 on, the agent that "
      "starts tarnwell needs App Management (or Full Disk Access) in System Settings > Privacy & Security");
}

Result replaceBundle(const std::string& appPath, const std::string& toLocation) {
  const PathParts source = splitPath(appPath), destination = splitPath(toLocation);
  Fd sourceParent, parent;
  if (Result opened = openDirectory(source.parent, &sourceParent); !opened) return opened;
  struct stat info;
  if (!statEntry(sourceParent.get(), source.leaf, &info)) return Result::error("copy", appPath, errno);
  // Copied as a link, the bundle would point into a volume about to be
  // detached, or anywhere the image's author chose.
  if (S_ISLNK(info.st_mode)) {
    return Result::failure(describeFailure("copy", appPath, "it is a symbolic link, not a bundle"));
  }
  if (Result opened = openDirectory(destination.parent, &parent); !opened) return opened;
  for (const Leftover& leftover : removeLeftovers(parent.get(), destination.parent, destination.leaf)) {
    logLine(leftover.removed ? "Removed " + escapeText(leftover.shown) + ", left by an interrupted run"
                             : leftover.removed.error());
  }

  struct stat old;
  bool replacing = statEntry(parent.get(), destination.leaf, &old);
  if (replacing) logLine("App already exist , hence replacing");

  Staging staging;
  if (Result made = Staging::make(parent.get(), destination.parent, destination.leaf, &staging); !made) return made;
  Notes notes;
  const CopyRules rules{adminGroup(), stopSignal, &notes, WorkQueue::defaultWorkers()};
  uint64_t entries = 0;
  Result placed = copyTree({sourceParent.get(), source.leaf, source.parent},
                           {staging.fd(), destination.leaf, staging.shown()}, rules, &entries);
  notes.tell([](const std::string& line) { logLine(line); });
  if (placed) placed = staging.intact(destination.leaf, entries);
  if (placed) {
    Swapped swapped =
        swapIntoPlace(staging.fd(), parent.get(), destination.parent, destination.leaf, replacing ? &old : nullptr);
    placed = std::move(swapped.result);
    if (!swapped.keptAt.empty()) {
      std::string keptAt = swapped.keptAt;
      if (!swapped.kept) {
        // Not the tool's to delete: it stays in the staging folder, for good.
        logLine(swapped.kept.error());
        keptAt = joinPath(staging.shown(), destination.leaf);
        staging.keep();
      }
      logLine("Another process put an entry at " + escapeText(toLocation) + " during the copy; it is kept at " +
              escapeText(keptAt));
    }
  }
  // The old bundle, if it was swapped out, goes with the staging folder. A
  // folder that cannot be removed now is a leftover the next run removes.
  if (Result removed = staging.remove(); !removed) {
    logLine(removed.error());
    explainRefusal(removed);
  }
  return placed;
}

}  // namespace

bool copyApp(const std::string& appPath, const std::string& toLocation) {
  Result placed = replaceBundle(appPath, toLocation);
  if (!placed) {
    logLine("App Copied Failed!!!!!!!!!!! " + placed.error());
    explainRefusal(placed);
    return false;
  }
  logLine("App Copied successfully");
  return true;
}

Result checkAndUnhideApp(const std::string& path) {
  const PathParts place = splitPath(path);
  Fd parent;
  if (Result opened = openDirectory(place.parent, &parent); !opened) return opened;
  HiddenMark mark = readHiddenMark(parent.get(), place.leaf, path);
  if (!mark.read || !mark.hidden) return std::move(mark.read);
  logLine("App is hidden, Hence Unhid app");
  return clearHiddenMark(parent.get(), place.leaf, path);
}

}  // namespace tarnwell
