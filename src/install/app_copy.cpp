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
#include "plist/limits.h"
#include "plist/property_list.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>

namespace tarnwell {
namespace {

// Root is not exempt: from macOS 13 on, changing an application bundle
// needs the App Management grant for the program that started the tool.
// The refusal comes as EPERM or EACCES, depending on the release; for root
// below /Applications either means policy. Said once a run, after the line
// that failed.
void explainRefusal(const Result& result) {
  static bool said = false;
  if ((result.code() != EPERM && result.code() != EACCES) || said) return;
  said = true;
  logLine(std::string("The system refused a change in /Applications (") + std::strerror(result.code()) +
          "). From macOS 13 on, the agent that starts tarnwell needs App Management (or Full Disk Access) in System "
          "Settings > Privacy & Security");
}

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// 12408 as "12,408".
std::string grouped(uint64_t number) {
  const std::string digits = std::to_string(number);
  std::string text;
  for (size_t at = 0; at < digits.size(); ++at) {
    if (at > 0 && (digits.size() - at) % 3 == 0) text += ',';
    text += digits[at];
  }
  return text;
}

// In decimal units, as the Finder counts: "512 bytes", "3.1 GB", "410 MB".
std::string amount(double bytes) {
  static const char* const kUnits[] = {"bytes", "KB", "MB", "GB", "TB"};
  size_t unit = 0;
  for (; bytes >= 1000 && unit + 1 < std::size(kUnits); ++unit) bytes /= 1000;
  char text[32];
  std::snprintf(text, sizeof text, unit > 0 && bytes < 10 ? "%.1f %s" : "%.0f %s", bytes, kUnits[unit]);
  return text;
}

// Built a piece at a time: g++ 12 at -O3 warns falsely about "\"" + string.
std::string quoted(const std::string& name) {
  std::string text = "\"";
  text += escapeText(name);
  text += '"';
  return text;
}

std::string duration(double seconds) {
  const long whole = std::lround(seconds);
  return whole < 60 ? std::to_string(whole) + " s"
                    : std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
}

// Says how far a copy is, every few seconds once it has run that long, so
// that a slow copy is told from a hung one; a short copy says nothing. One
// thread of its own writes the lines; the copy's threads only count. When
// the system refuses the thread, nothing is said.
class CopyReport {
 public:
  CopyReport(const std::string& name, const CopyCounts& counts) : name_(quoted(name)), counts_(counts), watcher_(1, 1) {
    if (watcher_.workers() > 0) watcher_.give([this] { watch(); });
  }
  ~CopyReport() { stop(); }

  // A copy that was reported on ends with its totals and time.
  void end(bool copied) {
    stop();
    if (!said_) return;
    const double seconds = secondsBetween(start_, Clock::now());
    const uint64_t bytes = counts_.bytes.load();
    logLine(std::string(copied ? "Copied " : "Stopped copying ") + name_ + ": " + grouped(counts_.files.load()) +
            " files, " + amount(static_cast<double>(bytes)) + " in " + duration(seconds) + " (" +
            amount(static_cast<double>(bytes) / seconds) + "/s)");
  }

 private:
  static constexpr std::chrono::seconds kEvery{5};

  void watch() {
    std::unique_lock<std::mutex> hold(mutex_);
    Clock::time_point last = start_;
    uint64_t before = 0;
    while (!woken_.wait_for(hold, kEvery, [this] { return done_; })) {
      const Clock::time_point now = Clock::now();
      const uint64_t bytes = counts_.bytes.load();
      logLine("Copying " + name_ + ": " + grouped(counts_.files.load()) + " files, " +
              amount(static_cast<double>(bytes)) + " so far (" +
              amount(static_cast<double>(bytes - before) / secondsBetween(last, now)) + "/s)");
      last = now;
      before = bytes;
      said_ = true;
    }
  }

  void stop() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      done_ = true;
    }
    woken_.notify_one();
    watcher_.drain();
  }

  const std::string name_;
  const CopyCounts& counts_;
  const Clock::time_point start_ = Clock::now();
  std::mutex mutex_;
  std::condition_variable woken_;
  bool done_ = false, said_ = false;
  WorkQueue watcher_;  // last: its thread is gone before anything it uses
};

// What a removal left, each part on a line of its own.
void logRemoval(const Removal& removal) {
  for (const std::string& line : removal.kept) logLine(line);
  if (Result removed = removal.result(); !removed) {
    logLine(removed.error());
    explainRefusal(removed);
  }
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
    if (leftover.removed.complete()) logLine("Removed " + escapeText(leftover.shown) + ", left by an interrupted run");
    logRemoval(leftover.removed);
  }

  struct stat old, copy;
  std::string oldInfo, newInfo;
  bool replacing = inspectBundle(parent.get(), destination.leaf, kMaxPlistBytes, &old, &oldInfo);
  if (replacing) logLine("App already exist , hence replacing");

  Staging staging;
  if (Result made = Staging::make(parent.get(), destination.parent, destination.leaf, &staging); !made) return made;
  CopyCounts counts;
  Notes notes;
  const CopyRules rules{adminGroup(), stopSignal, &notes, WorkQueue::defaultWorkers(), &counts};
  uint64_t entries = 0;
  CopyReport report(destination.leaf, counts);
  Result placed = copyTree({sourceParent.get(), source.leaf, source.parent},
                           {staging.fd(), destination.leaf, staging.shown()}, rules, &entries);
  notes.tell([](const std::string& line) { logLine(line); });
  report.end(static_cast<bool>(placed));
  if (placed) placed = staging.intact(destination.leaf, entries);
  if (placed && !inspectBundle(staging.fd(), destination.leaf, kMaxPlistBytes, &copy, &newInfo))
    placed = Result::error("open", joinPath(staging.shown(), destination.leaf), errno);
  // A user who may write /Applications could have renamed any bundle to
  // this name: only the application being replaced is deleted (a link or
  // a file holds nothing to take along).
  const std::string identifier = bundleIdentifier(newInfo);
  const bool deleteOld =
      replacing && (!S_ISDIR(old.st_mode) || (!identifier.empty() && bundleIdentifier(oldInfo) == identifier));
  if (placed) placed = staging.recordRemovable(copy, deleteOld ? &old : nullptr);
  if (placed) {
    Swapped swapped = swapIntoPlace(staging.fd(), parent.get(), destination.parent, destination.leaf,
                                    replacing ? &old : nullptr, deleteOld);
    placed = std::move(swapped.result);
    if (!swapped.keptAt.empty()) {
      std::string keptAt = swapped.keptAt;
      if (!swapped.kept) {
        // Not the tool's to delete: it stays in the staging folder, for good.
        logLine(swapped.kept.error());
        keptAt = joinPath(staging.shown(), destination.leaf);
        staging.keep();
      }
      logLine(swapped.surprise ? "Another process put an entry at " + escapeText(toLocation) +
                                     " during the copy; it is kept at " + escapeText(keptAt)
                               : "The bundle at " + escapeText(toLocation) +
                                     " is not the one being installed (its identifier is \"" +
                                     escapeText(bundleIdentifier(oldInfo)) + "\", not \"" + escapeText(identifier) +
                                     "\"); it is kept at " + escapeText(keptAt));
    }
  }
  // The old bundle, if it was swapped out, goes with the staging folder. A
  // folder that cannot be removed now is a leftover the next run removes.
  logRemoval(staging.remove());
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
