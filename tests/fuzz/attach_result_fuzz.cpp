// libFuzzer target: arbitrary bytes as the saved attach result.
#include "plist/attach_result.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tarnwell::AttachResult;
  AttachResult result = tarnwell::readAttachResult(std::string_view(reinterpret_cast<const char*>(data), size));
  bool found = result.outcome == AttachResult::Outcome::Found;
  if (found && (result.mountPoint.empty() || result.mountPointsSeen.empty() ||
                result.mountPointsSeen.back() != result.mountPoint)) {
    __builtin_trap();
  }
  if (result.outcome == AttachResult::Outcome::NotAPropertyList && result.error.empty()) __builtin_trap();
  return 0;
}
