#include "platform/log.h"

#include "platform/apple.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include <pthread.h>
#include <syslog.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace tarnwell {
namespace {

unsigned long long threadId() {
#if TARNWELL_APPLE
  uint64_t id = 0;
  pthread_threadid_np(nullptr, &id);
  return id;
#else
  return static_cast<unsigned long long>(syscall(SYS_gettid));
#endif
}

std::string prefix() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t seconds = system_clock::to_time_t(now);
  auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char buffer[96];
  size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(buffer + n, sizeof buffer - n, ".%03lld tarnwell[%lld:%llu] ", static_cast<long long>(millis),
                static_cast<long long>(getpid()), threadId());
  return buffer;
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere else to report a broken log
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace

void logLine(std::string_view text) {
  static const bool opened = [] {
    openlog("tarnwell", LOG_PID, LOG_USER);
    return true;
  }();
  (void)opened;
  std::string entry = prefix();
  entry.append(text);
  entry.push_back('\n');
  writeAll(STDERR_FILENO, entry);
  syslog(LOG_NOTICE, "%.*s", static_cast<int>(text.size()), text.data());
}

size_t utf8Length(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
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
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

namespace {

// Bytes that start or make up a character a terminal or a log reader could
// act on: C0 and C1 controls, DEL, the Unicode line and paragraph
// separators. Returns the length of the character at `at` when it is safe,
// 0 when its bytes must be escaped one by one (invalid UTF-8 included).
size_t safeCharacter(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  if (byte(at) < 0x20 || byte(at) == 0x7f) return 0;
  size_t length = utf8Length(text, at);
  if (length == 2 && byte(at) == 0xC2 && byte(at + 1) < 0xA0) return 0;  // U+0080..U+009F
  if (length == 3 && byte(at) == 0xE2 && byte(at + 1) == 0x80 && (byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9)) {
    return 0;
  }
  return length;
}

void appendEscaped(std::string& out, std::string_view text, bool quoted) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t at = 0; at < text.size();) {
    if (size_t length = safeCharacter(text, at)) {
      char c = text[at];
      if (quoted && (c == '"' || c == '\'' || c == '\\')) out += '\\';
      out.append(text.substr(at, length));
      at += length;
      continue;
    }
    char c = text[at++];
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        out += "\\x";
        out += kHex[static_cast<unsigned char>(c) >> 4];
        out += kHex[static_cast<unsigned char>(c) & 0xf];
    }
  }
}

}  // namespace

std::string renderList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += '"';
    appendEscaped(out, items[i], true);
    out += '"';
  }
  out += ']';
  return out;
}

void BoundedList::add(std::string_view item) {
  std::string rendered = "\"";
  appendEscaped(rendered, item, true);
  rendered += '"';
  ++count_;
  if (tail_.empty() && head_.size() + rendered.size() + 2 <= kKeep) {
    if (!head_.empty()) head_ += ", ";
    head_ += rendered;
    return;
  }
  tailBytes_ += rendered.size() + 2;
  tail_.push_back(std::move(rendered));
  for (; tailBytes_ > kKeep; ++leftOut_) {
    tailBytes_ -= tail_.front().size() + 2;
    tail_.pop_front();
  }
}

std::string BoundedList::text() const {
  std::string out = "[" + head_;
  if (leftOut_ > 0) out += ", [" + std::to_string(leftOut_) + " names left out]";
  for (const std::string& item : tail_) out += ", " + item;
  return out + "]";
}

std::string escapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendEscaped(out, text, false);
  return out;
}

}  // namespace tarnwell
