#include "main/workflow.h"

#include "cleanup/unmount.h"
#include "install/install_items.h"
#include "main/base_check.h"
#include "main/base_path.h"
#include "main/run_lock.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/path.h"
#include "platform/signals.h"
#include "plist/attach_result.h"
#include "plist/limits.h"
#include "process/runners.h"
#include "process/shell_escape.h"

#include <cstdlib>
#include <cstring>

namespace tarnwell {
namespace {

// Ends a run that got past the attach: the saved result goes, the volume
// stays attached.
[[noreturn]] void failAfterAttach(const std::string& resultFile, const std::string& line) {
  logLine(line);
  removeFiles(resultFile);
  endRun(1);
}

AttachResult attachedVolume(const std::string& resultFile, int made) {
  constexpr const char* kFailed = "PropertyListSerialization Failed!!!!! or not able to get contents of directory ";
  std::string content;
  Result read = readMadeFile(made, resultFile, kMaxPlistBytes, &content);
  AttachResult attach = readAttachResult(read ? content : std::string());
  switch (attach.outcome) {
    case AttachResult::Outcome::NotAPropertyList:
      failAfterAttach(resultFile, kFailed + (read ? "Could not read \"" + escapeText(resultFile) +
                                                        "\" as a property list: " + attach.error
                                                  : read.error()));
    case AttachResult::Outcome::NoRows:
      failAfterAttach(resultFile, "No rows found in mounted volume's plist, hence installation failed!!!!!");
    case AttachResult::Outcome::NoMountPoint:
    case AttachResult::Outcome::Found: break;
  }
  logLine("Array count in systemEntities " + std::to_string(attach.entityCount));
  for (const std::string& seen : attach.mountPointsSeen) {
    logLine("mount-point : " + escapeText(seen));
    if (!usableMountPoint(seen))
      logLine("mount-point not found in mounted volume's plist, hence installation failed!!!!!");
  }
  if (attach.outcome == AttachResult::Outcome::NoMountPoint) {
    if (attach.mountPointsSeen.empty())
      logLine("mount-point key not found in mounted volume's plist, hence installation failed!!!!!");
    removeFiles(resultFile);
    endRun(1);
  }
  // Bounded: a volume of many long names must not make one huge entry.
  BoundedList names;
  if (Result listed = listDirectory(attach.mountPoint, [&](std::string_view name) { names.add(name); }); !listed)
    failAfterAttach(resultFile, kFailed + listed.error());
  logLine("Files list in the volume : " + names.text() + "\n files count " + std::to_string(names.count()));
  return attach;
}

// Stopped during the attach: hdiutil may have attached the volume, and
// answered, before it was ended. An answer that reads as one gives the
// volume to detach; the saved result goes either way.
[[noreturn]] void endStoppedAttach(const std::string& resultFile, int made) {
  std::string content;
  AttachResult attach;
  if (readMadeFile(made, resultFile, kMaxPlistBytes, &content)) attach = readAttachResult(content);
  if (entryExists(resultFile)) removeFiles(resultFile);
  if (attach.outcome == AttachResult::Outcome::Found)
    unmountDMG(attach.mountPoint, ImageDisk::seen(attach.imageDevice));
  endRun(1);
}

// Nothing runs from a base directory that others could change: they would
// choose the attach result, and where root's shell writes it.
void checkBase() {
  if (Result trusted = checkBaseDirectory(basePath()); !trusted) {
    logLine(trusted.error());
    endRun(1);
  }
}

// One run at a time per base directory: the saved attach result lives
// there. The lock is held until the process ends; without it, no run.
void takeRunLock() {
  const std::string path = joinPath(basePath(), "tarnwell.lock");
  Result locked =
      holdLock(path, [&] { logLine("Another run holds " + escapeText(path) + "; waiting for it to finish"); });
  if (locked) return;
  logLine(locked.error());
  endRun(1);
}

}  // namespace

void install(const std::vector<std::string>& files, const std::string& fromDmg) {
  const std::string resultFile = resultFilePath();
  checkBase();
  takeRunLock();
  if (stopSignal()) endRun(1);  // before anything is attached
  // The tool makes the result file itself, private to root, and the
  // shell's ">" writes into it: made by the shell, it would have the
  // agent's umask (or an old file's mode), and a user who could write it
  // could add an answer after hdiutil's.
  Fd made;
  if (Result created = createPrivateFile(resultFile, &made); !created) {
    logLine(created.error());
    endRun(1);
  }
  // Read-only: a writable volume would let any local user change what root
  // installs between the checks and the installer.
  const std::string command = "echo YES | hdiutil attach -nobrowse -readonly -plist " +
                              escapeShellWord(joinPath(basePath(), fromDmg)) + ">" + escapeShellWord(resultFile);
  logLine("Mount cmd ->" + escapeText(command));
  auto status = parseStatusText(GetOutput("/bin/bash", command));
  if (stopSignal()) endStoppedAttach(resultFile, made.get());
  if (!status || *status != 0) {
    logLine("Error in mounting " + escapeText(fromDmg));
    endRun(26);
  }
  if (!entryExists(resultFile)) {
    logLine("qxmount.plist is not available");
    endRun(1);
  }

  const AttachResult attached = attachedVolume(resultFile, made.get());
  const ImageDisk disk = ImageDisk::seen(attached.imageDevice);
  InstallOutcome outcome;
  if (stopSignal() == 0) outcome = installAppsAndPkg(attached.mountPoint, basePath(), files);
  if (!outcome.unhide) {
    // The volume stays attached on this road.
    failAfterAttach(resultFile,
                    " checkAndUnhideApp : Getting/Setting App attributes Failed!!!!! " + outcome.unhide.error());
  }
  removeFiles(resultFile);
  unmountDMG(attached.mountPoint, disk);
  endRun(outcome.installed ? 0 : 1);
}

void removeFiles(const std::string& path) {
  // Only ever the saved attach result: a directory found in its place is
  // not ours to delete.
  if (!removeFile(path)) logLine("Error in deleting the plist");
}

void endRun(int status) {
  if (int signal = stopSignal()) {
    logLine("Stopped by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")");
    endBySignal(signal);
  }
  std::exit(status);
}

}  // namespace tarnwell
