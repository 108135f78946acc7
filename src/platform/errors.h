#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace tarnwell {

// A readable description of a failed system call, naming what was being
// done, the path and the reason: Could not remove "/x": Permission denied.
// Control characters in the path are escaped, so that a file name from an
// image cannot start a log entry of its own.
std::string describeError(std::string_view action, std::string_view path, int errorNumber);

// The same with a reason of the tool's own.
std::string describeFailure(std::string_view action, std::string_view path, std::string_view reason);

// The same for work abandoned on a stop signal.
std::string describeStop(std::string_view action, std::string_view path, int signal);

// The outcome of an operation that can fail: nothing, or why, ready for
// the log. Converts to true when the operation worked.
class [[nodiscard]] Result {
 public:
  Result() = default;
  static Result failure(std::string description, int errorNumber = 0) {
    return Result(std::move(description), errorNumber);
  }
  static Result error(std::string_view action, std::string_view path, int errorNumber) {
    return Result(describeError(action, path, errorNumber), errorNumber);
  }

  explicit operator bool() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  // The errno of the failed call, 0 when the failure was not a call's.
  int code() const { return code_; }

 private:
  explicit Result(std::string description, int code = 0) : error_(std::move(description)), code_(code) {
    if (error_.empty()) error_ = "unknown failure";
  }
  std::string error_;
  int code_ = 0;
};

}  // namespace tarnwell
