#include "main/workflow.h"

#include "cleanup/unmount.h"
#include "install/install_items.h"
#include "main/attach_result.h"
#include "main/base_path.h"
#include "platform/files.h"
#include "platform/lock.h"
#include "platform/log.h"
#include "platform/plist_limits.h"
#include "platform/signals.h"
#include "process/runners.h"
#include "process/shell_escape.h"

#include <cstdlib>
#include <cstring>

namespace tarnwell {
namespace {

[[noreturn]] void failWithError(const std::string& resultFile, const std::string& description) {
  logLine("PropertyListSerialization Failed!!!!! or not able to get contents of directory " + description);
  removeFiles(resultFile);
  endRun(1);
}

[[noreturn]] void failWithLine(const std::string& resultFile, const std::string& line) {
  logLine(line);
  removeFiles(resultFile);
  endRun(1);
}

std::string mountPointOf(const std::string& resultFile) {
  std::string content, readFailure;
  bool readable = readFile(resultFile, kMaxPlistBytes, &content, &readFailure);
  AttachResult attach = readAttachResult(readable ? content : std::string());
  switch (attach.outcome) {
    case AttachResult::Outcome::NotAPropertyList:
      failWithError(resultFile, readable ? "Could not read \"" + resultFile + "\" as a property list: " + attach.error
                                        : readFailure);
    case AttachResult::Outcome::NoRows:
      failWithLine(resultFile, "No rows found in mounted volume's plist, hence installation failed!!!!!");
    case AttachResult::Outcome::NoMountPoint:
    case AttachResult::Outcome::Found:
      break;
  }
  logLine("Array count in systemEntities " + std::to_string(attach.entityCount));
  for (const std::string& seen : attach.mountPointsSeen) {
    logLine("mount-point : " + seen);
    if (!usableMountPoint(seen)) logLine("mount-point not found in mounted volume's plist, hence installation failed!!!!!");
  }
  if (attach.outcome == AttachResult::Outcome::NoMountPoint) {
    if (attach.mountPointsSeen.empty()) logLine("mount-point key not found in mounted volume's plist, hence installation failed!!!!!");
    removeFiles(resultFile);
    endRun(1);
  }
  return attach.mountPoint;
}

// One run at a time per base directory: the saved attach result lives
// there. The lock is held until the process ends.
void takeRunLock() {
  const std::string path = appendPathComponent(basePath(), "tarnwell.lock");
  std::string error;
  if (holdLock(path, [&] { logLine("Another run holds " + path + "; waiting for it to finish"); }, &error)) return;
  logLine(error);
  if (stopSignal()) endRun(1);
}

}  // namespace

void install(const std::vector<std::string>& files, const std::string& fromDmg) {
  const std::string resultFile = resultFilePath();
  takeRunLock();
  const std::string command = "echo YES | hdiutil attach -nobrowse -plist " +
                              escapeShellWord(appendPathComponent(basePath(), fromDmg)) + ">" +
                              escapeShellWord(resultFile);
  logLine("Mount cmd ->" + command);
  auto status = parseStatusText(GetOutput("/bin/bash", command));
  if (!status || *status != 0) {
    logLine("Error in mounting " + fromDmg);
    endRun(26);
  }
  if (!fileExists(resultFile)) {
    logLine("qxmount.plist is not available");
    endRun(1);
  }

  const std::string mountPoint = mountPointOf(resultFile);
  std::vector<std::string> names;
  std::string listFailure;
  if (!listDirectory(mountPoint, &names, &listFailure)) failWithError(resultFile, listFailure);
  logLine("Files list in the volume : " + renderList(names) + "\n files count " + std::to_string(names.size()));

  std::string unhideError;
  bool installed = stopSignal() == 0 && installAppsAndPkg(mountPoint, basePath(), files, &unhideError);
  if (!unhideError.empty()) {
    // The volume stays attached on this road.
    logLine(" checkAndUnhideApp : Getting/Setting App attributes Failed!!!!! " + unhideError);
    removeFiles(resultFile);
    endRun(1);
  }
  removeFiles(resultFile);
  unmountDMG(mountPoint);
  endRun(installed ? 0 : 1);
}

void removeFiles(const std::string& path) {
  // Only ever the saved attach result: a directory found in its place is
  // not ours to delete.
  std::string error;
  if (!removeFile(path, &error)) logLine("Error in deleting the plist");
}

void endRun(int status) {
  if (int signal = stopSignal()) {
    logLine("Stopped by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")");
    endBySignal(signal);
  }
  std::exit(status);
}

}  // namespace tarnwell
