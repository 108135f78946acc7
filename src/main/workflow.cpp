#include "main/workflow.h"

#include "cleanup/unmount.h"
#include "install/install_items.h"
#include "main/attach_result.h"
#include "main/base_path.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/plist_limits.h"
#include "process/runners.h"
#include "process/shell_escape.h"

#include <cstdlib>

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
  std::string readFailure;
  auto content = readFile(resultFile, kMaxPlistBytes, readFailure);
  AttachResult attach = readAttachResult(content ? *content : std::string());
  switch (attach.outcome) {
    case AttachResult::Outcome::NotAPropertyList:
      failWithError(resultFile, content ? "Could not read \"" + resultFile + "\" as a property list: " + attach.error
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
    if (seen.empty()) logLine("mount-point not found in mounted volume's plist, hence installation failed!!!!!");
  }
  if (attach.outcome == AttachResult::Outcome::NoMountPoint) {
    if (attach.mountPointsSeen.empty()) logLine("mount-point key not found in mounted volume's plist, hence installation failed!!!!!");
    removeFiles(resultFile);
    endRun(1);
  }
  return attach.mountPoint;
}

}  // namespace

void install(const std::vector<std::string>& files, const std::string& fromDmg) {
  const std::string resultFile = resultFilePath();
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
  std::string listFailure;
  auto names = listDirectory(mountPoint, listFailure);
  if (!names) failWithError(resultFile, listFailure);
  logLine("Files list in the volume : " + renderList(*names) + "\n files count " + std::to_string(names->size()));

  bool installed = installAppsAndPkg(mountPoint, basePath(), files);
  removeFiles(resultFile);
  unmountDMG(mountPoint);
  endRun(installed ? 0 : 1);
}

void removeFiles(const std::string& path) {
  // Only ever the saved attach result: a directory found in its place is
  // not ours to delete.
  if (removeFile(path)) logLine("Error in deleting the plist");
}

void endRun(int status) { std::exit(status); }

}  // namespace tarnwell
