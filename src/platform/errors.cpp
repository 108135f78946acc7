#include "platform/errors.h"

#include <cstring>

namespace tarnwell {

std::string describeError(std::string_view action, std::string_view path, int errorNumber) {
  std::string text = "Could not ";
  text.append(action);
  text += " \"";
  text.append(path);
  text += "\": ";
  text += std::strerror(errorNumber);
  return text;
}

}  // namespace tarnwell
