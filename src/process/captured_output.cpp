#include "process/captured_output.h"

#include "platform/log.h"

#include <algorithm>

namespace tarnwell {
namespace {

size_t utf8SequenceLength(std::string_view bytes, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
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

}  // namespace

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
