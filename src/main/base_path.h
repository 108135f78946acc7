#pragma once

#include <string>
#include <string_view>

namespace tarnwell {

// The tool's base directory: two levels above the directory that holds
// the executable (an executable in /A/B/C gives /A). Set once at start.
const std::string& basePath();
void setBasePath(std::string path);
std::string basePathForExecutable(std::string_view executablePath);

// `directory` with `component` appended as one more path component; a
// leading slash in the component does not lead out of the directory.
std::string appendPathComponent(std::string_view directory, std::string_view component);

// Where the attach command saves hdiutil's answer: basePath/qxmount.plist.
std::string resultFilePath();

}  // namespace tarnwell
