#include "copy/listing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {
namespace {

// Beyond kHeld bytes all but the top kKept go to the file; they come back
// kKept at a time, as the walk gets to them.
constexpr size_t kHeld = 1 << 20;
constexpr size_t kKept = 256 << 10;
constexpr const char* kSpillName = ".tarnwell-listing";

template <typename Call>
bool whole(Call call, size_t size) {
  for (size_t done = 0; done < size;) {
    ssize_t n = call(done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

Result Listings::push(int directory, const std::function<std::string()>& shown) {
  const uint64_t base = size();
  Fd own(openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* stream = own.valid() ? fdopendir(own.get()) : nullptr;
  if (!stream) return Result::error("list the contents of", shown(), errno);
  own.release();  // the stream owns it now
  int failure = 0;
  errno = 0;
  while (struct dirent* entry = readdir(stream)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
      const size_t length = std::strlen(name);
      held_ += static_cast<char>(entry->d_type);
      held_.append(name, length);
      held_ += static_cast<char>(length & 0xff);
      held_ += static_cast<char>(length >> 8);
      if (held_.size() > kHeld && !spill()) {
        failure = errno;
        break;
      }
    }
    errno = 0;
  }
  if (failure == 0) failure = errno;
  closedir(stream);
  if (failure != 0) {
    truncate(base);
    return Result::error("list the contents of", shown(), failure);
  }
  bases_.push_back(base);
  return {};
}

bool Listings::next(std::string_view* name, unsigned char* type) {
  if (bases_.empty() || size() == bases_.back()) return false;
  auto byte = [&](size_t from_end) { return static_cast<unsigned char>(held_[held_.size() - from_end]); };
  if (!hold(2)) return false;
  const size_t length = byte(2) | size_t{byte(1)} << 8;
  if (!hold(length + 3)) return false;
  const size_t start = held_.size() - length - 3;
  *type = static_cast<unsigned char>(held_[start]);
  current_.assign(held_, start + 1, length);
  held_.resize(start);
  *name = current_;
  return true;
}

void Listings::pop() {
  truncate(bases_.back());
  bases_.pop_back();
}

void Listings::truncate(uint64_t to) {
  if (to >= spilled_) {
    held_.resize(static_cast<size_t>(to - spilled_));
  } else {
    held_.clear();
    spilled_ = to;
  }
}

bool Listings::spill() {
  if (spillAt_ < 0) return true;
  if (!file_.valid()) {
    const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    file_.reset(openat(spillAt_, kSpillName, flags, 0600));
    // One that a killed run left behind.
    if (!file_.valid() && errno == EEXIST && unlinkat(spillAt_, kSpillName, 0) == 0)
      file_.reset(openat(spillAt_, kSpillName, flags, 0600));
    if (!file_.valid()) return false;
    (void)unlinkat(spillAt_, kSpillName, 0);
  }
  const size_t out = held_.size() - kKept;
  if (!whole(
          [&](size_t done) {
            return pwrite(file_.get(), held_.data() + done, out - done, static_cast<off_t>(spilled_ + done));
          },
          out))
    return false;
  spilled_ += out;
  held_.erase(0, out);
  return true;
}

// At least `bytes` held, taken back from the file; false, with `failure_`
// set, when it cannot be read.
bool Listings::hold(size_t bytes) {
  while (held_.size() < bytes && spilled_ > 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(spilled_, kKept));
    std::string back(chunk, '\0');
    const uint64_t at = spilled_ - chunk;
    if (!whole(
            [&](size_t done) {
              return pread(file_.get(), back.data() + done, chunk - done, static_cast<off_t>(at + done));
            },
            chunk)) {
      failure_ = Result::failure(std::string("Could not read back the listing of a folder: ") + std::strerror(errno));
      return false;
    }
    spilled_ = at;
    held_.insert(0, back);
  }
  return true;
}

}  // namespace tarnwell
