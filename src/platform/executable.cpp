#include "platform/executable.h"

#include "platform/apple.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include <unistd.h>

namespace tarnwell {

Result executablePath(std::string* path) {
#if TARNWELL_APPLE
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> raw(size + 1, '\0');
  if (_NSGetExecutablePath(raw.data(), &size) != 0) return Result::failure("Could not find the executable's path");
  // dyld's path may be a link, or relative to where the tool was started.
  char resolved[PATH_MAX];
  if (!realpath(raw.data(), resolved)) return Result::error("resolve", raw.data(), errno);
  *path = resolved;
  return {};
#else
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return Result::error("read", "/proc/self/exe", errno);
    if (static_cast<size_t>(n) < buffer.size()) {
      path->assign(buffer.data(), static_cast<size_t>(n));
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
#endif
}

}  // namespace tarnwell
