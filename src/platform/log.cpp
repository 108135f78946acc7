#include "platform/log.h"

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
#if defined(__APPLE__)
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
  std::snprintf(buffer + n, sizeof buffer - n, ".%03lld tarnwell[%lld:%llu] ",
                static_cast<long long>(millis), static_cast<long long>(getpid()), threadId());
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

namespace {

void appendEscaped(std::string& out, std::string_view text, bool quoted) {
  static const char kHex[] = "0123456789abcdef";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      case '"':
      case '\'':
      case '\\':
        if (quoted) out += '\\';
        out += c;
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          out += "\\x";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xf];
        } else {
          out += c;
        }
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

std::string escapeControls(std::string_view text) {
  std::string out;
  appendEscaped(out, text, false);
  return out;
}

}  // namespace tarnwell
