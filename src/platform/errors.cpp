#include "platform/errors.h"

#include "platform/log.h"

#include <cstring>

namespace tarnwell {
namespace {

std::string describe(std::string_view action, std::string_view path, std::string_view reason) {
  std::string text = "Could not ";
  text.append(action);
  text += " \"";
  text += escapeControls(path);
  text += "\": ";
  text.append(reason);
  return text;
}

}  // namespace

std::string describeError(std::string_view action, std::string_view path, int errorNumber) {
  return describe(action, path, std::strerror(errorNumber));
}

std::string describeStop(std::string_view action, std::string_view path, int signal) {
  return describe(action, path, "stopped by signal " + std::to_string(signal));
}

}  // namespace tarnwell
