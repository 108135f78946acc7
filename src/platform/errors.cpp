#include "platform/errors.h"

#include "platform/log.h"

#include <cstring>

namespace tarnwell {

std::string describeFailure(std::string_view action, std::string_view path, std::string_view reason) {
  std::string text = "Could not ";
  text.append(action);
  text += " \"";
  text += escapeText(path);
  text += "\": ";
  text.append(reason);
  return text;
}

std::string describeError(std::string_view action, std::string_view path, int errorNumber) {
  return describeFailure(action, path, std::strerror(errorNumber));
}

std::string describeStop(std::string_view action, std::string_view path, int signal) {
  return describeFailure(action, path, "stopped by signal " + std::to_string(signal));
}

}  // namespace tarnwell
