#pragma once

#include <string>
#include <string_view>

namespace tarnwell {

// The tool's base directory: two levels above the directory that holds
// the executable (an executable in /A/B/C gives /A). Set once at start.
const std::string& basePath();
void setBasePath(std::string path);
std::string basePathForExecutable(std::string_view executablePath);

// Where the attach command saves hdiutil's answer: basePath/qxmount.plist.
std::string resultFilePath();

}  // namespace tarnwell
