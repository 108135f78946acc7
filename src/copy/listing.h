#pragma once

#include "platform/errors.h"

#include <string>
#include <string_view>

namespace tarnwell {

// The names in one directory, read at once, "." and ".." left out, with
// the type the directory entry gives (DT_UNKNOWN where the file system
// does not say). Held in one buffer: a walk keeps one listing a level.
class Listing {
 public:
  // Reads `directory` through a descriptor of its own, so that its
  // position is not disturbed; `shown` names it in the error.
  static Result read(int directory, std::string_view shown, Listing* listing);

  // The next entry, or false when there are no more.
  bool next(std::string_view* name, unsigned char* type);
  bool empty() const { return buffer_.empty(); }

 private:
  std::string buffer_;  // type byte, name, NUL; again and again
  size_t at_ = 0;
};

}  // namespace tarnwell
