#include "main/base_path.h"
#include "main/workflow.h"
#include "platform/executable.h"
#include "platform/log.h"
#include "platform/startup.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
  using namespace tarnwell;
  prepareProcess();
  // Without its own path the tool has no base directory: "/" would be no
  // stand-in for one.
  std::string executable;
  if (Result found = executablePath(&executable); !found) {
    logLine("Base Path unknown: " + found.error());
    return 1;
  }
  setBasePath(basePathForExecutable(executable));
  logLine("Base Path " + escapeText(basePath()));
  if (argc <= 2) {
    logLine("Arguments are low");
    return 1;
  }
  const std::string dmgName = argv[1];
  const std::vector<std::string> items(argv + 2, argv + argc);
  logLine("Given Args dmgName:" + escapeText(dmgName) + ",\nargArray :" + renderList(items));
  install(items, dmgName);
}
