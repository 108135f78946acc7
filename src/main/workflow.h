#pragma once

#include <string>
#include <vector>

namespace tarnwell {

// Attaches the image `fromDmg` (under basePath), installs `files` from its
// volume, cleans up and ends the process: 0 when every item was installed,
// 26 when the attach failed, 1 otherwise.
[[noreturn]] void install(const std::vector<std::string>& files, const std::string& fromDmg);

// Deletes the saved attach result; logs a failure and carries on.
void removeFiles(const std::string& path);

// Ends the process with `status`.
[[noreturn]] void endRun(int status);

}  // namespace tarnwell
