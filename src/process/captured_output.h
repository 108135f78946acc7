#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwell {

// What a child wrote, bounded whatever it writes: the first and the last
// kKeep bytes, and how many were left out between them.
class CapturedOutput {
 public:
  static constexpr size_t kKeep = 64 * 1024;

  void add(std::string_view bytes);

  // All that was kept, decoded as UTF-8 (a sequence that is not becomes
  // U+FFFD), the two parts joined.
  std::string text() const;
  // The same for a log line: escaped, all on one line, saying how many
  // bytes were left out between the two parts, if any.
  std::string logText() const;

 private:
  // The tail is let grow to twice its size between trims.
  std::string_view tailKept() const {
    return tail_.size() > kKeep ? std::string_view(tail_).substr(tail_.size() - kKeep) : std::string_view(tail_);
  }

  std::string head_, tail_;
  uint64_t leftOut_ = 0;
};

// Invalid UTF-8 sequences become U+FFFD, as a decoder that replaces does.
std::string decodeUtf8(std::string_view bytes);

}  // namespace tarnwell
