#include "platform/files.h"

#include "platform/errors.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwell {

bool fileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool entryExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool isSymbolicLink(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::optional<std::string> readFile(const std::string& path, size_t maxBytes, std::string& failure) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    failure = describeError("read", path, errno);
    return std::nullopt;
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      failure = describeError("read", path, errno);
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    if (content.size() + static_cast<size_t>(n) > maxBytes) {
      failure = describeError("read", path, EFBIG);
      close(fd);
      return std::nullopt;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return content;
}

std::optional<std::vector<std::string>> listDirectory(const std::string& path, std::string& failure) {
  DIR* dir = opendir(path.c_str());
  if (!dir) {
    failure = describeError("list the contents of", path, errno);
    return std::nullopt;
  }
  std::vector<std::string> names;
  errno = 0;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
    errno = 0;
  }
  int readError = errno;
  closedir(dir);
  if (readError != 0) {
    failure = describeError("list the contents of", path, readError);
    return std::nullopt;
  }
  return names;
}

Failure removeTree(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
    return describeError("remove", path, ENOENT);
  }
  std::filesystem::remove_all(path, error);
  if (error) return describeError("remove", path, error.value());
  return std::nullopt;
}

Failure removeFile(const std::string& path) {
  if (unlink(path.c_str()) != 0) return describeError("remove", path, errno);
  return std::nullopt;
}

Failure movePath(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) return describeError("move", from, errno);
  return std::nullopt;
}

}  // namespace tarnwell
