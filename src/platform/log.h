#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwell {

// Writes one entry to the system log: a single write to stderr shaped
// "YYYY-MM-DD HH:MM:SS.mmm tarnwell[PID:TID] text\n", and a syslog entry.
// The text is written as it is; nothing in it is read as a format.
void logLine(std::string_view text);

// ["a", "b\"c"]: every list that reaches the log is written this way.
std::string renderList(const std::vector<std::string>& items);

// `text` with control characters written as \n, \r, \t, \0 or \xNN.
std::string escapeControls(std::string_view text);

}  // namespace tarnwell
