#include "process/runners.h"

#include "platform/log.h"
#include "process/captured_output.h"
#include "process/child_stop.h"

#include <charconv>

namespace tarnwell {
namespace {

// A background process started by the command may hold the pipe open long
// after the command itself has ended; its output is waited for this long.
constexpr std::chrono::milliseconds kOutputGrace{200};

struct Captured {
  bool started = false;
  std::string error;
  int32_t status = kCannotStartStatus;
  CapturedOutput output;
};

Captured runCapturing(const std::string& program, const std::vector<std::string>& args) {
  Captured result;
  Child child = Child::spawn({program, args, "", [&result](std::string_view bytes) { result.output.add(bytes); }});
  if (!child.started()) {
    result.error = child.startError();
    return result;
  }
  result.started = true;
  if (waitBounded(child) == WaitResult::Ended) {
    result.status = child.terminationStatus();
  } else {
    result.error = "Could not wait for \"" + escapeText(program) + "\"";
  }
  child.drainOutput(kOutputGrace);
  return result;
}

}  // namespace

std::pair<int32_t, std::string> shell(const std::vector<std::string>& args) {
  Captured run = runCapturing("/usr/bin/env", args);
  if (!run.started) return {kCannotStartStatus, run.error};
  return {run.status, run.output.text()};
}

std::string GetOutput(const std::string& forExecution, const std::string& arguments) {
  logLine("Given Command " + escapeText(forExecution) + " " + escapeText(arguments));
  Captured run = runCapturing(forExecution, {"-c", arguments});
  if (!run.error.empty()) logLine(run.error);
  if (run.started) {
    logLine("terminationStatus : " + std::to_string(run.status) + " output : " + run.output.logText());
  }
  return std::to_string(run.status);
}

std::optional<int64_t> parseStatusText(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  std::string_view digits = text.substr(!text.empty() && (negative || text.front() == '+') ? 1 : 0);
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::string_view number = negative ? text : digits;  // from_chars takes '-' but not '+'
  int64_t value = 0;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
  return value;
}

}  // namespace tarnwell
