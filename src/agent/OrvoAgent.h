#pragma once

#include <string>

namespace tarnwell {

// Where the agent program lives on this machine: its base directory, found
// by probing for its service program, and the directories derived from it.
// Each value is computed at its first read or write and kept for the life
// of the process; the derived ones take basePath as it is at that moment.
// Reads and writes are safe from any thread.
class OrvoAgent {
 public:
  OrvoAgent() = delete;

  static std::string basePath();
  static void setBasePath(std::string value);
  static std::string agentPath();
  static void setAgentPath(std::string value);
  static std::string systemDataPath();
  static void setSystemDataPath(std::string value);
  static std::string logsPath();
  static void setLogsPath(std::string value);
  static std::string userLogsPath();
  static void setUserLogsPath(std::string value);
  static std::string dataPath();
  static void setDataPath(std::string value);

 private:
  friend struct OrvoAgentProbes;
  static std::string _basePath();
  static std::string _systemDataPath();
};

}  // namespace tarnwell
