#include "process/shell_escape.h"

namespace tarnwell {
namespace {

bool isPlain(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_' || c == '/' || c == '+' || c == ',' || c == ':' || c == '@' || c == '%' || c >= 0x80;
}

}  // namespace

std::string escapeShellWord(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (isPlain(static_cast<unsigned char>(c))) {
      out += c;
    } else if (c == '\n') {
      out += "'\n'";  // a backslash before a line feed would join the lines
    } else {
      out += '\\';
      out += c;
    }
  }
  return out;
}

std::string escapeInDoubleQuotes(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '"' || c == '$' || c == '`' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace tarnwell
