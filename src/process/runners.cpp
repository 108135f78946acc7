#include "process/runners.h"

#include "platform/child.h"
#include "platform/log.h"

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
  std::string output;
};

size_t utf8SequenceLength(std::string_view bytes, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > bytes.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

// Invalid UTF-8 sequences become U+FFFD, as a decoder that replaces does.
std::string decodeUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t at = 0; at < bytes.size();) {
    size_t length = utf8SequenceLength(bytes, at);
    if (length == 0) {
      text += "\xEF\xBF\xBD";
      ++at;
    } else {
      text.append(bytes.substr(at, length));
      at += length;
    }
  }
  return text;
}

Captured runCapturing(const std::string& program, const std::vector<std::string>& args) {
  Captured result;
  Child child = Child::spawn({program, args, "", true});
  if (!child.started()) {
    result.error = child.startError();
    return result;
  }
  result.started = true;
  if (child.wait(std::nullopt) == WaitResult::Ended) {
    result.status = child.exitStatus();
  } else {
    child.terminate();
    result.error = "Could not wait for \"" + program + "\"";
  }
  result.output = decodeUtf8(child.takeOutput(kOutputGrace));
  return result;
}

}  // namespace

std::pair<int32_t, std::string> shell(const std::vector<std::string>& args) {
  Captured run = runCapturing("/usr/bin/env", args);
  if (!run.started) return {kCannotStartStatus, run.error};
  return {run.status, run.output};
}

std::string GetOutput(const std::string& forExecution, const std::string& arguments) {
  logLine("Given Command " + forExecution + " " + arguments);
  Captured run = runCapturing(forExecution, {"-c", arguments});
  if (!run.error.empty()) logLine(run.error);
  if (run.started) {
    logLine("terminationStatus : " + std::to_string(run.status) + " output : " + run.output);
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
