#include "process/captured_output.h"

#include "platform/log.h"

#include <algorithm>

namespace tarnwell {
std::string decodeUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t at = 0; at < bytes.size();) {
    size_t length = utf8Length(bytes, at);
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

void CapturedOutput::add(std::string_view bytes) {
  size_t toHead = std::min(bytes.size(), kKeep - head_.size());
  head_.append(bytes.substr(0, toHead));
  bytes.remove_prefix(toHead);
  if (bytes.size() >= kKeep) {
    leftOut_ += tail_.size() + bytes.size() - kKeep;
    tail_.assign(bytes.substr(bytes.size() - kKeep));
    return;
  }
  tail_.append(bytes);
  // Trimmed in steps of kKeep, so that each byte is moved at most once.
  if (tail_.size() >= 2 * kKeep) {
    size_t drop = tail_.size() - kKeep;
    leftOut_ += drop;
    tail_.erase(0, drop);
  }
}

std::string CapturedOutput::text() const { return decodeUtf8(head_) + decodeUtf8(tailKept()); }

std::string CapturedOutput::logText() const {
  std::string text = escapeText(decodeUtf8(head_));
  if (uint64_t dropped = leftOut_ + (tail_.size() > kKeep ? tail_.size() - kKeep : 0)) {
    // On the same line: a tail that started a line of its own could start
    // with what looks like a log entry's prefix.
    text += " [" + std::to_string(dropped) + " bytes of output left out] ";
  }
  return text + escapeText(decodeUtf8(tailKept()));
}

}  // namespace tarnwell
