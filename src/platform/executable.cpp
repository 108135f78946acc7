#include "platform/executable.h"

#include "platform/apple.h"

#include <climits>
#include <cstdlib>
#include <vector>

#include <unistd.h>

namespace tarnwell {

std::string executablePath() {
#if TARNWELL_APPLE
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> raw(size + 1, '\0');
  if (_NSGetExecutablePath(raw.data(), &size) != 0) return {};
  char resolved[PATH_MAX];
  return realpath(raw.data(), resolved) ? std::string(resolved) : std::string(raw.data());
#else
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
#endif
}

}  // namespace tarnwell
