#pragma once

#include <string>
#include <string_view>

namespace tarnwell {

// For a bare shell word: a blank becomes "\ ", every other character the
// shell would act on is made literal, and ordinary path characters stay
// as they are.
std::string escapeShellWord(std::string_view text);

// For text placed between double quotes: ", $, ` and \ get a backslash.
std::string escapeInDoubleQuotes(std::string_view text);

}  // namespace tarnwell
