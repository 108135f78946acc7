#include "copy/listing.h"

#include "platform/fd.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>

namespace tarnwell {

Result Listing::read(int directory, std::string_view shown, Listing* listing) {
  listing->buffer_.clear();
  listing->at_ = 0;
  Fd own(openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* stream = own.valid() ? fdopendir(own.get()) : nullptr;
  if (!stream) return Result::error("list the contents of", shown, errno);
  own.release();  // the stream owns it now
  errno = 0;
  while (struct dirent* entry = readdir(stream)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
      listing->buffer_ += static_cast<char>(entry->d_type);
      listing->buffer_.append(name, std::strlen(name) + 1);
    }
    errno = 0;
  }
  int failure = errno;
  closedir(stream);
  if (failure != 0) return Result::error("list the contents of", shown, failure);
  return {};
}

bool Listing::next(std::string_view* name, unsigned char* type) {
  if (at_ >= buffer_.size()) return false;
  *type = static_cast<unsigned char>(buffer_[at_]);
  const char* start = buffer_.data() + at_ + 1;
  size_t length = std::strlen(start);
  *name = std::string_view(start, length);
  at_ += length + 2;
  return true;
}

}  // namespace tarnwell
