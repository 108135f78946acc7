#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwell {

// Runs "/usr/bin/env" with `args` and returns its exit status and its
// merged stdout and stderr, decoded as UTF-8. Logs nothing.
std::pair<int32_t, std::string> shell(const std::vector<std::string>& args);

// Runs `forExecution -c arguments`, logs the command and then the status
// with the output, and returns the status as decimal text.
std::string GetOutput(const std::string& forExecution, const std::string& arguments);

// Reads a status text back: an optional sign and ASCII digits, nothing
// else, within 64 bits.
std::optional<int64_t> parseStatusText(std::string_view text);

}  // namespace tarnwell
