#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwell {

// Writes one entry to the system log: a single write to stderr shaped
// "YYYY-MM-DD HH:MM:SS.mmm tarnwell[PID:TID] text\n", and a syslog entry.
// The text is written as it is; nothing in it is read as a format. Values
// from outside the tool go through escapeText first.
void logLine(std::string_view text);

// ["a", "b\"c"]: every list that reaches the log is written this way.
std::string renderList(const std::vector<std::string>& items);

// A list rendered as renderList does, given one item at a time and kept
// bounded whatever its length: the items that fit in the first and in the
// last kKeep bytes, and between them how many were left out,
// ["a", [99996 names left out], "z"].
class BoundedList {
 public:
  static constexpr size_t kKeep = 30 * 1024;

  void add(std::string_view item);
  std::string text() const;
  uint64_t count() const { return count_; }

 private:
  std::string head_;
  std::deque<std::string> tail_;
  size_t tailBytes_ = 0;
  uint64_t count_ = 0, leftOut_ = 0;
};

// `text` as it may stand in a log line when it comes from outside the tool
// (a name, a path, a child's output): control characters written as \n,
// \r, \t, \0 or \xNN, and so are the bytes of C1 controls, of the Unicode
// line separators and of anything that is not UTF-8. Nothing in it can
// then start a log entry or reach a terminal as an escape sequence.
std::string escapeText(std::string_view text);

// The length of the UTF-8 character at `at`, or 0 when the bytes there are
// not one.
size_t utf8Length(std::string_view text, size_t at);

}  // namespace tarnwell
